// Where the launcher is installed: its own file, its directory, its name and the
// application home above it. Computed once from argv[0], kept for the process.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Locates the launcher from argv[0] (searching PATH for a bare name), resolves links,
// normalises, and stores all four values. On success homeOut receives the home.
// Failure leaves homeOut untouched, except for a launcher in '/' or '/patches', which
// empties it.
// A process started by a re-exec of this launcher (see hmdHandLocationToReexec) takes the
// file handed to it instead, when that is the file it runs.
bool hmdSetApplicationHome(std::string_view argv0, std::string& homeOut);
// Hands the located launcher file to the process the next exec starts.
void hmdHandLocationToReexec();
// The part of hmdSetApplicationHome after the launcher file was found and resolved:
// normalises the name and stores the four values from it.
bool hmdSetLauncherLocation(std::string_view resolvedName, std::string& homeOut);

void hmdSetFullLauncherFileName(std::string_view text);
void hmdSetFullLauncherPath(std::string_view text);
void hmdSetApplicationName(std::string_view path);

// At most length - 1 characters of the value; empty when unset.
std::string hmdGetFullLauncherFileName(size_t length = 1024);
std::string hmdGetFullLauncherPath(size_t length = 1024);
// At most length characters of the home; empty when unset.
std::string hmdGetApplicationHome(size_t length = 1024);
// The launcher's bare name; null before the home was determined.
const char* hmdGetApplicationName();

// The host's property store; this host has none.
std::optional<std::string> hmdGetKestrixProperty(std::string_view name);
