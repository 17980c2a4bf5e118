// End-to-end tests of what a user or a broken machine can hand the launcher: huge and
// binary configurations, deep include chains, huge command lines, every byte value in
// arguments and paths, broken Java homes, unwritable temporary directories, a deleted
// working directory and many launches at once. Each ends with a clear message or a
// defined result and leaves nothing behind.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

const std::string kJdk = e2e::testJdkHome();

// The library path a start with the test installation needs, so that no re-exec happens.
Env jdkEnv() { return Env().set("LD_LIBRARY_PATH", kJdk + "/lib/server:" + kJdk + "/lib"); }

std::string lastLine(const std::string& text) {
  std::vector<std::string> all = e2e::lines(text);
  return all.empty() ? std::string() : all.back();
}

// Runs the launcher through sh, so that the command can change the process first.
e2e::RunResult runThroughShell(const AppTree& tree, const std::string& command, const std::string& args,
                               const Env& env = jdkEnv(),
                               const e2e::RunOptions& options = e2e::RunOptions()) {
  return e2e::runProgram("/bin/sh", {"sh", "-c", command + " && exec \"$0\" " + args, tree.launcher()}, env,
                         options);
}

}  // namespace

TEST(HostileInput, HugeAndBinaryConfigurations) {
  AppTree tree;
  const std::string huge(1 << 20, 'c');
  tree.writeConfig("javahome " + kJdk + "\nmainclass " + huge + "\n");
  auto r = tree.run({"+javacmd"}, jdkEnv());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(lastLine(r.out).ends_with(" " + huge));
  // Traced, the line is clipped and the launch goes on.
  r = tree.run({"+javacmd"}, jdkEnv().set("UTRACE", "-p"));
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 200);
  EXPECT_TRUE(e2e::hasLine(r.out, "Processed <mainclass " + huge.substr(0, 16374) + "> from <app.config>"));

  // Any file at all: the first line that is no directive names itself and its file.
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 7919 + 13) % 256));
  binary[0] = '\x7f';
  tree.writeConfig(binary);
  r = tree.run({"+javacmd"}, jdkEnv());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("Error: Unrecognized directive '\x7f", 0), 0u) << r.err;
  EXPECT_TRUE(r.err.ends_with("' at line 1 in configuration file '" + tree.launcher() + ".config'.\n"))
      << r.err;
}

TEST(HostileInput, DeepIncludeChains) {
  AppTree tree;
  constexpr int kDepth = 5000;
  for (int i = 0; i < kDepth; ++i) {
    tree.writeFile("inc/f" + std::to_string(i),
                   i + 1 < kDepth ? "include f" + std::to_string(i + 1) + "\n" : "mainclass Deep\n");
  }
  tree.writeConfig("javahome " + kJdk + "\ninclude ../inc/f0\n");
  auto r = tree.run({"+javacmd"}, jdkEnv());
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 400);
  EXPECT_TRUE(lastLine(r.out).ends_with(" Deep")) << lastLine(r.out);

  // Beyond the descriptor limit the file that cannot be opened is named, then every
  // include on the way back up to the launcher's own configuration.
  r = runThroughShell(tree, "ulimit -n 64", "+javacmd");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  std::vector<std::string> errors = e2e::lines(r.err);
  ASSERT_GT(errors.size(), 2u) << r.err;
  EXPECT_EQ(errors.front().rfind("Error: Unable to open configuration file '" + tree.path("inc/f"), 0), 0u)
      << errors.front();
  EXPECT_EQ(errors.back(), "Error: Unable to process 'include ../inc/f0' at line 2 in configuration file '" +
                               tree.launcher() + ".config'.");
}

TEST(HostileInput, HundredThousandArguments) {
  AppTree tree;
  tree.writeConfig("javahome " + kJdk + "\nmainclass Many\n");
  std::vector<std::string> args = {"+javacmd"};
  std::string expected = " Many";
  for (int i = 1; i <= 100000; ++i) {
    args.push_back(std::to_string(i));
    expected += " " + args.back();
  }
  auto r = tree.run(args, jdkEnv());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(lastLine(r.out).ends_with(expected));
}

// Every byte value but NUL in the arguments, and every one but NUL and '/' in the name of
// a directory above the launcher.
TEST(HostileInput, EveryByteInArgumentsAndPaths) {
  AppTree tree;
  std::string directory;
  for (int b = 1; b < 256; ++b) {
    if (b != '/') directory.push_back(static_cast<char>(b));
  }
  std::string launcher = tree.copyLauncher(directory + "/bin/app");
  tree.writeFile(directory + "/bin/app.config", "javahome " + kJdk + "\nmainclass Bytes\n");
  std::string all;
  std::vector<std::string> argv = {launcher, "+javacmd"};
  for (int b = 1; b < 256; ++b) {
    argv.emplace_back(1, static_cast<char>(b));
    all.push_back(static_cast<char>(b));
  }
  argv.push_back(all);
  for (const Env& env : {jdkEnv(), jdkEnv().set("UTRACE", "-p"), Env()}) {
    auto r = e2e::runProgram(launcher, argv, env, e2e::RunOptions());
    EXPECT_EQ(r.status, 0) << r.err;
    // The script quotes only what holds a space.
    EXPECT_TRUE(r.out.ends_with(" \"" + all + "\"\n")) << r.out.substr(r.out.size() - 300);
    EXPECT_NE(r.out.find(" Bytes \x01 \x02 \x03"), std::string::npos);
    EXPECT_NE(r.out.find(" \x1f \" \" ! "), std::string::npos);
  }
}

TEST(HostileInput, BrokenJavaHomes) {
  AppTree tree;
  tree.writeFile("file", "");
  tree.symlink(tree.path("nowhere"), "dangling");
  tree.makeDir("empty");
  tree.writeFile("notelf/lib/modules", "");
  tree.writeFile("notelf/bin/java", "#!/bin/sh\n", 0755);
  tree.writeFile("notelf/lib/jvm.cfg", "-server KNOWN\n");
  tree.writeFile("notelf/lib/server/libjvm.so", "not a library\n", 0755);
  // The directory tried and why it failed come between the two lines.
  auto noJdk = [&](const std::string& home, const std::string& reason) {
    return "Unable to find a supported JDK or JRE version. Version 1.3.1 or higher is required.\n"
           "Java home '" + tree.path(home) + "' was tried: " + reason + ".\n"
           "Check your installation and use +javahome to specify the JDK or JRE location\n";
  };
  const struct {
    const char* home;
    std::string err;
  } rows[] = {
      {"file", noJdk("file", "it is not a directory")},
      {"dangling", noJdk("dangling", "it does not exist")},
      {"empty", noJdk("empty", "it has no bin/java")},
      {"notelf", "Error loading Java VM library: libjvm.so [" + tree.path("notelf/lib/server/libjvm.so") +
                     ": file too short]\n"},
  };
  for (const auto& row : rows) {
    tree.writeConfig(std::string("javahome ../") + row.home + "\nmainclass X\n");
    auto r = tree.run({"+javacmd"});
    EXPECT_EQ(r.status, 1) << row.home;
    EXPECT_EQ(r.out, "") << row.home;
    EXPECT_EQ(r.err, row.err) << row.home;
  }
}

// The exported environment's file is always made under /tmp, whatever TMPDIR says, and
// removed at the end; where /tmp cannot be written the directive fails plainly.
TEST(HostileInput, UnwritableTemporaryDirectoryForExportenv) {
  AppTree tree;
  tree.writeConfig("javahome " + kJdk + "\nmainclass X\nexportenv\n");
  std::string readOnly = tree.makeDir("readonly");
  ::chmod(readOnly.c_str(), 0555);
  auto r = tree.run({"+javacmd"}, jdkEnv().set("TMPDIR", readOnly));
  EXPECT_EQ(r.status, 0) << r.err;
  size_t at = r.out.find("-Dvantrel.exportenv=/tmp/vantrel-envdump-");
  ASSERT_NE(at, std::string::npos) << r.out;
  std::string file = r.out.substr(at + 20, r.out.find(' ', at) - at - 20);
  EXPECT_FALSE(e2e::fileExists(file)) << file;

  if (geteuid() != 0) GTEST_SKIP() << "a read-only /tmp needs root";
  r = e2e::runProgram(
      "/usr/bin/unshare",
      {"unshare", "-m", "sh", "-c",
       "mount --make-rprivate / && mount --bind /tmp /tmp && mount -o remount,bind,ro /tmp && "
       "exec \"$0\" +javacmd",
       tree.launcher()},
      jdkEnv(), e2e::RunOptions());
  // Without the right to make a mount namespace (a container, say) unshare or mount says so.
  if (r.err.find("unshare:") != std::string::npos || r.err.find("mount:") != std::string::npos ||
      r.status == 127) {
    GTEST_SKIP() << "no read-only /tmp here: " << r.err;
  }
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "Unable to create temporary file.\nError: Unable to process 'exportenv' at line 3 in "
            "configuration file '" +
                tree.launcher() + ".config'.\n");
}

TEST(HostileInput, DeletedWorkingDirectory) {
  AppTree tree;
  tree.copyClasses();
  tree.writeConfig("javahome " + kJdk + "\nmainclass PrintArgs\naddpath ../classes\n");
  tree.makeDir("gone");
  e2e::RunOptions options;
  options.cwd = tree.path("gone");
  // With and without the re-exec, which goes back to the directory it started in.
  for (const Env& env : {jdkEnv(), Env().set("UTRACE", "-p")}) {
    auto r = runThroughShell(tree, "rmdir \"$PWD\"", "+javacmd a", env, options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(lastLine(r.out).ends_with(" PrintArgs a")) << r.out;
    EXPECT_NE(lastLine(r.out).find("-Djava.class.path=" + tree.path("classes")), std::string::npos) << r.out;
    tree.makeDir("gone");
  }
}

// Fifty real starts of one application at once: each VM reads its own exported
// environment file, and every file is gone afterwards.
TEST(HostileInput, FiftyLaunchesAtOnceEachWithItsOwnExportFile) {
  AppTree tree;
  tree.copyClasses();
  tree.writeConfig("javahome " + kJdk + "\nmainclass RunProbe\naddpath ../classes\nexportenv\n");
  constexpr int kLaunches = 50;
  std::vector<e2e::RunResult> results(kLaunches);
  std::vector<std::thread> threads;
  e2e::RunOptions options;
  options.timeoutSeconds = 120;
  for (int i = 0; i < kLaunches; ++i) {
    threads.emplace_back([&, i] { results[static_cast<size_t>(i)] = tree.run({"env"}, jdkEnv(), options); });
  }
  for (std::thread& t : threads) t.join();
  std::set<std::string> files;
  for (const e2e::RunResult& r : results) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\nmode=rw-------\n"), std::string::npos) << r.out.substr(0, 200);
    size_t at = r.out.find("file=");
    if (at == std::string::npos) continue;
    files.insert(r.out.substr(at + 5, r.out.find('\n', at) - at - 5));
  }
  EXPECT_EQ(files.size(), static_cast<size_t>(kLaunches));
  for (const std::string& file : files) {
    EXPECT_EQ(file.rfind("/tmp/vantrel-envdump-", 0), 0u) << file;
    EXPECT_FALSE(e2e::fileExists(file)) << file;
  }
}
