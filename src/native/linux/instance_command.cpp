// +status and +stop against the process the pid file names. The process counts as this
// instance only while it runs the launcher file this command runs; a process that has
// ended but not yet been reaped by its parent counts as gone.
#include "instance_command.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>

#include "config_reader.h"
#include "instance_state.h"
#include "launch_settings.h"
#include "monotonic_clock.h"
#include "option_directives.h"
#include "pid_file.h"

namespace {

constexpr int32_t kStatusRunning = 0;
constexpr int32_t kStatusDeadWithPidFile = 1;
constexpr int32_t kStatusNotRunning = 3;
constexpr int32_t kStatusUnknown = 4;
constexpr uint32_t kDefaultStopSeconds = 30;
constexpr long kStopPollMillis = 50;

enum class Command { None, Status, Ready, Live, Stop, Invalid };
constexpr int32_t kBadCommand = 2;
Command command = Command::None;
std::string invalidText;
uint32_t stopSeconds = kDefaultStopSeconds;
bool stopForce = false;

// Alive, and not a zombie waiting for its parent.
bool isRunning(pid_t pid) {
  if (::kill(pid, 0) != 0 && errno != EPERM) return false;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = text.rfind(')');
  return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

struct Holder {
  enum { None, Unreadable, Gone, Running } kind = None;
  pid_t pid = 0;
  std::string reason;
};

Holder readHolder(const std::string& pidFile) {
  std::ifstream in(pidFile);
  if (!in) {
    if (errno == ENOENT) return Holder{};
    return Holder{.kind = Holder::Unreadable, .pid = 0, .reason = std::strerror(errno)};
  }
  long value = 0;
  if (!(in >> value) || value <= 0 || value > INT32_MAX) {
    return Holder{.kind = Holder::Unreadable, .pid = 0, .reason = "it holds no process id"};
  }
  const pid_t pid = static_cast<pid_t>(value);
  const bool running = isRunning(pid) && hmdIsSameLauncher(pid);
  return Holder{.kind = running ? Holder::Running : Holder::Gone, .pid = pid, .reason = std::string()};
}

int32_t status(const std::string& pidFile) {
  const Holder holder = readHolder(pidFile);
  switch (holder.kind) {
    case Holder::None:
      std::printf("not running\n");
      return kStatusNotRunning;
    case Holder::Unreadable:
      std::printf("unknown: the pid file '%s' cannot be read: %s\n", pidFile.c_str(), holder.reason.c_str());
      return kStatusUnknown;
    case Holder::Gone:
      std::printf("not running, but the pid file '%s' names process %d\n", pidFile.c_str(),
                  static_cast<int>(holder.pid));
      return kStatusDeadWithPidFile;
    case Holder::Running:
      break;
  }
  const InstanceState state = hmdReadState(hmdStatePath(pidFile)).value_or(InstanceState{});
  std::string line = "running, " + state.state + ", process " + std::to_string(holder.pid) + ", generation " +
                     std::to_string(state.generation);
  bool answering = true;
  if (state.watchMillis != 0) {
    const uint64_t now = hmdMonotonicMillis();
    if (state.answeredMillis == 0 || state.answeredMillis > now) {
      line += ", the VM has not answered yet";
      answering = state.state == "starting";
    } else {
      const uint64_t silent = now - state.answeredMillis;
      char text[96];
      std::snprintf(text, sizeof text, ", the VM answered %" PRIu64 ".%01" PRIu64 " seconds ago",
                    silent / 1000u, silent % 1000u / 100u);
      line += text;
      answering = silent < state.watchMillis;
    }
  }
  std::printf("%s\n", line.c_str());
  if (command == Command::Ready && state.state != "ready") return kStatusNotReady;
  if (command == Command::Live && !answering) return kStatusNotAnswering;
  return kStatusRunning;
}

// Until the process is gone or the time is over.
bool waitForEnd(pid_t pid, uint64_t millis) {
  const uint64_t end = hmdMonotonicMillis() + millis;
  while (isRunning(pid)) {
    if (hmdMonotonicMillis() >= end) return false;
    timespec pause{.tv_sec = 0, .tv_nsec = kStopPollMillis * 1000000};
    nanosleep(&pause, nullptr);
  }
  return true;
}

int32_t stop(const std::string& pidFile) {
  const Holder holder = readHolder(pidFile);
  if (holder.kind != Holder::Running) {
    std::printf("not running\n");
    return 0;
  }
  if (::kill(holder.pid, SIGTERM) != 0 && errno != ESRCH) {
    std::fprintf(stderr, "Error: Unable to stop process %d: %s.\n", static_cast<int>(holder.pid),
                 std::strerror(errno));
    return 1;
  }
  const uint64_t millis = stopSeconds * uint64_t{1000};
  bool gone = waitForEnd(holder.pid, millis);
  if (!gone && stopForce) {
    std::fprintf(stderr, "Process %d is still running after %u seconds; interrupting it again.\n",
                 static_cast<int>(holder.pid), stopSeconds);
    ::kill(holder.pid, SIGTERM);
    gone = waitForEnd(holder.pid, millis);
  }
  if (!gone) {
    std::fprintf(stderr, "Error: Process %d is still running after %u seconds.\n",
                 static_cast<int>(holder.pid), stopSeconds * (stopForce ? 2 : 1));
    return 1;
  }
  std::printf("stopped\n");
  return 0;
}

}  // namespace

namespace {

bool parseCommand(const std::string_view text) {
  if (text.starts_with("+status")) {
    const std::string_view form = text.substr(7);
    if (form.empty()) {
      command = Command::Status;
    } else if (form == ":ready") {
      command = Command::Ready;
    } else if (form == ":live") {
      command = Command::Live;
    } else {
      return false;
    }
    return true;
  }
  if (!text.starts_with("+stop")) return false;
  std::string_view rest = text.substr(5);
  uint32_t seconds = kDefaultStopSeconds;
  bool force = false;
  if (!rest.empty()) {
    if (rest[0] != ':') return false;
    rest.remove_prefix(1);
    const size_t comma = rest.find(',');
    std::string_view number = rest.substr(0, comma);
    if (comma != std::string_view::npos) {
      if (rest.substr(comma + 1) != "force") return false;
      force = true;
    }
    if (number == "force" && comma == std::string_view::npos) {
      force = true;
    } else {
      if (number.empty() || number.size() > 5 ||
          number.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
      seconds = static_cast<uint32_t>(std::stoul(std::string(number)));
      if (seconds < 1 || seconds > 86400) return false;
    }
  }
  command = Command::Stop;
  stopSeconds = seconds;
  stopForce = force;
  return true;
}

}  // namespace

bool hmdSetInstanceCommand(bool, const std::string& argument, const OptionValue&) {
  const std::string_view text =
      std::string_view(argument).substr(std::min(cfgGetCmdPrefix().size(), argument.size()));
  if (!parseCommand(text)) {
    command = Command::Invalid;
    invalidText = argument;
  }
  return true;
}

std::optional<int32_t> hmdRunInstanceCommand(const std::optional<std::string>& pidFile) {
  const Command given = command;
  if (given == Command::None) return std::nullopt;
  int32_t result = 0;
  if (given == Command::Invalid) {
    std::fprintf(stderr, "Error: '%s' is neither +status[:ready|:live] nor +stop[:SECONDS][,force].\n",
                 invalidText.c_str());
    result = kBadCommand;
  } else if (!pidFile) {
    std::fprintf(stderr, "Error: No pid file is configured (pidfile); +%s cannot find the instance.\n",
                 given == Command::Stop ? "stop" : "status");
    result = given == Command::Stop ? 1 : kStatusUnknown;
  } else {
    result = given == Command::Stop ? stop(*pidFile) : status(*pidFile);
  }
  std::fflush(stdout);
  command = Command::None;
  stopSeconds = kDefaultStopSeconds;
  stopForce = false;
  return result;
}
