// Exit codes that cross modules.
#pragma once

#include <cstdint>

inline constexpr int32_t kExitSuccess = 0;
inline constexpr int32_t kExitFailure = 1;
// The class to run, or its method, could not be resolved; the VM is left undestroyed.
inline constexpr int32_t kExitClassNotFound = 8888;
// The application home could not be determined.
inline constexpr int32_t kExitNoHome = -1;
