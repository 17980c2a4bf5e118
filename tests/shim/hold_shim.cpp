// A library the end-to-end tests preload into the launcher to hold it at a moment of its
// life, so that a test can send a signal exactly then:
//   HOLD_SHIM_LINE=text   after the first write (in this process image) that contains the
//                         text, e.g. a trace line
//   HOLD_SHIM_EXEC=n      before the n-th exec of the run, counted in the file
//                         HOLD_SHIM_COUNT across the run's process images; it writes
//                         "hold shim: exec n" to standard error first
// A hold lasts until the file HOLD_SHIM_RELEASE exists (at most 60 s), looked for every
// HOLD_SHIM_POLL_US microseconds (10 ms unless given): processes held alike are let go
// within that time of each other.
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using WriteFn = ssize_t (*)(int, const void*, size_t);
using ExecveFn = int (*)(const char*, char* const[], char* const[]);

WriteFn realWrite() {
  static WriteFn fn = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
  return fn;
}

void hold() {
  const char* release = std::getenv("HOLD_SHIM_RELEASE");
  const char* poll = std::getenv("HOLD_SHIM_POLL_US");
  const long micros = poll != nullptr && std::atol(poll) > 0 ? std::atol(poll) : 10000;
  const long rounds = 60'000'000 / micros;
  for (long i = 0; i < rounds && (release == nullptr || access(release, F_OK) != 0); ++i) {
    timespec pause{.tv_sec = 0, .tv_nsec = micros * 1000};
    nanosleep(&pause, nullptr);
  }
}

bool lineHeld = false;

// Counts this exec in the run's count file; true when it is the one to hold.
bool holdThisExec() {
  const char* at = std::getenv("HOLD_SHIM_EXEC");
  const char* countFile = std::getenv("HOLD_SHIM_COUNT");
  if (at == nullptr || countFile == nullptr) return false;
  int count = 0;
  if (FILE* in = std::fopen(countFile, "r")) {
    if (std::fscanf(in, "%d", &count) != 1) count = 0;
    std::fclose(in);
  }
  ++count;
  if (FILE* out = std::fopen(countFile, "w")) {
    std::fprintf(out, "%d\n", count);
    std::fclose(out);
  }
  if (count != std::atoi(at)) return false;
  const std::string line = "hold shim: exec " + std::to_string(count) + "\n";
  realWrite()(2, line.data(), line.size());
  return true;
}

}  // namespace

extern "C" ssize_t write(int fd, const void* buffer, size_t size) {
  const ssize_t written = realWrite()(fd, buffer, size);
  static const char* line = std::getenv("HOLD_SHIM_LINE");
  if (line != nullptr && *line != '\0' && !lineHeld &&
      memmem(buffer, size, line, std::strlen(line)) != nullptr) {
    lineHeld = true;
    hold();
  }
  return written;
}

extern "C" int execve(const char* path, char* const argv[], char* const envp[]) {
  static ExecveFn real = reinterpret_cast<ExecveFn>(dlsym(RTLD_NEXT, "execve"));
  if (holdThisExec()) hold();
  return real(path, argv, envp);
}

extern "C" int execv(const char* path, char* const argv[]) {
  static ExecveFn real = reinterpret_cast<ExecveFn>(dlsym(RTLD_NEXT, "execve"));
  if (holdThisExec()) hold();
  return real(path, argv, environ);
}
