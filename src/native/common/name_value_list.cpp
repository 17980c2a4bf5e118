// STUB: placeholder until the module is written.
#include "name_value_list.h"

#include <cstdlib>

void utlListAdd(NameValueList&, std::string_view, std::string_view) {}
bool utlListAddNameEqualValue(NameValueList&, std::string_view) { return {}; }
const std::string* utlListGet(const NameValueList*, std::string_view) { return nullptr; }
std::vector<NameValue> utlListEnumStart(const NameValueList&) { return {}; }
