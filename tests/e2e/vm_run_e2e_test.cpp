// End-to-end tests of a real start: the VM created in the launcher's own process, the
// class run with its arguments, the exit status and restart rules, the acceptance check,
// the exported environment and the natives the Java side calls.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::contains;
using e2e::Env;
using e2e::exportedFile;

namespace {

const std::string kJdk = e2e::testJdkHome();

// A modular JDK under /usr/lib/jvm other than the test installation, if there is one.
std::string secondJdk() {
  std::error_code ec;
  const auto primary = std::filesystem::canonical(kJdk, ec);
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/jvm", ec)) {
    const std::string home = entry.path().string();
    if (entry.is_symlink() || !e2e::fileExists(home + "/lib/modules") ||
        !e2e::fileExists(home + "/bin/javac")) {
      continue;
    }
    if (std::filesystem::canonical(home, ec) != primary) return home;
  }
  return {};
}

// A tree that runs RunProbe from its classes directory on the given installation.
struct ProbeApp {
  AppTree tree;
  explicit ProbeApp(const std::string& more = "", const std::string& jdk = kJdk,
                    const std::string& cls = "RunProbe") {
    tree.copyClasses();
    tree.writeConfig("javahome " + jdk + "\nmainclass " + cls + "\naddpath ../classes\n" + more);
  }
  e2e::RunResult run(const std::vector<std::string>& args, const Env& env = Env(),
                     const e2e::RunOptions& options = e2e::RunOptions()) const {
    return tree.run(args, env, options);
  }
};

const std::string kEacute = "\xc3\xa9";

}  // namespace

TEST(VmRun, ArgumentsReachMainDecodedByTheVmsCharset) {
  ProbeApp app("apparg args\napparg configured one\ncd ..\n");
  struct Case {
    const char* locale;
    std::string eacute;  // what the two bytes of a UTF-8 e-acute decode to
  } cases[] = {{"C", "fffd fffd"}, {"C.UTF-8", "00e9"}};
  for (const Case& c : cases) {
    auto r = app.run({"", "plain", kEacute}, Env().set("LC_ALL", c.locale));
    ASSERT_EQ(r.status, 0) << c.locale << r.err;
    EXPECT_EQ(r.out,
              "arg[0]=0063 006f 006e 0066 0069 0067 0075 0072 0065 0064 0020 006f 006e 0065\n"
              "arg[1]=\n"
              "arg[2]=0070 006c 0061 0069 006e\n"
              "arg[3]=" +
                  c.eacute +
                  "\n"
                  "cwd=" +
                  app.tree.root() + "\n")
        << c.locale;
    EXPECT_EQ(r.err, "") << c.locale;
  }
  // From release 18 on the default charset is UTF-8 whatever the locale.
  const std::string other = secondJdk();
  if (other.empty()) return;
  ProbeApp newer("", other);
  auto r = newer.run({"args", kEacute}, Env().set("LC_ALL", "C"));
  ASSERT_EQ(r.status, 0) << other << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "arg[0]=00e9")) << other << r.out;
}

TEST(VmRun, ExitStatusOfEveryWayARunCanEnd) {
  ProbeApp app;
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* err;  // a part of standard error
  } cases[] = {
      {{"status", "5"}, 5, ""},
      {{"throw"}, 1, "Exception in thread \"main\" java.lang.IllegalStateException: probe failure"},
      {{"status-throws"}, 1, "java.lang.IllegalStateException: status unavailable"},
      {{"exit", "3"}, 3, ""},
      {{"thread-exit", "4"}, 4, ""},
      // Once getExitStatus has answered, its status decides a later System.exit.
      {{"status-then-exit", "6", "0"}, 6, ""},
  };
  for (const Case& c : cases) {
    auto r = app.run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << "\n" << r.err;
    EXPECT_TRUE(contains(r.err, c.err)) << c.args[0] << "\n" << r.err;
  }

  // Without getExitStatus a returning main ends with 0.
  ProbeApp plain("", kJdk, "PrintArgs");
  auto r = plain.run({"x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "arg=x")) << r.out;

  // A class or method that cannot be resolved ends with 8888, seen as 184.
  ProbeApp missingClass("", kJdk, "no.such.Main");
  r = missingClass.run({});
  EXPECT_EQ(r.status, 184);
  EXPECT_EQ(r.err, "Failed to load class no.such.Main\n");
  ProbeApp missingMethod("", kJdk, "RunProbe.absent()");
  r = missingMethod.run({});
  EXPECT_EQ(r.status, 184);
  EXPECT_EQ(r.err, "No 'static void absent(java.lang.String[])' method in RunProbe.\n");
}

TEST(VmRun, TraceOfARealStart) {
  ProbeApp app("usageonexit 5\nvmprop exitcode=1\n");
  auto r = app.run({"status", "5"}, Env().set("UTRACE", "-p"));
  EXPECT_EQ(r.status, 5) << r.err;
  for (const char* line :
       {"JavaVMInitArgs:", "    version 0x00010002", "    ignoreUnrecognized is JNI_FALSE", "JVM created",
        "JVM vendor is \"Debian\"", "Arguments passed to java class are:", "    status", "    5",
        "Calling entry class 'static void RunProbe.main(java.lang.String[])'",
        "Calling exitStatus class 'static int RunProbe.getExitStatus()'",
        "Returned from main class with status 5", "JVM destroyed", "Registered stack dump handler",
        "Registered user identity natives"}) {
    EXPECT_TRUE(e2e::hasLine(r.out, line)) << line << "\n" << r.out;
  }
  EXPECT_TRUE(contains(r.out, "    nOptions is ")) << r.out;
  EXPECT_TRUE(contains(r.out, "] = '-Dexitcode=1'\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "] = 'exit' (JNI Invocation API JVM exit hook)\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "Java version \"17.")) << r.out;
  // The configured usage code prints the usage text after the VM is gone.
  EXPECT_LT(r.out.find("JVM destroyed"), r.out.find("Usage: ")) << r.out;
}

TEST(VmRun, OptionTheVmRefusesEndsWithOne) {
  ProbeApp app("vmparam -Xno-such-option\nexportenv\n");
  auto r = app.run({"status", "5"}, Env().set("UTRACE", "-p"));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "Unrecognized option: -Xno-such-option")) << r.err;
  EXPECT_TRUE(contains(r.err, "Unable to create JVM.\n")) << r.err;
  const std::string file = exportedFile(r.out);
  ASSERT_FALSE(file.empty()) << r.out;
  EXPECT_FALSE(e2e::fileExists(file));
}

TEST(VmRun, RestartsThroughStatusAndSystemExit) {
  for (const char* how : {"status", "exit"}) {
    ProbeApp app("restartonexit 3\nexportenv\n");
    const std::string generations = app.tree.path("generations");
    auto r = app.run({"restart", generations, "3", "3", how});
    EXPECT_EQ(r.status, 7) << how << r.err;
    std::vector<std::string> lines = e2e::lines(e2e::readFile(generations));
    ASSERT_EQ(lines.size(), 3u) << how;
    // The last generation holds the descriptors of the first; sockets are left out, as the
    // VM opens one of its own at a moment that differs between generations. Every
    // exported environment file is gone.
    auto fds = [](const std::string& line) {
      const size_t from = line.find(" fds ");
      std::string text = line.substr(from, line.find(" env ") - from);
      for (size_t at; (at = text.find("=socket")) != std::string::npos;) {
        const size_t start = text.rfind(',', at);
        text.erase(start, at + 7 - start);
      }
      return text;
    };
    EXPECT_EQ(fds(lines[2]), fds(lines[0])) << how;
    for (const std::string& line : lines) {
      const std::string file = line.substr(line.find(" env ") + 5);
      EXPECT_EQ(file.rfind("/tmp/vantrel-envdump-", 0), 0u) << line;
      EXPECT_FALSE(e2e::fileExists(file)) << line;
    }
  }
}

TEST(VmRun, KeyDirectoryRunsLoginThenTheApplication) {
  ProbeApp app;
  app.tree.makeDir("adm/security/keys");
  auto r = app.run({"args", "x"}, Env().set("UTRACE", "-p"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(
      r.out,
      "Calling entry class 'static void com.orvalis.security.bootstrap.Login.main(java.lang.String[])'"))
      << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "arg[0]=0078")) << r.out;
}

TEST(VmRun, ExportedEnvironmentIsThePrivateStartupEnvironment) {
  ProbeApp app("exportenv\n");
  for (const char* how : {"return", "exit"}) {
    std::vector<std::string> args = {"env"};
    if (std::string(how) == "exit") args.push_back("0");
    auto r = app.run(args, Env().set("PROBE_VALUE", "tab\there \xc3\xa9").set("LC_ALL", "C.UTF-8"));
    ASSERT_EQ(r.status, 0) << how << r.err;
    EXPECT_TRUE(e2e::hasLine(r.out, "mode=rw-------")) << r.out;
    EXPECT_TRUE(e2e::hasLine(r.out, "env|PROBE_VALUE=tab\\there \\u00E9")) << r.out;
    const std::string file = r.out.substr(5, r.out.find('\n') - 5);
    EXPECT_FALSE(e2e::fileExists(file)) << how << " " << file;
  }
}

TEST(VmRun, VersionRequirementAndTheKnownBadBuild) {
  const std::string agent = "vmparam -javaagent:" + e2e::propertyAgentJar() + "=";
  const std::string badBuild =
      agent + "java.vm.vendor=Sun Microsystems Inc.;java.vm.version=1.3.1-b24;java.version=1.3.1\n";
  const std::string refused =
      "This Java VM release is unsupported by Vantrel (see the release notes)\n"
      "Check your installation and use the javahome commandline switchto specify the JDK or JRE location\n";
  const std::string workaround =
      "\nThis Java VM release is unsupported by Vantrel (see the release notes)\n"
      "Attempting to start server with workaround for Java VM issue\n\n";
  struct Case {
    std::string config;
    std::vector<std::string> args;
    Env env;
    int status;
    std::string err;
  } cases[] = {
      {"vmversion 1.4.0-\n",
       {},
       Env(),
       1,
       "Unable to find a supported JDK or JRE version. Version 1.4.0 or lower is required.\n"
       "Check your installation and use the javahome commandline switchto specify the JDK or JRE location\n"},
      {"vmversion 17.0.0+\n", {}, Env(), 5, ""},
      {agent + "java.version=21\nvmversion 21.0.0\n", {}, Env(), 5, ""},
      {badBuild + "options strictvm\n", {}, Env(), 1, refused},
      {badBuild + "options strictvm\n", {"-Djava.security.policy=none"}, Env(), 5, workaround},
      {badBuild + "options strictvm\nvmprop java.security.policy=none\n", {}, Env(), 5, workaround},
      {badBuild + "options strictvm\n", {}, Env().set("ZEP_NO_SAFETY_NET", ""), 5, ""},
      {badBuild, {}, Env(), 5, ""},
  };
  for (Case& c : cases) {
    ProbeApp app(c.config);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"status", "5"});
    auto r = app.run(args, c.env);
    EXPECT_EQ(r.status, c.status) << c.config;
    EXPECT_EQ(r.err, c.err) << c.config;
  }

  // Before 1.3.0 the trace has the short form.
  ProbeApp old(agent + "java.version=1.2.2\nexportenv\n");
  auto r = old.run({"status", "5"}, Env().set("UTRACE", "-p"));
  EXPECT_EQ(r.status, 1);
  // The refused VM stays, but the exported environment does not.
  const std::string file = exportedFile(r.out);
  ASSERT_FALSE(file.empty()) << r.out;
  EXPECT_FALSE(e2e::fileExists(file)) << file;
  EXPECT_TRUE(e2e::hasLine(r.out, "Java version \"1.2.2\"")) << r.out;
  EXPECT_TRUE(contains(r.out, "\nOpenJDK 64-Bit Server VM (")) << r.out;
  EXPECT_FALSE(contains(r.out, "(build ")) << r.out;
}

TEST(VmRun, NativesAnswerFromJava) {
  ProbeApp app;
  const bool root = geteuid() == 0;
  auto r = app.run({"natives"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string head = "nativeAvailable=true\nunderLauncher=true\n";
  EXPECT_EQ(r.out.rfind(head, 0), 0u) << r.out;
  EXPECT_TRUE(contains(r.out, "Full thread dump")) << r.out;
  const std::string tail =
      std::string("dump=true\nregistry=0,null,null,-1,false,false,false\n") +
      "root=" + (root ? "true" : "false") + "\n" +
      "user(null) threw java.lang.NullPointerException: null value\n"
      "user(no-such-user-xyz) threw java.lang.IllegalArgumentException: Invalid user: no-such-user-xyz\n"
      "group(null) threw java.lang.NullPointerException: null value\n"
      "group(no-such-group-xyz) threw java.lang.IllegalArgumentException: Invalid group: no-such-group-xyz\n"
      "group(99999999999) threw java.lang.IllegalArgumentException: Invalid group id: 99999999999\n"
      "user(0abc)=" +
      (root ? "true" : "false") + "\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;

  // Not permitted: false, no exception.
  if (std::optional<uid_t> nobody = e2e::unprivilegedUid()) {
    e2e::RunOptions options;
    options.uid = *nobody;
    r = app.run({"natives"}, Env(), options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(e2e::hasLine(r.out, "root=false")) << r.out;
    EXPECT_TRUE(e2e::hasLine(r.out, "user(0abc)=false")) << r.out;
  }

  // A VM without a stack dump entry point: the natives are there, the dump is not.
  const std::string other = secondJdk();
  if (other.empty()) return;
  ProbeApp newer("", other);
  r = newer.run({"natives"});
  ASSERT_EQ(r.status, 0) << other << r.err;
  EXPECT_EQ(r.out.rfind("nativeAvailable=true\nunderLauncher=false\ndump=false\n", 0), 0u) << other << r.out;
}

TEST(VmRun, RootSwitchesToAnotherUserWithItsGroupsOnly) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const std::string uid = std::to_string(nobody->pw_uid);
  const std::string gid = std::to_string(nobody->pw_gid);
  ProbeApp app;
  auto r = app.run({"switch", "nobody", gid});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "group=true")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "user=true")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "Uid: " + uid + " " + uid + " " + uid + " " + uid)) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "Gid: " + gid + " " + gid + " " + gid + " " + gid)) << r.out;
  // Root's supplementary groups are gone: only the target user's remain.
  size_t groups = r.out.find("Groups:");
  ASSERT_NE(groups, std::string::npos) << r.out;
  std::string line = r.out.substr(groups, r.out.find('\n', groups) - groups);
  EXPECT_TRUE(line == "Groups:" || line == "Groups: " + gid) << line;
}

TEST(VmRun, SetUserTakesTheGroupsOfALoginAndARefusedSwitchKeepsThem) {
  if (geteuid() != 0 || getuid() != 0) GTEST_SKIP() << "needs root";
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const std::string uid = std::to_string(nobody->pw_uid);
  const std::string gid = std::to_string(getgid());
  const std::string uids = "Uid: " + uid + " " + uid + " " + uid + " " + uid + "\n";
  const std::string gids = "Gid: " + gid + " " + gid + " " + gid + " " + gid + "\n";
  // The groups a login of nobody has, as id lists them; /proc gives them sorted.
  auto id = e2e::runProgram("/usr/bin/id", {"id", "-G", "nobody"}, Env(), e2e::RunOptions());
  ASSERT_EQ(id.status, 0) << id.err;
  std::istringstream words(id.out);
  std::vector<long> ids{std::istream_iterator<long>(words), std::istream_iterator<long>()};
  ASSERT_FALSE(ids.empty()) << id.out;
  std::sort(ids.begin(), ids.end());
  std::string loginGroups;
  for (long g : ids) loginGroups += " " + std::to_string(g);

  e2e::RunOptions options;
  options.groups = std::vector<gid_t>{4712, 4711};
  std::vector<std::string> jdks = {kJdk};
  if (std::string other = secondJdk(); !other.empty()) jdks.push_back(other);
  for (const std::string& jdk : jdks) {
    ProbeApp app("", jdk);
    // By name and by id: the id's password entry gives the same login.
    for (const std::string& user : {std::string("nobody"), uid}) {
      auto r = app.run({"login", "4294967295", user}, Env(), options);
      ASSERT_EQ(r.status, 0) << jdk << r.err;
      EXPECT_EQ(r.err, "") << jdk;
      const std::string refused =
          "user(4294967295) threw java.lang.IllegalArgumentException: Invalid user id: 4294967295\n"
          "Uid: 0 0 0 0\n" +
          gids + "Groups: 4711 4712\n";
      const std::string switched = "user(" + user + ")=true\n" + uids + gids + "Groups:" + loginGroups + "\n";
      EXPECT_EQ(r.out, refused + switched) << jdk << " " << user;
    }
  }
}
