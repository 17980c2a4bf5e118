// The one owner of the process's end.
//
// Who ends the process is decided by one atomic word, the end state:
//
//   open ----(hmdClaimEnd)------> exiting --(hmdReexec)--> re-executing
//     |                            | stop signal: noted;       | stop signal: forwarded to
//     |                            | cancels a re-execution    | the exec'ing thread, where
//     |                            |                           | it waits, blocked, and
//     +--(stop signal)--> by signal: files removed, _exit      | reaches the new image
//
// Only the thread that moved the word out of "open" goes on; the others wait for the end.
// A stop signal blocked on the exec'ing thread stays pending across execve; the new image
// takes it as soon as its end handlers are armed and ends with 128 + its number, so no
// generation starts after a stop request.
//
// A re-execution hands the new image the dispositions and the mask this process was
// started with: "ignore" survives execve, so every ignore set since start is undone, and
// the start mask travels in the environment because the stop signals are blocked across
// the exec.

#include "process_end.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::array<int, 4> kStopSignals = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};
// The start mask as the first image saw it, for the image a re-execution starts.
constexpr const char kStartMaskVariable[] = "LAUNCHER_START_SIGNAL_MASK";
constexpr int kLastSignal = 64;

// The end state: the stage in the low byte, signals noted meanwhile in the bits above.
constexpr uint32_t kOpen = 0;
constexpr uint32_t kExiting = 1;
constexpr uint32_t kReexecuting = 2;
constexpr uint32_t kBySignal = 3;
constexpr uint32_t kStageBits = 0xff;
std::atomic<uint32_t> endState{kOpen};
std::atomic<pid_t> endOwner{0};

// Where the VM's life is.
constexpr int kBeforeVm = 0;
constexpr int kVmExists = 1;
constexpr int kAfterVm = 2;
std::atomic<int> vmStage{kBeforeVm};

// Bit n-1 per signal n.
uint64_t startIgnored = 0;
std::atomic<uint64_t> keptIgnored{0};
sigset_t startMask;
bool started = false;

void (*endListener)(int32_t, bool) = nullptr;

// The files removed at every end. Fixed slots, so the signal handler can read them.
struct Slot {
  std::atomic<int> state{0};  // 0 free, 1 being written, 2 holds a path
  char path[PATH_MAX];
};
std::array<Slot, 8> slots;

static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<uint64_t>::is_always_lock_free);

uint64_t bit(int signal) { return uint64_t{1} << (signal - 1); }

pid_t threadId() { return static_cast<pid_t>(syscall(SYS_gettid)); }

bool isStopSignal(int signal) {
  for (int s : kStopSignals) {
    if (s == signal) return true;
  }
  return false;
}

void endSignalHandler(int signal) {
  const int savedErrno = errno;
  // Once the VM exists the quit signal asks for stacks, never for an end; a signal +sig
  // named is ignored.
  const bool ignore = (keptIgnored.load() & bit(signal)) != 0 || (signal == SIGQUIT && vmStage.load() != kBeforeVm);
  if (!ignore) hmdEndBySignal(signal);
  errno = savedErrno;
}

sigset_t stopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kStopSignals) sigaddset(&set, s);
  return set;
}

void armEndHandlers() {
  for (int s : kStopSignals) {
    const struct sigaction action = hmdEndAction(s);
    sigaction(s, &action, nullptr);
  }
}

void giveStandardDescriptorsDevNull() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

std::string maskText(const sigset_t& mask) {
  uint64_t bits = 0;
  for (int s = 1; s <= kLastSignal; ++s) {
    if (sigismember(&mask, s) == 1) bits |= bit(s);
  }
  char text[32];
  std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(bits));
  return text;
}

bool parseMask(const char* text, sigset_t& mask) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long bits = std::strtoull(text, &end, 16);
  if (errno != 0 || end == text || *end != '\0') return false;
  sigemptyset(&mask);
  for (int s = 1; s <= kLastSignal; ++s) {
    if ((bits & bit(s)) != 0) sigaddset(&mask, s);
  }
  return true;
}

// Puts back what execve keeps: "ignore" exactly where the process was started with it.
// The stop signals not ignored at start keep the end handler, which forwards them to the
// exec'ing thread; execve turns it back into the default.
void restoreStartDispositions() {
  for (int s = 1; s <= kLastSignal; ++s) {
    if (s == SIGKILL || s == SIGSTOP) continue;
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    if ((startIgnored & bit(s)) != 0) {
      action.sa_handler = SIG_IGN;
    } else if (isStopSignal(s)) {
      action.sa_handler = endSignalHandler;
    } else {
      struct sigaction current {};
      if (sigaction(s, nullptr, &current) != 0) continue;
      if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_IGN) continue;
      action.sa_handler = SIG_DFL;
    }
    sigaction(s, &action, nullptr);
  }
}

}  // namespace

void hmdProcessStart() {
  giveStandardDescriptorsDevNull();
  sigset_t current;
  pthread_sigmask(SIG_SETMASK, nullptr, &current);
  startMask = current;
  if (const char* text = std::getenv(kStartMaskVariable)) {
    sigset_t passed;
    if (parseMask(text, passed)) startMask = passed;
    unsetenv(kStartMaskVariable);
  }
  startIgnored = 0;
  for (int s = 1; s <= kLastSignal; ++s) {
    struct sigaction action {};
    if (s == SIGKILL || s == SIGSTOP || sigaction(s, nullptr, &action) != 0) continue;
    if ((action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN) startIgnored |= bit(s);
  }
  keptIgnored.store(startIgnored);
  started = true;
  armEndHandlers();
  // A stop signal held across the re-execution that started this image arrives here.
  pthread_sigmask(SIG_SETMASK, &startMask, nullptr);
}

void hmdVmCreated() { vmStage.store(kVmExists); }

void hmdVmEnded() {
  vmStage.store(kAfterVm);
  if (started) armEndHandlers();
}

bool hmdVmHasEnded() { return vmStage.load() == kAfterVm; }

void hmdIgnoreFromNowOn(int signal) {
  if (signal >= 1 && signal <= kLastSignal) keptIgnored.fetch_or(bit(signal));
}

struct sigaction hmdEndAction(int signal) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  const bool ignore = signal >= 1 && signal <= kLastSignal && (keptIgnored.load() & bit(signal)) != 0;
  action.sa_handler = ignore ? SIG_IGN : endSignalHandler;
  return action;
}

void hmdRemoveAtEnd(const std::string& path) {
  if (path.empty() || path.size() >= PATH_MAX) return;
  for (Slot& slot : slots) {
    int expected = 0;
    if (!slot.state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.state.store(2);
    return;
  }
}

void hmdKeepAtEnd(const std::string& path) {
  for (Slot& slot : slots) {
    int expected = 2;
    if (slot.state.load() == 2 && path == slot.path && slot.state.compare_exchange_strong(expected, 1)) {
      slot.state.store(0);
    }
  }
}

void hmdRemoveFilesAtEnd() {
  for (Slot& slot : slots) {
    if (slot.state.load() == 2) unlink(slot.path);
  }
}

StopSignalsHeld::StopSignalsHeld() {
  const sigset_t stop = stopSignalSet();
  pthread_sigmask(SIG_BLOCK, &stop, &previous_);
}

StopSignalsHeld::~StopSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void hmdSetEndListener(void (*listener)(int32_t status, bool reexec)) { endListener = listener; }

void hmdClaimEnd() {
  const pid_t self = threadId();
  uint32_t expected = kOpen;
  if (endState.compare_exchange_strong(expected, kExiting)) {
    endOwner.store(self);
    return;
  }
  // An owner that ends by exit may come back here, e.g. from its own exit handlers.
  if (endOwner.load() == self && (expected & kStageBits) == kExiting) return;
  hmdWaitForEnd();
}

void hmdWaitForEnd() {
  for (;;) pause();
}

void hmdEndProcess(int32_t status) {
  hmdClaimEnd();
  if (endListener != nullptr) endListener(status, false);
  std::exit(status);
}

void hmdEndBySignal(int signal) {
  uint32_t state = endState.load();
  for (;;) {
    switch (state & kStageBits) {
      case kOpen:
        if (!endState.compare_exchange_weak(state, kBySignal)) continue;
        hmdRemoveFilesAtEnd();
        _exit(128 + signal);
      case kExiting:
        // Noted, so that the owner does not re-execute; its exit ends the process.
        if (!endState.compare_exchange_weak(state, state | (bit(signal) << 8))) continue;
        return;
      case kReexecuting: {
        // Blocked there: it stays pending across execve and ends the new image.
        const pid_t owner = endOwner.load();
        if (owner != 0) syscall(SYS_tgkill, getpid(), owner, signal);
        return;
      }
      default:
        return;
    }
  }
}

bool hmdStopNoted() { return (endState.load() >> 8) != 0; }

int hmdReexec(const char* file, char** argv) {
  hmdClaimEnd();
  // The stop signals wait on this thread; any that another thread receives from now on
  // is sent here.
  sigset_t held = startMask;
  for (int s : kStopSignals) sigaddset(&held, s);
  pthread_sigmask(SIG_SETMASK, &held, nullptr);
  uint32_t expected = kExiting;
  if (!endState.compare_exchange_strong(expected, kReexecuting)) {
    // A stop signal came first: it ends the process instead of a new image.
    int signal = 1;
    while (signal <= kLastSignal && ((expected >> 8) & bit(signal)) == 0) ++signal;
    pthread_sigmask(SIG_SETMASK, &startMask, nullptr);
    hmdRemoveFilesAtEnd();
    if (endListener != nullptr) endListener(128 + signal, false);
    std::exit(128 + signal);
  }
  if (endListener != nullptr) endListener(-1, true);
  hmdRemoveFilesAtEnd();
  restoreStartDispositions();
  setenv(kStartMaskVariable, maskText(startMask).c_str(), 1);
  execv(file, argv);
  const int error = errno;
  unsetenv(kStartMaskVariable);
  endState.store(kExiting);
  pthread_sigmask(SIG_SETMASK, &startMask, nullptr);
  return error;
}

void hmdProcessEndReset() {
  endState.store(kOpen);
  endOwner.store(0);
  vmStage.store(kBeforeVm);
  startIgnored = 0;
  keptIgnored.store(0);
  started = false;
  endListener = nullptr;
  for (Slot& slot : slots) slot.state.store(0);
}
