// The class path and boot class path the VM is created with.
#pragma once

#include <string_view>

// Merge modes of the command line's class path.
inline constexpr int kClassPathUnset = 0;
inline constexpr int kClassPathPrepend = 1;
inline constexpr int kClassPathAppend = 2;
inline constexpr int kClassPathReplace = 3;

// The +classpath family: the mode from the option's text, the value as a path list.
void jopSetCmdLineClassPath(std::string_view option, std::string_view value);
int jopGetClassPathLocation();
// Adds the class path options to the VM option list; may end the process (J2EE check).
void jopFinalizeClassPath();
// Back to the start state (called by jopInit/jopTerm).
void jopClassPathReset();
