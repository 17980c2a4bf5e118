// The pid file an init script reads: written when the configuration has been read, kept
// across restarts (the process stays the same), removed at every end of the process.
#pragma once

#include <sys/types.h>

#include <string>

// Writes this process's id into the file, under a temporary name renamed into place.
// Refuses, with a message on standard error, when the file names another live process
// that runs the same launcher file, or when the file cannot be written. A file left by a
// process that is gone, or by this process before a re-execution, is replaced.
bool hmdWritePidFile(const std::string& path);

// A re-execution keeps the file: the new image is the same process and writes it again.
// It takes the file over at its start, so that an end before it writes the file removes
// it too.
void hmdKeepPidFileAcrossReexec();
void hmdTakePidFileFromReexec();

// Removes the file this process wrote, if it still holds this process's id. Safe to call
// any number of times, and when no file was written.
void hmdRemovePidFile();

// Whether the process runs the file this process runs. When the process's executable
// cannot be read (another user's process), its command name is compared instead.
bool hmdIsSameLauncher(pid_t pid);
