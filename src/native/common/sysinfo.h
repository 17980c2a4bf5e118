// Memory this process may use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Physical memory in bytes, lowered to the control group's limit; 0 when unknown.
uint64_t getTotalPhysMem();

// A control group's memory limit file text ("max", or a byte count); none for no limit.
std::optional<uint64_t> sysinfoParseMemoryLimit(const std::string& text);
