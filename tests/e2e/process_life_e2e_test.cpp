// End-to-end tests of the edges of a process's life with a real VM: closed standard
// descriptors, restarts that start from the dispositions the launcher was given, stop
// signals before the launcher's handlers exist and after the VM has ended, servers that
// do not know the launcher, and a storm of signals from exec to exit across a restart.
// Every run is also checked for what it may leave behind: the exported-environment file
// and the VM's crash log.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Child;
using e2e::contains;
using e2e::Env;

namespace {

const std::string kJdk = e2e::testJdkHome();
const std::string kJdk25 = e2e::jdk25Home();

Env traced() { return Env().set("UTRACE", "-p"); }

// An application tree running the class on the installation, with an exported
// environment.
struct LifeTree {
  AppTree tree;
  LifeTree(const std::string& mainClass, const std::string& jdk, const std::string& more) {
    tree.copyClasses();
    tree.writeConfig("javahome " + jdk + "\nmainclass " + mainClass + "\naddpath ../classes\nexportenv\n" +
                     more);
  }
};

// No exported-environment file and no crash log of the VM is left.
void expectNothingLeft(const AppTree& tree, const std::vector<std::string>& exported) {
  for (const std::string& file : exported) EXPECT_FALSE(e2e::fileExists(file)) << file;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.root())) {
    EXPECT_NE(entry.path().filename().string().rfind("hs_err_pid", 0), 0u) << entry.path();
  }
}

bool canConnect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// What PlainServer writes once it listens: its port and the exported file.
struct ServerInfo {
  int port = 0;
  std::string exported;
};

std::optional<ServerInfo> waitForServer(const std::string& infoFile, int seconds = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!e2e::fileExists(infoFile)) {
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ServerInfo info;
  std::istringstream(e2e::readFile(infoFile)) >> info.port >> info.exported;
  return info;
}

// The ordinary stop of a server without an exit method, said in the trace only.
std::string noExitMethod(int status) {
  return "No 'public static void cleanup(boolean)' method in PlainServer; stopping the application with "
         "System.exit(" +
         std::to_string(status) + ").";
}

const std::string kWaiting =
    "Shutdown is waiting for all threads to complete. Patience is recommended.\n"
    "If you're sure it's safe to abort, another interrupt will force a process exit.\n";

// The system call the process's main thread is blocked in, as /proc shows it.
std::string mainThreadSyscall(pid_t pid) {
  return e2e::readFile("/proc/" + std::to_string(pid) + "/syscall");
}

// Whether the process catches all four stop signals (its end handlers are armed).
bool handlersArmed(pid_t pid) {
  const std::string status = e2e::readFile("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find("SigCgt:");
  if (at == std::string::npos) return false;
  const unsigned long long caught = std::stoull(status.substr(at + 7, 17), nullptr, 16);
  const unsigned long long four =
      (1ULL << (SIGHUP - 1)) | (1ULL << (SIGINT - 1)) | (1ULL << (SIGQUIT - 1)) | (1ULL << (SIGTERM - 1));
  return (caught & four) == four;
}

}  // namespace

// Started with descriptors 0, 1 and 2 closed, an application that writes much to
// System.err is still stopped by one SIGTERM.
TEST(ProcessLife, ClosedStandardDescriptorsKeepTheSignalsWorking) {
  for (const std::string& jdk : e2e::testInstallations()) {
    SCOPED_TRACE(jdk);
    LifeTree app("PlainServer", jdk, "options handleexit\n");
    const std::string info = app.tree.path("info");
    Child child = e2e::startProgram(
        "/bin/sh",
        {"sh", "-c", "exec 0<&- 1>&- 2>&-; exec \"$0\" \"$@\"", app.tree.launcher(), info, "noisy"}, Env(),
        e2e::RunOptions());
    std::optional<ServerInfo> server = waitForServer(info);
    ASSERT_TRUE(server) << "the server never listened";
    EXPECT_TRUE(canConnect(server->port));
    EXPECT_TRUE(e2e::fileExists(server->exported));
    // Nothing the launcher or the VM opened took the place of a standard descriptor.
    for (int fd = 0; fd <= 2; ++fd) {
      EXPECT_EQ(
          std::filesystem::read_symlink("/proc/" + std::to_string(child.pid()) + "/fd/" + std::to_string(fd)),
          "/dev/null")
          << fd;
    }
    ASSERT_TRUE(child.signal(SIGTERM));
    e2e::RunResult r = child.wait(60);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.status, 143);
    EXPECT_EQ(r.out + r.err, "") << "all three descriptors were closed";
    EXPECT_FALSE(canConnect(server->port));
    expectNothingLeft(app.tree, {server->exported});
  }
}

// A restart runs the new image with the dispositions and mask the first one had: a
// signal handled on the way to a restart, or +sig, is not passed on as "ignore".
TEST(ProcessLife, RestartStartsFromTheDispositionsTheLauncherWasGiven) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* mode;
    int signal;  // sent once the first generation is ready; 0: none
  } cases[] = {
      {"hang-up handled, exit method restarts", {}, "wait-restart", SIGHUP},
      {"terminate handled, exit method restarts", {}, "wait-restart", SIGTERM},
      {"+sig hup, restart through main", {"+sig", "hup"}, "restart-return", 0},
      {"restart through System.exit", {}, "restart-exit", 0},
  };
  for (const std::string& jdk : e2e::testInstallations()) {
    for (const Case& c : cases) {
      SCOPED_TRACE(jdk + ": " + c.name);
      LifeTree app("LifeApp", jdk, "options handleexit\nrestartonexit 3\n");
      std::vector<std::string> args = c.args;
      args.push_back(app.tree.path("counter"));
      args.push_back(c.mode);
      Child child = app.tree.start(args, traced());
      if (c.signal != 0) {
        ASSERT_TRUE(child.waitForLine("ready")) << child.out() << child.err();
        ASSERT_TRUE(child.signal(c.signal));
      }
      e2e::RunResult r = child.wait(60);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      ASSERT_TRUE(e2e::hasLine(r.out, "generation 2")) << r.out;
      EXPECT_FALSE(e2e::hasLine(r.out, "generation 3"));
      EXPECT_FALSE(e2e::hasLine(r.out, "Running nohup'd so also ignore SIGINT"));
      // Nothing ignored in either generation but what +sig asks for (the table's "ignore").
      const std::string ignored = c.args.empty() ? "0000000000000000" : "0000000000000001";
      EXPECT_TRUE(e2e::hasLine(r.out, "generation 1 SigIgn:" + ignored)) << r.out;
      EXPECT_TRUE(e2e::hasLine(r.out, "generation 2 SigIgn:" + ignored)) << r.out;
      // The VM blocks what it blocks for its own threads the same way in both.
      for (const std::string& line : e2e::lines(r.out)) {
        if (line.rfind("generation 1 SigBlk:", 0) == 0) {
          EXPECT_TRUE(e2e::hasLine(r.out, "generation 2" + line.substr(12))) << r.out;
        }
      }
      expectNothingLeft(app.tree, e2e::exportFiles(r.out));
    }
  }
}

// Between the VM's end and the process's end (here: the usage text, held up by a full
// standard output) a stop signal ends the process with 128 + its number, and quit does
// nothing.
TEST(ProcessLife, StopSignalAfterTheVMsEndIsNotLost) {
  struct Case {
    bool handleExit;
    bool release25;
    int signal;
    int status;
  } cases[] = {
      {false, false, SIGTERM, 143}, {true, false, SIGTERM, 143}, {true, false, SIGQUIT, 5},
      {false, true, SIGINT, 130},   {true, true, SIGQUIT, 5},    {true, true, SIGHUP, 129},
  };
  const bool have25 = e2e::testInstallations().size() > 1;
  for (const Case& c : cases) {
    if (c.release25 && !have25) continue;
    SCOPED_TRACE(std::string(c.handleExit ? "handleexit" : "no handleexit") +
                 (c.release25 ? ", 25" : ", 17") + ", signal " + std::to_string(c.signal));
    LifeTree app("LifeApp", c.release25 ? kJdk25 : kJdk,
                 std::string(c.handleExit ? "options handleexit\n" : "") + "usageonexit 5\n");
    const std::string counter = app.tree.path("counter");
    Child child = app.tree.start({counter, "fill", "65530"});
    ASSERT_TRUE(child.waitForLine("ready")) << child.out() << child.err();
    child.write("go\n");
    // The main thread blocks writing the usage text to the full pipe: write(1, ...).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (mainThreadSyscall(child.pid()).rfind("1 0x1 ", 0) != 0) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << mainThreadSyscall(child.pid());
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(child.signal(c.signal));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    e2e::RunResult r = child.wait(60);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.err, "");
    expectNothingLeft(app.tree, {});
  }
}

// A stop signal that arrives while the VM is being created (the agent holds it), before
// the launcher's handlers exist, waits for the VM to be up: the application is not
// started, the exported file is removed and the process ends with 128 + its number, on
// both releases (the one without -Xrs would otherwise run its own half-made shutdown). A
// quit is dropped; one the launcher was started with ignored stays ignored.
TEST(ProcessLife, StopSignalBeforeTheHandlersLeavesNoFile) {
  for (const std::string& jdk : e2e::testInstallations()) {
    LifeTree app("LifeApp", jdk, "options handleexit\n");
    const std::string jar = app.tree.path("agent.jar");
    const std::string manifest = app.tree.writeFile("agent.mf", "Premain-Class: SignalAppAgent\n");
    e2e::RunResult packed =
        e2e::runProgram(kJdk + "/bin/jar",
                        {"jar", "cfm", jar, manifest, "-C", app.tree.path("classes"), "SignalAppAgent.class"},
                        Env(), e2e::RunOptions());
    ASSERT_EQ(packed.status, 0) << packed.err;
    app.tree.writeConfig(e2e::readFile(app.tree.path("bin/app.config")) + "vmparam -javaagent:" + jar + "\n");
    for (int sig : {SIGHUP, SIGINT, SIGTERM, SIGQUIT}) {
      SCOPED_TRACE(jdk + ", signal " + std::to_string(sig));
      Child child = app.tree.start({app.tree.path("counter"), "plain"}, traced());
      ASSERT_TRUE(child.waitForLine("agent ready")) << child.out() << child.err();
      const std::vector<std::string> exported = e2e::exportFiles(child.out());
      ASSERT_FALSE(exported.empty());
      EXPECT_TRUE(e2e::fileExists(exported.back()));
      ASSERT_TRUE(child.signal(sig));
      if (sig == SIGQUIT) child.write("go\n");
      e2e::RunResult r = child.wait(60);
      EXPECT_EQ(r.signal, 0);
      EXPECT_EQ(r.status, sig == SIGQUIT ? 2 : 128 + sig) << r.err;
      EXPECT_EQ(e2e::hasLine(r.out, "generation 1"), sig == SIGQUIT) << r.out;
      expectNothingLeft(app.tree, exported);
    }
    // Started with terminate ignored: it stays ignored, and the application runs.
    e2e::RunOptions ignoring;
    ignoring.ignoredSignals = {SIGTERM};
    Child child = app.tree.start({app.tree.path("counter2"), "plain"}, traced(), ignoring);
    ASSERT_TRUE(child.waitForLine("agent ready")) << child.out() << child.err();
    ASSERT_TRUE(child.signal(SIGTERM));
    child.write("go\n");
    e2e::RunResult r = child.wait(60);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(e2e::hasLine(r.out, "generation 1"));
    expectNothingLeft(app.tree, e2e::exportFiles(r.out));
  }
}

// Servers that do not know the launcher, stopped by one SIGTERM with handleexit: the
// one whose main blocks has no exit method; the one whose main returns leaves a
// non-daemon listener. Both end with 143 after their shutdown hook closed the port, and
// nothing but the destroy wait's explanation reaches standard error: for such a server
// this is the ordinary stop.
TEST(ProcessLife, ServersWithoutAnExitMethodStopOnOneTerm) {
  for (const std::string& jdk : e2e::testInstallations()) {
    for (const std::string shape : {"blocking", "returning"}) {
      SCOPED_TRACE(jdk + ", " + shape);
      LifeTree app("PlainServer", jdk, "options handleexit\n");
      const std::string info = app.tree.path("info");
      Child child = app.tree.start({info, shape}, traced());
      ASSERT_TRUE(child.waitForLine("listening")) << child.out() << child.err();
      std::optional<ServerInfo> server = waitForServer(info);
      ASSERT_TRUE(server);
      EXPECT_TRUE(canConnect(server->port));
      if (shape == "returning") {
        ASSERT_TRUE(child.waitForLine("Returned from main class with status 0")) << child.out();
      }
      ASSERT_TRUE(child.signal(SIGTERM));
      e2e::RunResult r = child.wait(60);
      EXPECT_EQ(r.status, 143) << r.err;
      EXPECT_EQ(r.err, shape == "returning" ? kWaiting : std::string());
      EXPECT_TRUE(e2e::hasLine(r.out, noExitMethod(143))) << r.out;
      EXPECT_TRUE(e2e::hasLine(r.out, "hook ran"));
      EXPECT_TRUE(e2e::hasLine(r.out, "Handling signal [15]"));
      EXPECT_TRUE(e2e::hasLine(
          r.out, "Shutting down, trying to invoke \"public static void cleanup(boolean)\" of PlainServer"));
      EXPECT_TRUE(e2e::hasLine(r.out, "VM exited with java.lang.System.exit(143)"));
      EXPECT_FALSE(canConnect(server->port));
      expectNothingLeft(app.tree, {server->exported});
    }
  }
}

// A shutdown hook that never ends keeps the orderly stop from finishing: the second
// interrupt still forces the exit, as the first one's message promises, whether main has
// returned (the destroy wait) or still blocks (the stop became System.exit(130)).
TEST(ProcessLife, SecondInterruptForcesTheExitWhenTheOrderlyStopHangs) {
  const std::string forcing =
      "Forcing process exit before orderly shutdown is complete.\n"
      "Suggest you check carefully that all child processes have completed and all databases "
      "are consistent.\n";
  for (const std::string& jdk : e2e::testInstallations()) {
    for (const std::string shape : {"stuck", "stuck-blocking"}) {
      SCOPED_TRACE(jdk + ", " + shape);
      LifeTree app("PlainServer", jdk, "options handleexit\n");
      const std::string info = app.tree.path("info");
      Child child = app.tree.start({info, shape}, traced());
      std::optional<ServerInfo> server = waitForServer(info);
      ASSERT_TRUE(server) << child.out() << child.err();
      if (shape == "stuck") {
        ASSERT_TRUE(child.waitForLine("Returned from main class with status 0")) << child.out();
      }
      ASSERT_TRUE(child.signal(SIGINT));
      ASSERT_TRUE(child.waitForLine("hook hangs")) << child.out() << child.err();
      ASSERT_TRUE(child.waitForLine("Reinstated Signal Handler")) << child.out() << child.err();
      ASSERT_TRUE(child.signal(SIGINT));
      e2e::RunResult r = child.wait(60);
      EXPECT_EQ(r.status, 1) << r.err;
      EXPECT_TRUE(e2e::hasLine(r.out, noExitMethod(130))) << r.out;
      EXPECT_EQ(r.err, (shape == "stuck" ? kWaiting : std::string()) + forcing);
      expectNothingLeft(app.tree, {server->exported});
    }
  }
}

// Interrupts and quits at random moments from exec to exit, across a restart and the
// destroy wait, 200 runs, four at a time: only the defined statuses, no death by a signal, no hang, no
// file left.
TEST(ProcessLife, StormOfSignalsAcrossWholeLivesGivesOnlyDefinedOutcomes) {
  constexpr int kRuns = 200;
  constexpr int kParallel = 4;
  const std::set<int> defined = {0, 1, 129, 130, 131, 143};
  LifeTree app("LifeApp", kJdk, "options handleexit\nrestartonexit 3\n");

  auto one = [&](int run) {
    std::mt19937 random(static_cast<unsigned>(20261209 + run));
    const std::string counter = app.tree.path("counter" + std::to_string(run));
    // Half the runs leave a thread that the destruction waits for: interrupts then meet
    // the destroy wait, its forced exit and the destroy's return.
    Child child = app.tree.start(
        {counter, run % 2 == 0 ? "restart-exit" : "restart-return", run % 4 < 2 ? "" : "linger"}, traced());
    // Signals from the first instruction of main on: before it the dynamic linker runs,
    // where no program can catch a signal yet.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!handlersArmed(child.pid()) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const int kinds[] = {SIGHUP, SIGINT, SIGTERM, SIGQUIT};
    const int signals = 1 + static_cast<int>(random() % 3);
    for (int i = 0; i < signals; ++i) {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 250000));
      child.signal(kinds[random() % 4]);
    }
    return child.wait(60);
  };

  for (int first = 0; first < kRuns; first += kParallel) {
    std::vector<std::future<e2e::RunResult>> runs;
    for (int run = first; run < first + kParallel; ++run)
      runs.push_back(std::async(std::launch::async, one, run));
    for (int i = 0; i < kParallel; ++i) {
      e2e::RunResult r = runs[static_cast<size_t>(i)].get();
      SCOPED_TRACE("run " + std::to_string(first + i));
      ASSERT_FALSE(r.timedOut) << r.out << r.err;
      ASSERT_EQ(r.signal, 0) << r.out << r.err;
      ASSERT_TRUE(defined.count(r.status) != 0) << r.status << "\n" << r.out << r.err;
      EXPECT_FALSE(contains(r.out, "generation 3\n")) << r.out;
      expectNothingLeft(app.tree, e2e::exportFiles(r.out));
      if (testing::Test::HasFailure()) return;
    }
  }
}
