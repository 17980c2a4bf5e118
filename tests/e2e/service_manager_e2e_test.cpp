// End-to-end tests of the launcher under a service manager, without one: the test binds
// the notification socket itself (a path or an abstract name), starts the launcher with
// NOTIFY_SOCKET naming it, and reads what arrives. Also the pid file's life and its
// refusals, and the watchdog against a live VM and a stuck one.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Child;
using e2e::Env;

namespace {

const std::string kJdk = e2e::testJdkHome();
const std::string kJdk25 = e2e::jdk25Home();
using Clock = std::chrono::steady_clock;

// The service manager's end: a bound datagram socket and a thread that keeps what
// arrives, with its arrival time.
class NotifySocket {
 public:
  struct Message {
    std::string text;
    Clock::time_point at;
  };

  NotifySocket(const std::string& directory, bool abstract) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    address_ = abstract ? "@launcher-test-" + std::to_string(getpid()) + "-" + std::to_string(counter_++)
                        : directory + "/notify.sock";
    std::memcpy(address.sun_path, address_.data(), address_.size());
    if (abstract) address.sun_path[0] = '\0';
    socklen_t length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address_.size() + (abstract ? 0 : 1));
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0)
      throw std::runtime_error("bind failed");
    timeval timeout{.tv_sec = 0, .tv_usec = 20000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    reader_ = std::thread([this] {
      char buffer[4096];
      while (!done_) {
        ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(Message{.text = std::string(buffer, static_cast<size_t>(n)), .at = Clock::now()});
      }
    });
  }
  ~NotifySocket() {
    done_ = true;
    reader_.join();
    close(fd_);
  }

  const std::string& address() const { return address_; }
  std::vector<Message> all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  // Everything but the watchdog's pings, MONOTONIC_USEC's value replaced by "N".
  std::vector<std::string> notices() const {
    std::vector<std::string> texts;
    for (const Message& m : all()) {
      if (m.text != "WATCHDOG=1")
        texts.push_back(std::regex_replace(m.text, std::regex("USEC=[0-9]+"), "USEC=N"));
    }
    return texts;
  }
  std::vector<Clock::time_point> pings() const {
    std::vector<Clock::time_point> times;
    for (const Message& m : all()) {
      if (m.text == "WATCHDOG=1") times.push_back(m.at);
    }
    return times;
  }
  bool waitFor(const std::function<bool()>& done, int seconds = 30) const {
    for (auto deadline = Clock::now() + std::chrono::seconds(seconds); !done();) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

 private:
  static inline int counter_ = 0;
  int fd_ = -1;
  std::string address_;
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  std::atomic<bool> done_{false};
  std::thread reader_;
};

// A tree running ServiceApp with the launcher handling shutdown, and the environment a
// service manager gives it.
struct ServiceTree {
  AppTree tree;
  std::string jdk = kJdk;
  explicit ServiceTree(const std::string& more = "") {
    tree.copyClasses();
    config(more);
  }
  void config(const std::string& more) const {
    tree.writeConfig("javahome " + jdk + "\nmainclass ServiceApp\naddpath ../classes\noptions handleexit\n" +
                     more);
  }
  static Env env(const std::string& notifySocket) {
    Env env;
    env.set("UTRACE", "-p");
    if (!notifySocket.empty()) env.set("NOTIFY_SOCKET", notifySocket);
    if (const char* asan = std::getenv("ASAN_OPTIONS")) env.set("ASAN_OPTIONS", asan);
    return env;
  }
  std::string pidFile() const { return tree.path("run/app.pid"); }
};

std::string started(pid_t pid, const std::string& generation = "") {
  return "MAINPID=" + std::to_string(pid) + "\nSTATUS=Starting" + generation;
}
const std::string kReady = "READY=1\nSTATUS=Running";
const std::string kStopping = "STOPPING=1\nSTATUS=Stopping";
std::string exited(int status, bool stoppingSent = true) {
  return std::string(stoppingSent ? "" : "STOPPING=1\n") + "STATUS=Exited with status " +
         std::to_string(status);
}

// A loopback port nobody listens on at the moment.
int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

TEST(ServiceManager, EachReadinessRuleAndEachEndSendsItsMessagesInOrder) {
  const int port = freePort();
  const std::string portRule = "readiness port " + std::to_string(port) + "\n";
  enum class End { Sigterm, Input, Exit };
  struct Case {
    std::string name;
    std::string config;
    std::vector<std::string> args;
    bool abstract;
    End end;
    int status;
    std::function<std::vector<std::string>(pid_t)> expected;
    std::string jdk = kJdk;
  };
  const Case cases[] = {
      {"main, stopped by SIGTERM",
       "",
       {"block"},
       false,
       End::Sigterm,
       0,
       [](pid_t pid) {
         return std::vector<std::string>{started(pid), kReady, kStopping, exited(0)};
       }},
      {"return, main returns leaving a server thread",
       "readiness return\n",
       {"return"},
       true,
       End::Input,
       0,
       [](pid_t pid) {
         return std::vector<std::string>{started(pid), kReady, exited(0, false)};
       }},
      {"return, stopped before main returned: never ready",
       "readiness return\n",
       {"block"},
       false,
       End::Sigterm,
       0,
       [](pid_t pid) {
         return std::vector<std::string>{started(pid), kStopping, exited(0)};
       }},
      {"port, opened after a while",
       portRule,
       {"listen", std::to_string(port)},
       true,
       End::Sigterm,
       0,
       [](pid_t pid) {
         return std::vector<std::string>{started(pid), kReady, kStopping, exited(0)};
       }},
      {"port nobody opens",
       portRule,
       {"block"},
       false,
       End::Input,
       0,
       [](pid_t pid) {
         return std::vector<std::string>{started(pid), exited(0, false)};
       }},
      {"main, System.exit",
       "",
       {"exit", "5"},
       true,
       End::Exit,
       5,
       [](pid_t pid) {
         return std::vector<std::string>{started(pid), kReady, exited(5, false)};
       }},
      {"main, release 25, stopped by SIGTERM",
       "",
       {"block"},
       true,
       End::Sigterm,
       0,
       [](pid_t pid) {
         return std::vector<std::string>{started(pid), kReady, kStopping, exited(0)};
       },
       kJdk25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!e2e::fileExists(c.jdk + "/lib/server/libjvm.so")) continue;
    ServiceTree app;
    app.jdk = c.jdk;
    app.config(c.config);
    NotifySocket manager(app.tree.root(), c.abstract);
    Child child = app.tree.start(c.args, ServiceTree::env(manager.address()));
    if (c.end != End::Exit) {
      ASSERT_TRUE(child.waitForLine("serving")) << child.out() << child.err();
      if (c.config == portRule && c.args[0] == "listen") {
        EXPECT_TRUE(manager.waitFor([&] { return manager.notices().size() >= 2; })) << child.out();
      }
    }
    // The stop must be the signal's doing: wait closes standard input, which stops too.
    if (c.end == End::Sigterm) {
      ASSERT_TRUE(child.signal(SIGTERM));
      ASSERT_TRUE(child.waitForLine("stopped")) << child.out();
    }
    e2e::RunResult result = child.wait();
    EXPECT_EQ(result.status, c.status) << result.out << result.err;
    EXPECT_TRUE(e2e::hasLine(result.out, "notify=null")) << result.out;
    manager.waitFor([&] { return manager.notices().size() >= c.expected(child.pid()).size(); }, 2);
    EXPECT_EQ(manager.notices(), c.expected(child.pid())) << result.out;
    if (c.args[0] == "block" && c.config == portRule) {
      EXPECT_TRUE(e2e::hasLine(result.out, "Readiness port " + std::to_string(port) +
                                               " was not opened while the application ran; READY=1 not sent"))
          << result.out;
    }
  }
}

// A loopback TCP listener of the test process, on the port given or a free one.
class Listener {
 public:
  explicit Listener(int port = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd_, 16) != 0)
      throw std::runtime_error("listen failed");
    socklen_t length = sizeof address;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~Listener() { close(); }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd() const { return fd_; }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// An HTTP server on a loopback port that accepts at once but answers only once told to:
// until then it reads each request and holds the connection until the client gives up.
// It answers 503, which is an answer all the same.
class SlowHttpServer {
 public:
  SlowHttpServer() {
    thread_ = std::thread([this] { serve(); });
  }
  ~SlowHttpServer() {
    done_ = true;
    thread_.join();
  }
  int port() const { return listener_.port(); }
  void answer() {
    answeringSince_ = Clock::now();
    answering_ = true;
  }
  Clock::time_point answeringSince() const { return answeringSince_; }
  std::vector<std::string> requestLines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requestLines_;
  }

 private:
  bool readable(int fd) const {
    pollfd waiting{.fd = fd, .events = POLLIN, .revents = 0};
    return poll(&waiting, 1, 20) == 1;
  }
  void serve() {
    while (!done_) {
      if (!readable(listener_.fd())) continue;
      int connection = accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      std::string request;
      char buffer[1024];
      bool open = true;
      while (!done_ && open && request.find("\r\n\r\n") == std::string::npos) {
        if (!readable(connection)) continue;
        ssize_t n = recv(connection, buffer, sizeof buffer, 0);
        open = n > 0;
        if (n > 0) request.append(buffer, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requestLines_.push_back(request.substr(0, request.find("\r\n")));
      }
      // Not answering: the connection stays until the client closes it.
      while (!done_ && open && !answering_) {
        if (readable(connection)) open = recv(connection, buffer, sizeof buffer, 0) > 0;
      }
      if (open && answering_) {
        const std::string reply = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n";
        send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
      }
      ::close(connection);
    }
  }

  Listener listener_;
  std::atomic<bool> done_{false};
  std::atomic<bool> answering_{false};
  Clock::time_point answeringSince_{};
  mutable std::mutex mutex_;
  std::vector<std::string> requestLines_;
  std::thread thread_;
};

// "readiness port": a listener of another process on the port does not make the service
// ready; the application's own does, once it has taken the port over.
TEST(ServiceManager, ReadinessPortWaitsForThisProcessesOwnListener) {
  auto other = std::make_unique<Listener>();
  const int port = other->port();
  ServiceTree app("readiness port " + std::to_string(port) + "\n");
  NotifySocket manager(app.tree.root(), true);
  Child child = app.tree.start({"retry", std::to_string(port)}, ServiceTree::env(manager.address()));
  ASSERT_TRUE(child.waitForLine("port taken")) << child.out() << child.err();
  const std::string waiting = "Readiness port " + std::to_string(port) +
                              " is listened on by another process; waiting for this one to listen on it";
  // Whichever comes first: the trace that the port is another's, or a READY=1 too early.
  child.waitUntil([&] { return manager.notices().size() >= 2 || e2e::hasLine(child.out(), waiting); });
  EXPECT_EQ(manager.notices(), (std::vector<std::string>{started(child.pid())})) << child.out();
  ASSERT_TRUE(e2e::hasLine(child.out(), waiting)) << child.out();
  // Several polls later, still only the start.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(manager.notices(), (std::vector<std::string>{started(child.pid())})) << child.out();
  other.reset();
  ASSERT_TRUE(child.waitForLine("listening")) << child.out();
  ASSERT_TRUE(manager.waitFor([&] { return manager.notices().size() >= 2; })) << child.out();
  ASSERT_TRUE(child.signal(SIGTERM));
  ASSERT_TRUE(child.waitForLine("stopped")) << child.out();
  e2e::RunResult result = child.wait();
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_TRUE(
      e2e::hasLine(result.out, "Readiness port " + std::to_string(port) + " is listened on by this process"))
      << result.out;
  manager.waitFor([&] { return manager.notices().size() >= 4; }, 2);
  EXPECT_EQ(manager.notices(),
            (std::vector<std::string>{started(child.pid()), kReady, kStopping, exited(0)}));
}

// "readiness http": a server that accepts but does not answer yet keeps the service from
// being ready, with a trace line for the failing tries; its first answer (a 503 too) makes
// it ready. One that never answers never does, and the stop is not held by the poll.
TEST(ServiceManager, ReadinessHttpWaitsForAStatusLine) {
  for (bool answers : {true, false}) {
    SCOPED_TRACE(answers ? "answers after a while" : "never answers");
    SlowHttpServer server;
    const std::string rule = "http " + std::to_string(server.port()) + (answers ? " /ready?deep=1" : "");
    const std::string path = answers ? "/ready?deep=1" : "/";
    ServiceTree app("readiness " + rule + "\n");
    NotifySocket manager(app.tree.root(), false);
    Child child = app.tree.start({"block"}, ServiceTree::env(manager.address()));
    ASSERT_TRUE(child.waitForLine("serving")) << child.out() << child.err();
    ASSERT_TRUE(child.waitForLine("Readiness http " + std::to_string(server.port()) + " " + path +
                                  ": no status line within 2000 ms; trying again"))
        << child.out();
    EXPECT_EQ(manager.notices(), (std::vector<std::string>{started(child.pid())})) << child.out();
    ASSERT_FALSE(server.requestLines().empty());
    EXPECT_EQ(server.requestLines().front(), "GET " + path + " HTTP/1.0");
    if (answers) {
      server.answer();
      ASSERT_TRUE(manager.waitFor([&] { return manager.notices().size() >= 2; })) << child.out();
      EXPECT_GE(manager.all()[1].at, server.answeringSince());
      ASSERT_TRUE(child.signal(SIGTERM));
      ASSERT_TRUE(child.waitForLine("stopped")) << child.out();
    }
    // Without an answer, the end comes with the closing of standard input, mid-try.
    e2e::RunResult result = child.wait();
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> expected =
        answers ? std::vector<std::string>{started(child.pid()), kReady, kStopping, exited(0)}
                : std::vector<std::string>{started(child.pid()), exited(0, false)};
    manager.waitFor([&] { return manager.notices().size() >= expected.size(); }, 2);
    EXPECT_EQ(manager.notices(), expected) << result.out;
    EXPECT_EQ(e2e::hasLine(result.out, "Readiness http " + std::to_string(server.port()) + " " + path +
                                           " answered with a status line"),
              answers)
        << result.out;
    EXPECT_EQ(e2e::hasLine(result.out, "Readiness http " + std::to_string(server.port()) + " " + path +
                                           " was not answered while the application ran; READY=1 not sent"),
              !answers)
        << result.out;
  }
}

// Two restarts, one through main's exit status and one through System.exit, with the pid
// file kept across both and removed at the end. A stop by SIGTERM in a service that may
// restart says STOPPING=1 only once it is known to end, not to restart.
TEST(ServiceManager, RestartsReloadAndEachGenerationIsReadyAgain) {
  ServiceTree app("restartonexit 3\npidfile ../run/app.pid\n");
  app.tree.makeDir("run");
  NotifySocket manager(app.tree.root(), false);
  Child child =
      app.tree.start({"restart", app.tree.path("generations")}, ServiceTree::env(manager.address()));
  ASSERT_TRUE(child.waitForLine("serving")) << child.out() << child.err();
  EXPECT_EQ(e2e::readFile(app.pidFile()), std::to_string(child.pid()) + "\n");
  ASSERT_TRUE(child.signal(SIGTERM));
  ASSERT_TRUE(child.waitForLine("cleanup true")) << child.out();
  e2e::RunResult result = child.wait();
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(e2e::countLines(result.out, "notify=null"), 3u) << result.out;
  EXPECT_FALSE(e2e::fileExists(app.pidFile()));
  pid_t pid = child.pid();
  const std::vector<std::string> expected = {
      started(pid),
      kReady,
      "RELOADING=1\nMONOTONIC_USEC=N\nSTATUS=Restarting (generation 2)",
      started(pid, " (generation 2)"),
      kReady + " (generation 2)",
      "RELOADING=1\nMONOTONIC_USEC=N\nSTATUS=Restarting (generation 3)",
      started(pid, " (generation 3)"),
      kReady + " (generation 3)",
      "STATUS=Stopping",
      exited(0, false),
  };
  manager.waitFor([&] { return manager.notices().size() >= expected.size(); }, 2);
  EXPECT_EQ(manager.notices(), expected) << result.out;
}

TEST(ServiceManager, WatchdogPingsAtHalfTheIntervalOnlyWhileTheVmRuns) {
  struct Case {
    std::string name;
    std::string jdk;
    std::string watchdogPid;
    bool pings;
  };
  const Case cases[] = {
      {"no WATCHDOG_PID", kJdk, "", true},
      {"WATCHDOG_PID of another process", kJdk, "1", false},
      {"release 25", kJdk25, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!e2e::fileExists(c.jdk + "/lib/server/libjvm.so")) continue;
    ServiceTree app;
    app.jdk = c.jdk;
    app.config("");
    NotifySocket manager(app.tree.root(), true);
    Env env = ServiceTree::env(manager.address());
    env.set("WATCHDOG_USEC", "200000");
    if (!c.watchdogPid.empty()) env.set("WATCHDOG_PID", c.watchdogPid);
    Child child = app.tree.start({"block"}, env);
    ASSERT_TRUE(child.waitForLine("serving")) << child.out() << child.err();
    if (c.pings) {
      ASSERT_TRUE(manager.waitFor([&] { return manager.pings().size() >= 8; })) << child.out();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(600));
    }
    e2e::RunResult result = child.wait();
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    // The watchdog is the launcher's: the application's children never see it.
    EXPECT_TRUE(e2e::hasLine(result.out, "watchdog=null,null")) << result.out;
    std::vector<NotifySocket::Message> all = manager.all();
    std::vector<Clock::time_point> pings = manager.pings();
    if (!c.pings) {
      EXPECT_TRUE(pings.empty());
      continue;
    }
    // Pings come after READY=1 (the VM exists) and before the last message (it is gone).
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(all[0].text, started(child.pid()));
    EXPECT_EQ(all[1].text, kReady);
    EXPECT_EQ(all.back().text, exited(0, false));
    // Every 100 ms on average; a loaded machine only stretches the gaps.
    auto mean = std::chrono::duration_cast<std::chrono::milliseconds>(pings.back() - pings.front()) /
                static_cast<int>(pings.size() - 1);
    EXPECT_GE(mean.count(), 60) << pings.size() << " pings";
    EXPECT_LE(mean.count(), 400) << pings.size() << " pings";
  }
}

// The stand-in VM forwards to the real one and blocks the watchdog's fourth call: three
// pings, then none while the application itself goes on serving.
TEST(ServiceManager, WatchdogStopsPingingWhenTheVmStopsAnswering) {
  ServiceTree app;
  app.jdk = app.tree.path("jdk");
  namespace fs = std::filesystem;
  fs::create_directories(app.jdk + "/bin");
  fs::create_directories(app.jdk + "/lib/server");
  fs::create_symlink(kJdk + "/bin/java", app.jdk + "/bin/java");
  fs::create_symlink(kJdk + "/lib/modules", app.jdk + "/lib/modules");
  fs::create_symlink(kJdk + "/lib/jvm.cfg", app.jdk + "/lib/jvm.cfg");
  fs::copy_file(e2e::fakeJvmForwardLibrary(), app.jdk + "/lib/server/libjvm.so");
  app.config("");
  NotifySocket manager(app.tree.root(), false);
  Env env = ServiceTree::env(manager.address());
  env.set("WATCHDOG_USEC", "200000");
  env.set("FAKE_JVM_REAL_LIBRARY", kJdk + "/lib/server/libjvm.so");
  env.set("FAKE_JVM_STALL_AFTER", "3");
  Child child = app.tree.start({"block"}, env);
  ASSERT_TRUE(child.waitForLine("serving")) << child.out() << child.err();
  ASSERT_TRUE(manager.waitFor([&] { return manager.pings().size() >= 3; })) << child.out() << child.err();
  ASSERT_TRUE(child.waitForLine("fake VM: stalled")) << child.err();
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // ten intervals
  EXPECT_EQ(manager.pings().size(), 3u);
  e2e::RunResult result = child.wait();
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_TRUE(e2e::hasLine(result.out, "stopped")) << result.out;
  EXPECT_EQ(manager.pings().size(), 3u);
  EXPECT_EQ(manager.notices().back(), exited(0, false));
}

// The pid file exists while the application serves and is gone after every end but
// SIGKILL; a live instance's file stops a second start; a file of a process that is gone
// or of another program is replaced.
TEST(ServiceManager, PidFileLivesAsLongAsTheLauncherAndRefusesASecondInstance) {
  enum class End { Sigterm, ForcedExit, SystemExit };
  struct Case {
    std::string name;
    std::vector<std::string> args;
    End end;
    int status;
  };
  const Case cases[] = {
      {"stop by SIGTERM", {"block"}, End::Sigterm, 0},
      // A server thread that never ends: only the forced exit ends the process.
      {"forced exit during the destroy wait", {"linger"}, End::ForcedExit, 1},
      {"System.exit", {"exit", "5"}, End::SystemExit, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ServiceTree app("pidfile ../run/app.pid\n");
    app.tree.makeDir("run");
    Child child = app.tree.start(c.args, ServiceTree::env(""));
    ASSERT_TRUE(child.waitForLine("serving")) << child.out() << child.err();
    if (c.end != End::SystemExit) {
      EXPECT_EQ(e2e::readFile(app.pidFile()), std::to_string(child.pid()) + "\n");
      if (c.end == End::ForcedExit) {
        ASSERT_TRUE(child.waitForLine("Returned from main class with status 0")) << child.out();
      }
      ASSERT_TRUE(child.signal(SIGTERM));
      if (c.end == End::Sigterm) {
        ASSERT_TRUE(child.waitForLine("stopped")) << child.out();
      }
      if (c.end == End::ForcedExit) {
        ASSERT_TRUE(child.waitForLine(
            "If you're sure it's safe to abort, another interrupt will force a process exit."))
            << child.err();
        ASSERT_TRUE(child.waitForLine("Reinstated Signal Handler")) << child.out();
        ASSERT_TRUE(child.signal(SIGTERM));
        ASSERT_TRUE(child.waitForLine("Forcing process exit before orderly shutdown is complete."))
            << child.err();
      }
    }
    e2e::RunResult result = child.wait();
    EXPECT_EQ(result.status, c.status) << result.out << result.err;
    EXPECT_FALSE(e2e::fileExists(app.pidFile()));
  }

  ServiceTree app("pidfile ../run/app.pid\n");
  app.tree.makeDir("run");
  Child first = app.tree.start({"block"}, ServiceTree::env(""));
  ASSERT_TRUE(first.waitForLine("serving")) << first.out() << first.err();
  e2e::RunResult second = app.tree.run({"block"}, ServiceTree::env(""));
  EXPECT_EQ(second.status, 1);
  EXPECT_TRUE(e2e::hasLine(second.err, "Error: The pid file '" + app.pidFile() + "' names process " +
                                           std::to_string(first.pid()) +
                                           ", which runs this launcher already."))
      << second.err;
  EXPECT_EQ(e2e::readFile(app.pidFile()), std::to_string(first.pid()) + "\n");
  // A run that starts no application neither checks nor touches the file.
  e2e::RunResult script = app.tree.run({"+javacmd"}, ServiceTree::env(""));
  EXPECT_EQ(script.status, 0) << script.err;
  EXPECT_EQ(e2e::readFile(app.pidFile()), std::to_string(first.pid()) + "\n");
  EXPECT_EQ(first.wait().status, 0);
  EXPECT_FALSE(e2e::fileExists(app.pidFile()));

  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  for (pid_t holder : {gone, getpid()}) {
    SCOPED_TRACE(holder);
    app.tree.writeFile("run/app.pid", std::to_string(holder) + "\n");
    Child child = app.tree.start({"block"}, ServiceTree::env(""));
    ASSERT_TRUE(child.waitForLine("serving")) << child.out() << child.err();
    EXPECT_EQ(e2e::readFile(app.pidFile()), std::to_string(child.pid()) + "\n");
    EXPECT_EQ(child.wait().status, 0);
    EXPECT_FALSE(e2e::fileExists(app.pidFile()));
  }

  // A restarted generation that fails before it writes the file again removes it too.
  ServiceTree broken("restartonexit 3\npidfile ../run/app.pid\n");
  broken.tree.makeDir("run");
  e2e::RunResult failed =
      broken.tree.run({"break-config", broken.tree.path("bin/" + broken.tree.name() + ".config")}, ServiceTree::env(""));
  EXPECT_EQ(failed.status, 1) << failed.err;
  EXPECT_TRUE(e2e::contains(failed.err, "nosuchdirective")) << failed.err;
  EXPECT_FALSE(e2e::fileExists(broken.pidFile()));
}

// A live instance that another user runs and that does not lock the file: for an ordinary
// user kill(pid, 0) fails with EPERM, and the holder still counts as alive. The holder is a
// process of another user bearing the launcher's name.
TEST(ServiceManager, PidFileNamingAnotherUsersLiveInstanceCountsItAsRunning) {
  std::optional<uid_t> nobody = e2e::unprivilegedUid();
  if (!nobody) GTEST_SKIP() << "needs root and the user nobody, to run as two other users";
  ServiceTree app("pidfile ../run/app.pid\n");
  app.tree.makeDir("run");
  ASSERT_EQ(chown(app.tree.path("run").c_str(), *nobody, 65534), 0);
  const std::string name = app.tree.name();
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    prctl(PR_SET_NAME, name.c_str());
    if (setgid(65534) != 0 || setuid(*nobody == 1 ? 2 : 1) != 0) _exit(126);
    for (;;) pause();
  }
  const std::string pid = std::to_string(holder);
  ASSERT_EQ(chown(app.tree.writeFile("run/app.pid", pid + "\n").c_str(), *nobody, 65534), 0);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string line;  // a pattern of a whole line
  } cases[] = {
      {{"exit", "0"}, 1, "Error: The pid file '.*' names process " + pid + ", which runs this launcher already\\."},
      {{"+status"}, 0, "running, .*, process " + pid + ", .*"},
      {{"+stop"}, 1, "Error: Unable to stop process " + pid + ": Operation not permitted\\."},
  };
  e2e::RunOptions options;
  options.uid = *nobody;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    e2e::RunResult r = app.tree.run(c.args, Env(), options);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    const std::vector<std::string> lines = e2e::lines(r.out + r.err);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& line) { return std::regex_match(line, std::regex(c.line)); }))
        << r.out << r.err;
    EXPECT_EQ(e2e::readFile(app.pidFile()), pid + "\n");
  }
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
}

// What must never hang or crash: a start that fails after the pid file was written, a pid
// file that cannot be written, a NOTIFY_SOCKET that names nothing or is no address.
TEST(ServiceManager, BadSurroundingsGiveADefinedResult) {
  {
    SCOPED_TRACE("the main class is missing");
    ServiceTree app("pidfile ../run/app.pid\nmainclass NoSuchClass\n");
    app.tree.makeDir("run");
    NotifySocket manager(app.tree.root(), false);
    Child child = app.tree.start({}, ServiceTree::env(manager.address()));
    e2e::RunResult result = child.wait();
    EXPECT_EQ(result.status, 8888 & 0xff) << result.err;
    EXPECT_FALSE(e2e::fileExists(app.pidFile()));
    manager.waitFor([&] { return manager.notices().size() >= 2; }, 2);
    EXPECT_EQ(manager.notices(), (std::vector<std::string>{started(child.pid()), exited(8888, false)}));
  }
  {
    SCOPED_TRACE("the pid file's directory does not exist");
    ServiceTree app("pidfile ../missing/app.pid\n");
    e2e::RunResult result = app.tree.run({"block"}, ServiceTree::env(""));
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(e2e::contains(result.err, "Error: Unable to write the pid file '" +
                                              app.tree.path("missing/app.pid") +
                                              "': No such file or directory."))
        << result.err;
    EXPECT_FALSE(e2e::contains(result.out, "notify=")) << result.out;
  }
  struct Socket {
    std::string name;
    std::string value;
    std::string trace;
  };
  const Socket sockets[] = {
      {"names nothing", "/nonexistent/notify.sock",
       "Unable to notify the service manager at '/nonexistent/notify.sock': No such file or directory"},
      {"not an address", "relative.sock",
       "NOTIFY_SOCKET 'relative.sock' is not a socket address; nothing is sent to the service manager"},
  };
  for (const Socket& s : sockets) {
    SCOPED_TRACE(s.name);
    ServiceTree app("readiness port " + std::to_string(freePort()) + "\n");
    Env env = ServiceTree::env(s.value);
    env.set("WATCHDOG_USEC", "200000");
    Child child = app.tree.start({"block"}, env);
    ASSERT_TRUE(child.waitForLine("serving")) << child.out() << child.err();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    e2e::RunResult result = child.wait();
    EXPECT_EQ(result.status, 0) << result.err;
    // Once per process image, however many pings fail: the start may re-execute once.
    EXPECT_GE(e2e::countLines(result.out, s.trace), 1u) << result.out;
    EXPECT_LE(e2e::countLines(result.out, s.trace), 2u) << result.out;
    EXPECT_TRUE(e2e::hasLine(result.out, "notify=null")) << result.out;
  }
}

}  // namespace
