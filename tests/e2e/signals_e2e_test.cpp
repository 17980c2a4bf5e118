// End-to-end tests of the signals a real VM's launcher handles: interrupts during main
// call the exit method, interrupts during the destroy wait explain it and then force the
// exit, quit dumps the Java stacks, and nohup, +sig and the two environment switches
// change what is installed. Each signal is sent once the child has said it is ready.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Child;
using e2e::contains;
using e2e::Env;
using e2e::exportedFile;

namespace {

const std::string kJdk = e2e::testJdkHome();
const std::string kJdk25 = e2e::jdk25Home();

// A tree that runs SignalApp on the given installation with the launcher handling
// shutdown, unless the extra configuration says otherwise.
struct SignalTree {
  AppTree tree;
  explicit SignalTree(const std::string& more = "options handleexit\n", const std::string& jdk = kJdk) {
    tree.copyClasses();
    tree.writeConfig("javahome " + jdk + "\nmainclass SignalApp\naddpath ../classes\n" + more);
  }
  Child start(const std::vector<std::string>& args = {}, const Env& env = traced(),
              const e2e::RunOptions& options = e2e::RunOptions()) const {
    return tree.start(args, env, options);
  }

  // Trace lines on standard output; a sanitizer's options reach the launcher too.
  static Env traced() {
    Env env;
    env.set("UTRACE", "-p");
    if (const char* asan = std::getenv("ASAN_OPTIONS")) env.set("ASAN_OPTIONS", asan);
    return env;
  }
};

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

// The index of the first line equal to the text; the line count when there is none.
size_t lineIndex(const std::string& text, const std::string& line) {
  std::vector<std::string> all = e2e::lines(text);
  size_t i = 0;
  while (i < all.size() && all[i] != line) ++i;
  return i;
}

std::string handling(int sig) { return "Handling signal [" + std::to_string(sig) + "]"; }
std::string completed(int sig) { return "Completed handling of signal [" + std::to_string(sig) + "]"; }

// One bit per signal, as /proc/PID/status shows the process's caught and ignored signals.
unsigned long long signalMask(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1), nullptr, 16);
  }
  return 0;
}

bool isArmed(pid_t pid, int sig) {
  const unsigned long long bit = 1ULL << (sig - 1);
  return (signalMask(pid, "SigCgt") & bit) != 0 && (signalMask(pid, "SigIgn") & bit) == 0;
}

bool isIgnored(pid_t pid, int sig) { return (signalMask(pid, "SigIgn") & (1ULL << (sig - 1))) != 0; }

// Sends the signal and waits for its handling to end with the re-arm.
void signalAndWait(Child& child, int sig, size_t rearmed) {
  ASSERT_TRUE(child.signal(sig));
  ASSERT_TRUE(child.waitForLine("Reinstated Signal Handler", rearmed)) << child.out() << child.err();
}

// SIGQUIT twice, each time waiting for a dump that names the application's thread. The
// VM may write its dump while the launcher traces, so lines are counted as text.
void quitDumpsTwice(const std::string& jdk, const std::string& handledBy) {
  SignalTree app("options handleexit\n", jdk);
  Child child = app.start();
  ASSERT_TRUE(child.waitForLine("ready")) << child.err();
  for (size_t dump = 1; dump <= 2; ++dump) {
    SCOPED_TRACE(dump);
    ASSERT_TRUE(child.signal(SIGQUIT));
    ASSERT_TRUE(child.waitUntil([&] {
      return occurrences(child.out(), "\"signal-app-sleeper\"") >= dump &&
             occurrences(child.out(), "Reinstated Signal Handler\n") >= dump;
    })) << child.out()
        << child.err();
  }
  child.write("done\n");
  e2e::RunResult r = child.wait();
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_TRUE(contains(r.out, "cleanups 0\n"));
  EXPECT_EQ(occurrences(r.out, handledBy + "\n"), 2u) << r.out;
  EXPECT_EQ(occurrences(r.out, handling(SIGQUIT)), 0u);
}

}  // namespace

TEST(Signals, InterruptsDuringMainCallTheExitMethodOncePerSignal) {
  SignalTree app;
  Child child = app.start();
  ASSERT_TRUE(child.waitForLine("ready")) << child.err();
  const int sent[] = {SIGINT, SIGTERM, SIGHUP, SIGINT};
  for (size_t i = 0; i < std::size(sent); ++i) {
    SCOPED_TRACE(sent[i]);
    signalAndWait(child, sent[i], i + 1);
    EXPECT_TRUE(e2e::hasLine(child.out(), "cleanup true " + std::to_string(i + 1)));
  }
  child.write("done\n");
  e2e::RunResult r = child.wait();
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(e2e::hasLine(r.out, "cleanups 4"));
  EXPECT_TRUE(e2e::hasLine(r.out, "signalhandler.installed=true"));
  EXPECT_EQ(
      e2e::countLines(r.out,
                      "Shutting down, trying to invoke \"public static void cleanup(boolean)\" of SignalApp"),
      4u);
  EXPECT_EQ(e2e::countLines(r.out, handling(SIGINT)), 2u);
  EXPECT_EQ(e2e::countLines(r.out, completed(SIGTERM)), 1u);
  EXPECT_EQ(e2e::countLines(r.out, completed(SIGHUP)), 1u);
  // -Xrs: the VM leaves the four signals to the launcher.
  EXPECT_TRUE(contains(r.out, "= '-Xrs'"));
}

// A missing exit method stops the application as the VM would: System.exit(128 + n). An
// exit class the configuration names and that is missing, or lacks the method, is a
// mistake said on standard error.
TEST(Signals, ConfiguredExitMethodAndAMissingOne) {
  struct Case {
    const char* config;
    const char* traced;
    std::vector<std::string> calls;
    int status;
    const char* err;
  } cases[] = {
      {"exitclass SignalAppExit.stop()\n",
       "\"public static void stop(boolean)\" of SignalAppExit",
       {"stop true"},
       7,
       ""},
      {"exitclass SignalApp.absent()\n",
       "\"public static void absent(boolean)\" of SignalApp",
       {},
       143,
       "No 'public static void absent(boolean)' method in SignalApp; stopping the application with "
       "System.exit(143).\n"},
      {"exitclass NoSuchExit\n", "\"public static void cleanup(boolean)\" of NoSuchExit", {}, 143,
       "Exit class NoSuchExit not found; stopping the application with System.exit(143).\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    SignalTree app(std::string("options handleexit\n") + c.config);
    Child child = app.start();
    ASSERT_TRUE(child.waitForLine("ready")) << child.err();
    ASSERT_TRUE(child.signal(SIGTERM));
    if (c.status == 7) {
      ASSERT_TRUE(child.waitForLine("Reinstated Signal Handler")) << child.out() << child.err();
      child.write("done\n");
    } else {
      ASSERT_TRUE(child.waitForLine("VM exited with java.lang.System.exit(143)"))
          << child.out() << child.err();
    }
    e2e::RunResult r = child.wait();
    EXPECT_EQ(r.status, c.status) << r.err;
    // The class that is not found is described by the VM first.
    EXPECT_TRUE(r.err.ends_with(c.err)) << r.err;
    if (!std::string(c.err).starts_with("Exit class")) {
      EXPECT_EQ(r.err, c.err);
    }
    EXPECT_TRUE(e2e::hasLine(r.out, std::string("Shutting down, trying to invoke ") + c.traced));
    std::vector<std::string> calls;
    for (const std::string& line : e2e::lines(r.out)) {
      if (line.rfind("stop ", 0) == 0 || line.rfind("cleanup ", 0) == 0) calls.push_back(line);
    }
    EXPECT_EQ(calls, c.calls);
  }
}

TEST(Signals, InterruptsDuringTheDestroyWaitExplainThenForceTheExit) {
  SignalTree app("options handleexit\nexportenv\n");
  Child child = app.start({"linger"});
  ASSERT_TRUE(child.waitForLine("destroy waiting")) << child.out() << child.err();
  const std::string exported = exportedFile(child.out());
  ASSERT_FALSE(exported.empty());
  EXPECT_TRUE(e2e::fileExists(exported)) << child.out();

  signalAndWait(child, SIGINT, 1);
  EXPECT_EQ(child.err(),
            "Shutdown is waiting for all threads to complete. Patience is recommended.\n"
            "If you're sure it's safe to abort, another interrupt will force a process exit.\n");
  EXPECT_TRUE(child.signal(0)) << "the launcher goes on waiting";

  ASSERT_TRUE(child.signal(SIGTERM));
  e2e::RunResult r = child.wait();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Shutdown is waiting for all threads to complete. Patience is recommended.\n"
            "If you're sure it's safe to abort, another interrupt will force a process exit.\n"
            "Forcing process exit before orderly shutdown is complete.\n"
            "Suggest you check carefully that all child processes have completed and all databases are "
            "consistent.\n");
  EXPECT_TRUE(e2e::hasLine(r.out, "Returned from main class with status 7"));
  EXPECT_TRUE(e2e::hasLine(r.out, "C runtime exit() was called"));
  EXPECT_FALSE(e2e::hasLine(r.out, "JVM destroyed"));
  EXPECT_FALSE(e2e::fileExists(exported));
}

// An interrupt while the VM is being created, with the handlers installed before it, is
// not lost: it waits for the VM to be up, and the application is then not started.
TEST(Signals, InterruptBeforeTheVMExistsKeepsTheApplicationFromStarting) {
  SignalTree app("options handleexit\n");
  const std::string jar = app.tree.path("agent.jar");
  const std::string manifest = app.tree.writeFile("agent.mf", "Premain-Class: SignalAppAgent\n");
  e2e::RunResult packed =
      e2e::runProgram(kJdk + "/bin/jar",
                      {"jar", "cfm", jar, manifest, "-C", app.tree.path("classes"), "SignalAppAgent.class"},
                      Env(), e2e::RunOptions());
  ASSERT_EQ(packed.status, 0) << packed.err;
  app.tree.writeConfig(e2e::readFile(app.tree.path("bin/app.config")) + "vmparam -javaagent:" + jar + "\n");

  Child child = app.start({}, SignalTree::traced().set("ZEP_SET_NATIVE_HANDLER", "before"));
  ASSERT_TRUE(child.waitForLine("agent ready")) << child.out() << child.err();
  EXPECT_TRUE(e2e::hasLine(child.out(), "Installed Signal Handler"));
  EXPECT_FALSE(e2e::hasLine(child.out(), "JVM created"));
  ASSERT_TRUE(child.signal(SIGINT));
  child.write("go\n");
  e2e::RunResult r = child.wait();
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(e2e::hasLine(r.out, "Signal [2] arrived while the VM was created")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "Signal [2] came before the application started; it is not started"))
      << r.out;
  EXPECT_FALSE(e2e::hasLine(r.out, "ready"));
  EXPECT_FALSE(e2e::hasLine(r.out, "Not running so skipping shutdown"));
  EXPECT_EQ(e2e::countLines(r.out, "Installed Signal Handler"), 1u);
}

TEST(Signals, QuitDumpsTheStacksThroughTheLauncher) { quitDumpsTwice(kJdk, "Dumping all Java Stacks"); }

TEST(Signals, QuitGoesToTheVMsOwnHandlerWithoutAStackDumpEntry) {
  if (!e2e::haveJdk25()) GTEST_SKIP() << "no release 25 installation";
  quitDumpsTwice(kJdk25, "Delegating to previous signal handler");
}

TEST(Signals, InterruptsOfAVMWithoutAStackDumpEntryCallTheExitMethod) {
  if (!e2e::haveJdk25()) GTEST_SKIP() << "no release 25 installation";
  SignalTree app("options handleexit\n", kJdk25);
  Child child = app.start();
  ASSERT_TRUE(child.waitForLine("ready")) << child.err();
  signalAndWait(child, SIGINT, 1);
  signalAndWait(child, SIGTERM, 2);
  child.write("done\n");
  e2e::RunResult r = child.wait();
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "cleanups 2"));
  EXPECT_FALSE(contains(r.out, "= '-Xrs'"));
}

TEST(Signals, UnderNohupHangupAndInterruptStayIgnored) {
  for (bool handleExit : {true, false}) {
    SCOPED_TRACE(handleExit ? "handleexit" : "no handleexit");
    SignalTree app(handleExit ? "options handleexit\n" : "");
    e2e::RunOptions nohup;
    nohup.ignoredSignals = {SIGHUP};
    Child child = app.start({}, SignalTree::traced(), nohup);
    ASSERT_TRUE(child.waitForLine("ready")) << child.err();
    EXPECT_TRUE(isIgnored(child.pid(), SIGINT));
    EXPECT_TRUE(isIgnored(child.pid(), SIGHUP));
    ASSERT_TRUE(child.signal(SIGINT));
    ASSERT_TRUE(child.signal(SIGHUP));
    ASSERT_TRUE(child.signal(SIGTERM));
    e2e::RunResult r;
    if (handleExit) {
      ASSERT_TRUE(child.waitForLine("Reinstated Signal Handler"));
      child.write("done\n");
      r = child.wait();
      EXPECT_EQ(r.status, 7) << r.err;
      EXPECT_TRUE(e2e::hasLine(r.out, "cleanups 1"));
      EXPECT_TRUE(e2e::hasLine(r.out, "Installed Signal Handler"));
    } else {
      // Nothing installed: terminate goes to the VM's own handling, which exits 128+15.
      ASSERT_TRUE(child.waitForLine("VM exited with java.lang.System.exit(143)"))
          << child.out() << child.err();
      r = child.wait();
      EXPECT_EQ(r.status, 143) << r.err;
      EXPECT_FALSE(e2e::hasLine(r.out, "Installed Signal Handler"));
      EXPECT_TRUE(e2e::hasLine(r.out, "signalhandler.installed=null"));
    }
    EXPECT_TRUE(e2e::hasLine(r.out, "Running nohup'd so also ignore SIGINT"));
    EXPECT_EQ(e2e::countLines(r.out, handling(SIGINT)), 0u);
    EXPECT_EQ(e2e::countLines(r.out, handling(SIGHUP)), 0u);
  }
}

TEST(Signals, SigOptionMarksSignalsIgnored) {
  SignalTree app;
  Child child = app.start({"+sig", "term,HUP"});
  ASSERT_TRUE(child.waitForLine("ready")) << child.err();
  EXPECT_TRUE(isIgnored(child.pid(), SIGTERM));
  EXPECT_TRUE(isIgnored(child.pid(), SIGHUP));
  ASSERT_TRUE(child.signal(SIGTERM));
  ASSERT_TRUE(child.signal(SIGHUP));
  signalAndWait(child, SIGINT, 1);
  child.write("done\n");
  e2e::RunResult r = child.wait();
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "Ignoring sigterm"));
  EXPECT_TRUE(e2e::hasLine(r.out, "Ignoring sighup"));
  EXPECT_TRUE(e2e::hasLine(r.out, "cleanups 1"));
  EXPECT_EQ(e2e::countLines(r.out, handling(SIGTERM)) + e2e::countLines(r.out, handling(SIGHUP)), 0u);
}

TEST(Signals, NativeAndJavaHandlerSwitches) {
  struct Case {
    const char* native;  // ZEP_SET_NATIVE_HANDLER, null for unset
    const char* java;    // ZEP_SET_JAVA_HANDLER, null for unset
    int installed;       // -1 before the VM, 1 after it, 0 not at all
    bool property;
  } cases[] = {
      {nullptr, nullptr, 1, true}, {"before", nullptr, -1, true}, {"After", nullptr, 1, true},
      {"later", nullptr, 0, true}, {nullptr, "yes", 1, false},
  };
  SignalTree app;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.native ? c.native : "(unset)") + " / " + (c.java ? c.java : "(unset)"));
    Env env = SignalTree::traced();
    if (c.native) env.set("ZEP_SET_NATIVE_HANDLER", c.native);
    if (c.java) env.set("ZEP_SET_JAVA_HANDLER", c.java);
    e2e::RunOptions options;
    options.stdinText = "done\n";
    e2e::RunResult r = app.tree.run({}, env, options);
    EXPECT_EQ(r.status, 7) << r.err;
    const size_t installedAt = lineIndex(r.out, "Installed Signal Handler");
    const size_t createdAt = lineIndex(r.out, "JVM created");
    ASSERT_LT(createdAt, e2e::lines(r.out).size());
    EXPECT_EQ(e2e::countLines(r.out, "Installed Signal Handler"), c.installed == 0 ? 0u : 1u);
    if (c.installed == -1) {
      EXPECT_LT(installedAt, createdAt);
    } else if (c.installed == 1) {
      EXPECT_GT(installedAt, createdAt);
    }
    EXPECT_TRUE(
        e2e::hasLine(r.out, std::string("signalhandler.installed=") + (c.property ? "true" : "null")));
    EXPECT_EQ(e2e::hasLine(r.out, "Turn off Java Shutdown Hooks"), c.property);
  }
}

TEST(Signals, BurstOfInterruptsDuringMain) {
  SignalTree app;
  Child child = app.start();
  ASSERT_TRUE(child.waitForLine("ready")) << child.err();
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(child.signal(SIGINT));
    ASSERT_TRUE(child.signal(SIGTERM));
  }
  // Quiet again: nothing pending, both signals armed, every handling finished; twice in a
  // row, as a signal just taken from the queue shows nowhere until its handler runs.
  auto handled = [&] {
    return e2e::countLines(child.out(), handling(SIGINT)) + e2e::countLines(child.out(), handling(SIGTERM));
  };
  int quietRounds = 0;
  ASSERT_TRUE(child.waitUntil([&] {
    const unsigned long long pending =
        signalMask(child.pid(), "ShdPnd") & ((1ULL << (SIGINT - 1)) | (1ULL << (SIGTERM - 1)));
    const bool quiet = pending == 0 && isArmed(child.pid(), SIGINT) && isArmed(child.pid(), SIGTERM) &&
                       e2e::countLines(child.out(), "Reinstated Signal Handler") == handled();
    quietRounds = quiet ? quietRounds + 1 : 0;
    return quietRounds >= 2;
  })) << child.out()
      << child.err();
  child.write("done\n");
  e2e::RunResult r = child.wait();
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_EQ(r.err, "");
  size_t calls = 0;
  for (const std::string& line : e2e::lines(r.out)) calls += line.rfind("cleanup true ", 0) == 0 ? 1 : 0;
  EXPECT_GE(calls, 1u);
  EXPECT_LE(calls, handled());
  EXPECT_LE(handled(), 200u);
  EXPECT_TRUE(e2e::hasLine(r.out, "cleanups " + std::to_string(calls)));
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM destroyed"));
}

// A thousand signals of the four kinds at random moments, first while main runs, then
// while the destruction waits for a thread that never ends: only the outcomes the
// handling defines, no crash, no hang, no thread left behind.
TEST(Signals, ThousandSignalsAtRandomMomentsGiveOnlyTheDefinedOutcomes) {
  SignalTree app;
  Child child = app.start({"linger-after-done"});
  ASSERT_TRUE(child.waitForLine("ready")) << child.err();
  // The launcher's own threads keep the process's name; the VM names each of its own.
  auto launcherThreads = [&] {
    size_t n = 0;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(child.pid()) + "/task")) {
      n += e2e::readFile(task.path().string() + "/comm") == app.tree.name() + "\n" ? 1 : 0;
    }
    return n;
  };

  std::mt19937 random(20261209);
  const int kinds[] = {SIGHUP, SIGINT, SIGTERM, SIGHUP, SIGINT, SIGTERM, SIGHUP, SIGINT, SIGTERM, SIGQUIT};
  auto sendRandom = [&] {
    const int sig = kinds[random() % std::size(kinds)];
    const bool sent = child.signal(sig);
    ::usleep(random() % 800);
    return sent;
  };
  for (int i = 0; i < 900; ++i) ASSERT_TRUE(sendRandom());

  // Quiet again: nothing pending, every signal armed, every handling finished and its
  // worker gone; twice in a row, as a signal just taken from the queue shows nowhere yet.
  const int all[] = {SIGHUP, SIGINT, SIGTERM, SIGQUIT};
  int quietRounds = 0;
  ASSERT_TRUE(child.waitUntil([&] {
    bool quiet = occurrences(child.out(), "Completed handling of signal [") ==
                 occurrences(child.out(), "Reinstated Signal Handler\n");
    for (int sig : all) {
      quiet = quiet && isArmed(child.pid(), sig) &&
              (signalMask(child.pid(), "ShdPnd") & (1ULL << (sig - 1))) == 0;
      if (sig != SIGQUIT)
        quiet = quiet && occurrences(child.out(), handling(sig)) == occurrences(child.out(), completed(sig));
    }
    quietRounds = quiet ? quietRounds + 1 : 0;
    return quietRounds >= 2;
  })) << child.err();
  // No worker is left: the main thread and the signal watcher remain.
  EXPECT_EQ(launcherThreads(), 2u);

  // Main returns; the destruction waits, and the rest of the signals end the process.
  child.write("done\n");
  ASSERT_TRUE(child.waitUntil([&] { return contains(child.out(), "destroy waiting\n"); })) << child.err();
  for (int i = 0; i < 100 && sendRandom(); ++i) {
  }
  e2e::RunResult r = child.wait();
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(occurrences(r.err, "Shutdown is waiting for all threads to complete. Patience is recommended.\n"),
            1u)
      << r.err;
  EXPECT_EQ(occurrences(r.err, "Forcing process exit before orderly shutdown is complete.\n"), 1u) << r.err;
  const size_t interrupts = occurrences(r.out, handling(SIGHUP)) + occurrences(r.out, handling(SIGINT)) +
                            occurrences(r.out, handling(SIGTERM));
  // Every call came before main returned, but the one that the first interrupt of the
  // destroy wait makes (which the forced exit may overtake).
  const size_t calls = occurrences(r.out, "cleanup true ");
  EXPECT_GE(calls, 1u);
  EXPECT_LE(calls, interrupts);
  EXPECT_TRUE(contains(r.out, "cleanups " + std::to_string(calls) + "\n") ||
              contains(r.out, "cleanups " + std::to_string(calls - 1) + "\n"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "Returned from main class with status 7\n"));
  EXPECT_FALSE(contains(r.out, "JVM destroyed"));
}
