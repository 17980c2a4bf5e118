// Tests of the signal table without a VM: the names, the nohup rule, when the table is
// installed, the dispositions it installs and restores, and signals raised in this
// process travelling through the watcher to a worker.
#include "signals.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "jvm_discovery.h"
#include "jvm_options.h"
#include "launch_sequence.h"
#include "option_directives.h"
#include "test_support.h"
#include "trace.h"

namespace {

constexpr const char* kJdkHome = "/usr/lib/jvm/java-17-openjdk-amd64";
constexpr std::array<int, 4> kTableSignals = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// Trace lines written by any thread, collected in a file that stands in for standard
// output, so a test can wait for a line that a worker writes later.
class TraceCapture {
 public:
  TraceCapture() {
    std::fflush(stdout);
    saved_ = dup(1);
    int fd = open(file_.path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    dup2(fd, 1);
    close(fd);
    ut_treset("-p");
  }
  // Failure messages written meanwhile are in the file too; they are shown then.
  ~TraceCapture() {
    ut_treset(nullptr);
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    if (testing::Test::HasFailure()) std::fputs(readAll().c_str(), stdout);
  }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::string text = readAll();
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      result.push_back(text.substr(start, end - start));
    }
    return result;
  }

  size_t count(const std::string& line) const {
    size_t n = 0;
    for (const std::string& l : lines()) n += l == line ? 1 : 0;
    return n;
  }

  // Waits up to ten seconds for the line to have been written the given number of times.
  bool waitFor(const std::string& line, size_t times = 1) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (count(line) < times) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

 private:
  std::string readAll() const {
    std::ifstream in(file_.path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  testsupport::TempFile file_{""};
  int saved_ = -1;
};

struct sigaction dispositionOf(int signal) {
  struct sigaction action {};
  sigaction(signal, nullptr, &action);
  return action;
}

bool isLauncherHandler(int signal) {
  struct sigaction action = dispositionOf(signal);
  return (action.sa_flags & SA_SIGINFO) != 0 && action.sa_sigaction == hmdSignalHandler;
}

bool isIgnored(int signal) {
  struct sigaction action = dispositionOf(signal);
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

bool isDefault(int signal) {
  struct sigaction action = dispositionOf(signal);
  return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_DFL;
}

void setDisposition(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

std::atomic<int> previousQuitCalls{0};
void previousQuitHandler(int) { previousQuitCalls.fetch_add(1); }
void previousTermHandler(int) {}

size_t threadCount() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// The configuration and option modules, the table at its start state, and the test
// process's dispositions of the four signals put back afterwards.
class Signals : public testsupport::LauncherModules {
 protected:
  void SetUp() override {
    LauncherModules::SetUp();
    hmdSignalsReset();
    hmdSetSignalActions(japSignalActions());
    for (size_t i = 0; i < kTableSignals.size(); ++i) {
      sigaction(kTableSignals[i], nullptr, &saved_[i]);
      setDisposition(kTableSignals[i], SIG_DFL);
    }
  }
  void TearDown() override {
    hmdSignalsReset();
    for (size_t i = 0; i < kTableSignals.size(); ++i) sigaction(kTableSignals[i], &saved_[i], nullptr);
    LauncherModules::TearDown();
  }

  static void handleExit() { ASSERT_TRUE(cfgOptionsCmd("handleexit")); }

  std::array<struct sigaction, 4> saved_{};
  testsupport::ScopedEnv nativeHandler_{"ZEP_SET_NATIVE_HANDLER", std::nullopt};
  testsupport::ScopedEnv javaHandler_{"ZEP_SET_JAVA_HANDLER", std::nullopt};
};

TEST(SignalNames, NamesMatchIgnoringCase) {
  hmdSignalsReset();
  EXPECT_TRUE(hmdSetSignalIgnore("HUP"));
  EXPECT_TRUE(hmdSetSignalIgnore("Quit"));
  EXPECT_TRUE(hmdIsSignalIgnored("hup"));
  EXPECT_TRUE(hmdIsSignalIgnored("QUIT"));
  EXPECT_FALSE(hmdIsSignalIgnored("int"));
  EXPECT_FALSE(hmdIsSignalIgnored("term"));
  for (const char* bad : {"usr1", "", "hu", "hupx", "sighup"}) EXPECT_FALSE(hmdSetSignalIgnore(bad)) << bad;
  hmdSignalsReset();
  EXPECT_FALSE(hmdIsSignalIgnored("hup"));
}

TEST_F(Signals, InstalledAfterTheVMAndRestoredAfterItsDestruction) {
  handleExit();
  setDisposition(SIGTERM, previousTermHandler);
  ASSERT_TRUE(hmdSetSignalIgnore("quit"));
  TraceCapture trace;
  EXPECT_EQ(hmdBeforeCreateJVM(), 0);
  EXPECT_TRUE(isDefault(SIGINT));
  EXPECT_EQ(hmdAfterCreateJVM(), 0);
  EXPECT_TRUE(isLauncherHandler(SIGHUP));
  EXPECT_TRUE(isLauncherHandler(SIGINT));
  EXPECT_TRUE(isIgnored(SIGQUIT));
  EXPECT_TRUE(isLauncherHandler(SIGTERM));
  EXPECT_EQ(trace.lines(),
            (std::vector<std::string>{"Installed Signal Handler", "Turn off Java Shutdown Hooks"}));

  EXPECT_EQ(hmdAfterDestoryJVM(), 0);
  EXPECT_TRUE(isDefault(SIGHUP));
  EXPECT_TRUE(isDefault(SIGINT));
  EXPECT_TRUE(isDefault(SIGQUIT));
  EXPECT_EQ(dispositionOf(SIGTERM).sa_handler, previousTermHandler);
}

TEST_F(Signals, NohupIgnoresInterruptWithAndWithoutHandleExit) {
  for (bool handle : {false, true}) {
    SCOPED_TRACE(handle ? "handleexit" : "no handleexit");
    hmdSignalsReset();
    cfgTerm();
    cfgInit();
    if (handle) handleExit();
    setDisposition(SIGHUP, SIG_IGN);
    setDisposition(SIGINT, SIG_DFL);
    TraceCapture trace;
    hmdBeforeCreateJVM();
    EXPECT_TRUE(isIgnored(SIGINT));
    hmdAfterCreateJVM();
    EXPECT_TRUE(isIgnored(SIGHUP));
    EXPECT_TRUE(isIgnored(SIGINT));
    EXPECT_EQ(isLauncherHandler(SIGTERM), handle);
    EXPECT_EQ(isLauncherHandler(SIGQUIT), handle);
    EXPECT_TRUE(hmdIsSignalIgnored("hup"));
    EXPECT_TRUE(hmdIsSignalIgnored("int"));
    std::vector<std::string> expected = {"Running nohup'd so also ignore SIGINT"};
    if (handle) expected.insert(expected.end(), {"Installed Signal Handler", "Turn off Java Shutdown Hooks"});
    EXPECT_EQ(trace.lines(), expected);
    hmdAfterDestoryJVM();
    EXPECT_TRUE(isIgnored(SIGINT));
    EXPECT_TRUE(isDefault(SIGTERM));
  }
}

TEST_F(Signals, NativeAndJavaHandlerSwitches) {
  struct Case {
    std::optional<std::string> native;
    std::optional<std::string> java;
    bool installedBefore;
    bool installedAfter;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, false, true},
      {"after", std::nullopt, false, true},
      {"AFTER", "1", false, true},
      {"Before", std::nullopt, true, true},
      {"before", "", true, true},
      {"never", std::nullopt, false, false},
  };
  handleExit();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.native.value_or("(unset)") + " / " + c.java.value_or("(unset)"));
    hmdSignalsReset();
    setDisposition(SIGTERM, SIG_DFL);
    testsupport::ScopedEnv native("ZEP_SET_NATIVE_HANDLER", c.native);
    testsupport::ScopedEnv java("ZEP_SET_JAVA_HANDLER", c.java);
    TraceCapture trace;
    hmdBeforeCreateJVM();
    EXPECT_EQ(isLauncherHandler(SIGTERM), c.installedBefore);
    const size_t installedEarly = trace.count("Installed Signal Handler");
    hmdAfterCreateJVM();
    EXPECT_EQ(isLauncherHandler(SIGTERM), c.installedAfter);
    EXPECT_EQ(installedEarly, c.installedBefore ? 1u : 0u);
    EXPECT_EQ(trace.count("Installed Signal Handler"), c.installedAfter ? 1u : 0u);
    EXPECT_EQ(trace.count("Turn off Java Shutdown Hooks"), c.java ? 0u : 1u);
    hmdAfterDestoryJVM();
    EXPECT_TRUE(isDefault(SIGTERM));
  }
}

TEST_F(Signals, NothingInstalledWithoutHandleExit) {
  TraceCapture trace;
  hmdBeforeCreateJVM();
  hmdAfterCreateJVM();
  for (int signal : kTableSignals) EXPECT_TRUE(isDefault(signal)) << signal;
  EXPECT_TRUE(trace.lines().empty());
}

TEST_F(Signals, InterruptReachesAWorkerAndIsRearmed) {
  handleExit();
  hmdAfterCreateJVM();
  TraceCapture trace;
  size_t handled = 0;
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGTERM}) {
    SCOPED_TRACE(signal);
    const size_t before = trace.lines().size();
    ASSERT_EQ(kill(getpid(), signal), 0);
    ASSERT_TRUE(trace.waitFor("Reinstated Signal Handler", ++handled));
    std::vector<std::string> lines = trace.lines();
    EXPECT_EQ(
        std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end()),
        (std::vector<std::string>{
            "Handling signal [" + std::to_string(signal) + "]", "Not running so skipping shutdown",
            "Signal [" + std::to_string(signal) + "] held until the application can be stopped",
            "Completed handling of signal [" + std::to_string(signal) + "]", "Reinstated Signal Handler"}));
    EXPECT_TRUE(isLauncherHandler(signal));
  }
}

TEST_F(Signals, QuitWithoutStackDumpGoesToThePreviousHandler) {
  handleExit();
  struct Case {
    void (*previous)(int);
    const char* line;
    int calls;
  };
  for (const Case& c : {Case{previousQuitHandler, "Delegating to previous signal handler", 1},
                        Case{SIG_DFL, "No signal handler to delegate to", 0}}) {
    SCOPED_TRACE(c.line);
    hmdSignalsReset();
    previousQuitCalls = 0;
    setDisposition(SIGQUIT, c.previous);
    hmdAfterCreateJVM();
    TraceCapture trace;
    ASSERT_EQ(kill(getpid(), SIGQUIT), 0);
    ASSERT_TRUE(trace.waitFor("Reinstated Signal Handler"));
    EXPECT_EQ(trace.lines(), (std::vector<std::string>{c.line, "Reinstated Signal Handler"}));
    EXPECT_EQ(previousQuitCalls.load(), c.calls);
    EXPECT_TRUE(isLauncherHandler(SIGQUIT));
  }
}

TEST_F(Signals, QuitWithAStackDumpGoesToAWorker) {
  // The test installation's VM exports JVM_DumpAllStacks; no VM is created from it.
  jopSetJavaPath(std::string(kJdkHome) + "/lib/server/libjvm.so");
  ASSERT_TRUE(jevInit());
  ASSERT_NE(jevGetInvocationFunction().dumpAllStacks, nullptr);
  handleExit();
  hmdAfterCreateJVM();
  TraceCapture trace;
  ASSERT_EQ(kill(getpid(), SIGQUIT), 0);
  ASSERT_TRUE(trace.waitFor("Reinstated Signal Handler"));
  EXPECT_EQ(trace.lines(),
            (std::vector<std::string>{"Dumping all Java Stacks", "Completed handling of signal [3]",
                                      "Reinstated Signal Handler"}));
  EXPECT_TRUE(isLauncherHandler(SIGQUIT));
}

TEST_F(Signals, WorkerAfterRestoreDoesNotRearm) {
  handleExit();
  hmdAfterCreateJVM();
  hmdAfterDestoryJVM();
  TraceCapture trace;
  EXPECT_EQ(hmdSignalHandlerThread(SIGINT), 0);
  EXPECT_EQ(trace.lines(), (std::vector<std::string>{"Not running so skipping shutdown",
                                                     "Signal [2] held until the application can be stopped",
                                                     "Completed handling of signal [2]"}));
  EXPECT_TRUE(isDefault(SIGINT));
}

TEST_F(Signals, BurstOfInterruptsLeavesNoThreadBehind) {
  const size_t threadsAtStart = threadCount();
  handleExit();
  hmdAfterCreateJVM();
  TraceCapture trace;
  for (int i = 0; i < 100; ++i) {
    kill(getpid(), SIGINT);
    kill(getpid(), SIGTERM);
  }
  // Every handling ends with its re-arm; wait until both signals are armed again.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(isLauncherHandler(SIGINT) && isLauncherHandler(SIGTERM) &&
           trace.count("Handling signal [2]") + trace.count("Handling signal [15]") ==
               trace.count("Reinstated Signal Handler"))) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const size_t handled = trace.count("Reinstated Signal Handler");
  EXPECT_GE(handled, 1u);
  EXPECT_LE(handled, 200u);
  EXPECT_EQ(trace.count("Not running so skipping shutdown"), handled);

  hmdSignalsReset();
  deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (threadCount() > threadsAtStart) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << threadCount() << " threads";
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  for (int signal : kTableSignals) EXPECT_TRUE(isDefault(signal)) << signal;
}

}  // namespace
