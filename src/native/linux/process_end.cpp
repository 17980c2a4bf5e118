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
// A stop from the end of main on is noted in the word while it is still open
// (hmdNoteStop); the claim keeps the note, so the re-execution is cancelled.
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
#include <utility>
#include <vector>

#include "trace.h"

extern char** environ;

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
// The variables the re-executed image gets on top of this process's environment.
std::vector<std::pair<std::string, std::string>> reexecVariables;
void (*signalEndNotice)(int32_t) = nullptr;

// A stop nothing could act on yet; 0: none.
std::atomic<int> rememberedStop{0};
// A quit signal was dropped while no VM existed; traced at the next safe moment.
std::atomic<bool> quitDropped{false};

// The creation hold: the dispositions it replaced, per signal, and the mask before it.
std::array<struct sigaction, kLastSignal + 1> beforeHold{};
uint64_t heldForCreation = 0;
sigset_t maskBeforeHold;

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
  // The quit signal asks for stacks, never for an end: with no VM to dump it is dropped;
  // a signal +sig named is ignored.
  if (signal == SIGQUIT) {
    quitDropped.store(true);
  } else if ((keptIgnored.load() & bit(signal)) == 0) {
    hmdEndBySignal(signal);
  }
  errno = savedErrno;
}

// The handlers hmdNoteStopsTakenByTheVm wrapped, per signal.
std::array<struct sigaction, kLastSignal + 1> wrapped{};

void noteAndChain(int signal, siginfo_t* info, void* context) {
  hmdNoteStop(signal);
  const struct sigaction& chained = wrapped[static_cast<size_t>(signal)];
  if ((chained.sa_flags & SA_SIGINFO) != 0) {
    if (chained.sa_sigaction != nullptr) chained.sa_sigaction(signal, info, context);
  } else if (chained.sa_handler != SIG_DFL && chained.sa_handler != SIG_IGN) {
    chained.sa_handler(signal);
  }
}

void traceDroppedQuit() {
  if (quitDropped.exchange(false)) ut_tproda("Dropped signal [%d]: no VM to dump the stacks of", SIGQUIT);
}

// The held stop signals pending for the process or this thread, taken; the first one.
int takePendingStop(const sigset_t& set) {
  int first = 0;
  const timespec now{};
  for (;;) {
    const int taken = sigtimedwait(&set, nullptr, &now);
    if (taken <= 0) break;
    if (first == 0) first = taken;
  }
  return first;
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

std::vector<std::string> hmdReexecEnvironment() {
  std::vector<std::string> list;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text = *entry;
    const std::string_view name = text.substr(0, text.find('='));
    bool replaced = false;
    for (const auto& [set, value] : reexecVariables) replaced = replaced || name == set;
    if (!replaced) list.emplace_back(text);
  }
  for (const auto& [name, value] : reexecVariables) list.push_back(name + "=" + value);
  return list;
}

void hmdReexecVariable(const std::string& name, const std::string& value) {
  for (auto& [set, given] : reexecVariables) {
    if (set == name) {
      given = value;
      return;
    }
  }
  reexecVariables.emplace_back(name, value);
}

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
  // A stop signal held across the re-execution that started this image waits until the
  // launcher's own variables are taken (hmdAcceptStops).
  sigset_t held = startMask;
  for (int s : kStopSignals) sigaddset(&held, s);
  pthread_sigmask(SIG_SETMASK, &held, nullptr);
}

void hmdAcceptStops() { pthread_sigmask(SIG_SETMASK, &startMask, nullptr); }

void hmdVmCreated() {
  vmStage.store(kVmExists);
  traceDroppedQuit();
}

void hmdVmEnded() {
  vmStage.store(kAfterVm);
  if (started) armEndHandlers();
}

void hmdHoldStopsForCreation() {
  sigset_t block;
  sigemptyset(&block);
  heldForCreation = 0;
  for (int s : kStopSignals) {
    if (s == SIGQUIT || (keptIgnored.load() & bit(s)) != 0) continue;
    sigaddset(&block, s);
    heldForCreation |= bit(s);
  }
  pthread_sigmask(SIG_BLOCK, &block, &maskBeforeHold);
  // "Ignore" discards what is pending: a stop that came before is remembered first.
  if (const int pending = takePendingStop(block)) hmdRememberStop(pending);
  for (int s : kStopSignals) {
    if ((heldForCreation & bit(s)) == 0) continue;
    struct sigaction ignore {};
    sigemptyset(&ignore.sa_mask);
    ignore.sa_handler = SIG_IGN;
    sigaction(s, &ignore, &beforeHold[static_cast<size_t>(s)]);
  }
}

int hmdReleaseStopsAfterCreation() {
  sigset_t block;
  sigemptyset(&block);
  for (int s : kStopSignals) {
    if ((heldForCreation & bit(s)) == 0) continue;
    sigaddset(&block, s);
    sigaction(s, &beforeHold[static_cast<size_t>(s)], nullptr);
  }
  heldForCreation = 0;
  const int pending = takePendingStop(block);
  pthread_sigmask(SIG_SETMASK, &maskBeforeHold, nullptr);
  return pending;
}

void hmdRememberStop(int signal) {
  int none = 0;
  rememberedStop.compare_exchange_strong(none, signal);
}

int hmdTakeRememberedStop() { return rememberedStop.exchange(0); }

void hmdNoteStop(int signal) {
  if (signal < 1 || signal > kLastSignal) return;
  uint32_t state = endState.load();
  while ((state & kStageBits) == kOpen || (state & kStageBits) == kExiting) {
    if (endState.compare_exchange_weak(state, state | (static_cast<uint32_t>(bit(signal)) << 8))) return;
  }
}

void hmdNoteStopsTakenByTheVm() {
  for (int s : kStopSignals) {
    if (s == SIGQUIT) continue;
    struct sigaction current {};
    if (sigaction(s, nullptr, &current) != 0) continue;
    const bool function = (current.sa_flags & SA_SIGINFO) != 0
                              ? current.sa_sigaction != nullptr
                              : current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN;
    // Not the end handler, nor a wrapper already in place.
    if (!function || current.sa_handler == endSignalHandler || current.sa_sigaction == noteAndChain) continue;
    wrapped[static_cast<size_t>(s)] = current;
    struct sigaction wrapper = current;
    wrapper.sa_sigaction = noteAndChain;
    wrapper.sa_flags = current.sa_flags | SA_SIGINFO;
    sigaction(s, &wrapper, nullptr);
  }
}

void hmdSetSignalEndNotice(void (*notice)(int32_t status)) { signalEndNotice = notice; }

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
  uint32_t expected = endState.load();
  while ((expected & kStageBits) == kOpen) {
    // Stops noted while the word was open stay noted.
    if (endState.compare_exchange_weak(expected, expected | kExiting)) {
      endOwner.store(self);
      return;
    }
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
  traceDroppedQuit();
  if (endListener != nullptr) endListener(status, false);
  std::exit(status);
}

void hmdEndBySignal(int signal) {
  uint32_t state = endState.load();
  for (;;) {
    switch (state & kStageBits) {
      case kOpen:
        if (!endState.compare_exchange_weak(state, kBySignal)) continue;
        if (signalEndNotice != nullptr) signalEndNotice(128 + signal);
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
    traceDroppedQuit();
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
  hmdReexecVariable(kStartMaskVariable, maskText(startMask));
  std::vector<std::string> environment = hmdReexecEnvironment();
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  execve(file, argv, envp.data());
  const int error = errno;
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
  signalEndNotice = nullptr;
  reexecVariables.clear();
  rememberedStop.store(0);
  quitDropped.store(false);
  heldForCreation = 0;
  for (Slot& slot : slots) slot.state.store(0);
}
