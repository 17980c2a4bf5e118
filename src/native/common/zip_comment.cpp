// STUB: placeholder until the module is written.
#include "zip_comment.h"

#include <cstdlib>

std::optional<std::string> zipGetZipComment(const std::string&) { return {}; }
std::optional<std::string> zipGetCommentFileName(const std::string&) { return {}; }
