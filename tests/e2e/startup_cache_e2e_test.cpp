// End-to-end tests of the start-up cache on the installed releases (17 always; 25 when it is
// installed): the first run makes the cache and the next maps it, a changed class path
// makes a new one and removes the old, a restart uses the one its predecessor made, two
// instances started at once both start, the VM's orderly stop on SIGTERM writes the cache
// and a forced exit leaves nothing behind, and every trouble around the cache starts the
// application without one.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
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

namespace fs = std::filesystem;

const std::string kJdk25 = e2e::jdk25Home();

Env traced() { return Env().set("UTRACE", "-p"); }

e2e::RunOptions withInput(const std::string& text) {
  e2e::RunOptions options;
  options.stdinText = text;
  return options;
}

// The file names in a directory, sorted; empty when it does not exist.
std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The text after the first trace line that begins with the prefix; empty when none.
std::string traced(const std::string& out, const std::string& prefix) {
  for (const std::string& line : e2e::lines(out)) {
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
  }
  return std::string();
}

// The VM says nothing about a cache that does not fit, because it never gets one.
void expectNoVmComplaint(const e2e::RunResult& r) {
  for (const std::string* text : {&r.out, &r.err}) {
    EXPECT_FALSE(contains(*text, "[warning]")) << *text;
    EXPECT_FALSE(contains(*text, "[error")) << *text;
    EXPECT_FALSE(contains(*text, "A fatal error")) << *text;
    EXPECT_FALSE(contains(*text, "AOTConfiguration recorded")) << *text;
  }
}

// An application in lib/app.jar with its caches in cache/, on the installation under test.
class StartupCache : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!e2e::fileExists(GetParam() + "/lib/server/libjvm.so")) GTEST_SKIP() << "no installation at " << GetParam();
    std::string classes = tree.copyClasses();
    tree.makeDir("lib");
    auto jar = e2e::runProgram(e2e::testJdkHome() + "/bin/jar", {"jar", "cf", tree.path("lib/app.jar"), "-C", classes, "."},
                               Env(), e2e::RunOptions());
    ASSERT_EQ(jar.status, 0) << jar.err;
    cacheDir = tree.path("cache");
  }

  void configure(const std::string& more, const std::string& mainClass = "RunProbe") const {
    tree.writeConfig("javahome " + GetParam() + "\nmainclass " + mainClass + "\naddjars ../lib\n" + more);
  }
  // The finished caches (no record, lock or temporary file).
  std::vector<std::string> caches() const {
    std::vector<std::string> found;
    for (const std::string& name : listing(cacheDir)) {
      if (name.ends_with(".jsa") || name.ends_with(".aot")) found.push_back(name);
    }
    return found;
  }
  std::vector<std::string> leftovers() const {
    std::vector<std::string> found;
    for (const std::string& name : listing(cacheDir)) {
      if (contains(name, ".tmp-")) found.push_back(name);
    }
    return found;
  }
  bool aot() const { return GetParam() == kJdk25; }
  // Builds a jar at the path holding a class Deployed that prints its version and the
  // property an agent sets.
  void buildHello(const std::string& version, const std::string& jarPath) const {
    const std::string src = tree.makeDir("hello-src-" + version);
    tree.writeFile("hello-src-" + version + "/Deployed.java",
                   "public class Deployed { public static void main(String[] a) { System.out.println(\"hello " + version +
                       " agent=\" + System.getProperty(\"agent.mark\")); } }\n");
    auto javac = e2e::runProgram(e2e::testJdkHome() + "/bin/javac",
                                 {"javac", "--release", "17", "-d", src, src + "/Deployed.java"}, Env(), e2e::RunOptions());
    ASSERT_EQ(javac.status, 0) << javac.err;
    auto jar = e2e::runProgram(e2e::testJdkHome() + "/bin/jar", {"jar", "cf", jarPath, "-C", src, "Deployed.class"}, Env(),
                               e2e::RunOptions());
    ASSERT_EQ(jar.status, 0) << jar.err;
  }

  AppTree tree;
  std::string cacheDir;
};

TEST_P(StartupCache, FirstRunMakesSecondMapsClassPathChangeReplaces) {
  configure("startupcache ../cache\n");
  auto first = tree.run({"args", "one"}, traced());
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(e2e::hasLine(first.out, "arg[0]=006f 006e 0065")) << first.out;
  const std::string made = traced(first.out, "Startup cache: making ");
  ASSERT_FALSE(made.empty()) << first.out;
  EXPECT_EQ(made.rfind(cacheDir + "/app-", 0), 0u) << made;
  EXPECT_TRUE(e2e::hasLine(first.out, "Startup cache: " + made + " is ready")) << first.out;
  EXPECT_EQ(caches(), std::vector<std::string>{fs::path(made).filename().string()});
  EXPECT_TRUE(e2e::fileExists(made + ".record"));
  EXPECT_TRUE(leftovers().empty());

  // Logging does not change the state; the VM's own log shows the class mapped from it.
  const std::string log = tree.path("classload.log");
  auto second = tree.run({"-Xlog:class+load=info:file=" + log, "args"}, traced());
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(e2e::hasLine(second.out, "Startup cache: using " + made)) << second.out;
  const std::string useOption = (aot() ? "-XX:AOTCache=" : "-XX:SharedArchiveFile=") + made;
  EXPECT_TRUE(contains(second.out, "'" + useOption + "'")) << second.out;
  EXPECT_TRUE(contains(e2e::readFile(log), "RunProbe source: shared objects file")) << e2e::readFile(log);
  expectNoVmComplaint(second);

  // The java command uses the same cache, and runs.
  auto script = tree.run({"+javacmd", "args"});
  ASSERT_EQ(script.status, 0) << script.err;
  EXPECT_TRUE(contains(script.out, " " + useOption + " ")) << script.out;
  auto java = e2e::runProgram("/bin/sh", {"sh", "-c", script.out}, Env(), e2e::RunOptions());
  EXPECT_EQ(java.status, 0) << java.err;
  EXPECT_TRUE(contains(java.out, "cwd=")) << java.out;
  expectNoVmComplaint(java);

  // Another jar on the class path: a new cache, and the old one is gone.
  fs::copy_file(tree.path("lib/app.jar"), tree.path("lib/more.jar"));
  auto third = tree.run({"args"}, traced());
  ASSERT_EQ(third.status, 0) << third.err;
  const std::string remade = traced(third.out, "Startup cache: making ");
  ASSERT_FALSE(remade.empty()) << third.out;
  EXPECT_NE(remade, made);
  EXPECT_TRUE(e2e::hasLine(third.out, "Startup cache: removed stale file " + made)) << third.out;
  EXPECT_EQ(caches(), std::vector<std::string>{fs::path(remade).filename().string()});
  EXPECT_FALSE(e2e::fileExists(made + ".record"));
  EXPECT_TRUE(leftovers().empty());
}

TEST_P(StartupCache, RestartUsesTheCacheOfTheGenerationBefore) {
  configure("startupcache ../cache\nrestartonexit 3\n");
  const std::string generations = tree.path("generations");
  auto r = tree.run({"restart", generations, "2", "3", "exit"}, traced());
  EXPECT_EQ(r.status, 7) << r.err;
  EXPECT_EQ(e2e::lines(e2e::readFile(generations)).size(), 2u);
  const std::string made = traced(r.out, "Startup cache: making ");
  ASSERT_FALSE(made.empty()) << r.out;
  const std::vector<std::string> all = e2e::lines(r.out);
  auto at = [&](const std::string& line) { return std::find(all.begin(), all.end(), line) - all.begin(); };
  EXPECT_LT(at("Startup cache: " + made + " is ready"), at("Startup cache: using " + made)) << r.out;
  EXPECT_LT(at("Startup cache: using " + made), static_cast<long>(all.size())) << r.out;
  expectNoVmComplaint(r);
}

TEST_P(StartupCache, TwoInstancesAtOnceBothStartAndOneCacheResults) {
  configure("startupcache ../cache\n", "SignalApp");
  Child a = tree.start({}, traced());
  ASSERT_TRUE(a.waitForLine("ready")) << a.out() << a.err();
  Child b = tree.start({}, traced());
  ASSERT_TRUE(b.waitForLine("ready")) << b.out() << b.err();
  // The second started while the first was still making the cache: it makes its own.
  EXPECT_FALSE(traced(b.out(), "Startup cache: making ").empty()) << b.out();
  EXPECT_TRUE(caches().empty()) << "nothing is published before a VM ends";
  a.write("done\n");
  b.write("done\n");
  auto ra = a.wait(120);
  auto rb = b.wait(120);
  // SignalApp's own status.
  EXPECT_EQ(ra.status, 7) << ra.err;
  EXPECT_EQ(rb.status, 7) << rb.err;
  EXPECT_EQ(caches().size(), 1u);
  EXPECT_TRUE(leftovers().empty());
  auto next = tree.run({}, traced(), withInput("done\n"));
  EXPECT_EQ(next.status, 7) << next.err;
  EXPECT_FALSE(traced(next.out, "Startup cache: using ").empty()) << next.out;
  expectNoVmComplaint(next);
}

TEST_P(StartupCache, ForcedExitLeavesNoPartialFile) {
  configure("startupcache ../cache\noptions handleexit\n", "SignalApp");
  Child child = tree.start({"linger"}, traced());
  ASSERT_TRUE(child.waitForLine("destroy waiting")) << child.out() << child.err();
  ASSERT_TRUE(child.signal(SIGINT));
  ASSERT_TRUE(child.waitUntil([&] { return contains(child.err(), "another interrupt will force"); }));
  ASSERT_TRUE(child.signal(SIGTERM));
  auto r = child.wait();
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_TRUE(contains(r.err, "Forcing process exit")) << r.err;
  EXPECT_TRUE(caches().empty());
  EXPECT_TRUE(leftovers().empty());
  // The next start makes the cache afresh.
  auto next = tree.run({}, traced(), withInput("done\n"));
  EXPECT_EQ(next.status, 7) << next.err;
  EXPECT_FALSE(traced(next.out, "Startup cache: making ").empty()) << next.out;
  EXPECT_EQ(caches().size(), 1u);
}

TEST_P(StartupCache, OrderlyStopBySignalWritesTheCache) {
  configure("startupcache ../cache\n", "SignalApp");
  Child child = tree.start({}, traced());
  ASSERT_TRUE(child.waitForLine("ready")) << child.out() << child.err();
  ASSERT_TRUE(child.signal(SIGTERM));
  auto r = child.wait(120);
  // The VM's own shutdown races main's return (the interrupted read ends it): whichever
  // end comes first publishes the cache, and main's status decides, as ever.
  EXPECT_EQ(r.status, 7) << r.err;
  const std::string made = traced(r.out, "Startup cache: making ");
  EXPECT_TRUE(e2e::hasLine(r.out, "Startup cache: " + made + " is ready")) << r.out;
  EXPECT_EQ(caches().size(), 1u);
  EXPECT_TRUE(leftovers().empty());
}

TEST_P(StartupCache, TroubleStartsWithoutACacheAndSaysWhy) {
  // A directory that cannot be made: one line, and the application runs.
  tree.writeFile("plainfile", "x");
  configure("startupcache ../plainfile/cache\n");
  auto unwritable = tree.run({"args"}, traced());
  EXPECT_EQ(unwritable.status, 0) << unwritable.err;
  EXPECT_TRUE(contains(unwritable.out, "Startup cache not used: the directory " + tree.path("plainfile/cache")))
      << unwritable.out;
  EXPECT_EQ(e2e::countLines(unwritable.err, "Warning: the startup cache directory '" + tree.path("plainfile/cache") +
                                                "' cannot be made or written (Not a directory); starting without a cache."),
            1u)
      << unwritable.err;
  EXPECT_FALSE(contains(unwritable.out, "-XX:")) << unwritable.out;

  // A class directory on the class path: one line for this state, not again.
  configure("startupcache ../cache\naddpath ../classes\n");
  const std::string classDirLine = "Warning: the class path holds the class directory '" + tree.path("classes") +
                                   "', which the VM cannot cache; put its classes in a jar to use the startup cache.";
  auto classDir = tree.run({"getenv", "LAUNCHER_STARTUPCACHE_NOTICE"}, traced());
  EXPECT_EQ(classDir.status, 0) << classDir.err;
  EXPECT_EQ(e2e::countLines(classDir.err, classDirLine), 1u) << classDir.err;
  // The note that the line was given is the launcher's own: the application never sees it.
  EXPECT_TRUE(e2e::hasLine(classDir.out, "getenv LAUNCHER_STARTUPCACHE_NOTICE=null")) << classDir.out;
  EXPECT_FALSE(contains(classDir.out, "-XX:")) << classDir.out;
  auto classDirAgain = tree.run({"args"}, traced());
  EXPECT_EQ(classDirAgain.status, 0) << classDirAgain.err;
  EXPECT_FALSE(contains(classDirAgain.err, "Warning:")) << classDirAgain.err;
  EXPECT_TRUE(caches().empty());

  // A damaged cache (cut short, as a full disk or a copy might leave it) is never mapped.
  configure("startupcache ../cache\n");
  auto made = tree.run({"args"}, traced());
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string cache = traced(made.out, "Startup cache: making ");
  ASSERT_TRUE(e2e::fileExists(cache)) << made.out;
  fs::resize_file(cache, fs::file_size(cache) / 2);
  auto damaged = tree.run({"args"}, traced());
  EXPECT_EQ(damaged.status, 0) << damaged.err;
  EXPECT_TRUE(e2e::hasLine(damaged.out, "Startup cache " + cache +
                                            " does not match its record; removing it and starting without a cache"))
      << damaged.out;
  EXPECT_FALSE(contains(damaged.out, "-XX:SharedArchiveFile=") || contains(damaged.out, "-XX:AOTCache=")) << damaged.out;
  EXPECT_TRUE(contains(damaged.out, "cwd=")) << damaged.out;
  expectNoVmComplaint(damaged);
}

// A jar rebuilt and renamed over the old one behind an unchanged symbolic link, and one
// rewritten in place: each runs its new classes from a new cache, and the VM never sees a
// cache made from other bytes. The first run prints nothing from the VM's cache logging.
TEST_P(StartupCache, RebuiltJarRunsItsNewClassesFromANewCache) {
  tree.makeDir("dist");
  buildHello("v1", tree.path("dist/hello.jar"));
  tree.symlink("../dist/hello.jar", "lib/hello.jar");
  configure("startupcache ../cache\n", "Deployed");
  auto first = tree.run({}, traced());
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(e2e::hasLine(first.out, "hello v1 agent=null")) << first.out;
  const std::string made = traced(first.out, "Startup cache: making ");
  ASSERT_FALSE(made.empty()) << first.out;
  expectNoVmComplaint(first);
  auto second = tree.run({}, traced());
  EXPECT_TRUE(e2e::hasLine(second.out, "Startup cache: using " + made)) << second.out;
  EXPECT_TRUE(e2e::hasLine(second.out, "hello v1 agent=null")) << second.out;

  // A new build renamed over the old file, as a package upgrade does.
  buildHello("v2", tree.path("dist/hello.jar.new"));
  fs::rename(tree.path("dist/hello.jar.new"), tree.path("dist/hello.jar"));
  auto redeployed = tree.run({}, traced());
  ASSERT_EQ(redeployed.status, 0) << redeployed.err;
  EXPECT_TRUE(e2e::hasLine(redeployed.out, "hello v2 agent=null")) << redeployed.out;
  const std::string remade = traced(redeployed.out, "Startup cache: making ");
  EXPECT_FALSE(remade.empty()) << redeployed.out;
  EXPECT_NE(remade, made);
  EXPECT_TRUE(e2e::hasLine(redeployed.out, "Startup cache: removed stale file " + made)) << redeployed.out;
  expectNoVmComplaint(redeployed);
  auto afterRedeploy = tree.run({}, traced());
  EXPECT_TRUE(e2e::hasLine(afterRedeploy.out, "Startup cache: using " + remade)) << afterRedeploy.out;
  EXPECT_TRUE(e2e::hasLine(afterRedeploy.out, "hello v2 agent=null")) << afterRedeploy.out;
  expectNoVmComplaint(afterRedeploy);

  // The same file (same inode) rewritten in place.
  buildHello("v3", tree.path("v3.jar"));
  const std::string v3 = e2e::readFile(tree.path("v3.jar"));
  {
    std::ofstream out(tree.path("dist/hello.jar"), std::ios::binary | std::ios::trunc);
    out << v3;
  }
  auto rewritten = tree.run({}, traced());
  ASSERT_EQ(rewritten.status, 0) << rewritten.err;
  EXPECT_TRUE(e2e::hasLine(rewritten.out, "hello v3 agent=null")) << rewritten.out;
  EXPECT_FALSE(traced(rewritten.out, "Startup cache: making ").empty()) << rewritten.out;
  expectNoVmComplaint(rewritten);
  auto afterRewrite = tree.run({});
  EXPECT_TRUE(e2e::hasLine(afterRewrite.out, "hello v3 agent=null")) << afterRewrite.out;
  expectNoVmComplaint(afterRewrite);
  EXPECT_EQ(caches().size(), 1u);
}

// A jar named only by the manifest Class-Path of a class path jar, rebuilt in place under
// its name: the cache made with its old bytes is removed, the new classes run from a new
// cache, and the VM never sees the old one.
TEST_P(StartupCache, JarNamedByAManifestRebuiltInPlaceMakesANewCache) {
  const std::string src = tree.makeDir("dep-src");
  tree.makeDir("app");
  const std::string depJar = tree.path("app/dep.jar");
  const auto buildDep = [&](const std::string& value) {
    tree.writeFile("dep-src/DepValue.java",
                   "public class DepValue { public static String value() { return \"" + value + "\"; } }\n");
    auto javac = e2e::runProgram(e2e::testJdkHome() + "/bin/javac",
                                 {"javac", "--release", "17", "-d", src, src + "/DepValue.java"}, Env(),
                                 e2e::RunOptions());
    ASSERT_EQ(javac.status, 0) << javac.err;
    // Written over the old file, as a build does in place: same name and inode, new size.
    auto jar = e2e::runProgram(e2e::testJdkHome() + "/bin/jar",
                               {"jar", "cf", tree.path("dep-new.jar"), "-C", src, "DepValue.class"}, Env(),
                               e2e::RunOptions());
    ASSERT_EQ(jar.status, 0) << jar.err;
    std::ofstream(depJar, std::ios::binary | std::ios::trunc) << e2e::readFile(tree.path("dep-new.jar"));
  };
  buildDep("one");
  tree.writeFile("dep-src/UsesDep.java",
                 "public class UsesDep { public static void main(String[] a) {"
                 " System.out.println(\"dep value=\" + DepValue.value()); } }\n");
  auto javac = e2e::runProgram(e2e::testJdkHome() + "/bin/javac",
                               {"javac", "--release", "17", "-cp", src, "-d", src, src + "/UsesDep.java"},
                               Env(), e2e::RunOptions());
  ASSERT_EQ(javac.status, 0) << javac.err;
  const std::string manifest = tree.writeFile("manifest.txt", "Class-Path: dep.jar\n");
  auto jar = e2e::runProgram(e2e::testJdkHome() + "/bin/jar",
                             {"jar", "cfm", tree.path("app/app.jar"), manifest, "-C", src, "UsesDep.class"},
                             Env(), e2e::RunOptions());
  ASSERT_EQ(jar.status, 0) << jar.err;
  tree.writeConfig("javahome " + GetParam() + "\nmainclass UsesDep\naddpath " + tree.path("app/app.jar") +
                   "\nstartupcache ../cache\n");

  auto first = tree.run({}, traced());
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(e2e::hasLine(first.out, "dep value=one")) << first.out;
  const std::string made = traced(first.out, "Startup cache: making ");
  ASSERT_FALSE(made.empty()) << first.out;
  EXPECT_TRUE(
      e2e::hasLine(first.out, "Startup cache: the record lists 1 files named by the class path's manifests"))
      << first.out;
  EXPECT_TRUE(e2e::hasLine(first.out, "Startup cache: " + made + " is ready")) << first.out;
  auto second = tree.run({}, traced());
  EXPECT_TRUE(e2e::hasLine(second.out, "Startup cache: using " + made)) << second.out;
  EXPECT_TRUE(e2e::hasLine(second.out, "dep value=one")) << second.out;
  expectNoVmComplaint(second);

  buildDep("two, rebuilt");
  auto rebuilt = tree.run({}, traced());
  ASSERT_EQ(rebuilt.status, 0) << rebuilt.err;
  EXPECT_TRUE(e2e::hasLine(rebuilt.out, "dep value=two, rebuilt")) << rebuilt.out;
  EXPECT_TRUE(
      e2e::hasLine(rebuilt.out, "Startup cache " + made + " was made with " + depJar +
                                    ", which has changed since; removing it and starting without a cache"))
      << rebuilt.out;
  EXPECT_FALSE(contains(rebuilt.out, "Startup cache: using ")) << rebuilt.out;
  EXPECT_TRUE(e2e::hasLine(rebuilt.out, "Startup cache: " + made + " is ready")) << rebuilt.out;
  expectNoVmComplaint(rebuilt);
  auto after = tree.run({}, traced());
  EXPECT_TRUE(e2e::hasLine(after.out, "Startup cache: using " + made)) << after.out;
  EXPECT_TRUE(e2e::hasLine(after.out, "dep value=two, rebuilt")) << after.out;
  expectNoVmComplaint(after);
  EXPECT_EQ(caches().size(), 1u);
}

// Agents, configured or given in JAVA_TOOL_OPTIONS, start and work with the cache on; a
// debugging run neither uses nor replaces the cache there is.
TEST_P(StartupCache, AgentsStartAndDebuggingRunsLeaveTheCacheAlone) {
  buildHello("v1", tree.path("lib/hello.jar"));
  const std::string agent = "-javaagent:" + e2e::propertyAgentJar();
  configure("startupcache ../cache\nvmparam " + agent + "=agent.mark=configured\n", "Deployed");
  for (int run = 0; run < 2; ++run) {
    auto r = tree.run({}, traced());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(e2e::hasLine(r.out, "hello v1 agent=configured")) << r.out;
    expectNoVmComplaint(r);
    if (!aot()) {
      EXPECT_TRUE(e2e::hasLine(r.out, "Startup cache not used: release 17 cannot make a cache while an agent is loaded"))
          << r.out;
    } else {
      EXPECT_FALSE(traced(r.out, run == 0 ? "Startup cache: making " : "Startup cache: using ").empty()) << r.out;
    }
  }
  configure("startupcache ../cache\n", "Deployed");
  const Env withToolAgent = traced().set("JAVA_TOOL_OPTIONS", agent + "=agent.mark=tool");
  for (int run = 0; run < 2; ++run) {
    auto r = tree.run({}, withToolAgent);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(e2e::hasLine(r.out, "hello v1 agent=tool")) << r.out;
    expectNoVmComplaint(r);
  }

  // A plain cache, then a debugging run beside it.
  auto plain = tree.run({}, traced());
  ASSERT_EQ(plain.status, 0) << plain.err;
  auto plainAgain = tree.run({}, traced());
  const std::string used = traced(plainAgain.out, "Startup cache: using ");
  ASSERT_FALSE(used.empty()) << plain.out << plainAgain.out;
  configure("startupcache ../cache\nvmparam -agentlib:jdwp=transport=dt_socket,server=y,suspend=n,address=127.0.0.1:0\n",
            "Deployed");
  auto debug = tree.run({}, traced());
  ASSERT_EQ(debug.status, 0) << debug.err;
  EXPECT_TRUE(e2e::hasLine(debug.out, "hello v1 agent=null")) << debug.out;
  EXPECT_TRUE(e2e::hasLine(debug.out, "Startup cache not used: a debugging run neither makes nor uses a cache"))
      << debug.out;
  EXPECT_FALSE(contains(debug.out, "-XX:A") || contains(debug.out, "-XX:Shared")) << debug.out;
  expectNoVmComplaint(debug);
  EXPECT_TRUE(e2e::fileExists(used)) << used;
  configure("startupcache ../cache\n", "Deployed");
  auto after = tree.run({}, traced());
  EXPECT_TRUE(e2e::hasLine(after.out, "Startup cache: using " + used)) << after.out;
}

// A cache directory on a file system too small for a cache: the application's status, its
// restarts, its pid file and exported environment are as without the directive.
TEST_P(StartupCache, SmallFileSystemChangesNothingOfTheRun) {
  fs::create_directories(cacheDir);
  auto mount = e2e::runProgram("/bin/mount", {"mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", cacheDir}, Env(),
                               e2e::RunOptions());
  if (mount.status != 0) GTEST_SKIP() << "cannot mount a small tmpfs here: " << mount.err;
  struct Unmount {
    std::string dir;
    ~Unmount() { e2e::runProgram("/bin/umount", {"umount", "-l", dir}, Env(), e2e::RunOptions()); }
  } unmount{cacheDir};
  configure("startupcache ../cache\nrestartonexit 3\npidfile ../app.pid\nexportenv\n");
  const std::string generations = tree.path("generations");
  auto r = tree.run({"restart", generations, "2", "3", "exit"}, traced());
  EXPECT_EQ(r.status, 7) << r.err;
  const std::vector<std::string> gens = e2e::lines(e2e::readFile(generations));
  EXPECT_EQ(gens.size(), 2u);
  for (const std::string& gen : gens) {
    const std::string envFile = gen.substr(gen.find(" env ") + 5);
    EXPECT_FALSE(e2e::fileExists(envFile)) << gen;
  }
  EXPECT_FALSE(e2e::fileExists(tree.path("app.pid")));
  EXPECT_FALSE(traced(r.out, "Startup cache not used: " + cacheDir + " has ").empty()) << r.out;
  const std::string warning = "Warning: the startup cache directory '" + cacheDir + "' has too little free space";
  const std::vector<std::string> errLines = e2e::lines(r.err);
  EXPECT_EQ(std::count_if(errLines.begin(), errLines.end(),
                          [&](const std::string& line) {
                            return line.starts_with(warning) && line.ends_with("; starting without a cache.");
                          }),
            1)
      << r.err;
  EXPECT_TRUE(caches().empty());
  EXPECT_TRUE(leftovers().empty());
  auto status = tree.run({"status", "5"}, traced());
  EXPECT_EQ(status.status, 5) << status.err;
  EXPECT_FALSE(contains(status.err, "Warning:")) << status.err;
  EXPECT_FALSE(e2e::fileExists(tree.path("app.pid")));
  EXPECT_TRUE(leftovers().empty());
}

// A cache damaged in place with its size, inode and times kept: at most one start fails
// (the VM may crash on it), and the next one checks the whole file and drops it.
TEST_P(StartupCache, DamagedInPlaceCostsAtMostOneFailedStart) {
  configure("startupcache ../cache\n");
  auto made = tree.run({"args"}, traced());
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string cache = traced(made.out, "Startup cache: making ");
  ASSERT_TRUE(e2e::fileExists(cache)) << made.out;
  struct stat before;
  ASSERT_EQ(::stat(cache.c_str(), &before), 0);
  {
    std::fstream file(cache, std::ios::binary | std::ios::in | std::ios::out);
    const std::string junk(4096, '\xff');
    for (off_t at = before.st_size / 4; at < before.st_size * 3 / 4; at += before.st_size / 16) {
      file.seekp(at);
      file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
  }
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, cache.c_str(), times, 0), 0);
  auto damaged = tree.run({"args"}, traced());
  auto next = tree.run({"args"}, traced());
  EXPECT_EQ(next.status, 0) << damaged.err << next.err;
  EXPECT_TRUE(contains(next.out, "cwd=")) << next.out;
  if (damaged.status != 0) {
    EXPECT_TRUE(e2e::hasLine(next.out, "Startup cache " + cache +
                                           " does not match the digest of its content after a run on it ended "
                                           "abnormally; removing it and starting without a cache"))
        << next.out;
  }
  auto third = tree.run({"args"}, traced());
  EXPECT_EQ(third.status, 0) << third.err;
  if (damaged.status != 0) {
    // The cache made again after the damaged one was dropped.
    EXPECT_TRUE(e2e::hasLine(third.out, "Startup cache: using " + cache)) << third.out;
    expectNoVmComplaint(third);
  }
}

// A directory made read-only once it holds a finished cache (as in an image) is used as it
// is, without a word.
TEST_P(StartupCache, ReadOnlyDirectoryWithAFinishedCacheIsUsedQuietly) {
  configure("startupcache ../cache\n");
  auto made = tree.run({"args"}, traced());
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string cache = traced(made.out, "Startup cache: making ");
  ASSERT_TRUE(e2e::fileExists(cache)) << made.out;
  auto bind = e2e::runProgram("/bin/mount", {"mount", "--bind", cacheDir, cacheDir}, Env(), e2e::RunOptions());
  if (bind.status != 0) GTEST_SKIP() << "cannot bind-mount the cache directory here: " << bind.err;
  struct Unmount {
    std::string dir;
    ~Unmount() { e2e::runProgram("/bin/umount", {"umount", "-l", dir}, Env(), e2e::RunOptions()); }
  } unmount{cacheDir};
  auto readOnly =
      e2e::runProgram("/bin/mount", {"mount", "-o", "remount,ro,bind", cacheDir}, Env(), e2e::RunOptions());
  if (readOnly.status != 0) GTEST_SKIP() << "cannot make the bind mount read-only here: " << readOnly.err;
  const std::vector<std::string> before = listing(cacheDir);
  auto r = tree.run({"args"}, traced());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "Startup cache: using " + cache + " (its directory cannot be written)")) << r.out;
  EXPECT_TRUE(contains(r.out, "cwd=")) << r.out;
  EXPECT_FALSE(contains(r.err, "Warning")) << r.err;
  expectNoVmComplaint(r);
  EXPECT_EQ(listing(cacheDir), before);
}

// A free loopback port, or 0.
int freePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

// +makecache: a training run under each readiness rule ends with 0 once its cache is
// published (never restarting), the next start uses that cache, and a run that can make
// none says why and ends with 1.
TEST_P(StartupCache, MakeCacheTrainsUnderEachReadinessRule) {
  configure("restartonexit 143\n", "SignalApp");
  auto none = tree.run({"+makecache"}, Env(), withInput("done\n"));
  EXPECT_EQ(none.status, 1) << none.err;
  EXPECT_TRUE(e2e::hasLine(none.err, "Error: no startup cache was made: the configuration has no startupcache directive."))
      << none.err;

  // main: SignalApp waits for input that never comes; the training run stops it.
  configure("startupcache ../cache\nrestartonexit 143\nreadiness main\n", "SignalApp");
  auto byMain = tree.run({"+makecache"}, traced());
  EXPECT_EQ(byMain.status, 0) << byMain.err;
  EXPECT_TRUE(e2e::hasLine(byMain.out, "Startup cache: the training run is ready; stopping it")) << byMain.out;
  const std::string made = traced(byMain.out, "Startup cache: making ");
  EXPECT_TRUE(e2e::hasLine(byMain.out, "Startup cache: " + made + " is ready")) << byMain.out;
  EXPECT_EQ(e2e::countLines(byMain.out, "ready"), 1u) << "one generation only: " << byMain.out;
  auto next = tree.run({}, traced(), withInput("done\n"));
  EXPECT_EQ(next.status, 7) << next.err;
  EXPECT_TRUE(e2e::hasLine(next.out, "Startup cache: using " + made)) << next.out;
  expectNoVmComplaint(next);

  // return: main returns and the run ends by itself.
  fs::remove_all(cacheDir);
  configure("startupcache ../cache\nreadiness return\n");
  auto byReturn = tree.run({"+makecache", "args"}, traced());
  EXPECT_EQ(byReturn.status, 0) << byReturn.err;
  EXPECT_EQ(caches().size(), 1u);

  // port N: a server that opens the port and never ends.
  fs::remove_all(cacheDir);
  const std::string src = tree.makeDir("server-src");
  tree.writeFile("server-src/PortServer.java",
                 "public class PortServer { public static void main(String[] a) throws Exception {\n"
                 "  java.net.ServerSocket s = new java.net.ServerSocket(Integer.parseInt(a[0]), 50,"
                 " java.net.InetAddress.getLoopbackAddress());\n"
                 "  System.out.println(\"listening\"); Thread.sleep(600000); } }\n");
  auto javac = e2e::runProgram(e2e::testJdkHome() + "/bin/javac",
                               {"javac", "--release", "17", "-d", src, src + "/PortServer.java"}, Env(), e2e::RunOptions());
  ASSERT_EQ(javac.status, 0) << javac.err;
  auto jar = e2e::runProgram(e2e::testJdkHome() + "/bin/jar",
                             {"jar", "cf", tree.path("lib/server.jar"), "-C", src, "PortServer.class"}, Env(),
                             e2e::RunOptions());
  ASSERT_EQ(jar.status, 0) << jar.err;
  const int port = freePort();
  ASSERT_NE(port, 0);
  configure("startupcache ../cache\nreadiness port " + std::to_string(port) + "\n", "PortServer");
  auto byPort = tree.run({"+makecache", std::to_string(port)}, traced());
  EXPECT_EQ(byPort.status, 0) << byPort.err;
  EXPECT_TRUE(e2e::hasLine(byPort.out, "listening")) << byPort.out;
  EXPECT_EQ(caches().size(), 1u);
  EXPECT_TRUE(leftovers().empty());
}

// The classes whose natives the launcher registers: a run on a cache made from a class path
// without them searches no jar for them (the search would open every jar, which a run on a
// cache otherwise never does), and once they are on the class path their natives are there
// again on a run on the cache.
TEST_P(StartupCache, RunOnACacheSkipsTheSearchForLauncherClassesTheClassPathLacks) {
  fs::rename(tree.path("lib/app.jar"), tree.path("app.jar"));
  buildHello("v1", tree.path("lib/hello.jar"));
  configure("startupcache ../cache\n", "Deployed");
  const std::vector<std::string> skipped = {
      "Startup cache: com/vantrel/launcher/JavaLauncher was not found when the cache was made; not looked up",
      "Startup cache: com/vantrel/enterprise/server/UserId was not found when the cache was made; not looked up"};
  auto first = tree.run({}, traced());
  ASSERT_EQ(first.status, 0) << first.err;
  const std::string made = traced(first.out, "Startup cache: making ");
  ASSERT_FALSE(made.empty()) << first.out;
  for (const std::string& line : skipped) EXPECT_FALSE(e2e::hasLine(first.out, line)) << first.out;
  EXPECT_TRUE(contains(e2e::readFile(made + ".record"), "\nabsent com/vantrel/launcher/JavaLauncher\n"))
      << e2e::readFile(made + ".record");
  auto warm = tree.run({}, traced());
  ASSERT_EQ(warm.status, 0) << warm.err;
  EXPECT_TRUE(e2e::hasLine(warm.out, "Startup cache: using " + made)) << warm.out;
  EXPECT_TRUE(e2e::hasLine(warm.out, "hello v1 agent=null")) << warm.out;
  for (const std::string& line : skipped) EXPECT_TRUE(e2e::hasLine(warm.out, line)) << warm.out;
  expectNoVmComplaint(warm);

  fs::rename(tree.path("app.jar"), tree.path("lib/app.jar"));
  configure("startupcache ../cache\n");
  for (int run = 0; run < 2; ++run) {
    auto natives = tree.run({"natives"}, traced());
    ASSERT_EQ(natives.status, 0) << natives.err;
    EXPECT_FALSE(traced(natives.out, run == 0 ? "Startup cache: making " : "Startup cache: using ").empty())
        << natives.out;
    EXPECT_TRUE(e2e::hasLine(natives.out, "nativeAvailable=true")) << natives.out;
    // Bound: the calls answer instead of throwing UnsatisfiedLinkError.
    EXPECT_TRUE(contains(natives.out, "\nregistry=")) << natives.out;
    for (const std::string& line : skipped) EXPECT_FALSE(e2e::hasLine(natives.out, line)) << natives.out;
  }
}

// A VM that cannot be created with the cache options (with -XX:+RecordDynamicDumpInfo,
// release 17 refuses them in a failed creation, release 25 ends the process itself) is
// created once more without them: one warning line, the application runs, and neither it
// nor the directory keeps a trace of the retry.
TEST_P(StartupCache, CreationFailingWithTheCacheOptionsStartsOnceMoreWithout) {
  configure("startupcache ../cache\nvmparam -XX:+RecordDynamicDumpInfo\n");
  auto r = tree.run({"getenv", "LAUNCHER_STARTUPCACHE_OFF"}, traced());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(e2e::countLines(r.err, "Warning: the VM could not be created with the startup cache options; starting "
                                   "again without a cache."),
            1u)
      << r.err;
  EXPECT_FALSE(e2e::contains(r.err, "Unable to create JVM.")) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "Startup cache not used: the VM could not be created with the cache options before "
                                  "this start"))
      << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "getenv LAUNCHER_STARTUPCACHE_OFF=null")) << r.out;
  EXPECT_TRUE(caches().empty());
  EXPECT_TRUE(leftovers().empty());
}

// Release 25 assembles its cache in a process of its own after the application's end. It
// holds none of the launcher's descriptors, so that one that outlives a killed launcher keeps
// none of its pipes or locks open: the next start on the same pid file runs.
TEST_P(StartupCache, TheAssemblyHoldsNoneOfTheLaunchersFiles) {
  if (!aot()) GTEST_SKIP() << "release 17 writes its cache in the application's own process";
  tree.makeDir("run");
  configure("startupcache ../cache\npidfile ../run/app.pid\n");
  Child first = tree.start({"args", "one"}, traced());
  ASSERT_TRUE(first.waitUntil([&] { return contains(first.out(), "Startup cache: assembling "); }, 60)) << first.out();
  // The assembly (the launcher's child, for as long as it runs) holds its standard streams and
  // what it opens itself: the installation's files, the class path, the recorded configuration
  // and the cache it writes, but not the directory's lock.
  std::vector<std::string> held;
  for (int tries = 0; tries < 100 && held.empty(); ++tries) {
    std::istringstream children(e2e::readFile("/proc/" + std::to_string(first.pid()) + "/task/" +
                                              std::to_string(first.pid()) + "/children"));
    for (std::string child; children >> child;) {
      std::error_code error;
      // Once it is the installation's program: until then it is the launcher on its way there.
      if (!fs::read_symlink("/proc/" + child + "/exe", error).string().starts_with(GetParam())) continue;
      for (const auto& fd : fs::directory_iterator("/proc/" + child + "/fd", error)) {
        // One it closes meanwhile is gone before it can be read.
        std::string file = fs::read_symlink(fd.path(), error).string();
        if (std::stoi(fd.path().filename().string()) > 2 && !file.empty()) held.push_back(file);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_FALSE(held.empty()) << "the assembly was not seen";
  for (const std::string& file : held) {
    EXPECT_TRUE(file.starts_with(GetParam()) || file.starts_with(tree.path("lib/")) ||
                (file.starts_with(cacheDir) && !file.ends_with(".lock")))
        << file;
  }
  first.signal(SIGKILL);
  first.wait();
  auto next = tree.run({"args", "two"}, traced());
  EXPECT_EQ(next.status, 0) << next.out << next.err;
  EXPECT_TRUE(e2e::hasLine(next.out, "arg[0]=0074 0077 006f")) << next.out;
}

// Another process's hold on the cache directory's lock (shared or exclusive), and whether
// anyone else has opened the lock file since the hold began: the launcher trying it.
class LockHolder {
 public:
  LockHolder(const std::string& file, int operation) {
    fd_ = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    held_ = fd_ >= 0 && ::flock(fd_, operation | LOCK_NB) == 0;
    watch_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch_ >= 0) inotify_add_watch(watch_, file.c_str(), IN_OPEN);
  }
  ~LockHolder() {
    if (fd_ >= 0) ::close(fd_);
    if (watch_ >= 0) ::close(watch_);
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;
  bool held() const { return held_; }
  bool triedWithin(int seconds) const {
    pollfd ready{.fd = watch_, .events = POLLIN, .revents = 0};
    return ::poll(&ready, 1, seconds * 1000) == 1;
  }
  void letGo() const { ::flock(fd_, LOCK_UN); }

 private:
  int fd_ = -1;
  int watch_ = -1;
  bool held_ = false;
};

// Another process holds the cache directory's lock when a run starts or when it publishes
// its cache: a hold let go while the launcher waits is waited for, and the cache is made
// and published; one kept past the wait (a shared one, too) leaves the cache alone. The
// application's status is its own in every case, and no temporary file is left.
TEST_P(StartupCache, AnotherHolderOfTheLockIsWaitedForOrTheCacheLeftAlone) {
  configure("startupcache ../cache\n", "SignalApp");
  ASSERT_EQ(tree.run({"+javacmd"}).status, 0);
  std::string lockFile;
  for (const std::string& name : listing(cacheDir)) {
    if (name.ends_with(".lock")) lockFile = cacheDir + "/" + name;
  }
  ASSERT_FALSE(lockFile.empty());
  struct Case {
    const char* name;
    bool atEnd;
    int operation;
    bool letGo;
  } cases[] = {
      {"at the start, held on", false, LOCK_SH, false},
      {"at the start, let go during the wait", false, LOCK_EX, true},
      {"at the end, held on", true, LOCK_SH, false},
      {"at the end, let go during the wait", true, LOCK_EX, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const std::string& name : listing(cacheDir)) {
      if (!name.ends_with(".lock")) fs::remove(cacheDir + "/" + name);
    }
    std::optional<LockHolder> holder;
    // Let go 0.3 s into the launcher's wait.
    auto letGoOnceTried = [&] {
      if (!c.letGo) return;
      EXPECT_TRUE(holder->triedWithin(60));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      holder->letGo();
    };
    if (!c.atEnd) holder.emplace(lockFile, c.operation);
    Child child = tree.start({}, traced());
    if (!c.atEnd) letGoOnceTried();
    ASSERT_TRUE(child.waitForLine("ready", 1, 60)) << child.out() << child.err();
    if (c.atEnd) holder.emplace(lockFile, c.operation);
    ASSERT_TRUE(holder->held());
    child.write("done\n");
    if (c.atEnd) letGoOnceTried();
    auto r = child.wait(120);
    EXPECT_EQ(r.status, 7) << r.out << r.err;
    const std::string made = traced(r.out, "Startup cache: making ");
    if (c.letGo) {
      EXPECT_TRUE(e2e::hasLine(r.out, "Startup cache: " + made + " is ready")) << r.out;
      EXPECT_EQ(caches().size(), 1u);
    } else if (c.atEnd) {
      EXPECT_TRUE(e2e::hasLine(r.out, "Startup cache: " + lockFile +
                                          " is held by another instance; the cache of this run is dropped"))
          << r.out;
      EXPECT_TRUE(caches().empty());
    } else {
      EXPECT_TRUE(contains(r.out, "another instance holds " + lockFile)) << r.out;
      EXPECT_TRUE(made.empty()) << r.out;
      EXPECT_TRUE(caches().empty());
    }
    EXPECT_TRUE(leftovers().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Releases, StartupCache, ::testing::Values(e2e::testJdkHome(), kJdk25),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param == kJdk25 ? std::string("Release25") : std::string("Release17");
                         });

}  // namespace
