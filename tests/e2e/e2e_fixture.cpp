// End-to-end fixture: application trees in temporary directories and child processes.
#include "e2e_fixture.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace e2e {

Env::Env() : vars_{{"PATH", "/usr/local/bin:/usr/bin:/bin"}, {"LANG", "C"}} {
  // Restarts without the wait after brief generations, as the tests of restarts expect;
  // the tests of that wait set a curve of their own.
  vars_["LAUNCHER_TEST_RESTART_BACKOFF"] = "0 0 0";
  // A launcher built with sanitizers runs with the options the test run was given.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) vars_[name] = value;
  }
}

Env& Env::set(const std::string& name, const std::string& value) {
  vars_[name] = value;
  return *this;
}

Env& Env::unset(const std::string& name) {
  vars_.erase(name);
  return *this;
}

std::optional<std::string> Env::get(const std::string& name) const {
  auto it = vars_.find(name);
  if (it == vars_.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> Env::entries() const {
  std::vector<std::string> result;
  for (const auto& [name, value] : vars_) result.push_back(name + "=" + value);
  return result;
}

AppTree::AppTree(const std::string& name) : name_(name) {
  char pattern[] = "/tmp/launcher-e2e-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  // World-readable, so that a test can run the tree as an unprivileged user.
  chmod(root_.c_str(), 0755);
  fs::create_directories(bin());
  copyLauncher("bin/" + name_);
}

AppTree::~AppTree() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void AppTree::writeConfig(const std::string& text) const { writeFile("bin/" + name_ + ".config", text); }

std::string AppTree::writeFile(const std::string& relative, const std::string& text, mode_t mode) const {
  std::string full = path(relative);
  fs::create_directories(fs::path(full).parent_path());
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  chmod(full.c_str(), mode);
  return full;
}

std::string AppTree::makeDir(const std::string& relative) const {
  std::string full = path(relative);
  fs::create_directories(full);
  return full;
}

std::string AppTree::copyClasses(const std::string& relative) const {
  std::string full = path(relative);
  fs::create_directories(full);
  fs::copy(javaClassesDir(), full, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  return full;
}

std::string AppTree::copyLauncher(const std::string& relative) const {
  std::string full = path(relative);
  fs::create_directories(fs::path(full).parent_path());
  fs::copy_file(launcherBinary(), full, fs::copy_options::overwrite_existing);
  chmod(full.c_str(), 0755);
  return full;
}

void AppTree::symlink(const std::string& target, const std::string& relative) const {
  std::string full = path(relative);
  fs::create_directories(fs::path(full).parent_path());
  fs::create_symlink(target, full);
}

RunResult AppTree::run(const std::vector<std::string>& args, const Env& env,
                       const RunOptions& options) const {
  return start(args, env, options).wait(options.timeoutSeconds);
}

Child AppTree::start(const std::vector<std::string>& args, const Env& env, const RunOptions& options) const {
  std::vector<std::string> argv;
  argv.push_back(options.argv0.value_or(launcher()));
  argv.insert(argv.end(), args.begin(), args.end());
  RunOptions effective = options;
  if (!effective.cwd) effective.cwd = root_;
  return startProgram(options.program.value_or(launcher()), argv, env, effective);
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& argv, const Env& env,
                     const RunOptions& options) {
  return startProgram(program, argv, env, options).wait(options.timeoutSeconds);
}

Child startProgram(const std::string& program, const std::vector<std::string>& argv, const Env& env,
                   const RunOptions& options) {
  int outPipe[2];
  int errPipe[2];
  int inPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 || pipe2(inPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> envEntries = env.entries();
  std::vector<char*> cargv;
  for (const auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);
  std::vector<char*> cenv;
  for (const auto& e : envEntries) cenv.push_back(const_cast<char*>(e.c_str()));
  cenv.push_back(nullptr);
  // Writing to a child that has ended must fail, not end the test program.
  ::signal(SIGPIPE, SIG_IGN);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(inPipe[0], 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    setpgid(0, 0);
    ::signal(SIGPIPE, SIG_DFL);
    for (int sig : options.ignoredSignals) ::signal(sig, SIG_IGN);
    if (options.cwd && chdir(options.cwd->c_str()) != 0) _exit(126);
    if (options.groups && setgroups(options.groups->size(), options.groups->data()) != 0) _exit(126);
    if (options.uid) {
      if (setgid(65534) != 0 || setuid(*options.uid) != 0) _exit(126);
    }
    // execve with an explicit file: argv[0] may be anything the test chose.
    execve(program.c_str(), cargv.data(), cenv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  close(inPipe[0]);
  Child child(pid, inPipe[1], outPipe[0], errPipe[0]);
  if (options.stdinText) {
    child.write(*options.stdinText);
    child.closeStdin();
  }
  return child;
}

Child::Child(pid_t pid, int in, int out, int err) : pid_(pid), in_(in), out_(out), err_(err) {}

Child::Child(Child&& other) noexcept
    : pid_(other.pid_),
      in_(other.in_),
      out_(other.out_),
      err_(other.err_),
      reaped_(other.reaped_),
      result_(std::move(other.result_)) {
  other.pid_ = -1;
  other.in_ = other.out_ = other.err_ = -1;
  other.reaped_ = true;
}

Child::~Child() {
  if (!reaped_) {
    kill(-pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) close(fd);
  }
}

bool Child::readSome(int timeoutMillis) {
  pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  std::string* sinks[2] = {&result_.out, &result_.err};
  int* owners[2] = {&out_, &err_};
  if (out_ < 0 && err_ < 0) return false;
  int ready = poll(fds, 2, timeoutMillis);
  if (ready < 0 && errno == EINTR) return true;
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    char buffer[8192];
    ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n > 0) {
      sinks[i]->append(buffer, static_cast<size_t>(n));
    } else {
      close(fds[i].fd);
      *owners[i] = -1;
    }
  }
  return out_ >= 0 || err_ >= 0;
}

bool Child::waitUntil(const std::function<bool()>& done, int timeoutSeconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (!done()) {
    auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (remaining.count() <= 0) return false;
    // A short round, so that done() may also look at the child's state, not only its output.
    if (!readSome(static_cast<int>(std::min<long>(remaining.count(), 20)))) return done();
  }
  return true;
}

bool Child::waitForLine(const std::string& line, size_t times, int timeoutSeconds) {
  return waitUntil([&] { return countLines(result_.out, line) + countLines(result_.err, line) >= times; },
                   timeoutSeconds);
}

bool Child::signal(int sig) const { return !reaped_ && kill(pid_, sig) == 0; }

void Child::write(const std::string& text) {
  if (in_ < 0) return;
  ssize_t ignored = ::write(in_, text.data(), text.size());
  (void)ignored;
}

void Child::closeStdin() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

RunResult Child::wait(int timeoutSeconds) {
  closeStdin();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (remaining.count() <= 0) {
      result_.timedOut = true;
      kill(-pid_, SIGKILL);
      break;
    }
    if (!readSome(static_cast<int>(remaining.count()))) break;
  }
  for (int* fd : {&out_, &err_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  if (WIFEXITED(status)) {
    result_.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result_.signal = WTERMSIG(status);
  }
  return result_;
}

std::string makeLegacyJdk(const AppTree& tree, const std::string& library, const std::string& jvmCfg) {
  const std::string lib = "jdk/jre/lib/" + testJdkArch();
  for (const char* tool : {"java", "javac", "tnameserv"})
    tree.writeFile(std::string("jdk/bin/") + tool, "#!/bin/sh\n", 0755);
  tree.writeFile(lib + "/jvm.cfg", jvmCfg);
  std::string bytes = readFile(library);
  tree.writeFile(lib + "/server/libjvm.so", bytes, 0755);
  tree.writeFile(lib + "/server/libjvm_g.so", bytes, 0755);
  return tree.path("jdk");
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool fileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) result.push_back(line);
  return result;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string exportedFile(const std::string& trace) {
  const std::string marker = "\t* Set vantrel.exportenv to <";
  size_t at = trace.rfind(marker);
  if (at == std::string::npos) return {};
  at += marker.size();
  return trace.substr(at, trace.find('>', at) - at);
}

std::vector<std::string> exportFiles(const std::string& trace) {
  std::vector<std::string> files;
  const std::string marker = "\t* Set vantrel.exportenv to <";
  for (const std::string& line : lines(trace)) {
    if (line.rfind(marker, 0) == 0 && line.size() > marker.size()) {
      files.push_back(line.substr(marker.size(), line.size() - marker.size() - 1));
    }
  }
  return files;
}

size_t countLines(const std::string& text, const std::string& line) {
  size_t n = 0;
  for (const auto& l : lines(text)) n += l == line ? 1 : 0;
  return n;
}

bool hasLine(const std::string& text, const std::string& line) {
  for (const auto& l : lines(text)) {
    if (l == line) return true;
  }
  return false;
}

// E2E_LAUNCHER_BINARY runs the tests against another build of the launcher (an older
// commit's, to show that a test catches what it is about).
std::string launcherBinary() {
  const char* other = std::getenv("E2E_LAUNCHER_BINARY");
  return other != nullptr && *other != '\0' ? other : LAUNCHER_BINARY;
}
std::string javaClassesDir() { return JAVA_CLASSES_DIR; }
std::string propertyAgentJar() { return PROPERTY_AGENT_JAR; }
std::string testJdkHome() { return TEST_JDK_HOME; }

std::string jdk25Home() { return "/usr/lib/jvm/temurin-25-jdk-amd64"; }

bool haveJdk25() { return fileExists(jdk25Home() + "/lib/server/libjvm.so"); }

std::vector<std::string> testInstallations() {
  std::vector<std::string> homes = {testJdkHome()};
  if (haveJdk25()) homes.push_back(jdk25Home());
  return homes;
}
std::string testJdkArch() { return TEST_JDK_ARCH; }
std::string fakeJvmLibrary() { return FAKE_JVM_LIBRARY; }
std::string fakeJvmDumpLibrary() { return FAKE_JVM_DUMP_LIBRARY; }
std::string fakeJvmNoJniLibrary() { return FAKE_JVM_NOJNI_LIBRARY; }
std::string fakeJvmForwardLibrary() { return FAKE_JVM_FORWARD_LIBRARY; }
std::string holdShimLibrary() { return HOLD_SHIM_LIBRARY; }

std::optional<uid_t> unprivilegedUid() {
  if (geteuid() != 0) return std::nullopt;
  const passwd* pw = getpwnam("nobody");
  if (pw == nullptr) return std::nullopt;
  return pw->pw_uid;
}

}  // namespace e2e
