// Name/value list: an ordered dictionary of owned string pairs with unique,
// case-sensitive names.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

struct NameValue {
  std::string name;
  std::string value;
};

class NameValueList {
 public:
  const std::vector<NameValue>& entries() const { return entries_; }
  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

 private:
  friend void utlListAdd(NameValueList& list, std::string_view name, std::string_view value);
  friend const std::string* utlListGet(const NameValueList* list, std::string_view name);
  std::vector<NameValue> entries_;
  std::unordered_map<std::string, size_t> index_;
};

// Adds the pair, or replaces the value of an existing name in place.
void utlListAdd(NameValueList& list, std::string_view name, std::string_view value);
// Adds "name=value" split at the first '='; without a name, traces and adds nothing.
bool utlListAddNameEqualValue(NameValueList& list, std::string_view text);
// The stored value, or null when the list is null or has no such name.
const std::string* utlListGet(const NameValueList* list, std::string_view name);
// A snapshot of the entries in insertion order, independent of later additions.
std::vector<NameValue> utlListEnumStart(const NameValueList& list);
