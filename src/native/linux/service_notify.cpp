// Notifying a service manager. The protocol is one datagram of "NAME=value" lines on the
// Unix datagram socket NOTIFY_SOCKET names (a path, or an abstract name written "@name").
//
// What is sent when (G: the restart generation, shown from 2 on):
//   configuration read          MAINPID=<pid>  STATUS=Starting[ (generation G)]
//   (the VM about to be created: the pid file is written)
//   ready, by the readiness rule READY=1  STATUS=Running[ (generation G)]
//       main    the main method is called
//       return  the main method returns normally
//       port N  a connection to 127.0.0.1:N or [::1]:N is accepted (polled every 50 ms)
//   a stop begins               STOPPING=1  STATUS=Stopping  (with a restart code: STATUS only)
//   restart (restartonexit)     RELOADING=1  MONOTONIC_USEC=<now>  STATUS=Restarting (generation G+1)
//   end of the process          [STOPPING=1]  STATUS=Exited with status <n>
//                               (by a stop signal too: sent from the end handler on a
//                               socket prepared at start, with one signal-safe sendto)
//   watchdog                    WATCHDOG=1, every half WATCHDOG_USEC, each after a call
//                               into the VM from an attached launcher thread has returned;
//                               across a restart: one just before the exec, one when the
//                               new generation has read its configuration, and one as
//                               soon as its VM first answers
//
// The variables are taken out of the environment at start and put back for a
// re-execution, with the generation (and, for the re-execution that completes the library
// path, the note that MAINPID was sent) in LAUNCHER_SERVICE_GENERATION.
//
// The poll and watchdog threads are detached and may outlive everything else; they use
// only the plain values and atomics below, which are never destroyed.
#include "service_notify.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "launch_settings.h"
#include "pid_file.h"
#include "process_end.h"
#include "trace.h"

namespace {

constexpr const char kNotifySocket[] = "NOTIFY_SOCKET";
constexpr const char kGeneration[] = "LAUNCHER_SERVICE_GENERATION";
constexpr const char* kWatchdogVariables[] = {"WATCHDOG_USEC", "WATCHDOG_PID"};
constexpr int kPollMillis = 50;
constexpr int kSendTimeoutSeconds = 1;

sockaddr_un notifyAddress{};
socklen_t notifyLength = 0;  // 0: nothing is sent
char notifyText[sizeof notifyAddress.sun_path + 1] = {};
uint64_t watchdogInterval = 0;  // microseconds between pings, 0: no watchdog
int32_t generation = 1;
bool announced = false;  // MAINPID sent by this process before a library-path re-exec
Readiness readiness;
bool mayRestart = false;  // a restart code is configured
JavaVM* watchdogVm = nullptr;
// The service manager's watchdog variables as given, put back for a re-execution.
std::vector<std::pair<std::string, std::string>> watchdogVariables;

std::atomic<bool> readySent{false};
std::atomic<bool> stoppingSent{false};
std::atomic<bool> vmGone{false};
std::atomic<bool> pollOver{false};
std::atomic<bool> polling{false};
std::atomic<bool> failureTraced{false};
// The socket the end handler sends the final status on; -1: none.
int endSocket = -1;

uint64_t monotonicMicros() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
}

void sleepMicros(uint64_t micros) {
  timespec pause{.tv_sec = static_cast<time_t>(micros / 1000000u),
                 .tv_nsec = static_cast<long>(micros % 1000000u) * 1000};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

// A path must be absolute; "@name" is an abstract name (its '@' becomes a NUL).
bool setAddress(const char* text) {
  size_t length = std::strlen(text);
  if (length < 2 || length > sizeof notifyAddress.sun_path || (text[0] != '/' && text[0] != '@'))
    return false;
  if (text[0] == '/' && length == sizeof notifyAddress.sun_path) return false;  // no room for the NUL
  notifyAddress.sun_family = AF_UNIX;
  std::memcpy(notifyAddress.sun_path, text, length);
  if (text[0] == '@') notifyAddress.sun_path[0] = '\0';
  notifyLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (text[0] == '/' ? 1 : 0));
  std::memcpy(notifyText, text, length + 1);
  return true;
}

std::string generationSuffix(int32_t number) {
  return number > 1 ? " (generation " + std::to_string(number) + ")" : std::string();
}

// Once, and never once a stop has begun: an application stopped before it was ready
// never was.
void sendReady() {
  if (stoppingSent || readySent.exchange(true)) return;
  hmdNotify("READY=1\nSTATUS=Running" + generationSuffix(generation));
}

// A descriptor of our own never takes 0, 1 or 2, which may be closed at start.
int highDescriptor(int fd) {
  if (fd < 0 || fd > 2) return fd;
  int high = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return high;
}

// Whether a TCP connection to the loopback address and port is accepted within one poll.
bool connects(int family, int port) {
  int fd = highDescriptor(socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd < 0) return false;
  sockaddr_storage address{};
  socklen_t length = 0;
  if (family == AF_INET) {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(static_cast<uint16_t>(port));
    in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof *in4;
  } else {
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(static_cast<uint16_t>(port));
    in6->sin6_addr = in6addr_loopback;
    length = sizeof *in6;
  }
  bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
  if (!accepted && errno == EINPROGRESS) {
    pollfd waiting{.fd = fd, .events = POLLOUT, .revents = 0};
    int error = 0;
    socklen_t size = sizeof error;
    accepted = poll(&waiting, 1, kPollMillis) == 1 &&
               getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
  close(fd);
  return accepted;
}

void* readinessPoll(void*) {
  while (!pollOver && !readySent) {
    if (connects(AF_INET, readiness.port) || connects(AF_INET6, readiness.port)) {
      ut_tproda("Readiness port %d accepted a connection", static_cast<int>(readiness.port));
      sendReady();
      return nullptr;
    }
    sleepMicros(kPollMillis * 1000u);
  }
  return nullptr;
}

// The application has ended (or is ending): the poll gives up, and says so once.
void endPoll() {
  pollOver = true;
  if (polling.exchange(false) && !readySent) {
    ut_tproda("Readiness port %d was not opened while the application ran; READY=1 not sent",
              static_cast<int>(readiness.port));
  }
}

// The VM answers when a static Java method called from this attached thread returns: a
// VM stuck at a safepoint, in endless garbage collection or otherwise not running Java
// code holds the call, and the pings stop. The thread is a daemon, so the VM's destruction
// does not wait for it; once the VM is gone it leaves without touching the VM again.
void* watchdog(void*) {
  JNIEnv* env = nullptr;
  char name[] = "Launcher watchdog";
  JavaVMAttachArgs attachArgs{.version = JNI_VERSION_1_2, .name = name, .group = nullptr};
  if (watchdogVm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &attachArgs) != JNI_OK) {
    ut_tproda("Watchdog could not attach to the VM; no pings are sent");
    return nullptr;
  }
  jclass system = env->FindClass("java/lang/System");
  jmethodID nanoTime = system != nullptr ? env->GetStaticMethodID(system, "nanoTime", "()J") : nullptr;
  if (nanoTime == nullptr) {
    env->ExceptionClear();
    ut_tproda("Watchdog found no java.lang.System.nanoTime(); no pings are sent");
    if (!vmGone) watchdogVm->DetachCurrentThread();
    return nullptr;
  }
  ut_tproda("Watchdog pings every %llu microseconds while the VM answers",
            static_cast<unsigned long long>(watchdogInterval));
  // The first ping as soon as the VM answers: a restart's generation must not wait half
  // an interval after the gap of the restart itself.
  uint64_t next = monotonicMicros();
  for (;;) {
    for (uint64_t now = monotonicMicros(); now < next && !vmGone; now = monotonicMicros()) {
      sleepMicros(std::min<uint64_t>(next - now, 10000u));
    }
    if (vmGone) return nullptr;
    env->CallStaticLongMethod(system, nanoTime);
    bool answered = !env->ExceptionCheck();
    if (!answered) env->ExceptionClear();
    if (vmGone) return nullptr;
    if (answered) hmdNotify("WATCHDOG=1");
    // A late call moves the schedule on rather than catching up with a burst of pings.
    next += watchdogInterval;
    uint64_t now = monotonicMicros();
    if (next < now) next = now + watchdogInterval;
  }
}

// The digits of a non-negative number at the end of the buffer; signal-safe.
char* formatNumber(int32_t number, char* end) {
  uint32_t value = number < 0 ? 0u - static_cast<uint32_t>(number) : static_cast<uint32_t>(number);
  do {
    *--end = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (number < 0) *--end = '-';
  return end;
}

// The end handler's notice: one sendto on the prepared socket, async-signal-safe.
void noticeEndBySignal(int32_t status) {
  if (notifyLength == 0 || endSocket < 0) return;
  char text[96];
  size_t length = 0;
  auto append = [&](const char* part, size_t size) {
    for (size_t i = 0; i < size && length < sizeof text; ++i) text[length++] = part[i];
  };
  constexpr char kStoppingLine[] = "STOPPING=1\n";
  constexpr char kExited[] = "STATUS=Exited with status ";
  if (!stoppingSent.exchange(true)) append(kStoppingLine, sizeof kStoppingLine - 1);
  append(kExited, sizeof kExited - 1);
  char digits[16];
  char* first = formatNumber(status, digits + sizeof digits);
  append(first, static_cast<size_t>(digits + sizeof digits - first));
  sendto(endSocket, text, length, MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&notifyAddress),
         notifyLength);
}

void startThread(void* (*body)(void*)) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int error = pthread_create(&thread, &attributes, body, nullptr);
  pthread_attr_destroy(&attributes);
  if (error != 0) ut_tproda("Unable to start a service thread; pthread_create() returned %d", error);
}

}  // namespace

void hmdServiceReset() {
  if (endSocket >= 0) close(endSocket);
  endSocket = -1;
  hmdSetSignalEndNotice(nullptr);
  notifyAddress = sockaddr_un{};
  notifyLength = 0;
  notifyText[0] = '\0';
  watchdogInterval = 0;
  generation = 1;
  announced = false;
  readiness = Readiness{};
  watchdogVm = nullptr;
  readySent = false;
  stoppingSent = false;
  vmGone = false;
  pollOver = false;
  polling = false;
  failureTraced = false;
  mayRestart = false;
  watchdogVariables.clear();
}

void hmdServiceTakeEnvironment() {
  hmdServiceReset();
  if (const char* text = std::getenv(kNotifySocket)) {
    if (!setAddress(text)) {
      ut_tproda("NOTIFY_SOCKET '%.*s' is not a socket address; nothing is sent to the service manager",
                ut_textLimit(), text);
    }
    unsetenv(kNotifySocket);
  }
  if (notifyLength != 0) {
    endSocket = highDescriptor(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (endSocket >= 0) hmdSetSignalEndNotice(noticeEndBySignal);
  }
  if (const char* text = std::getenv(kGeneration)) {
    char* end = nullptr;
    long number = std::strtol(text, &end, 10);
    if (number >= 1 && number < INT32_MAX) generation = static_cast<int32_t>(number);
    announced = end != nullptr && *end == '+';
    unsetenv(kGeneration);
  }
  const char* usec = std::getenv("WATCHDOG_USEC");
  const char* pid = std::getenv("WATCHDOG_PID");
  if (notifyLength != 0 && usec != nullptr && (pid == nullptr || std::atoll(pid) == getpid())) {
    char* end = nullptr;
    unsigned long long interval = std::strtoull(usec, &end, 10);
    if (end != usec && *end == '\0' && interval >= 2) watchdogInterval = interval / 2;
  }
  // A restarted generation keeps the watchdog's clock going long before its VM exists.
  if (watchdogInterval != 0 && generation > 1) hmdNotify("WATCHDOG=1");
  // The watchdog is the launcher's to serve: the application's children never see it.
  for (const char* name : kWatchdogVariables) {
    if (const char* value = std::getenv(name)) {
      watchdogVariables.emplace_back(name, value);
      unsetenv(name);
    }
  }
}

void hmdServiceConfigRead() {
  readiness = cfgGetReadiness();
  mayRestart = cfgGetRestartOnExitCode() != 0;
  if (!announced) {
    hmdNotify("MAINPID=" + std::to_string(getpid()) + "\nSTATUS=Starting" + generationSuffix(generation));
  }
  announced = true;
}

bool hmdServiceApplicationStarts() {
  std::optional<std::string> path = cfgGetPidFile();
  return !path || hmdWritePidFile(*path);
}

void hmdServiceMainCalled(JavaVM* vm) {
  if (notifyLength == 0) return;
  if (readiness.mode == ReadinessMode::Main) sendReady();
  if (readiness.mode == ReadinessMode::Port && !readySent && !polling.exchange(true))
    startThread(readinessPoll);
  if (watchdogInterval != 0 && vm != nullptr && watchdogVm == nullptr) {
    watchdogVm = vm;
    startThread(watchdog);
  }
}

void hmdServiceMainReturned(bool normally) {
  if (notifyLength != 0 && normally && readiness.mode == ReadinessMode::Return) sendReady();
}

void hmdServiceStopBegins() {
  endPoll();
  if (notifyLength == 0) return;
  // Where the stop may still end in a restart (the exit method answers with the restart
  // code), STOPPING=1 waits for the real end: after it the service manager would take the
  // new generation for a stopping service and kill it.
  if (mayRestart) {
    hmdNotify("STATUS=Stopping");
  } else if (!stoppingSent.exchange(true)) {
    hmdNotify("STOPPING=1\nSTATUS=Stopping");
  }
}

void hmdServiceVMDestroyed() {
  vmGone = true;
  endPoll();
}

void hmdServiceBeforeReexec(bool restart) {
  vmGone = true;
  endPoll();
  // A restart: the gap until the new generation's first ping starts now, not half an
  // interval ago. (The re-execution that completes the library path comes before any VM.)
  if (restart && watchdogInterval != 0) hmdNotify("WATCHDOG=1");
  for (const auto& [name, value] : watchdogVariables) hmdReexecVariable(name, value);
  if (notifyLength == 0) return;
  hmdReexecVariable(kNotifySocket, notifyText);
  if (restart) {
    hmdNotify("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(monotonicMicros()) + "\nSTATUS=Restarting" +
              generationSuffix(generation + 1));
    hmdReexecVariable(kGeneration, std::to_string(generation + 1));
  } else {
    hmdReexecVariable(kGeneration, std::to_string(generation) + (announced ? "+" : ""));
  }
}

void hmdServiceProcessEnds(int32_t status) {
  endPoll();
  if (notifyLength != 0) {
    hmdNotify(std::string(stoppingSent.exchange(true) ? "" : "STOPPING=1\n") + "STATUS=Exited with status " +
              std::to_string(status));
  }
  hmdRemovePidFile();
}

std::optional<std::string> hmdGetNotifySocket() {
  if (notifyLength == 0) return std::nullopt;
  return std::string(notifyText);
}

uint64_t hmdGetWatchdogInterval() { return watchdogInterval; }

bool hmdNotify(const std::string& message) {
  if (notifyLength == 0) return false;
  int fd = highDescriptor(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  bool sent = false;
  if (fd >= 0) {
    // A service manager that does not read must not hold the launcher for long.
    timeval timeout{.tv_sec = kSendTimeoutSeconds, .tv_usec = 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    sent =
        sendto(fd, message.data(), message.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&notifyAddress),
               notifyLength) == static_cast<ssize_t>(message.size());
    int error = errno;
    close(fd);
    errno = error;
  }
  std::string oneLine = message;
  for (char& c : oneLine) {
    if (c == '\n') c = ' ';
  }
  if (sent) {
    ut_tproda("Notified the service manager: %.*s", ut_textLimit(), oneLine.c_str());
  } else if (!failureTraced.exchange(true)) {
    ut_tproda("Unable to notify the service manager at '%.*s': %s", ut_textLimit(), notifyText,
              std::strerror(errno));
  }
  return sent;
}
