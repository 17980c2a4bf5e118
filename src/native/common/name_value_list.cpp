// Name/value list: names are unique and compared byte-wise; an existing name keeps its
// position when its value is replaced, so entries stay in first-added order.
#include "name_value_list.h"

#include "trace.h"

namespace {

}  // namespace

void utlListAdd(NameValueList& list, std::string_view name, std::string_view value) {
  auto found = list.index_.find(std::string(name));
  if (found != list.index_.end()) {
    list.entries_[found->second].value = value;
    return;
  }
  list.index_.emplace(std::string(name), list.entries_.size());
  list.entries_.push_back(NameValue{std::string(name), std::string(value)});
}

bool utlListAddNameEqualValue(NameValueList& list, std::string_view text) {
  size_t equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    std::string whole(text);
    ut_tproda("No variable name specified in <%.*s>", ut_textLimit(), whole.c_str());
    return false;
  }
  utlListAdd(list, text.substr(0, equals), text.substr(equals + 1));
  return true;
}

const std::string* utlListGet(const NameValueList* list, std::string_view name) {
  if (list == nullptr) return nullptr;
  auto found = list->index_.find(std::string(name));
  if (found == list->index_.end()) return nullptr;
  return &list->entries_[found->second].value;
}

std::vector<NameValue> utlListEnumStart(const NameValueList& list) { return list.entries(); }
