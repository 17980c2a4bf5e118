// End-to-end tests of supervision without a service manager: a crash loop slows down and
// ends at the restart limit, a long generation resets the wait, a stop during the wait
// ends the launcher at once, and a VM held at a safepoint is found by the VM watch and
// restarted in place or ended with its own status; +status and +stop follow an instance
// through its states without a VM of their own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Child;
using e2e::Env;

namespace {

// The waits the launcher announced, as written ("0.1", "0.2", ...).
std::vector<std::string> waits(const std::string& err) {
  std::vector<std::string> found;
  static const std::regex line(
      "^The application ended after [0-9]+\\.[0-9] seconds; restarting it in ([0-9]+\\.[0-9]) seconds\\.$");
  for (const std::string& text : e2e::lines(err)) {
    std::smatch m;
    if (std::regex_match(text, m, line)) found.push_back(m[1]);
  }
  return found;
}

std::string config(const std::string& extra) {
  return "javahome " + e2e::testJdkHome() + "\naddpath ../classes\nrestartonexit 3\n" + extra;
}

// 100 ms doubling to 400 ms; a generation under 4 s is brief.
Env shortCurve() { return Env().set("LAUNCHER_TEST_RESTART_BACKOFF", "100 400 4000"); }

TEST(Supervision, ACrashLoopSlowsDownAndEndsAtTheLimitWithItsStatus) {
  AppTree tree;
  tree.copyClasses();
  tree.writeConfig(config("mainclass SuperviseApp\nrestartlimit 4 300\n"));
  const std::string generations = tree.path("generations");
  e2e::RunOptions options;
  options.timeoutSeconds = 120;
  auto r = tree.run({"gens", generations, "0,0,0,0,0,0,0,0"}, shortCurve(), options);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 3) << r.err;
  EXPECT_EQ(waits(r.err), (std::vector<std::string>{"0.1", "0.2", "0.4", "0.4"})) << r.err;
  EXPECT_EQ(
      e2e::countLines(r.err,
                      "Error: The application asked for more than 4 restarts within 300 seconds; ending "
                      "with its status 3."),
      1u)
      << r.err;
  EXPECT_EQ(e2e::lines(e2e::readFile(generations)).size(), 5u);
}

TEST(Supervision, ALongGenerationResetsTheWait) {
  AppTree tree;
  tree.copyClasses();
  tree.writeConfig(config("mainclass SuperviseApp\n"));
  const std::string generations = tree.path("generations");
  e2e::RunOptions options;
  options.timeoutSeconds = 120;
  // Brief, brief, long (5 s), brief, then status 7.
  auto r = tree.run({"gens", generations, "0,0,5000,0"}, shortCurve(), options);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_EQ(waits(r.err), (std::vector<std::string>{"0.1", "0.2", "0.1"})) << r.err;
  EXPECT_EQ(e2e::lines(e2e::readFile(generations)).size(), 5u);
}

// Whether the restart is asked for by the returned status (the main thread waits) or by
// System.exit (the VM's exit hook waits), a stop signal ends the wait and the launcher
// with 128 + its number, and the pid file goes with it.
TEST(Supervision, AStopDuringTheWaitEndsAtOnce) {
  struct Case {
    std::vector<std::string> args;
    int signal;
  };
  for (const Case& c : {Case{{"status", "3"}, SIGTERM}, Case{{"exit", "3"}, SIGINT}}) {
    AppTree tree;
    tree.copyClasses();
    const std::string pidFile = tree.path("app.pid");
    tree.writeConfig(config("mainclass RunProbe\npidfile " + pidFile + "\n"));
    Child child = tree.start(c.args, Env().set("LAUNCHER_TEST_RESTART_BACKOFF", "600000 600000 600000"));
    ASSERT_TRUE(child.waitUntil([&] { return !waits(child.err()).empty(); }, 60)) << child.err();
    EXPECT_TRUE(e2e::fileExists(pidFile));
    child.signal(c.signal);
    auto r = child.wait(30);
    ASSERT_FALSE(r.timedOut) << c.args[0];
    EXPECT_EQ(r.status, 128 + c.signal) << c.args[0] << "\n" << r.err;
    EXPECT_EQ(waits(r.err), std::vector<std::string>{"600.0"}) << r.err;
    EXPECT_FALSE(e2e::fileExists(pidFile)) << c.args[0];
  }
}

// Generation 1 holds every Java thread at a safepoint; the watch (4 s, checked every
// second) finds it and either restarts the application, whose second generation serves
// through collections longer than the watch time and ends with 0, or ends with 70.
TEST(Supervision, AVmHeldAtASafepointIsFoundAndRestartedOrEnded) {
  for (const char* action : {"restart", "exit"}) {
    AppTree tree;
    tree.copyClasses();
    const std::string pidFile = tree.path("app.pid");
    tree.writeConfig("javahome " + e2e::testJdkHome() +
                     "\naddpath ../classes\nmainclass SuperviseApp\nvmparam -XX:-UseCountedLoopSafepoints\n"
                     "vmparam -XX:LoopStripMiningIter=0\nvmwatch 4 " +
                     action + "\npidfile " + pidFile + "\n");
    const std::string generations = tree.path("generations");
    e2e::RunOptions options;
    options.timeoutSeconds = 120;
    auto r = tree.run({"stuck", generations, "6000"}, Env(), options);
    ASSERT_FALSE(r.timedOut) << action << "\n" << r.out << r.err;
    std::smatch m;
    const std::string what =
        action == std::string("restart") ? "restarting the application" : "ending with status 70";
    ASSERT_TRUE(std::regex_search(
        r.err, m,
        std::regex("Error: The VM has not answered for ([0-9]+\\.[0-9]) seconds; " + what + "\\.\n")))
        << action << "\n"
        << r.err;
    // Found within the watch time and one check interval.
    const double silent = std::stod(m[1]);
    EXPECT_GE(silent, 4.0);
    // Slack for a loaded machine: the checker thread itself may wake late.
    EXPECT_LT(silent, 5.0 + 1.5) << "the launcher's own count, under load";
    EXPECT_TRUE(e2e::contains(r.out, "holding the VM")) << r.out;
    if (action == std::string("restart")) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(e2e::hasLine(r.out, "serving generation 2")) << r.out;
      EXPECT_EQ(e2e::countLines(r.err, "Error: The VM has not answered for " + std::string(m[1]) +
                                           " seconds; " + what + "."),
                1u);
    } else {
      EXPECT_EQ(r.status, 70) << r.err;
      EXPECT_EQ(e2e::lines(e2e::readFile(generations)).size(), 1u);
    }
    EXPECT_FALSE(e2e::fileExists(pidFile)) << action;
  }
}

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

// A tree whose application serves on a port once told to, with a pid file.
struct ServeTree {
  explicit ServeTree(bool withPidFile = true, const std::string& extra = "") {
    tree.copyClasses();
    tree.writeConfig("javahome " + e2e::testJdkHome() + "\naddpath ../classes\nmainclass SuperviseApp\n" +
                     (withPidFile ? "pidfile " + pidFile + "\n" : std::string()) + "readiness port " +
                     std::to_string(port) + "\nvmwatch 30\n" + extra);
  }
  e2e::RunResult command(const std::string& option) const { return tree.run({option}); }
  // Asks until the command answers with the status; false when it never does.
  bool until(const std::string& option, int status) const {
    for (int i = 0; i < 300; ++i) {
      if (command(option).status == status) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  AppTree tree;
  int port = freePort();
  std::string pidFile = tree.path("app.pid");
  std::string go = tree.path("go");
};

TEST(Supervision, StatusAndStopFollowAnInstanceThroughItsStates) {
  ServeTree app;
  auto r = app.command("+status");
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_EQ(r.out, "not running\n");
  r = app.command("+stop");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "not running\n");

  Child child = app.tree.start({"serve", app.tree.path("gens"), app.go, std::to_string(app.port)});
  ASSERT_TRUE(child.waitForLine("waiting", 1, 60)) << child.err();
  // main has returned; the port is not open yet.
  r = app.command("+status");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::string running = "running, starting, process " + std::to_string(child.pid()) + ", generation 1";
  EXPECT_EQ(r.out.rfind(running, 0), 0u) << r.out;
  EXPECT_EQ(app.command("+status:ready").status, 150);
  EXPECT_EQ(app.command("+status:live").status, 0) << app.command("+status:live").out;

  app.tree.writeFile("go", "");
  ASSERT_TRUE(child.waitForLine("listening", 1, 60)) << child.err();
  ASSERT_TRUE(app.until("+status:ready", 0));
  r = app.command("+status:live");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(
      std::regex_search(r.out, std::regex("^running, ready, process [0-9]+, generation 1, the VM answered "
                                          "[0-9]+\\.[0-9] seconds ago\n$")))
      << r.out;
  EXPECT_TRUE(e2e::fileExists(app.pidFile + ".state"));

  r = app.command("+stop:60");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "stopped\n");
  EXPECT_FALSE(child.wait(30).timedOut);
  EXPECT_EQ(app.command("+status").status, 3);
  EXPECT_FALSE(e2e::fileExists(app.pidFile + ".state"));

  // A pid file left by a process that is gone, one that holds no number, none configured,
  // and a command that is neither.
  pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  app.tree.writeFile("app.pid", std::to_string(gone) + "\n");
  r = app.command("+status");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "not running, but the pid file '" + app.pidFile + "' names process " +
                       std::to_string(gone) + "\n");
  EXPECT_EQ(app.command("+stop").status, 0);
  app.tree.writeFile("app.pid", "none\n");
  EXPECT_EQ(app.command("+status").status, 4);
  ServeTree without(false);
  r = without.command("+status");
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, "Error: No pid file is configured (pidfile); +status cannot find the instance.\n");
  EXPECT_EQ(without.command("+stop:5").status, 1);
  r = app.command("+stop:soon");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Error: '+stop:soon' is neither +status[:ready|:live] nor +stop[:SECONDS][,force].\n");
}

// An application whose shutdown hook never ends, its signals handled by the launcher:
// +stop gives up at its deadline and says so, +status shows the stop, and +stop with force
// ends it.
TEST(Supervision, StopGivesUpAtTheDeadlineUnlessForced) {
  ServeTree app(true, "options handleexit\n");
  app.tree.writeFile("go", "");
  Child child = app.tree.start({"serve", app.tree.path("gens"), app.go, std::to_string(app.port), "hang"});
  ASSERT_TRUE(child.waitForLine("listening", 1, 60)) << child.err();
  auto r = app.command("+stop:1");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Process " + std::to_string(child.pid()) + " is still running after 1 seconds.\n");
  r = app.command("+status");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("running, stopping, ", 0), 0u) << r.out;
  EXPECT_EQ(app.command("+status:ready").status, 150);
  r = app.command("+stop:30,force");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(child.wait(30).timedOut);
  EXPECT_FALSE(e2e::fileExists(app.pidFile));
}

}  // namespace
