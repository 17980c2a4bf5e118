// The signals the launcher handles, by name.
#pragma once

#include <cstdint>
#include <string_view>

// Marks a signal of the table (hup, int, term, quit; any letter case) as ignored.
// False for a name the table does not have.
bool hmdSetSignalIgnore(std::string_view name);
// Whether the named signal was marked ignored.
bool hmdIsSignalIgnored(std::string_view name);
// Back to the start state: no signal marked.
void hmdSignalsReset();

// Hooks around the VM's life. Each answers 0; a non-zero answer of the first two ends
// the launch with that code.
int32_t hmdBeforeCreateJVM();
int32_t hmdAfterCreateJVM();
int32_t hmdAfterDestoryJVM();
