// Notifying a service manager. The protocol is one datagram of "NAME=value" lines on the
// Unix datagram socket NOTIFY_SOCKET names (a path, or an abstract name written "@name").
//
// What is sent when (G: the restart generation, shown from 2 on):
//   configuration read          MAINPID=<pid>  STATUS=Starting[ (generation G)]
//   (the VM about to be created: the pid file is written)
//   ready, by the readiness rule READY=1  STATUS=Running[ (generation G)]
//       main    the main method is called
//       return  the main method returns normally
//       port N  this process listens on TCP port N: a listening socket among its own
//               descriptors (polled every 50 ms)
//       http N [PATH]  a GET for PATH to 127.0.0.1:N (or [::1]:N) is answered with an
//               HTTP status line, whatever the status (polled as port is, each try
//               bounded by a connect and an answer timeout)
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
#include <dirent.h>
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "launch_settings.h"
#include "monotonic_clock.h"
#include "pid_file.h"
#include "process_end.h"
#include "supervision.h"
#include "trace.h"
#include "vm_answers.h"

namespace {

constexpr const char kNotifySocket[] = "NOTIFY_SOCKET";
constexpr const char kGeneration[] = "LAUNCHER_SERVICE_GENERATION";
constexpr const char* kWatchdogVariables[] = {"WATCHDOG_USEC", "WATCHDOG_PID"};
constexpr int kPollMillis = 50;
constexpr int kHttpConnectMillis = 1000;
constexpr int kHttpAnswerMillis = 2000;
constexpr int kSendTimeoutSeconds = 1;

sockaddr_un notifyAddress{};
socklen_t notifyLength = 0;  // 0: nothing is sent
char notifyText[sizeof notifyAddress.sun_path + 1] = {};
uint64_t watchdogInterval = 0;  // microseconds between pings, 0: no watchdog
int32_t generation = 1;
bool announced = false;  // MAINPID sent by this process before a library-path re-exec
// The readiness rule as plain values: the poll thread may outlive every destructor.
ReadinessMode readinessMode = ReadinessMode::Main;
int32_t readinessPort = 0;
char readinessPath[kReadinessPathMax + 1] = {};
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

// The loopback address of the family with the port.
socklen_t loopback(int family, int port, sockaddr_storage& address) {
  address = sockaddr_storage{};
  if (family == AF_INET) {
    auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
    in4->sin_family = AF_INET;
    in4->sin_port = htons(static_cast<uint16_t>(port));
    in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sizeof *in4;
  }
  auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
  in6->sin6_family = AF_INET6;
  in6->sin6_port = htons(static_cast<uint16_t>(port));
  in6->sin6_addr = in6addr_loopback;
  return sizeof *in6;
}

// Waits up to the deadline for the events on the descriptor, in slices, so that the end
// of the application ends the wait too. False on a timeout or that end.
bool waitFor(int fd, short events, uint64_t deadline) {
  for (;;) {
    if (pollOver) return false;
    uint64_t now = hmdMonotonicMicros();
    if (now >= deadline) return false;
    pollfd waiting{.fd = fd, .events = events, .revents = 0};
    int slice = static_cast<int>(std::min<uint64_t>((deadline - now + 999) / 1000, kPollMillis));
    int ready = poll(&waiting, 1, slice);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

// The inodes of the sockets listening on the TCP port, from one of the kernel's tables
// (/proc/net/tcp or tcp6): "sl local_address rem_address st ... inode", the address
// "HEX:PORT" in hexadecimal, the state 0A for listening.
void listeningInodes(const char* table, int port, std::vector<unsigned long>& inodes) {
  FILE* file = std::fopen(table, "re");
  if (file == nullptr) return;
  char line[512];
  if (std::fgets(line, sizeof line, file) == nullptr) {  // the heading
    std::fclose(file);
    return;
  }
  while (std::fgets(line, sizeof line, file) != nullptr) {
    char local[64];
    unsigned state = 0;
    unsigned long inode = 0;
    if (std::sscanf(line, " %*s %63s %*s %x %*s %*s %*s %*s %*s %lu", local, &state, &inode) != 3) continue;
    const char* colon = std::strrchr(local, ':');
    if (colon == nullptr || state != 0x0A || inode == 0) continue;
    if (std::strtoul(colon + 1, nullptr, 16) == static_cast<unsigned long>(port)) inodes.push_back(inode);
  }
  std::fclose(file);
}

enum class Listener { None, Other, Ours };

// Whether a socket of this process listens on the TCP port: a listening socket's inode
// among the process's own descriptors ("socket:[inode]"). A listener of another process
// on the same port does not count.
Listener listenerOnPort(int port) {
  std::vector<unsigned long> inodes;
  listeningInodes("/proc/self/net/tcp", port, inodes);
  listeningInodes("/proc/self/net/tcp6", port, inodes);
  if (inodes.empty()) return Listener::None;
  DIR* descriptors = opendir("/proc/self/fd");
  if (descriptors == nullptr) return Listener::Other;
  Listener found = Listener::Other;
  while (dirent* entry = readdir(descriptors)) {
    if (entry->d_name[0] == '.') continue;
    char link[64];
    ssize_t length = readlinkat(dirfd(descriptors), entry->d_name, link, sizeof link - 1);
    if (length <= 0) continue;
    link[length] = '\0';
    unsigned long inode = 0;
    if (std::sscanf(link, "socket:[%lu]", &inode) == 1 &&
        std::find(inodes.begin(), inodes.end(), inode) != inodes.end()) {
      found = Listener::Ours;
      break;
    }
  }
  closedir(descriptors);
  return found;
}

// One HTTP try: connect to the loopback address (127.0.0.1, then ::1 if that is refused),
// send a GET for the path and read up to the end of the first line. Empty when the answer
// begins with a status line ("HTTP/x.y nnn"), else why the try failed.
std::string httpTry(int port, const char* path) {
  std::string failure = "no connection";
  for (int family : {AF_INET, AF_INET6}) {
    int fd = highDescriptor(socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd < 0) continue;
    sockaddr_storage address{};
    socklen_t length = loopback(family, port, address);
    bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    int error = errno;
    if (!connected && error == EINPROGRESS) {
      socklen_t size = sizeof error;
      error = ETIMEDOUT;
      connected = waitFor(fd, POLLOUT, hmdMonotonicMicros() + kHttpConnectMillis * 1000u) &&
                  getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    if (!connected) {
      failure = std::string("no connection (") + std::strerror(error) + ")";
      close(fd);
      continue;
    }
    const char* host = family == AF_INET ? "127.0.0.1" : "[::1]";
    std::string request = std::string("GET ") + path + " HTTP/1.0\r\nHost: " + host + ":" +
                          std::to_string(port) + "\r\nConnection: close\r\n\r\n";
    uint64_t deadline = hmdMonotonicMicros() + kHttpAnswerMillis * 1000u;
    size_t sent = 0;
    while (sent < request.size() && waitFor(fd, POLLOUT, deadline)) {
      ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN && errno != EINTR) break;
      if (n > 0) sent += static_cast<size_t>(n);
    }
    std::string answer;
    bool closed = false;
    while (sent == request.size() && answer.find('\n') == std::string::npos && answer.size() < 512 &&
           !closed && waitFor(fd, POLLIN, deadline)) {
      char buffer[512];
      ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n > 0) answer.append(buffer, static_cast<size_t>(n));
      closed = n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR);
    }
    close(fd);
    size_t end = answer.find('\n');
    if (end != std::string::npos) {
      unsigned major = 0;
      unsigned minor = 0;
      unsigned status = 0;
      char space = '\0';
      if (std::sscanf(answer.c_str(), "HTTP/%1u.%1u %3u%c", &major, &minor, &status, &space) == 4 &&
          status >= 100 && status <= 999 && (space == ' ' || space == '\r' || space == '\n')) {
        return std::string();
      }
      return "an answer without an HTTP status line";
    }
    if (sent < request.size()) return "the request could not be sent";
    if (closed) return "the connection closed before a status line";
    return "no status line within " + std::to_string(kHttpAnswerMillis) + " ms";
  }
  return failure;
}

void* readinessPoll(void*) {
  bool otherTraced = false;
  std::string lastFailure;
  while (!pollOver && !readySent) {
    if (readinessMode == ReadinessMode::Port) {
      Listener listener = listenerOnPort(readinessPort);
      if (listener == Listener::Ours) {
        ut_tproda("Readiness port %d is listened on by this process", static_cast<int>(readinessPort));
        sendReady();
        return nullptr;
      }
      if (listener == Listener::Other && !otherTraced) {
        otherTraced = true;
        ut_tproda("Readiness port %d is listened on by another process; waiting for this one to listen on it",
                  static_cast<int>(readinessPort));
      }
    } else {
      std::string failure = httpTry(readinessPort, readinessPath);
      if (failure.empty()) {
        ut_tproda("Readiness http %d %.*s answered with a status line", static_cast<int>(readinessPort),
                  ut_textLimit(), readinessPath);
        sendReady();
        return nullptr;
      }
      // A line for each change of the outcome, not for every try of a port still closed.
      if (failure != lastFailure && !pollOver) {
        ut_tproda("Readiness http %d %.*s: %s; trying again", static_cast<int>(readinessPort), ut_textLimit(),
                  readinessPath, failure.c_str());
      }
      lastFailure = failure;
    }
    hmdSleepMicros(kPollMillis * 1000u);
  }
  return nullptr;
}

// The application has ended (or is ending): the poll gives up, and says so once.
void endPoll() {
  pollOver = true;
  if (polling.exchange(false) && !readySent) {
    if (readinessMode == ReadinessMode::Port) {
      ut_tproda("Readiness port %d was not opened while the application ran; READY=1 not sent",
                static_cast<int>(readinessPort));
    } else {
      ut_tproda("Readiness http %d %.*s was not answered while the application ran; READY=1 not sent",
                static_cast<int>(readinessPort), ut_textLimit(), readinessPath);
    }
  }
}

// The VM answers when a static Java method called from this attached thread returns: a
// VM stuck at a safepoint, in endless garbage collection or otherwise not running Java
// code holds the call, and the pings stop. The thread is a daemon, so the VM's destruction
// does not wait for it; once the VM is gone it leaves without touching the VM again.
void* watchdog(void*) {
  VmAnswers answers;
  VmAnswersAttach attached = hmdAttachForAnswers(watchdogVm, "Launcher watchdog", answers);
  if (attached == VmAnswersAttach::NotAttached) {
    ut_tproda("Watchdog could not attach to the VM; no pings are sent");
    return nullptr;
  }
  if (attached == VmAnswersAttach::NoMethod) {
    ut_tproda("Watchdog found no java.lang.System.nanoTime(); no pings are sent");
    if (!vmGone) watchdogVm->DetachCurrentThread();
    return nullptr;
  }
  ut_tproda("Watchdog pings every %llu microseconds while the VM answers",
            static_cast<unsigned long long>(watchdogInterval));
  // The first ping as soon as the VM answers: a restart's generation must not wait half
  // an interval after the gap of the restart itself.
  uint64_t next = hmdMonotonicMicros();
  for (;;) {
    for (uint64_t now = hmdMonotonicMicros(); now < next && !vmGone; now = hmdMonotonicMicros()) {
      hmdSleepMicros(std::min<uint64_t>(next - now, 10000u));
    }
    if (vmGone) return nullptr;
    bool answered = hmdVmAnswers(answers);
    if (vmGone) return nullptr;
    if (answered) hmdNotify("WATCHDOG=1");
    // A late call moves the schedule on rather than catching up with a burst of pings.
    next += watchdogInterval;
    uint64_t now = hmdMonotonicMicros();
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
  readinessMode = ReadinessMode::Main;
  readinessPort = 0;
  readinessPath[0] = '\0';
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
  Readiness rule = cfgGetReadiness();
  readinessMode = rule.mode;
  readinessPort = rule.port;
  size_t length = std::min(rule.path.size(), kReadinessPathMax);
  std::memcpy(readinessPath, rule.path.data(), length);
  readinessPath[length] = '\0';
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

bool hmdReadinessMet(const Readiness& readiness) {
  if (readiness.mode == ReadinessMode::Port) return listenerOnPort(readiness.port) == Listener::Ours;
  if (readiness.mode == ReadinessMode::Http) return httpTry(readiness.port, readiness.path.c_str()).empty();
  return false;
}

void hmdServiceMainCalled(JavaVM* vm) {
  if (notifyLength == 0) return;
  if (readinessMode == ReadinessMode::Main) sendReady();
  const bool polled = readinessMode == ReadinessMode::Port || readinessMode == ReadinessMode::Http;
  if (polled && !readySent && !polling.exchange(true)) startThread(readinessPoll);
  if (watchdogInterval != 0 && vm != nullptr && watchdogVm == nullptr) {
    watchdogVm = vm;
    startThread(watchdog);
  }
}

void hmdServiceMainReturned(bool normally) {
  if (notifyLength != 0 && normally && readinessMode == ReadinessMode::Return) sendReady();
}

void hmdServiceStopBegins() {
  hmdSupervisionStopBegins();
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
    hmdNotify("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(hmdMonotonicMicros()) + "\nSTATUS=Restarting" +
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
