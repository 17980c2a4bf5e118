// A configuration carried in the comment of a ZIP archive appended to the executable.
#pragma once

#include <optional>
#include <string>

// The archive comment of the file, or none.
std::optional<std::string> zipGetZipComment(const std::string& path);
// A new temporary file holding the comment; none for no comment or an empty one.
std::optional<std::string> zipGetCommentFileName(const std::string& path);
