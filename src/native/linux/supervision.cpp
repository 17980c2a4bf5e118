// Restarts that never spin and a VM watch.
//
//   restart asked -> limit reached? -> line on stderr, the application's status ends it
//                 -> brief generation? -> line on stderr, wait (a stop signal ends it now)
//                 -> re-execution, with LAUNCHER_SUPERVISION:
//                    "<generation start> <brief in a row> <generation> <restart time>,..."
//                    (milliseconds of CLOCK_MONOTONIC, which a re-execution keeps; a start
//                    of 0 means "when the next image starts"), and the state record's path
//                    in LAUNCHER_STATE_RECORD
//
// The VM watch is two detached threads: one attached to the VM that asks it for an answer
// every quarter of the watch time and notes when it got one, and one outside the VM that
// looks at that note as often and acts once it is older than the watch time. A hung VM
// holds the first in its call; the second is never held. Both use only atomics and plain
// values that are never destroyed, and leave once the VM has ended.
#include "supervision.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "instance_state.h"
#include "launch_settings.h"
#include "monotonic_clock.h"
#include "process_end.h"
#include "trace.h"
#include "vm_answers.h"

namespace {

constexpr const char kStateVariable[] = "LAUNCHER_SUPERVISION";
constexpr const char kRecordVariable[] = "LAUNCHER_STATE_RECORD";
constexpr int kReadinessPollMillis = 100;
// "FIRST CAP BRIEF" in milliseconds, for tests that cannot wait a real back-off.
constexpr const char kBackoffVariable[] = "LAUNCHER_TEST_RESTART_BACKOFF";
constexpr uint32_t kMaxSeconds = 86400;
constexpr uint32_t kChecksPerWatch = 4;
constexpr uint64_t kWaitSliceMillis = 20;

RestartBackoff backoff;
std::string backoffText;  // as given, handed to the next image
uint64_t generationStart = 0;
uint32_t briefInARow = 0;
int32_t generation = 1;
std::string recordPath;  // taken over from the image before a restart
int32_t readinessPort = 0;
std::deque<uint64_t> restartTimes;
uint32_t limitCount = 0;  // 0: no limit
uint64_t limitWindowMillis = 0;
uint32_t watchSeconds = 0;  // 0: no VM watch
bool watchRestarts = true;
void (*restartAction)(int32_t) = nullptr;

JavaVM* watchedVm = nullptr;
std::atomic<uint64_t> lastAnswer{0};
std::atomic<bool> watching{false};

// A whole number from 1 to kMaxSeconds, nothing else.
bool parseSeconds(const std::string& text, uint32_t& value) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  unsigned long number = std::stoul(text);
  if (number < 1 || number > kMaxSeconds) return false;
  value = static_cast<uint32_t>(number);
  return true;
}

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> result;
  for (std::string word; in >> word;) result.push_back(word);
  return result;
}

void takeBackoff(const char* text) {
  unsigned long long first = 0;
  unsigned long long cap = 0;
  unsigned long long brief = 0;
  if (std::sscanf(text, "%llu %llu %llu", &first, &cap, &brief) == 3) {
    backoff = RestartBackoff{.firstMillis = first, .capMillis = cap, .briefMillis = brief};
    backoffText = text;
  }
}

void takeState(const char* text) {
  unsigned long long start = 0;
  unsigned int brief = 0;
  int number = 0;
  int used = 0;
  if (std::sscanf(text, "%llu %u %d %n", &start, &brief, &number, &used) < 3 || number < 1) return;
  generationStart = start != 0 ? start : generationStart;
  briefInARow = brief;
  generation = number;
  std::istringstream times(text + used);
  for (std::string time; std::getline(times, time, ',');) {
    if (!time.empty()) restartTimes.push_back(std::strtoull(time.c_str(), nullptr, 10));
  }
}

void* askVm(void*) {
  VmAnswers answers;
  if (hmdAttachForAnswers(watchedVm, "Launcher VM watch", answers) != VmAnswersAttach::Attached) {
    ut_tproda("The VM watch cannot call into the VM; the VM is not watched");
    watching = false;
    return nullptr;
  }
  const uint64_t interval = watchSeconds * 1000u / kChecksPerWatch;
  while (!hmdVmHasEnded()) {
    if (hmdVmAnswers(answers) && !hmdVmHasEnded()) {
      lastAnswer = hmdMonotonicMillis();
      hmdStateAnswered(lastAnswer);
    }
    hmdSleepMillis(interval);
  }
  return nullptr;
}

void* watchVm(void*) {
  const uint64_t limit = watchSeconds * 1000u;
  const uint64_t interval = limit / kChecksPerWatch;
  for (;;) {
    hmdSleepMillis(interval);
    if (hmdVmHasEnded() || !watching) return nullptr;
    const uint64_t silent = hmdMonotonicMillis() - lastAnswer.load();
    if (silent < limit) continue;
    std::fprintf(stderr, "Error: The VM has not answered for %" PRIu64 ".%01" PRIu64 " seconds; %s.\n",
                 silent / 1000u, silent % 1000u / 100u,
                 watchRestarts ? "restarting the application" : "ending with status 70");
    std::fflush(stderr);
    if (watchRestarts && restartAction != nullptr) restartAction(kExitVmHung);
    hmdEndProcess(kExitVmHung);
  }
}

// Whether a TCP connection to the loopback address and port is accepted within a poll.
bool accepts(int family, int port) {
  int fd = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
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
    accepted = poll(&waiting, 1, kReadinessPollMillis) == 1 &&
               getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
  close(fd);
  return accepted;
}

// The readiness port of the state record; the service manager's poll has its own.
void* pollReadiness(void*) {
  while (!hmdVmHasEnded()) {
    if (accepts(AF_INET, readinessPort) || accepts(AF_INET6, readinessPort)) {
      hmdStateSet("ready");
      return nullptr;
    }
    hmdSleepMillis(kReadinessPollMillis);
  }
  return nullptr;
}

bool startThread(void* (*body)(void*)) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  int error = pthread_create(&thread, &attributes, body, nullptr);
  pthread_attr_destroy(&attributes);
  if (error != 0) ut_tproda("Unable to start a VM watch thread; pthread_create() returned %d", error);
  return error == 0;
}

}  // namespace

uint64_t hmdRestartDelayMillis(const RestartBackoff& curve, uint32_t brief) {
  if (brief == 0 || curve.firstMillis == 0) return 0;
  uint64_t delay = curve.firstMillis;
  for (uint32_t i = 1; i < brief && delay < curve.capMillis; ++i) delay *= 2;
  return delay < curve.capMillis ? delay : curve.capMillis;
}

bool hmdRestartLimitReached(std::deque<uint64_t>& times, uint64_t now, uint32_t count, uint64_t window) {
  while (!times.empty() && (times.front() > now || now - times.front() >= window)) times.pop_front();
  if (times.size() >= count) return true;
  times.push_back(now);
  return false;
}

bool hmdSetRestartLimit(const std::string& argument) {
  std::vector<std::string> parts = words(argument);
  uint32_t count = 0;
  uint32_t seconds = 0;
  if (parts.size() != 2 || !parseSeconds(parts[0], count) || !parseSeconds(parts[1], seconds)) return false;
  limitCount = count;
  limitWindowMillis = seconds * uint64_t{1000};
  return true;
}

bool hmdSetVmWatch(const std::string& argument) {
  std::vector<std::string> parts = words(argument);
  uint32_t seconds = 0;
  if (parts.empty() || parts.size() > 2 || !parseSeconds(parts[0], seconds)) return false;
  if (parts.size() == 2 && parts[1] != "restart" && parts[1] != "exit") return false;
  watchSeconds = seconds;
  watchRestarts = parts.size() == 1 || parts[1] == "restart";
  return true;
}

void hmdSupervisionReset() {
  backoff = RestartBackoff{};
  backoffText.clear();
  generationStart = hmdMonotonicMillis();
  briefInARow = 0;
  generation = 1;
  recordPath.clear();
  readinessPort = 0;
  hmdStateReset();
  restartTimes.clear();
  limitCount = 0;
  limitWindowMillis = 0;
  watchSeconds = 0;
  watchRestarts = true;
  restartAction = nullptr;
  watchedVm = nullptr;
  watching = false;
}

void hmdSupervisionTakeEnvironment(void (*restartInPlace)(int32_t status)) {
  hmdSupervisionReset();
  restartAction = restartInPlace;
  if (const char* text = std::getenv(kBackoffVariable)) takeBackoff(text);
  if (const char* text = std::getenv(kStateVariable)) takeState(text);
  if (const char* text = std::getenv(kRecordVariable)) recordPath = text;
  hmdStateTakeOver(recordPath);
  unsetenv(kBackoffVariable);
  unsetenv(kStateVariable);
  unsetenv(kRecordVariable);
}

bool hmdSupervisionBeforeRestart(int32_t status) {
  const uint64_t now = hmdMonotonicMillis();
  if (limitCount != 0 && hmdRestartLimitReached(restartTimes, now, limitCount, limitWindowMillis)) {
    std::fprintf(stderr,
                 "Error: The application asked for more than %u restarts within %" PRIu64
                 " seconds; ending with its status %d.\n",
                 limitCount, limitWindowMillis / 1000u, static_cast<int>(status));
    return false;
  }
  const uint64_t lived = now - generationStart;
  briefInARow = lived < backoff.briefMillis ? briefInARow + 1 : 0;
  const uint64_t delay = hmdRestartDelayMillis(backoff, briefInARow);
  if (delay == 0) return true;
  // From here a stop signal is noted rather than ending the process in its handler, so
  // that the end goes through the owner and the service manager hears of it.
  hmdClaimEnd();
  std::fprintf(stderr,
               "The application ended after %" PRIu64 ".%01" PRIu64 " seconds; restarting it in %" PRIu64
               ".%01" PRIu64 " seconds.\n",
               lived / 1000u, lived % 1000u / 100u, delay / 1000u, delay % 1000u / 100u);
  std::fflush(stderr);
  for (uint64_t end = now + delay, at = now; at < end && !hmdStopNoted(); at = hmdMonotonicMillis()) {
    hmdSleepMillis(std::min(end - at, kWaitSliceMillis));
  }
  return true;
}

void hmdSupervisionBeforeReexec(bool restart) {
  if (!backoffText.empty()) hmdReexecVariable(kBackoffVariable, backoffText);
  const int32_t next = restart ? generation + 1 : generation;
  std::string state = std::to_string(restart ? 0 : generationStart) + " " + std::to_string(briefInARow) +
                      " " + std::to_string(next) + " ";
  for (size_t i = 0; i < restartTimes.size(); ++i)
    state += (i == 0 ? "" : ",") + std::to_string(restartTimes[i]);
  hmdReexecVariable(kStateVariable, state);
  const std::string record = restart ? hmdStateKeepForRestart(next) : hmdStateKeepForRestart(generation);
  if (!record.empty()) hmdReexecVariable(kRecordVariable, record);
}

void hmdSupervisionMainCalled(JavaVM* vm) {
  // Only the process that wrote the pid file keeps the record: a +version run leaves the
  // running instance's alone.
  std::optional<std::string> pidFile = cfgGetPidFile();
  long holder = 0;
  if (pidFile && std::ifstream(*pidFile) >> holder && holder == getpid()) {
    const Readiness readiness = cfgGetReadiness();
    hmdStateBegin(hmdStatePath(*pidFile),
                  InstanceState{.state = readiness.mode == ReadinessMode::Main ? "ready" : "starting",
                                .generation = generation,
                                .answeredMillis = 0,
                                .watchMillis = watchSeconds * uint64_t{1000}});
    if (readiness.mode == ReadinessMode::Port) {
      readinessPort = readiness.port;
      startThread(pollReadiness);
    }
  }
  if (watchSeconds == 0 || vm == nullptr || watching.exchange(true)) return;
  watchedVm = vm;
  lastAnswer = hmdMonotonicMillis();
  ut_tproda("The VM watch checks every %u milliseconds that the VM answers",
            static_cast<unsigned>(watchSeconds * 1000u / kChecksPerWatch));
  if (!startThread(askVm) || !startThread(watchVm)) watching = false;
}

void hmdSupervisionMainReturned(bool normally) {
  if (normally && cfgGetReadiness().mode == ReadinessMode::Return) hmdStateSet("ready");
}

void hmdSupervisionStopBegins() { hmdStateSet("stopping"); }

uint32_t hmdGetVmWatchSeconds() { return watchSeconds; }
bool hmdVmWatchRestarts() { return watchRestarts; }
