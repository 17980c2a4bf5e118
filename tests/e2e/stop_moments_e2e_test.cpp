// End-to-end tests of a stop at every moment of a service's life, as a deploy script or a
// service manager sends it: the status, that no pid file and no exported-environment file
// is left, and that the service manager's last notice is the end's. The launcher is held
// at the moments that pass too fast to hit (the configuration's reading, an exec, the
// handlers' installation) by a preloaded library (tests/shim). Also: an early stop storm on
// the release whose VM has handlers of its own, a restart loop with one random stop,
// simultaneous starts sharing a pid file, and the watchdog's gap across restarts.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Child;
using e2e::Env;
using Clock = std::chrono::steady_clock;

namespace {

// The service manager's end: a bound datagram socket and a thread keeping what arrives.
class Manager {
 public:
  explicit Manager(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("bind");
    timeval timeout{.tv_sec = 0, .tv_usec = 20000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    reader_ = std::thread([this] {
      char buffer[4096];
      while (!done_) {
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back({std::string(buffer, static_cast<size_t>(n)), Clock::now()});
      }
    });
  }
  ~Manager() {
    done_ = true;
    reader_.join();
    close(fd_);
  }
  const std::string& path() const { return path_; }
  std::vector<std::pair<std::string, Clock::time_point>> all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  // Everything but the watchdog's pings.
  std::vector<std::string> notices() const {
    std::vector<std::string> texts;
    for (const auto& [text, at] : all()) {
      if (text != "WATCHDOG=1") texts.push_back(text);
    }
    return texts;
  }
  // Waits a little for the last notice to be the end's; returns the last notice.
  std::string lastNotice() const {
    for (auto deadline = Clock::now() + std::chrono::seconds(3); Clock::now() < deadline;) {
      std::vector<std::string> texts = notices();
      if (!texts.empty() && texts.back().find("STATUS=Exited with status ") != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::vector<std::string> texts = notices();
    return texts.empty() ? std::string("(none)") : texts.back();
  }

 private:
  std::string path_;
  int fd_ = -1;
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, Clock::time_point>> messages_;
  std::atomic<bool> done_{false};
  std::thread reader_;
};

// Parallel runs make their trees and start their processes one at a time: a process
// forked while another thread writes its tree's copy of the launcher would hold that
// file open for writing, and its exec would fail (ETXTBSY).
std::mutex starting;

// A service tree: StopMomentApp with a pid file, an exported environment and a restart
// code, on the installation, with or without handleexit.
struct Service {
  AppTree tree;
  Service(const std::string& jdk, bool handleExit, const std::string& more = "") {
    tree.copyClasses();
    tree.makeDir("run");
    tree.writeConfig("javahome " + jdk + "\nmainclass StopMomentApp\naddpath ../classes\nexportenv\n" +
                     "pidfile ../run/app.pid\nrestartonexit 3\n" +
                     (handleExit ? "options handleexit\n" : "") + more);
  }
  std::string pidFile() const { return tree.path("run/app.pid"); }
};

Env baseEnv(const std::string& notifySocket) {
  Env env;
  env.set("UTRACE", "-p");
  if (!notifySocket.empty()) env.set("NOTIFY_SOCKET", notifySocket);
  // The preloaded library does not come first when the launcher is sanitized.
  const char* asan = std::getenv("ASAN_OPTIONS");
  env.set("ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0");
  return env;
}

// No pid file, no exported-environment file, no launcher variable seen by the application.
void expectNothingLeft(const Service& service, const e2e::RunResult& r) {
  EXPECT_FALSE(e2e::fileExists(service.pidFile()));
  for (const std::string& file : e2e::exportFiles(r.out)) EXPECT_FALSE(e2e::fileExists(file)) << file;
  for (const std::string& line : e2e::lines(r.out)) EXPECT_NE(line.rfind("variable ", 0), 0u) << line;
}

bool signalPending(pid_t pid, int sig) {
  const std::string base = "/proc/" + std::to_string(pid);
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(base + "/task", error)) {
    const std::string status = e2e::readFile(task.path().string() + "/status");
    for (const char* field : {"SigPnd:", "ShdPnd:"}) {
      const size_t at = status.find(field);
      if (at == std::string::npos) continue;
      const unsigned long long bits =
          std::stoull(status.substr(at + std::strlen(field) + 1, 16), nullptr, 16);
      if ((bits & (1ULL << (sig - 1))) != 0) return true;
    }
  }
  return false;
}

void touch(const std::string& path) { std::ofstream(path) << ""; }

bool gone(pid_t pid) {
  const std::string status = e2e::readFile("/proc/" + std::to_string(pid) + "/status");
  return status.empty() || status.find("State:\tZ") != std::string::npos;
}

std::string agentJar(const AppTree& tree) {
  const std::string jar = tree.path("agent.jar");
  const std::string manifest = tree.writeFile("agent.mf", "Premain-Class: SignalAppAgent\n");
  e2e::RunResult packed =
      e2e::runProgram(e2e::testJdkHome() + "/bin/jar",
                      {"jar", "cfm", jar, manifest, "-C", tree.path("classes"), "SignalAppAgent.class"},
                      Env(), e2e::RunOptions());
  EXPECT_EQ(packed.status, 0) << packed.err;
  return jar;
}

// The moments of the life, and the statuses a SIGTERM there may end with, with and
// without handleexit (with it an exit method that the application answers by returning).
struct Moment {
  const char* name;
  std::vector<std::string> args;
  const char* holdLine;  // the shim holds after this line; with handleexit, holdLineExit
  const char* holdLineExit;
  int holdExec;          // the shim holds before this exec
  bool agent;            // the agent holds the VM's creation until a line on input
  const char* waitLine;  // the line that says the moment has come (when nothing holds)
  std::set<int> withExit;
  std::set<int> withoutExit;
  bool hooks = false;  // the application ran: its shutdown hook runs at the end
};

const Moment kMoments[] = {
    {"before the configuration is read",
     {"serve"},
     "Look for Configuration file",
     nullptr,
     0,
     false,
     nullptr,
     {143},
     {143}},
    {"during the library-path re-exec", {"serve"}, nullptr, nullptr, 1, false, nullptr, {143}, {143}},
    {"during the VM's creation", {"serve"}, nullptr, nullptr, 0, true, "agent ready", {143}, {143}},
    {"between the handlers' installation and main",
     {"serve"},
     "JVM created",
     "Installed Signal Handler",
     0,
     false,
     nullptr,
     {143},
     {143}},
    {"during main", {"serve"}, nullptr, nullptr, 0, false, "serving", {0}, {143}, true},
    {"after main returned",
     {"return"},
     nullptr,
     nullptr,
     0,
     false,
     "Returned from main class with status 0",
     {0},
     {0, 143},  // the VM's stop; the application's getExitStatus gives the status
     true},
    {"during DestroyJavaVM with a slow hook",
     {"slowhook"},
     nullptr,
     nullptr,
     0,
     false,
     "hook runs",
     {0, 143},
     {0, 143}},
    {"during a restart's exec",
     {"restart", "@counter", "2", "0"},
     nullptr,
     nullptr,
     2,
     false,
     nullptr,
     {143},
     {143}},
};

}  // namespace

TEST(StopMoments, ASigtermAtEachMomentEndsWithEveryEndDutyDone) {
  for (const std::string& jdk : e2e::testInstallations()) {
    for (bool handleExit : {true, false}) {
      for (const Moment& m : kMoments) {
        SCOPED_TRACE(jdk + (handleExit ? ", handleexit, " : ", ") + m.name);
        Service service(jdk, handleExit);
        if (m.agent) {
          service.tree.writeConfig(e2e::readFile(service.tree.path("bin/app.config")) +
                                   "vmparam -javaagent:" + agentJar(service.tree) + "\n");
        }
        Manager manager(service.tree.path("notify.sock"));
        Env env = baseEnv(manager.path());
        const std::string release = service.tree.path("release");
        env.set("HOLD_SHIM_RELEASE", release);
        const char* line = handleExit && m.holdLineExit != nullptr ? m.holdLineExit : m.holdLine;
        if (line != nullptr || m.holdExec != 0) env.set("LD_PRELOAD", e2e::holdShimLibrary());
        if (line != nullptr) env.set("HOLD_SHIM_LINE", line);
        if (m.holdExec != 0) {
          env.set("HOLD_SHIM_EXEC", std::to_string(m.holdExec));
          env.set("HOLD_SHIM_COUNT", service.tree.path("execs"));
        }
        std::vector<std::string> args = m.args;
        for (std::string& arg : args) {
          if (arg == "@counter") arg = service.tree.path("counter");
        }
        Child child = service.tree.start(args, env);
        const std::string awaited = line != nullptr   ? std::string(line)
                                    : m.holdExec != 0 ? "hold shim: exec " + std::to_string(m.holdExec)
                                                      : std::string(m.waitLine);
        ASSERT_TRUE(child.waitUntil([&] { return e2e::contains(child.out() + child.err(), awaited); }, 60))
            << child.out() << child.err();
        ASSERT_TRUE(child.signal(SIGTERM));
        // Let the signal land (the process ends, it waits blocked, or a handler took it)
        // before the hold ends.
        child.waitUntil(
            [&] {
              return gone(child.pid()) || signalPending(child.pid(), SIGTERM) ||
                     e2e::contains(child.out(), "Handling signal [15]");
            },
            5);
        touch(release);
        if (m.agent) child.write("go\n");
        e2e::RunResult r = child.wait(60);
        ASSERT_FALSE(r.timedOut) << r.out << r.err;
        EXPECT_EQ(r.signal, 0);
        const std::set<int>& expected = handleExit ? m.withExit : m.withoutExit;
        EXPECT_TRUE(expected.count(r.status) != 0) << r.status << "\n" << r.out << r.err;
        EXPECT_FALSE(e2e::contains(r.err, "Error occurred during initialization of VM")) << r.err;
        // Stopped as the VM itself stops on the signal, or through the exit method: never
        // cut short without the application's shutdown hooks.
        if (m.hooks) {
          EXPECT_TRUE(e2e::hasLine(r.out, "hook ran")) << r.out;
        }
        if (m.hooks && !handleExit) {
          EXPECT_TRUE(e2e::hasLine(r.out, "VM exited with java.lang.System.exit(143)")) << r.out;
        }
        expectNothingLeft(service, r);
        EXPECT_EQ(manager.lastNotice().substr(manager.lastNotice().find("STATUS=")),
                  "STATUS=Exited with status " + std::to_string(r.status))
            << r.out;
      }
    }
  }
}

// Release 25's VM installs stop handlers of its own while it starts: forty stops in the
// first quarter second of a service's life, a few at a time. Never the VM's failed start
// (status 1), never a death by the signal, nothing left behind.
TEST(StopMoments, EarlyStopsOnTheReleaseWithItsOwnHandlersNeverFailTheStart) {
  if (!e2e::haveJdk25()) GTEST_SKIP() << "release 25 is not installed";
  constexpr int kRuns = 40;
  constexpr int kParallel = 4;
  auto one = [](int run) {
    std::mt19937 random(static_cast<unsigned>(22 + run));
    std::unique_lock<std::mutex> lock(starting);
    Service service(e2e::jdk25Home(), run % 2 == 0);
    Child child = service.tree.start({"serve"}, baseEnv(""));
    lock.unlock();
    const int kinds[] = {SIGHUP, SIGINT, SIGTERM};
    const int sig = kinds[random() % 3];
    // From the exec on (before it, the test's own child runs).
    std::error_code error;
    for (auto deadline = Clock::now() + std::chrono::seconds(10);
         std::filesystem::read_symlink("/proc/" + std::to_string(child.pid()) + "/exe", error) !=
             std::filesystem::path(service.tree.launcher()) &&
         Clock::now() < deadline;) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 250000));
    child.signal(sig);
    e2e::RunResult r = child.wait(60);
    return std::make_tuple(r, sig, !e2e::fileExists(service.pidFile()));
  };
  for (int first = 0; first < kRuns; first += kParallel) {
    std::vector<std::future<std::tuple<e2e::RunResult, int, bool>>> runs;
    for (int run = first; run < first + kParallel; ++run)
      runs.push_back(std::async(std::launch::async, one, run));
    for (int i = 0; i < kParallel; ++i) {
      auto [r, sig, noPidFile] = runs[static_cast<size_t>(i)].get();
      SCOPED_TRACE("run " + std::to_string(first + i) + ", signal " + std::to_string(sig));
      ASSERT_FALSE(r.timedOut) << r.out << r.err;
      // Before the launcher's first instruction the signal's default disposition ends it.
      if (r.signal != 0) {
        EXPECT_EQ(r.signal, sig);
        EXPECT_EQ(r.out, "");
      } else {
        EXPECT_TRUE(r.status == 128 + sig || r.status == 0) << r.status << "\n" << r.out << r.err;
      }
      EXPECT_FALSE(e2e::contains(r.err, "Error occurred during initialization of VM")) << r.err;
      EXPECT_TRUE(noPidFile);
      for (const std::string& file : e2e::exportFiles(r.out)) EXPECT_FALSE(e2e::fileExists(file)) << file;
    }
  }
}

// Services that restart a few times, one SIGTERM at a random moment of the first
// generations' lives: every run ends within a few seconds of it. The application honours
// a stop that reaches it before it decides to restart; one that comes from the end of main
// on cancels the restart. With handleexit and without it (the VM's own handlers, which
// act on a stop on a thread of their own that main's end and the destruction can
// overtake), on both releases.
TEST(StopMoments, ARestartLoopWithOneRandomStopAlwaysEnds) {
  constexpr int kRuns = 30;
  constexpr int kParallel = 3;
  auto one = [](int run) {
    std::mt19937 random(static_cast<unsigned>(2026 + run));
    const bool release25 = e2e::haveJdk25() && run % 2 == 1;
    const std::string jdk = release25 ? e2e::jdk25Home() : e2e::testJdkHome();
    const bool handleExit = run / 2 % 2 == 0;
    std::unique_lock<std::mutex> lock(starting);
    Service service(jdk, handleExit);
    // The restart code returned (a System.exit(3) that races the stop's own exit is the
    // application's choice to restart).
    Child child =
        service.tree.start({"restart", service.tree.path("counter"), "5", "100", "return"}, baseEnv(""));
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 2500));
    child.signal(SIGTERM);
    const auto sent = Clock::now();
    e2e::RunResult r = child.wait(40);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - sent).count();
    return std::make_tuple(r, seconds, !e2e::fileExists(service.pidFile()),
                           jdk + (handleExit ? ", handleexit" : ""));
  };
  for (int first = 0; first < kRuns; first += kParallel) {
    std::vector<std::future<std::tuple<e2e::RunResult, long, bool, std::string>>> runs;
    for (int run = first; run < first + kParallel; ++run)
      runs.push_back(std::async(std::launch::async, one, run));
    for (int i = 0; i < kParallel; ++i) {
      auto [r, seconds, noPidFile, jdk] = runs[static_cast<size_t>(i)].get();
      SCOPED_TRACE("run " + std::to_string(first + i) + ", " + jdk);
      EXPECT_FALSE(r.timedOut) << r.out << r.err;
      EXPECT_LE(seconds, 20) << r.out;
      EXPECT_EQ(r.signal, 0);
      EXPECT_TRUE(r.status == 143 || r.status == 0) << r.status << "\n" << r.out << r.err;
      EXPECT_TRUE(noPidFile);
      for (const std::string& line : e2e::lines(r.out)) EXPECT_NE(line.rfind("variable ", 0), 0u) << line;
    }
  }
}

// Two instances started at the same moment on one pid file: exactly one runs, the other
// says so and ends with 1. The file is readable by everyone while it names the runner.
TEST(StopMoments, OfTwoSimultaneousStartsExactlyOneRuns) {
  constexpr int kPairs = 15;
  constexpr int kParallel = 3;
  auto pair = [](int run) {
    std::unique_lock<std::mutex> lock(starting);
    Service service(e2e::testJdkHome(), true);
    // Both held just before the pid file is taken, and let go within 0.1 ms of each other.
    Env env = baseEnv("");
    env.set("LD_PRELOAD", e2e::holdShimLibrary());
    env.set("HOLD_SHIM_LINE", "Final validation of classpath");
    env.set("HOLD_SHIM_RELEASE", service.tree.path("release"));
    env.set("HOLD_SHIM_POLL_US", "100");
    std::vector<Child> children;
    children.push_back(service.tree.start({"serve"}, env));
    children.push_back(service.tree.start({"serve"}, env));
    lock.unlock();
    for (Child& child : children) {
      child.waitUntil([&] { return e2e::contains(child.out(), "Final validation of classpath"); }, 60);
    }
    touch(service.tree.path("release"));
    std::string report;
    int running = -1;
    int refused = 0;
    // The refused one ends by itself; the runner says it serves.
    for (int i = 0; i < 2 && report.empty(); ++i) {
      Child& child = children[static_cast<size_t>(i)];
      Child& other = children[static_cast<size_t>(1 - i)];
      if (!child.waitUntil([&] { return e2e::contains(child.out(), "serving\n") || gone(child.pid()); },
                           60)) {
        continue;
      }
      if (!e2e::contains(child.out(), "serving\n")) continue;
      running = i;
      struct stat st {};
      if (::stat(service.pidFile().c_str(), &st) != 0 || (st.st_mode & 0777) != 0644)
        report += "pid file mode; ";
      if (e2e::readFile(service.pidFile()) != std::to_string(child.pid()) + "\n")
        report += "pid file content; ";
      e2e::RunResult second = other.wait(60);
      if (second.status == 1 && e2e::contains(second.err, "which runs this launcher already"))
        ++refused;
      else
        report += "second: " + std::to_string(second.status) + " " + second.out + second.err;
      child.signal(SIGTERM);
      e2e::RunResult first = child.wait(60);
      if (first.status != 0) report += "first: " + std::to_string(first.status) + first.err;
    }
    if (running < 0) {
      for (Child& child : children) {
        e2e::RunResult r = child.wait(60);
        report +=
            "none ran: " + std::to_string(r.status) + "/" + std::to_string(r.signal) + " " + r.out + r.err;
      }
    }
    if (e2e::fileExists(service.pidFile())) report += "pid file left; ";
    (void)run;
    return std::make_pair(refused, report);
  };
  for (int first = 0; first < kPairs; first += kParallel) {
    std::vector<std::future<std::pair<int, std::string>>> runs;
    for (int run = first; run < first + kParallel; ++run)
      runs.push_back(std::async(std::launch::async, pair, run));
    for (int i = 0; i < kParallel; ++i) {
      auto [refused, report] = runs[static_cast<size_t>(i)].get();
      SCOPED_TRACE("pair " + std::to_string(first + i));
      EXPECT_EQ(refused, 1) << report;
      EXPECT_EQ(report, "");
    }
  }
}

// Generations that live 1.5 s each, under a 3 s watchdog (pings every 1.5 s): the longest
// gap between pings across two restarts stays below the watchdog's limit, and the pid
// file names the process at every moment of the restarts.
TEST(StopMoments, WatchdogPingsDoNotLapseAcrossRestarts) {
  Service service(e2e::testJdkHome(), true);
  Manager manager(service.tree.path("notify.sock"));
  Env env = baseEnv(manager.path());
  env.set("WATCHDOG_USEC", "3000000");
  Child child = service.tree.start({"restart", service.tree.path("counter"), "3", "1500"}, env);
  std::string pidFileGaps;
  bool pidFileSeen = false;
  // The pid file, once written, is never missing nor naming another process until the end.
  const bool served = child.waitUntil(
      [&] {
        const std::string content = e2e::readFile(service.pidFile());
        if (content == std::to_string(child.pid()) + "\n") {
          pidFileSeen = true;
        } else if (pidFileSeen) {
          pidFileGaps += "[" + content + "]";
        }
        return e2e::contains(child.out(), "serving\n");
      },
      90);
  ASSERT_TRUE(served) << child.out() << child.err();
  ASSERT_TRUE(e2e::contains(child.out(), "generation 3")) << child.out();
  std::this_thread::sleep_for(std::chrono::milliseconds(1600));
  child.signal(SIGTERM);
  e2e::RunResult r = child.wait(60);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_TRUE(pidFileSeen);
  EXPECT_EQ(pidFileGaps, "");
  std::vector<Clock::time_point> times;
  for (const auto& [text, at] : manager.all()) {
    if (text == "WATCHDOG=1") times.push_back(at);
  }
  ASSERT_GE(times.size(), 4u);
  long longest = 0;
  for (size_t i = 1; i < times.size(); ++i) {
    longest = std::max<long>(
        longest, std::chrono::duration_cast<std::chrono::milliseconds>(times[i] - times[i - 1]).count());
  }
  EXPECT_LT(longest, 3000) << times.size() << " pings";
}

// A stop after the VM's end (the launcher held once the VM is destroyed): under nohup
// SIGINT stays ignored, quit never ends the process, a SIGTERM ends it with 143 and every
// end duty done.
TEST(StopMoments, AfterTheVmsEndQuitAndNohupsInterruptAreNotStops) {
  struct Case {
    int signal;
    bool nohup;
    int status;
  } cases[] = {{SIGQUIT, false, 0}, {SIGINT, true, 0}, {SIGTERM, false, 143}};
  for (const std::string& jdk : e2e::testInstallations()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(jdk + ", signal " + std::to_string(c.signal) + (c.nohup ? ", nohup" : ""));
      Service service(jdk, true);
      Manager manager(service.tree.path("notify.sock"));
      Env env = baseEnv(manager.path());
      env.set("LD_PRELOAD", e2e::holdShimLibrary());
      env.set("HOLD_SHIM_LINE", "JVM destroyed");
      env.set("HOLD_SHIM_RELEASE", service.tree.path("release"));
      e2e::RunOptions options;
      if (c.nohup) options.ignoredSignals = {SIGHUP};
      Child child = service.tree.start({"linger"}, env, options);
      ASSERT_TRUE(child.waitUntil([&] { return e2e::contains(child.out(), "JVM destroyed"); }, 60))
          << child.out() << child.err();
      ASSERT_TRUE(child.signal(c.signal));
      child.waitUntil([&] { return gone(child.pid()); }, 1);
      touch(service.tree.path("release"));
      e2e::RunResult r = child.wait(60);
      EXPECT_EQ(r.signal, 0);
      EXPECT_EQ(r.status, c.status) << r.out << r.err;
      expectNothingLeft(service, r);
      EXPECT_EQ(manager.lastNotice().substr(manager.lastNotice().find("STATUS=")),
                "STATUS=Exited with status " + std::to_string(r.status));
    }
  }
}

// A restart whose exec fails (the launcher's file is gone) ends with the exec's error at
// once, with every end duty done: it neither spins nor leaves the pid file.
TEST(StopMoments, AFailedRestartEndsWithItsErrorAndLeavesNothing) {
  Service service(e2e::testJdkHome(), true);
  Manager manager(service.tree.path("notify.sock"));
  Child child =
      service.tree.start({"restart", service.tree.path("counter"), "2", "1500"}, baseEnv(manager.path()));
  ASSERT_TRUE(child.waitForLine("generation 1")) << child.out() << child.err();
  std::filesystem::rename(service.tree.launcher(), service.tree.path("moved"));
  e2e::RunResult r = child.wait(60);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_TRUE(e2e::hasLine(r.err, "Unable to re-exec self [error=2]")) << r.err;
  expectNothingLeft(service, r);
  EXPECT_EQ(manager.lastNotice(), "STOPPING=1\nSTATUS=Exited with status 2");
}
