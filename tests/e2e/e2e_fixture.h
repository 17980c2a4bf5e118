// End-to-end fixture: builds an application tree in a fresh temporary directory and runs
// the launcher in it with a given argument vector, environment and timeout.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

struct RunResult {
  int status = -1;  // the exit status (0..255), or -1 when killed by a signal
  int signal = 0;   // the signal that ended the process, if any
  bool timedOut = false;
  std::string out;  // standard output
  std::string err;  // standard error
};

// An environment for the child: a small clean base that tests add to or remove from.
class Env {
 public:
  // PATH=/usr/local/bin:/usr/bin:/bin, LANG=C, LAUNCHER_TEST_RESTART_BACKOFF=0 0 0 (no wait
  // before restarts), and ASAN_OPTIONS, UBSAN_OPTIONS when set
  Env();
  Env& set(const std::string& name, const std::string& value);
  Env& unset(const std::string& name);
  std::optional<std::string> get(const std::string& name) const;
  std::vector<std::string> entries() const;

 private:
  std::map<std::string, std::string> vars_;
};

struct RunOptions {
  std::optional<std::string> argv0;    // default: the launcher's full path
  std::optional<std::string> cwd;      // default: the tree's root
  std::optional<std::string> program;  // file to execute; default: the launcher's full path
  int timeoutSeconds = 30;
  std::optional<uid_t> uid;                  // run as this user (the test must be root)
  std::optional<std::vector<gid_t>> groups;  // supplementary groups to start with (root only)
  std::optional<std::string> stdinText;
  std::vector<int> ignoredSignals;  // set to "ignore" in the child before exec, as nohup does
};

// A child process still running: its output so far, waits for what it writes, signals to
// it and its end. The destructor kills and reaps a child that was not waited for.
class Child {
 public:
  Child(pid_t pid, int in, int out, int err);
  ~Child();
  Child(Child&& other) noexcept;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  Child& operator=(Child&&) = delete;

  pid_t pid() const { return pid_; }
  const std::string& out() const { return result_.out; }
  const std::string& err() const { return result_.err; }

  // Reads the child's output until done() holds; false when the output ended or the time
  // ran out first.
  bool waitUntil(const std::function<bool()>& done, int timeoutSeconds = 30);
  // Until the line has appeared whole on standard output or error, that many times.
  bool waitForLine(const std::string& line, size_t times = 1, int timeoutSeconds = 30);
  bool signal(int sig) const;
  // Writes to the child's standard input; closeStdin ends it.
  void write(const std::string& text);
  void closeStdin();
  // Reads to the end of the output and reaps the child; after the timeout the child's
  // process group is killed.
  RunResult wait(int timeoutSeconds = 30);

 private:
  // One poll round over the open outputs; false once both have ended.
  bool readSome(int timeoutMillis);

  pid_t pid_;
  int in_;
  int out_;
  int err_;
  bool reaped_ = false;
  RunResult result_;
};

// A temporary directory holding bin/NAME (a copy of the built launcher) and what the
// test writes into it. Removed again when the tree goes out of scope.
class AppTree {
 public:
  explicit AppTree(const std::string& name = "app");
  ~AppTree();
  AppTree(const AppTree&) = delete;
  AppTree& operator=(const AppTree&) = delete;

  const std::string& root() const { return root_; }
  const std::string& name() const { return name_; }
  std::string bin() const { return root_ + "/bin"; }
  std::string launcher() const { return bin() + "/" + name_; }
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }

  // bin/NAME.config
  void writeConfig(const std::string& text) const;
  // Writes a file below the root, creating its directories; returns its full path.
  std::string writeFile(const std::string& relative, const std::string& text, mode_t mode = 0644) const;
  std::string makeDir(const std::string& relative) const;
  // Copies the compiled test classes into the directory below the root; returns its path.
  std::string copyClasses(const std::string& relative = "classes") const;
  // Another copy of the launcher, e.g. into bin/patches or under another name.
  std::string copyLauncher(const std::string& relative) const;
  void symlink(const std::string& target, const std::string& relative) const;

  RunResult run(const std::vector<std::string>& args, const Env& env = Env(),
                const RunOptions& options = RunOptions()) const;
  // The same, without waiting: the child runs while the test talks to it.
  Child start(const std::vector<std::string>& args, const Env& env = Env(),
              const RunOptions& options = RunOptions()) const;

 private:
  std::string root_;
  std::string name_;
};

// A Java 1.4-style JDK at tree/jdk: bin/java, bin/javac and bin/tnameserv, the jvm.cfg,
// and the stand-in VM library as server/libjvm.so (and its debug twin libjvm_g.so).
std::string makeLegacyJdk(const AppTree& tree, const std::string& library,
                          const std::string& jvmCfg = "-server KNOWN\n");

// Runs any program with the given argv (argv[0] included).
RunResult runProgram(const std::string& program, const std::vector<std::string>& argv, const Env& env,
                     const RunOptions& options);
Child startProgram(const std::string& program, const std::vector<std::string>& argv, const Env& env,
                   const RunOptions& options);

std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// Splits text into lines (without their line feeds).
std::vector<std::string> lines(const std::string& text);
// The trace lines (UTRACE=-p writes them to standard output).
bool hasLine(const std::string& text, const std::string& line);
bool contains(const std::string& text, const std::string& part);
// The exported-environment file named by the last exportenv trace line (a re-exec writes
// one per pass); empty when there is none.
std::string exportedFile(const std::string& trace);
// Every exported-environment file the trace names (one per generation).
std::vector<std::string> exportFiles(const std::string& trace);
// How often the line appears whole in the text.
size_t countLines(const std::string& text, const std::string& line);

// The paths baked in by the build.
std::string launcherBinary();
std::string javaClassesDir();
// A Java agent jar whose argument "name=value;..." sets system properties in premain.
std::string propertyAgentJar();
std::string testJdkHome();
// Release 25, a VM without JVM_DumpAllStacks; tests that use it skip, or leave its cases
// out, when it is not installed.
std::string jdk25Home();
bool haveJdk25();
// The installations a case runs on: the test JDK, and release 25 when it is installed.
std::vector<std::string> testInstallations();
std::string testJdkArch();
std::string fakeJvmLibrary();
std::string fakeJvmDumpLibrary();
std::string fakeJvmNoJniLibrary();
// The stand-in that creates a real VM through FAKE_JVM_REAL_LIBRARY and, with
// FAKE_JVM_STALL_AFTER=n, blocks the (n+1)th CallStaticLongMethod of a daemon-attached
// thread for ever.
std::string fakeJvmForwardLibrary();
// The library that holds the launcher at a moment of its life (tests/shim/hold_shim.cpp).
std::string holdShimLibrary();

// The uid of an unprivileged user for non-root cases (nobody), when running as root.
std::optional<uid_t> unprivilegedUid();

}  // namespace e2e
