// What the start benchmarks share: starting a program with its output discarded, asking a
// loopback HTTP port, medians, timing a start from exec to its first answer, the counters
// they report and the cache file a run left.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace benchsupport {

inline void setCounter(benchmark::State& state, const char* name, double value) {
  state.counters[name] = benchmark::Counter(value);
}

// The finished cache (.jsa or .aot) in the directory; empty when there is none.
inline std::string cacheFile(const std::string& dir) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    std::string name = entry.path().string();
    if (name.ends_with(".jsa") || name.ends_with(".aot")) return name;
  }
  return std::string();
}

// BENCH_RUNS, or the default.
inline int runs(int fallback) {
  const char* value = std::getenv("BENCH_RUNS");
  int n = value != nullptr ? std::atoi(value) : 0;
  return n > 0 ? n : fallback;
}

inline double nowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Starts the program with a small clean environment plus envVars, its output discarded.
inline pid_t spawn(const std::string& program, std::vector<std::string> args,
                   const std::vector<std::string>& envVars) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  args.insert(args.begin(), program);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> vars = envVars;
  vars.insert(vars.begin(), {"PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C"});
  std::vector<char*> envp;
  for (std::string& var : vars) envp.push_back(var.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

// Sends a GET to the loopback port; the answer's first bytes ("HTTP/1.1 200 ..."), empty
// when none came.
inline std::string request(int port, const std::string& path) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::string();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Another program on the port must not hold the benchmark up.
  timeval limit{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string text = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size())) {
      char buffer[256];
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) answer.assign(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  return answer;
}

inline bool answered(const std::string& answer) { return answer.starts_with("HTTP/"); }
inline bool answeredOk(const std::string& answer) {
  return answer.starts_with("HTTP/1.1 200") || answer.starts_with("HTTP/1.0 200");
}

struct Start {
  bool ok = false;
  double answerMs = 0;  // exec to the first answer that counts
  double totalMs = 0;   // exec to the end, after the stop
  long rssKiB = 0;      // peak resident size at the first answer
};

// The process's peak resident size so far (VmHWM), in KiB; 0 when it cannot be read.
inline long peakResidentKiB(pid_t pid) {
  std::FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
  if (file == nullptr) return 0;
  char line[256];
  long kib = 0;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  }
  std::fclose(file);
  return kib;
}

// Starts the program, polls path on the port until ready(answer), then stops it with
// stop() (a request, a signal) and reaps it. ok when it answered in time and ended with
// one of the statuses accepted.
inline Start measure(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& env, int port, const std::string& path,
                     const std::function<bool(const std::string&)>& ready,
                     const std::function<void(pid_t)>& stop, const std::function<bool(int)>& accepted,
                     double limitMs = 60000) {
  Start result;
  double t0 = nowMs();
  pid_t pid = spawn(program, args, env);
  if (pid < 0) return result;
  bool up = false;
  while (!up && nowMs() - t0 < limitMs) {
    up = ready(request(port, path));
    if (!up) std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  result.answerMs = nowMs() - t0;
  if (up) result.rssKiB = peakResidentKiB(pid);
  if (up) stop(pid);
  if (!up) ::kill(pid, SIGKILL);
  int status = 0;
  pid_t reaped = 0;
  for (double until = nowMs() + limitMs; (reaped = waitpid(pid, &status, WNOHANG)) == 0;) {
    if (nowMs() > until) ::kill(pid, SIGKILL), until = nowMs() + limitMs;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (reaped != pid) return result;
  result.totalMs = nowMs() - t0;
  result.ok = up && WIFEXITED(status) && accepted(WEXITSTATUS(status));
  if (!result.ok) {
    std::fprintf(stderr, "%s on port %d: %s, status %d\n", program.c_str(), port,
                 up ? "answered" : "no answer", status);
  }
  return result;
}

// Three kinds of start measured round after round, each round in a rotated order so that
// none always runs first on a warm or cold machine: the first kind is the launcher, the
// others what it is compared with.
struct Rotation {
  std::array<std::vector<double>, 3> answerMs;
  std::array<std::vector<double>, 3> rssKiB;
  std::array<std::vector<double>, 3> ratio;  // [1], [2]: the launcher's time over theirs

  // Round i of the three starts; false when one failed.
  bool round(int i, const std::array<std::function<Start()>, 3>& starts) {
    std::array<Start, 3> result;
    for (int k = 0; k < 3; ++k) {
      const int which = (i + k) % 3;
      result[which] = starts[which]();
    }
    for (const Start& start : result) {
      if (!start.ok) return false;
    }
    for (int which = 0; which < 3; ++which) {
      answerMs[which].push_back(result[which].answerMs);
      rssKiB[which].push_back(static_cast<double>(result[which].rssKiB));
      ratio[which].push_back(result[0].answerMs / result[which].answerMs);
    }
    return true;
  }
};

}  // namespace benchsupport
