// Environment preparation before the VM library is loaded, the environment snapshot,
// and private temporary files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Takes the marker that a library-path re-exec leaves out of the environment and
// remembers it for hmdSetEnvironment. Called first thing at start.
void hmdTakeReexecMarker();

// Takes out of the environment, before the VM is created, the variables a pass of this
// launcher set only for the next pass (LAUNCHER_ENV_CHECKED, unless the operator set it),
// so that the application and the processes it starts inherit the operator's environment.
void hmdRemoveLauncherVariables();

// Hands the new process of a re-exec or restart what it needs from this one: the located
// launcher file, and as root the completed library path's LAUNCHER_ENV_CHECKED.
void hmdHandToReexec();

// Completes LD_LIBRARY_PATH for the VM and the configured library path. Sets reexecFlag
// when the process must re-execute itself first. False stops the launch.
bool hmdSetEnvironment(bool& reexecFlag);

// The current environment as NUL-terminated entries closed by one more NUL.
std::string hmdGetEnvironmentBytes();
// The environment as 16-bit characters; this host supplies none.
std::optional<std::u16string> hmdGetEnvironmentChars();
std::optional<std::string> hmdGetEnvironmentValue(const char* name);

// A new private file under /tmp holding the content (none: an empty file). An empty
// content creates nothing and gives none.
std::optional<std::string> hmdWriteTempFile(std::optional<std::string_view> content);
// (Re)writes the file with the text.
void hmdWriteFileContent(const std::string& path, std::string_view text);
void hmdDeleteTempFile(const std::string& name);
