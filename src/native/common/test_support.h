// What the unit tests share: temporary files and directories, a scoped environment
// variable, trace capture and fixtures that bring the option modules up and down.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

#include "command_line.h"
#include "config_reader.h"
#include "jvm_discovery.h"
#include "jvm_library.h"
#include "jvm_options.h"
#include "launcher_location.h"
#include "trace.h"

namespace testsupport {

// A directory below /tmp, removed with everything in it when the object goes. Its root is
// the resolved name, as the launcher sees it; empty (and the test failed) when it could
// not be made.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/launcher-test-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) {
      root_ = std::filesystem::canonical(pattern).string();
    } else {
      ADD_FAILURE() << "cannot make a temporary directory";
    }
  }
  ~TempDir() {
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& root() const { return root_; }
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }

  // Writes the file, making the directories above it; its full name.
  std::string write(const std::string& relative, const std::string& text = "", mode_t mode = 0644) const {
    std::string full = path(relative);
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    std::ofstream(full, std::ios::binary | std::ios::trunc) << text;
    ::chmod(full.c_str(), mode);
    return full;
  }

  // Makes the directory and those above it; its full name.
  std::string makeDir(const std::string& relative) const {
    std::string full = path(relative);
    std::filesystem::create_directories(full);
    return full;
  }

 private:
  std::string root_;
};

// A file below /tmp holding the content, removed when the object goes.
class TempFile {
 public:
  explicit TempFile(const std::string& content, mode_t mode = 0644) {
    char name[] = "/tmp/launcher-test-XXXXXX";
    int fd = ::mkstemp(name);
    EXPECT_GE(fd, 0);
    if (fd >= 0) ::close(fd);
    path_ = name;
    std::ofstream(path_, std::ios::binary) << content;
    ::chmod(path_.c_str(), mode);
  }
  ~TempFile() { ::unlink(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Sets or clears an environment variable for the life of the object, then puts back what
// was there before. With the name alone it only restores the variable at the end.
class ScopedEnv {
 public:
  explicit ScopedEnv(const char* name) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
  }
  ScopedEnv(const char* name, const std::optional<std::string>& value) : ScopedEnv(name) {
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The trace lines the action writes with tracing switched on; tracing is off afterwards.
inline std::string traceOf(const std::function<void()>& action) {
  ut_treset("-p");
  testing::internal::CaptureStdout();
  action();
  std::string trace = testing::internal::GetCapturedStdout();
  ut_treset(nullptr);
  return trace;
}

// Runs the action, keeping what it wrote on standard error in err; the action's result.
template <typename Action>
auto withStderr(std::string& err, Action&& action) {
  testing::internal::CaptureStderr();
  auto result = action();
  err = testing::internal::GetCapturedStderr();
  return result;
}

// The end-of-central-directory record of an archive, announcing a comment of the given
// length; the comment itself goes after it.
inline std::string archiveEndRecord(size_t commentLength) {
  std::string r("PK\x05\x06", 4);
  r.append(16, '\0');
  r.push_back(static_cast<char>(commentLength & 0xff));
  r.push_back(static_cast<char>(commentLength >> 8));
  return r;
}

// The VM discovery and library state around the VM option list.
class VmModules : public testing::Test {
 protected:
  void SetUp() override {
    jopInit();
    jevTerm();
    jmdReset();
  }
  void TearDown() override {
    jevTerm();
    jmdReset();
    jopTerm();
  }
};

// The argument, configuration and VM option modules, started for a launcher installed
// as /opt/app/bin/server.
class LauncherModules : public testing::Test {
 protected:
  void SetUp() override {
    jevTerm();
    optInit();
    cfgInit();
    jopInit();
    hmdSetFullLauncherFileName("/opt/app/bin/server");
  }
  void TearDown() override {
    jopTerm();
    cfgTerm();
    optTerm();
    jevTerm();
    hmdSetFullLauncherFileName("");
  }
};

// A configuration file in a temporary directory. The derived fixture starts the modules
// it reads with.
class ConfigFileTest : public testing::Test {
 protected:
  std::string file() const { return dir + "/test.config"; }

  // Reads the text as an included file, which makes it the current file: relative
  // paths resolve against the test directory.
  bool include(const std::string& text) const {
    std::ofstream(file(), std::ios::trunc) << text;
    return cfgInclude(file());
  }

  // The same, keeping what it wrote on standard error in err.
  bool read(const std::string& text) {
    return withStderr(err, [&] { return include(text); });
  }

  // A message for line 1 of the file.
  std::string message(const char* format, const std::string& line) const {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, format, line.c_str(), 1, file().c_str());
    return std::string(buffer) + "\n";
  }

  const TempDir temp;
  const std::string dir = temp.root();
  std::string err;
};

}  // namespace testsupport
