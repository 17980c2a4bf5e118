// End-to-end tests of what operators meet: a re-executed launcher that finds itself, the
// environment the application and its children inherit, heap shares under a control
// group's memory limit, and the messages of launches that cannot start.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;
using e2e::RunOptions;

namespace {

const std::string kJdk25 = e2e::jdk25Home();

std::string appConfig(const std::string& home, const std::string& mainClass) {
  return "javahome " + home + "\naddpath ../classes\nmainclass " + mainClass + "\n";
}

// The lines of the output that begin with the prefix, without it.
std::vector<std::string> linesAfter(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : e2e::lines(text)) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line.substr(prefix.size()));
  }
  return found;
}

// Variables only the launcher sets for its own passes; none may reach the application.
void expectNoLauncherVariables(const std::vector<std::string>& environment) {
  for (const std::string& entry : environment) {
    EXPECT_NE(entry.rfind("LAUNCHER_LIBRARY_PATH_REEXEC=", 0), 0u) << entry;
    EXPECT_NE(entry.rfind("LAUNCHER_REEXEC_FILE=", 0), 0u) << entry;
    EXPECT_NE(entry.rfind("LAUNCHER_ENV_CHECKED=", 0), 0u) << entry;
  }
}

}  // namespace

// Started by bare name through PATH, with a configuration that exports another PATH: the
// library-path re-exec and every restart find the same file and home as the first pass.
TEST(OperatorLocation, ReexecAndRestartFindTheLauncherWhateverPathTheConfigurationSets) {
  const std::string home = e2e::testJdkHome();
  AppTree tree;
  tree.copyClasses();
  tree.writeConfig(appConfig(home, "RunProbe") + "restartonexit 3\nexport PATH=/opt/app/tools\n");
  const std::string generations = tree.path("generations");
  RunOptions options;
  options.argv0 = tree.name();
  options.cwd = tree.path("classes");
  Env env = Env().set("UTRACE", "-p").set("PATH", tree.bin() + ":/usr/bin:/bin");
  auto r = tree.run({"restart", generations, "3", "3", "status"}, env, options);
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(e2e::lines(e2e::readFile(generations)).size(), 3u);
  // Each pass (the first, the library-path re-exec when it had to happen, two restarts).
  EXPECT_GE(e2e::countLines(r.out, "The full launcher filename and path is set = " + tree.launcher()), 3u)
      << r.out.substr(0, 4000);
  EXPECT_EQ(r.out.find("Can't get home directory"), std::string::npos);
  // One library-path re-exec, then the two restarts, which inherit the completed path.
  EXPECT_EQ(linesAfter(r.out, "Exec'ing '").size(), 3u) << r.out.substr(0, 4000);
}

// The application sees the operator's environment with the VM's library directories, and
// nothing the launcher set for its own passes; a second launcher it starts for another
// installation starts normally.
TEST(OperatorEnvironment, ApplicationAndItsChildrenInheritNoLauncherVariables) {
  const std::string home = e2e::testJdkHome();
  AppTree tree("server");
  tree.copyClasses();
  tree.writeConfig(appConfig(home, "OperatorProbe"));

  auto r = tree.run({"env"}, Env().set("LD_LIBRARY_PATH", "/usr/lib"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> environment = linesAfter(r.out, "env|");
  ASSERT_FALSE(environment.empty()) << r.out;
  expectNoLauncherVariables(environment);
  const std::string libraries = "LD_LIBRARY_PATH=" + home + "/lib/server:" + home + "/lib";
  EXPECT_TRUE(std::find_if(environment.begin(), environment.end(), [&](const std::string& e) {
                return e.rfind(libraries, 0) == 0;
              }) != environment.end())
      << r.out;

  // The operator's own setting stays as given.
  r = tree.run({"env"}, Env()
                            .set("LAUNCHER_ENV_CHECKED", "true")
                            .set("LD_LIBRARY_PATH", home + "/lib/server:" + home + "/lib"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "env|LAUNCHER_ENV_CHECKED=true")) << r.out;

  if (!e2e::haveJdk25()) GTEST_SKIP() << "no release 25 installation";
  const std::string tool = tree.copyLauncher("bin/tool");
  tree.writeFile("bin/tool.config", appConfig(kJdk25, "OperatorProbe"));
  r = tree.run({"spawn", tool, "env"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "child-status=0")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "child|java.home=" + kJdk25)) << r.out;
  EXPECT_EQ(r.out.find("Unable to start with setuid to root privileges."), std::string::npos) << r.out;
  std::vector<std::string> childEnvironment = linesAfter(r.out, "child|env|");
  ASSERT_FALSE(childEnvironment.empty()) << r.out;
  expectNoLauncherVariables(childEnvironment);
}

namespace {

// A child memory control group of this process's own, removed again at the end; empty
// when the machine does not let a test make one (no root, no memory controller there).
class MemoryGroup {
 public:
  explicit MemoryGroup(uint64_t limit) {
    if (geteuid() != 0) return;
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    std::string v1;
    std::string v2;
    while (std::getline(in, line)) {
      size_t first = line.find(':');
      size_t second = line.find(':', first + 1);
      if (first == std::string::npos || second == std::string::npos) continue;
      std::string controllers = line.substr(first + 1, second - first - 1);
      std::string path = line.substr(second + 1);
      if ((',' + controllers + ',').find(",memory,") != std::string::npos) v1 = path;
      if (line.compare(0, 3, "0::") == 0) v2 = path;
    }
    const std::string name = "/launcher-e2e-" + std::to_string(getpid()) + "-" + std::to_string(limit);
    if (!v1.empty()) {
      tryMake("/sys/fs/cgroup/memory" + (v1 == "/" ? "" : v1) + name, "memory.limit_in_bytes", limit);
    } else if (!v2.empty()) {
      tryMake("/sys/fs/cgroup" + (v2 == "/" ? "" : v2) + name, "memory.max", limit);
    }
  }
  ~MemoryGroup() {
    if (!dir_.empty()) rmdir(dir_.c_str());
  }
  MemoryGroup(const MemoryGroup&) = delete;
  MemoryGroup& operator=(const MemoryGroup&) = delete;

  bool made() const { return !dir_.empty(); }
  // Runs the program inside the group, by a shell that moves itself there first.
  e2e::RunResult run(const std::string& program, const std::vector<std::string>& args, const Env& env) const {
    std::vector<std::string> argv = {"sh", "-c", "echo $$ > \"$0\" && shift && exec \"$@\"",
                                     dir_ + "/cgroup.procs", "x", program};
    argv.insert(argv.end(), args.begin(), args.end());
    return e2e::runProgram("/bin/sh", argv, env, RunOptions());
  }

 private:
  void tryMake(const std::string& dir, const char* file, uint64_t limit) {
    if (mkdir(dir.c_str(), 0755) != 0) return;
    std::ofstream out(dir + "/" + file);
    out << limit;
    out.close();
    if (!out || e2e::readFile(dir + "/" + file).find(std::to_string(limit)) != 0) {
      rmdir(dir.c_str());
      return;
    }
    dir_ = dir;
  }
  std::string dir_;
};

}  // namespace

// The heap share is taken of the group's limit in whole MiB, with no ceiling on this 64-bit
// host; the VM's own share option gives the same.
TEST(OperatorHeap, SharesOfAControlGroupLimit) {
  struct Case {
    uint64_t limitMiB;
    int percent;
  };
  const Case cases[] = {{64, 50}, {99, 50}, {150, 50}, {8192, 75}};
  const uint64_t physicalMiB =
      static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) * static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) / 1048576;
  AppTree tree;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.limitMiB) + " MiB at " + std::to_string(c.percent) + "%");
    MemoryGroup group(c.limitMiB * 1048576);
    if (!group.made()) GTEST_SKIP() << "no memory control group can be made here";
    tree.writeConfig("javahome " + e2e::testJdkHome() + "\nmainclass X\nvmmemmax " + std::to_string(c.percent) +
                     "%\n");
    auto r = group.run(tree.launcher(), {"+javacmd"}, Env());
    ASSERT_EQ(r.status, 0) << r.err;
    const uint64_t memory = std::min(c.limitMiB, physicalMiB);
    const std::string expected = " -Xmx" + std::to_string(memory * c.percent / 100) + "m ";
    EXPECT_TRUE(e2e::contains(r.out, expected)) << r.out;
  }
}

// A main class that exists but cannot be loaded gets the VM's account of why before the
// launcher's line; an absent one is followed by the configured entries that do not exist.
TEST(OperatorMessages, ClassesThatCannotBeLoadedSayWhy) {
  const std::string home = e2e::testJdkHome();
  struct Row {
    std::string mainClass;
    std::string removed;      // class file taken out of the copy
    bool newerClassFile;      // the main class's file claims a newer VM
    std::string classPath;    // more configuration
    std::string errStart;     // what standard error begins with
  };
  const Row rows[] = {
      {"OperatorFailingInit", "", false, "", "Exception in thread \"main\" java.lang.ExceptionInInitializerError\n"},
      {"OperatorNeedsHelper", "OperatorHelper.class", false, "",
       "Exception in thread \"main\" java.lang.NoClassDefFoundError: OperatorHelper\n"},
      {"OperatorHelper", "", true, "", "Exception in thread \"main\" java.lang.UnsupportedClassVersionError: "},
      {"com.example.Missing", "", false, "", "Failed to load class com.example.Missing\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mainClass);
    AppTree tree;
    std::string classes = tree.copyClasses();
    if (!row.removed.empty()) std::filesystem::remove(classes + "/" + row.removed);
    if (row.newerClassFile) {
      std::fstream file(classes + "/" + row.mainClass + ".class", std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(6);
      file.put(static_cast<char>(0x7f));
      file.put(static_cast<char>(0x7f));
    }
    tree.writeConfig(appConfig(home, row.mainClass));
    auto r = tree.run({});
    EXPECT_EQ(r.status, 184);
    EXPECT_EQ(r.err.rfind(row.errStart, 0), 0u) << r.err;
    const std::string last = "Failed to load class " + row.mainClass + "\n";
    ASSERT_GE(r.err.size(), last.size());
    EXPECT_EQ(r.err.substr(r.err.size() - last.size()), last) << r.err;
  }

  AppTree tree;
  tree.copyClasses();
  tree.writeConfig(appConfig(home, "com.example.Missing") + "addpath ../lib/app.jar:../classes\naddjars ../libs\n");
  auto r = tree.run({});
  EXPECT_EQ(r.status, 184);
  EXPECT_EQ(r.err, "Failed to load class com.example.Missing\n"
                   "Class path entries that do not exist were left out: " +
                       tree.path("lib/app.jar") + ", " + tree.path("libs") + "\n");
}

// A refusal the VM leaves without a line end does not run into the launcher's message; one
// that ends its line gets no empty line after it.
TEST(OperatorMessages, VmRefusalAndTheLaunchersLineStayApart) {
  for (const std::string& home : {e2e::testJdkHome(), kJdk25}) {
    if (!e2e::fileExists(home + "/lib/server/libjvm.so")) continue;
    SCOPED_TRACE(home);
    AppTree tree;
    tree.copyClasses();
    tree.writeConfig(appConfig(home, "OperatorProbe") + "vmparam -XX:+UseShenandoaGC\n");
    auto r = tree.run({"env"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Unrecognized VM option 'UseShenandoaGC'\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("\nDid you mean '(+/-)UseShenandoahGC'?"), std::string::npos) << r.err;
    EXPECT_TRUE(r.err.ends_with("\nUnable to create JVM.\n")) << r.err;
    EXPECT_EQ(r.err.find("\n\n"), std::string::npos) << r.err;

    tree.writeConfig(appConfig(home, "OperatorProbe") + "vmparam -Xbogus\n");
    r = tree.run({"env"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Unrecognized option: -Xbogus\nUnable to create JVM.\n");
  }
}

// The VM's own log, on standard output and in a file, arrives in whole lines through the
// launcher: decorations and message on one line, every line before the application's own
// output that follows it.
TEST(OperatorMessages, VmLogLinesArriveWholeAndInOrder) {
  for (const std::string& home : {e2e::testJdkHome(), kJdk25}) {
    if (!e2e::fileExists(home + "/lib/server/libjvm.so")) continue;
    SCOPED_TRACE(home);
    AppTree tree;
    tree.copyClasses();
    const std::string logFile = tree.path("class-load.log");
    tree.writeConfig(appConfig(home, "PrintArgs") + "vmparam -Xlog:startuptime\nvmparam -Xlog:class+load:file=" +
                     logFile + "\n");
    auto r = tree.run({"first"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> out = e2e::lines(r.out);
    auto created = std::find_if(out.begin(), out.end(), [](const std::string& line) {
      return line.find("[info][startuptime] Create VM, ") != std::string::npos;
    });
    auto first = std::find(out.begin(), out.end(), "arg=first");
    ASSERT_NE(created, out.end()) << r.out;
    EXPECT_LT(created, first) << r.out;
    for (auto line = out.begin(); line != first; ++line) {
      EXPECT_EQ(line->rfind("[", 0), 0u) << *line;
      EXPECT_TRUE(line->ends_with(" secs")) << *line;
    }
    std::ifstream log(logFile);
    std::string line;
    int loaded = 0;
    while (std::getline(log, line)) {
      EXPECT_EQ(line.rfind("[", 0), 0u) << line;
      EXPECT_NE(line.find("[info][class,load] "), std::string::npos) << line;
      if (line.find(" source: ") != std::string::npos) ++loaded;
    }
    EXPECT_GT(loaded, 400);
  }
}
