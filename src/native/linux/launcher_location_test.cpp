#include "launcher_location.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "process_end.h"
#include "test_support.h"
#include "trace.h"

namespace {

namespace fs = std::filesystem;

// A temporary tree with programs and directories in it.
class Tree : public testsupport::TempDir {
 public:
  std::string executable(const std::string& relative) const { return write(relative, "#!/bin/sh\n", 0700); }
  std::string dir(const std::string& relative) const { return makeDir(relative); }
};

// Puts PATH and the working directory back when the test ends.
class SavedState {
 public:
  SavedState() {
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer) != nullptr) cwd_ = buffer;
  }
  ~SavedState() {
    if (!cwd_.empty() && chdir(cwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << cwd_;
  }

 private:
  testsupport::ScopedEnv path_{"PATH"};
  std::string cwd_;
};

using testsupport::traceOf;

void expectLocation(const std::string& file, const std::string& home) {
  std::string directory = file.substr(0, file.rfind('/'));
  EXPECT_EQ(hmdGetFullLauncherFileName(), file);
  EXPECT_EQ(hmdGetFullLauncherPath(), directory);
  ASSERT_NE(hmdGetApplicationName(), nullptr);
  EXPECT_STREQ(hmdGetApplicationName(), file.substr(file.rfind('/') + 1).c_str());
  EXPECT_EQ(hmdGetApplicationHome(), home);
}

}  // namespace

TEST(LauncherLocation, AbsoluteNameGivesAllFourValuesAndTraces) {
  Tree tree;
  ASSERT_FALSE(tree.root().empty());
  std::string server = tree.executable("opt/app/bin/server");
  std::string home = "unchanged";
  std::string trace = traceOf([&] { EXPECT_TRUE(hmdSetApplicationHome(server, home)); });
  EXPECT_EQ(home, tree.root() + "/opt/app");
  expectLocation(server, tree.root() + "/opt/app");
  EXPECT_EQ(trace, "The full launcher filename and path is set = " + server +
                       "\nThe full launcher path is set = " + tree.root() + "/opt/app/bin\n");
}

TEST(LauncherLocation, PatchesDirectoryAndSymbolicLinks) {
  Tree tree;
  ASSERT_FALSE(tree.root().empty());
  std::string patched = tree.executable("opt/app/bin/patches/server");
  std::string home;
  EXPECT_TRUE(hmdSetApplicationHome(patched, home));
  EXPECT_EQ(home, tree.root() + "/opt/app");
  expectLocation(patched, tree.root() + "/opt/app");

  std::string server = tree.executable("opt/app/bin/server");
  tree.dir("usr/local/bin");
  fs::create_symlink(server, tree.root() + "/usr/local/bin/srv");
  EXPECT_TRUE(hmdSetApplicationHome(tree.root() + "/usr/local/bin/srv", home));
  EXPECT_EQ(home, tree.root() + "/opt/app");
  expectLocation(server, tree.root() + "/opt/app");

  // Dots and doubled separators in the name as given.
  EXPECT_TRUE(hmdSetApplicationHome(tree.root() + "//opt/./app/bin/../bin/server", home));
  expectLocation(server, tree.root() + "/opt/app");
}

TEST(LauncherLocation, BareNameIsSearchedOnPath) {
  SavedState saved;
  Tree tree;
  ASSERT_FALSE(tree.root().empty());
  std::string server = tree.executable("opt/app/bin/server");
  // The current directory holds a 'server' too, but an empty PATH entry does not mean it.
  tree.executable("cwd/server");
  ASSERT_EQ(chdir(tree.dir("cwd").c_str()), 0);
  // A directory and a non-executable file of that name come first and are passed over.
  tree.dir("first/server");
  std::ofstream(tree.dir("second") + "/server") << "not a program";
  std::string path =
      "/nonexistent::" + tree.root() + "/first:" + tree.root() + "/second:" + tree.root() + "/opt/app/bin";
  setenv("PATH", path.c_str(), 1);
  std::string home;
  EXPECT_TRUE(hmdSetApplicationHome("server", home));
  EXPECT_EQ(home, tree.root() + "/opt/app");
  expectLocation(server, tree.root() + "/opt/app");

  // ./server from the launcher's directory.
  ASSERT_EQ(chdir((tree.root() + "/opt/app/bin").c_str()), 0);
  EXPECT_TRUE(hmdSetApplicationHome("./server", home));
  expectLocation(server, tree.root() + "/opt/app");
}

TEST(LauncherLocation, FailuresLeaveTheHomeUntouched) {
  SavedState saved;
  Tree tree;
  ASSERT_FALSE(tree.root().empty());
  std::string home = "unchanged";
  unsetenv("PATH");
  EXPECT_FALSE(hmdSetApplicationHome("server", home));
  setenv("PATH", (":" + tree.dir("empty")).c_str(), 1);
  EXPECT_FALSE(hmdSetApplicationHome("server", home));
  EXPECT_FALSE(hmdSetApplicationHome(tree.root() + "/no/such/server", home));
  EXPECT_EQ(home, "unchanged");
}

TEST(LauncherLocation, LaunchersNearTheRoot) {
  std::string home = "unchanged";
  EXPECT_TRUE(hmdSetLauncherLocation("/bin/server", home));
  EXPECT_EQ(home, "");
  expectLocation("/bin/server", "");

  home = "unchanged";
  EXPECT_TRUE(hmdSetLauncherLocation("/opt/patches/server", home));
  EXPECT_EQ(home, "");

  home = "unchanged";
  EXPECT_FALSE(hmdSetLauncherLocation("/patches/server", home));
  EXPECT_EQ(home, "");
  EXPECT_EQ(hmdGetFullLauncherPath(), "/patches");

  home = "unchanged";
  std::string trace = traceOf([&] { EXPECT_FALSE(hmdSetLauncherLocation("/server", home)); });
  EXPECT_EQ(home, "");
  EXPECT_EQ(hmdGetFullLauncherFileName(), "/server");
  // The directory is empty, so it is neither stored nor traced.
  EXPECT_EQ(trace, "The full launcher filename and path is set = /server\n");

  EXPECT_TRUE(hmdSetLauncherLocation("/a/../opt/./app/bin/server", home));
  expectLocation("/opt/app/bin/server", "/opt/app");
}

TEST(LauncherLocation, GettersCutToTheirLength) {
  std::string home;
  ASSERT_TRUE(hmdSetLauncherLocation("/opt/app/bin/server", home));
  EXPECT_EQ(hmdGetFullLauncherFileName(5), "/opt");
  EXPECT_EQ(hmdGetFullLauncherPath(2), "/");
  EXPECT_EQ(hmdGetFullLauncherFileName(0), "");
  EXPECT_EQ(hmdGetApplicationHome(3), "/op");
  EXPECT_EQ(hmdGetApplicationHome(0), "");
  // An empty text changes nothing.
  hmdSetFullLauncherFileName("");
  hmdSetFullLauncherPath("");
  EXPECT_EQ(hmdGetFullLauncherFileName(), "/opt/app/bin/server");
  EXPECT_EQ(hmdGetFullLauncherPath(), "/opt/app/bin");
  hmdSetApplicationName("plain");
  EXPECT_STREQ(hmdGetApplicationName(), "plain");
  EXPECT_EQ(hmdGetKestrixProperty("anything"), std::nullopt);
}

// A re-executed launcher takes the file handed to it, but only when that file is the one
// it runs; the marker leaves the environment in both cases.
TEST(LauncherLocation, ReexecTakesTheHandedFileWhenItIsTheRunningOne) {
  SavedState saved;
  testsupport::ScopedEnv marker("LAUNCHER_REEXEC_FILE");
  Tree tree;
  ASSERT_FALSE(tree.root().empty());
  std::string running = fs::canonical("/proc/self/exe").string();
  std::string unchanged = "unchanged";
  setenv("PATH", tree.dir("empty").c_str(), 1);

  std::string home;
  hmdSetLauncherLocation(running, home);
  hmdHandLocationToReexec();
  EXPECT_EQ(getenv("LAUNCHER_REEXEC_FILE"), nullptr) << "set only in the re-execution's list";
  const std::vector<std::string> handed = hmdReexecEnvironment();
  hmdProcessEndReset();
  ASSERT_NE(std::find(handed.begin(), handed.end(), "LAUNCHER_REEXEC_FILE=" + running), handed.end());
  setenv("LAUNCHER_REEXEC_FILE", running.c_str(), 1);
  ASSERT_NE(getenv("LAUNCHER_REEXEC_FILE"), nullptr);
  EXPECT_EQ(std::string(getenv("LAUNCHER_REEXEC_FILE")), running);
  EXPECT_TRUE(hmdSetApplicationHome("server", home));
  expectLocation(running, home);
  EXPECT_EQ(getenv("LAUNCHER_REEXEC_FILE"), nullptr);

  for (const std::string& other : {tree.executable("bin/server"), std::string("relative/server")}) {
    setenv("LAUNCHER_REEXEC_FILE", other.c_str(), 1);
    home = unchanged;
    EXPECT_FALSE(hmdSetApplicationHome("server", home)) << other;
    EXPECT_EQ(home, unchanged);
    EXPECT_EQ(getenv("LAUNCHER_REEXEC_FILE"), nullptr);
  }
}
