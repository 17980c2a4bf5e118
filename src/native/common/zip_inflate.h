// Raw DEFLATE decompression, for the entries of a ZIP archive stored with method 8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The bytes the compressed data stands for; none when the data is damaged, ends early or
// would give more than limit bytes.
std::optional<std::string> zipInflate(std::string_view compressed, size_t limit);
