// The signals the launcher handles itself: hang-up, interrupt and terminate become an
// orderly stop of the application, quit a dump of all Java stacks.
//
// One-shot design. A delivery disarms its signal: the handler sets "ignore" at once, so
// further deliveries are dropped until the handling is over and the worker re-arms it:
//
//   signal --> hmdSignalHandler (signal context: sigaction, atomics and write only)
//                 | "ignore" the signal
//                 | quit without a stack-dump entry: call the previous handler, re-arm
//                 v
//              pipe (non-blocking, close-on-exec) --> watcher thread
//                                                       | trace lines
//                                                       v
//                                                     detached worker
//                                                       | the stop or dump action the
//                                                       | launch sequence gave
//                                                       | re-arm the signal
//
// The handler is not installed with SA_RESETHAND: in a process with many threads a second
// delivery can reach another thread before the first has set "ignore", and the default
// disposition would then end the process. A per-signal flag, set by the first delivery
// and cleared just before the re-arm, drops such a second delivery instead.
//
// Creating a thread or formatting a trace line is not async-signal-safe, so the handler
// leaves both to the watcher, which is started when the table is installed and reads one
// event per write; anything else that reaches the pipe is skipped.
//
// Once the VM has ended, the table hands the signals to the end of the process
// (process_end.h): a stop signal ends it with 128 + its number, quit does nothing.

#include "signals.h"

#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "jvm_discovery.h"
#include "jvm_service.h"
#include "option_directives.h"
#include "process_end.h"
#include "trace.h"

namespace {

// One row per handled signal, in the order handlers are installed and restored. The
// name is the lower-case spelling +sig accepts (in any letter case).
struct SignalRow {
  int32_t number;
  const char* name;
};

constexpr std::array<SignalRow, 4> signals = {{
    {.number = SIGHUP, .name = "hup"},
    {.number = SIGINT, .name = "int"},
    {.number = SIGQUIT, .name = "quit"},
    {.number = SIGTERM, .name = "term"},
}};
constexpr size_t numSignals = signals.size();

// What changes per row, parallel to the table: whether the launcher's handler is
// replaced by "ignore" (+sig, or a launcher started under nohup), and the disposition
// the installation replaced, put back after the VM is gone.
std::array<bool, numSignals> ignored{};
std::array<struct sigaction, numSignals> previous{};

// Set while a delivery of the row's signal is being handled.
std::array<std::atomic<bool>, numSignals> handling{};
// The handler touches only these atomics; that is signal-safe only when they are lock-free.
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

std::atomic<bool> sigHandlerInstalled{false};
// Whether quit goes to a worker (the VM exports its stack dump) or to the previous
// handler; fixed when the table is installed.
std::atomic<bool> quitDumpsStacks{false};
// Installation, re-arming and restoring outside signal context take this lock, so that
// a worker finishing late cannot re-arm a signal that was already restored.
std::mutex armLock;

// What the handler tells the watcher; one event per write, well below PIPE_BUF.
enum class EventKind : int32_t { kHandle, kDelegated, kNotDelegated, kStop };
struct Event {
  int32_t signal;
  EventKind kind;
};

int pipeRead = -1;
std::atomic<int> pipeWrite{-1};
pthread_t watcher{};
bool watcherRunning = false;

SignalActions actions;

// Waits for the watcher to take the stop event: a full pipe is read meanwhile.
constexpr int kStopTries = 2000;

// The row index of the name, ignoring case; numSignals when there is none.
size_t findSignal(std::string_view name) {
  for (size_t i = 0; i < numSignals; ++i) {
    const std::string_view rowName = signals[i].name;
    if (name.size() == rowName.size() && strncasecmp(name.data(), rowName.data(), name.size()) == 0) return i;
  }
  return numSignals;
}

// The row index of the signal number; numSignals when there is none.
size_t findSignal(int32_t number) {
  for (size_t i = 0; i < numSignals; ++i) {
    if (signals[i].number == number) return i;
  }
  return numSignals;
}

struct sigaction handlerAction() {
  struct sigaction action {};
  action.sa_sigaction = hmdSignalHandler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  return action;
}

struct sigaction ignoreAction() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  return action;
}

// Async-signal-safe: sigaction only.
void setIgnored(int32_t number) {
  const struct sigaction action = ignoreAction();
  sigaction(number, &action, nullptr);
}

// Async-signal-safe. The flag goes first: a delivery between the two would otherwise be
// dropped with the signal left on "ignore".
void arm(int32_t number) {
  const size_t row = findSignal(number);
  if (row == numSignals) return;
  handling[row].store(false);
  const struct sigaction action = handlerAction();
  sigaction(number, &action, nullptr);
}

// Re-installs the table's handler for the signal while the table is installed.
bool rearm(int32_t number) {
  std::lock_guard<std::mutex> lock(armLock);
  if (!sigHandlerInstalled.load() || findSignal(number) == numSignals) return false;
  arm(number);
  return true;
}

// Async-signal-safe: one write of a few bytes to a non-blocking pipe.
bool post(Event event) {
  const int fd = pipeWrite.load();
  if (fd < 0) return false;
  return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

bool isHandlerFunction(const struct sigaction& action) {
  if ((action.sa_flags & SA_SIGINFO) != 0) return action.sa_sigaction != nullptr;
  return action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN && action.sa_handler != SIG_ERR &&
         action.sa_handler != SIG_HOLD;
}

void* workerMain(void* argument) {
  hmdSignalHandlerThread(static_cast<int32_t>(reinterpret_cast<intptr_t>(argument)));
  return nullptr;
}

void startWorker(int32_t number) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int error = 0;
  {
    // The launcher's own threads never take a stop signal: it waits for a thread that
    // can act on it (see hmdHoldStopsForCreation).
    StopSignalsHeld held;
    error = pthread_create(&thread, &attributes, workerMain,
                           reinterpret_cast<void*>(static_cast<intptr_t>(number)));
  }
  pthread_attr_destroy(&attributes);
  if (error == 0) return;
  std::fprintf(stderr, "Vantrel launcher: Unable to handle signal %d; pthread_create() returned %d.\n",
               number, error);
  if (rearm(number)) ut_tproda("Reinstated Signal Handler");
}

// The watcher: the handler's trace lines and the worker threads, in delivery order.
void* watcherMain(void*) {
  for (;;) {
    Event event{};
    const ssize_t n = read(pipeRead, &event, sizeof event);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (n != static_cast<ssize_t>(sizeof event)) continue;
    if (event.kind == EventKind::kStop && event.signal == 0) break;
    if (findSignal(event.signal) == numSignals) continue;
    switch (event.kind) {
      case EventKind::kHandle:
        if (event.signal != SIGQUIT) ut_tproda("Handling signal [%d]", event.signal);
        startWorker(event.signal);
        break;
      case EventKind::kDelegated:
        ut_tproda("Delegating to previous signal handler");
        ut_tproda("Reinstated Signal Handler");
        break;
      case EventKind::kNotDelegated:
        ut_tproda("No signal handler to delegate to");
        ut_tproda("Reinstated Signal Handler");
        break;
      default:
        break;
    }
  }
  return nullptr;
}

// The pipe's write end must never block the handler; neither end survives an exec.
bool openPipe() {
  if (pipeRead >= 0) return true;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
  pipeRead = fds[0];
  pipeWrite.store(fds[1]);
  return true;
}

void closePipe() {
  const int fd = pipeWrite.exchange(-1);
  if (fd >= 0) close(fd);
  if (pipeRead >= 0) close(pipeRead);
  pipeRead = -1;
}

bool startWatcher() {
  if (watcherRunning) return true;
  if (!openPipe()) {
    std::fprintf(stderr, "Vantrel launcher: Unable to handle signals; pipe2() returned %d.\n", errno);
    return false;
  }
  int error = 0;
  {
    StopSignalsHeld held;
    error = pthread_create(&watcher, nullptr, watcherMain, nullptr);
  }
  if (error != 0) {
    std::fprintf(stderr, "Vantrel launcher: Unable to handle signals; pthread_create() returned %d.\n",
                 error);
    return false;
  }
  watcherRunning = true;
  return true;
}

// Lets the watcher finish the events before the stop and joins it. The pipe stays open:
// a handler still running on another thread may yet write to it.
void stopWatcher() {
  if (!watcherRunning) return;
  // The watcher keeps reading, so a full pipe only delays the stop event.
  bool posted = false;
  for (int i = 0; i < kStopTries && !posted; ++i) {
    posted = post({.signal = 0, .kind = EventKind::kStop});
    if (!posted && errno != EAGAIN && errno != EINTR) break;
    if (!posted) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (posted) {
    pthread_join(watcher, nullptr);
  } else {
    pthread_detach(watcher);
  }
  watcherRunning = false;
}

// Events the watcher left in the pipe once it stopped: a stop signal among them ends the
// process when the VM is gone, as one delivered now would.
void takeLeftEvents() {
  if (pipeRead < 0 || !hmdVmHasEnded()) return;
  fcntl(pipeRead, F_SETFL, fcntl(pipeRead, F_GETFL) | O_NONBLOCK);
  Event event{};
  for (int i = 0; i < kStopTries; ++i) {
    const ssize_t n = read(pipeRead, &event, sizeof event);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof event)) break;
    if (event.kind == EventKind::kHandle && event.signal != SIGQUIT &&
        findSignal(event.signal) != numSignals) {
      hmdEndBySignal(event.signal);
    }
  }
}

void installTable() {
  if (sigHandlerInstalled.load()) return;
  if (!startWatcher()) return;
  quitDumpsStacks.store(jevGetInvocationFunction().dumpAllStacks != nullptr);
  {
    std::lock_guard<std::mutex> lock(armLock);
    for (size_t i = 0; i < numSignals; ++i) {
      handling[i].store(false);
      const struct sigaction action = ignored[i] ? ignoreAction() : handlerAction();
      sigaction(signals[i].number, &action, &previous[i]);
    }
    sigHandlerInstalled.store(true);
  }
  ut_tproda("Installed Signal Handler");
}

void restoreTable() {
  std::lock_guard<std::mutex> lock(armLock);
  if (!sigHandlerInstalled.load()) return;
  sigHandlerInstalled.store(false);
  // The VM's handlers would point at a destroyed VM; once it is gone the end of the
  // process takes the signals.
  const bool vmEnded = hmdVmHasEnded();
  for (size_t i = 0; i < numSignals; ++i) {
    const struct sigaction action = vmEnded ? hmdEndAction(signals[i].number) : previous[i];
    sigaction(signals[i].number, &action, nullptr);
  }
}

}  // namespace

bool hmdSetSignalIgnore(std::string_view name) {
  const size_t i = findSignal(name);
  if (i == numSignals) return false;
  ignored[i] = true;
  hmdIgnoreFromNowOn(signals[i].number);
  ut_tproda("Ignoring sig%s", signals[i].name);
  return true;
}

bool hmdIsSignalTableInstalled() { return sigHandlerInstalled.load(); }

bool hmdIsSignalIgnored(std::string_view name) {
  const size_t i = findSignal(name);
  return i != numSignals && ignored[i];
}

void hmdSignalsReset() {
  restoreTable();
  stopWatcher();
  closePipe();
  ignored.fill(false);
  previous.fill({});
  for (std::atomic<bool>& flag : handling) flag.store(false);
  quitDumpsStacks.store(false);
  actions = SignalActions();
}

void hmdSetSignalActions(const SignalActions& given) { actions = given; }

int32_t hmdBeforeCreateJVM() {
  // A launcher started under nohup finds hang-up ignored; it ignores interrupts too.
  struct sigaction hangup {};
  sigaction(SIGHUP, nullptr, &hangup);
  if ((hangup.sa_flags & SA_SIGINFO) == 0 && hangup.sa_handler == SIG_IGN) {
    setIgnored(SIGINT);
    hmdIgnoreFromNowOn(SIGINT);
    hmdIgnoreFromNowOn(SIGHUP);
    ut_tproda("Running nohup'd so also ignore SIGINT");
    ignored[findSignal(SIGINT)] = true;
    ignored[findSignal(SIGHUP)] = true;
  }
  if (!cfgIsHandleShutdownEnabled()) return 0;
  const char* when = std::getenv("ZEP_SET_NATIVE_HANDLER");
  if (when != nullptr && strcasecmp(when, "before") == 0) installTable();
  return 0;
}

int32_t hmdAfterCreateJVM() {
  if (!cfgIsHandleShutdownEnabled()) return 0;
  const char* when = std::getenv("ZEP_SET_NATIVE_HANDLER");
  if (when == nullptr || strcasecmp(when, "after") == 0) installTable();
  if (std::getenv("ZEP_SET_JAVA_HANDLER") == nullptr) {
    jsvSetSystemProperty("launcher.signalhandler.installed", "true");
    ut_tproda("Turn off Java Shutdown Hooks");
  }
  return 0;
}

int32_t hmdAfterDestoryJVM() {
  restoreTable();
  stopWatcher();
  takeLeftEvents();
  return 0;
}

void hmdSignalHandler(int signal, siginfo_t* info, void* context) {
  const size_t row = findSignal(signal);
  if (row == numSignals) return;
  const int savedErrno = errno;
  if (hmdVmHasEnded()) {
    // Delivered to the table as the VM's end handed the signals over.
    if (signal != SIGQUIT) hmdEndBySignal(signal);
    errno = savedErrno;
    return;
  }
  setIgnored(signal);
  if (handling[row].exchange(true)) {
    // A second delivery that overtook the first one's "ignore".
    errno = savedErrno;
    return;
  }
  if (signal == SIGQUIT && !quitDumpsStacks.load()) {
    // The VM dumps its stacks from its own handler; calling it is signal-safe as it is.
    const struct sigaction& quit = previous[row];
    EventKind kind = EventKind::kNotDelegated;
    if (isHandlerFunction(quit)) {
      kind = EventKind::kDelegated;
      if ((quit.sa_flags & SA_SIGINFO) != 0) {
        quit.sa_sigaction(signal, info, context);
      } else {
        quit.sa_handler(signal);
      }
    }
    if (sigHandlerInstalled.load()) arm(signal);
    post({.signal = signal, .kind = kind});
  } else if (!post({.signal = signal, .kind = EventKind::kHandle})) {
    // Nobody will handle it; stay armed for the next one.
    if (sigHandlerInstalled.load()) arm(signal);
  }
  errno = savedErrno;
}

int32_t hmdSignalHandlerThread(int32_t signal) {
  if (signal == SIGQUIT) {
    if (actions.dumpStacks != nullptr) actions.dumpStacks();
  } else if (actions.stop != nullptr) {
    actions.stop(signal);
  }
  ut_tproda("Completed handling of signal [%d]", signal);
  if (rearm(signal)) ut_tproda("Reinstated Signal Handler");
  return 0;
}
