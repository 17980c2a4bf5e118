// End-to-end tests of the final VM option list as +javacmd prints it, of the script itself
// run with sh against the real installation, and of the J2EE refusal on the class path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

const std::string kJdk = e2e::testJdkHome();

// The library path a start with the test installation needs, so no re-exec happens.
Env jdkEnv() { return Env().set("LD_LIBRARY_PATH", kJdk + "/lib/server:" + kJdk + "/lib"); }

// A tree whose configuration runs PrintArgs from its classes directory on the test JDK.
std::string configFor(const std::string& more) {
  return "javahome " + kJdk + "\nmainclass PrintArgs\naddpath ../classes\n" + more;
}

// The launcher's own properties that follow the class path options.
std::string launcherTail(const AppTree& tree, const std::string& home = kJdk) {
  return " -Dlauncher.jdk.home=" + home + " -Dlauncher.program=" + home + "/bin/java -Dvantrel.executable.path=" +
         tree.launcher();
}

// Runs the script with sh from the tree's root.
e2e::RunResult runScript(const AppTree& tree, const std::string& script) {
  std::string file = tree.writeFile("javacmd.sh", script, 0755);
  e2e::RunOptions options;
  options.cwd = tree.root();
  return e2e::runProgram("/bin/sh", {"sh", file}, Env(), options);
}

// The option strings the launcher hands to the VM, from the trace of a real start:
// "    option[ n] = '<text>'" per option, where the text may run over several lines (the
// consolidated properties), and "'exit' (JNI Invocation API JVM exit hook)" for the hook.
std::vector<std::string> tracedOptions(const std::string& trace) {
  std::vector<std::string> options;
  for (size_t pos = trace.find("    option["); pos != std::string::npos; pos = trace.find("    option[", pos)) {
    size_t open = trace.find("] = '", pos);
    if (open == std::string::npos) break;
    size_t start = open + 5;
    const std::string hook = "exit' (JNI Invocation API JVM exit hook)\n";
    if (trace.compare(start, hook.size(), hook) == 0) {
      options.push_back("exit");
      pos = start;
      continue;
    }
    size_t end = trace.find("'\n", start);
    if (end == std::string::npos) break;
    options.push_back(trace.substr(start, end - start));
    pos = end;
  }
  return options;
}

bool contains(const std::vector<std::string>& list, const std::string& text) {
  for (const std::string& entry : list) {
    if (entry == text) return true;
  }
  return false;
}

}  // namespace

TEST(JavaCmd, ScriptCarriesEveryOptionInOrderAndRuns) {
  AppTree tree;
  std::string classes = tree.copyClasses();
  std::string a = tree.writeFile("lib/a.jar", "");
  std::string b = tree.writeFile("lib/b.jar", "");
  tree.writeConfig(configFor("addjars ../lib\nvmparam -Xmx64m\nvmprop cfg.prop=from config\n"));
  auto r = tree.run({"+javacmd", "-Dcmd.prop=1", "two words", "-Xss2m", "plain", "say\"hi\"",
                     "-Dprintargs.props=cmd.prop,cfg.prop"},
                    jdkEnv());
  ASSERT_EQ(r.status, 0) << r.err;
  std::string classPath = classes + ":" + a + ":" + b;
  EXPECT_EQ(r.out, kJdk + "/bin/java -server -Xmx64m \"-Dcfg.prop=from config\" -Xss2m -Dcmd.prop=1"
                   " -Dprintargs.props=cmd.prop,cfg.prop -Djava.class.path=" + classPath + launcherTail(tree) +
                   " PrintArgs \"two words\" plain say\"hi\"\n");
  EXPECT_EQ(r.err, "");

  auto s = runScript(tree, r.out);
  ASSERT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(s.out, "arg=two words\narg=plain\narg=sayhi\nprop user.dir=" + tree.root() +
                       "\nprop java.class.path=" + classPath + "\nprop launcher.program=" + kJdk +
                       "/bin/java\nprop launcher.jdk.home=" + kJdk + "\nprop vantrel.executable.path=" +
                       tree.launcher() + "\nprop cmd.prop=1\nprop cfg.prop=from config\n");
}

// "+javacmd | sh" runs the application with the environment the launcher gives it: the
// configuration's exports, quoted for sh whatever they hold, and without the service
// manager's variables the launcher keeps to itself.
TEST(JavaCmd, PipedToShTheApplicationSeesTheSameEnvironment) {
  AppTree tree;
  tree.copyClasses();
  const std::string awkward = "it's \"quoted\" $HOME `date` \\ ;|&*";
  tree.writeConfig(configFor("export APP_PORT=8181\nexport APP_NOTE=" + awkward + "\nexport APP_PORT=8282\n" +
                             "vmprop printargs.env=APP_PORT,APP_NOTE,NOTIFY_SOCKET\n"));
  Env env = jdkEnv().set("NOTIFY_SOCKET", tree.path("notify.sock")).set("APP_PORT", "80");
  const std::vector<std::string> expected = {"env APP_PORT=8282", "env APP_NOTE=" + awkward,
                                             "env NOTIFY_SOCKET=null"};

  auto started = tree.run({}, env);
  ASSERT_EQ(started.status, 0) << started.err;
  e2e::RunOptions options;
  options.cwd = tree.root();
  auto piped = e2e::runProgram("/bin/sh", {"sh", "-c", "\"$0\" +javacmd | /bin/sh", tree.launcher()}, env, options);
  ASSERT_EQ(piped.status, 0) << piped.err;
  for (const std::string& line : expected) {
    EXPECT_TRUE(e2e::hasLine(started.out, line)) << started.out;
    EXPECT_TRUE(e2e::hasLine(piped.out, line)) << piped.out;
  }
  auto script = tree.run({"+javacmd"}, env);
  EXPECT_TRUE(script.out.starts_with(
      "export APP_PORT='8282'\nexport APP_NOTE='it'\\''s \"quoted\" $HOME `date` \\ ;|&*'\n"
      "unset NOTIFY_SOCKET WATCHDOG_USEC WATCHDOG_PID\n\n" +
      kJdk + "/bin/java "))
      << script.out;
}

TEST(JavaCmd, WorkingDirectoryAndJavaHomeWithSpaces) {
  AppTree tree;
  std::string classes = tree.copyClasses();
  std::string work = tree.makeDir("work dir");
  tree.symlink(kJdk, "my jdk");
  std::string home = tree.path("my jdk");
  tree.writeConfig("javahome ../my jdk\nmainclass PrintArgs\naddpath ../classes\ncd ../work dir\n");
  auto r = tree.run({"+javacmd", "x"}, Env().set("LD_LIBRARY_PATH", home + "/lib/server:" + home + "/lib"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "# All paths passed to the launcher command must be absolute for this cd to be valid\n"
                   "cd \"" + work + "\"\n\n\"" + home + "/bin/java\" -server -Djava.class.path=" + classes +
                   " \"-Dlauncher.jdk.home=" + home + "\" \"-Dlauncher.program=" + home +
                   "/bin/java\" -Dvantrel.executable.path=" + tree.launcher() + " PrintArgs x\n");

  auto s = runScript(tree, r.out);
  ASSERT_EQ(s.status, 0) << s.err;
  EXPECT_TRUE(e2e::hasLine(s.out, "prop user.dir=" + work)) << s.out;
  EXPECT_TRUE(e2e::hasLine(s.out, "prop launcher.program=" + home + "/bin/java")) << s.out;
}

TEST(JavaCmd, ClassPathModesAndSources) {
  AppTree tree;
  std::string classes = tree.copyClasses();
  std::string a = tree.writeFile("lib/a.jar", "");
  std::string c = tree.writeFile("extra/c.jar", "");
  tree.writeConfig(configFor("addjars ../lib\n"));
  std::string configured = classes + ":" + a;
  struct Case {
    std::vector<std::string> args;
    std::string classPathOption;
  } cases[] = {
      {{}, " -Djava.class.path=" + configured},
      {{"+classpath", c}, " -Djava.class.path=" + configured + ":" + c},
      {{"+classpath/a", c + ":" + a}, " -Djava.class.path=" + configured + ":" + c},
      {{"+classpath/p", c + ":" + a}, " -Djava.class.path=" + c + ":" + a + ":" + classes},
      {{"+classpath/r", c}, " -Djava.class.path=" + c},
      {{"+classpath/p", classes, "+classpath/r", c}, " -Djava.class.path=" + c},
      {{"+classpath/r", tree.path("missing.jar")}, ""},
  };
  for (const Case& test : cases) {
    std::vector<std::string> args = {"+javacmd"};
    args.insert(args.end(), test.args.begin(), test.args.end());
    auto r = tree.run(args, jdkEnv());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kJdk + "/bin/java -server" + test.classPathOption + launcherTail(tree) + " PrintArgs\n");
  }

  auto r = tree.run({"+javacmd", "+classpath/r", tree.path("missing.jar")}, jdkEnv().set("UTRACE", "-p"));
  EXPECT_TRUE(e2e::hasLine(r.out, "Class path is empty after replacing it from the command line")) << r.out;
}

TEST(JavaCmd, BootClassPathIsAppendedOnModularVMs) {
  AppTree tree;
  std::string classes = tree.copyClasses();
  std::string boot = tree.makeDir("boot");
  tree.writeConfig(configFor("addbootpath ../boot\n"));
  auto r = tree.run({"+javacmd", "-Dprintargs.props=launcher.config.bootclasspath"}, jdkEnv());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kJdk + "/bin/java -server -Dprintargs.props=launcher.config.bootclasspath -Xbootclasspath/a:" +
                       boot + " -Djava.class.path=" + classes + launcherTail(tree) + " PrintArgs\n");
  auto s = runScript(tree, r.out);
  EXPECT_EQ(s.status, 0) << s.err;

  r = tree.run({"+javacmd"}, jdkEnv().set("UTRACE", "-p"));
  EXPECT_TRUE(e2e::hasLine(r.out, "Boot class path cannot be prepended on this VM; appending it")) << r.out;
}

TEST(JavaCmd, DebuggingOptions) {
  AppTree tree;
  std::string classes = tree.copyClasses();
  std::string head = kJdk + "/bin/java -server -Djava.class.path=" + classes + launcherTail(tree);
  struct Case {
    const char* directive;
    const char* option;
    const char* agent;
  } cases[] = {
      {"jpda running", "+jpda", "-agentlib:jdwp=transport=dt_socket,server=y,suspend=n"},
      {"jpda paused", "+jpda", "-agentlib:jdwp=transport=dt_socket,server=y,suspend=y"},
      {"jpda running", "+jpda:paused,address=8000", "-agentlib:jdwp=transport=dt_socket,server=y,suspend=y,address=8000"},
      {"jpda address=myhost:8000", "+jpda", "-agentlib:jdwp=transport=dt_socket,server=n,suspend=n,address=myhost:8000"},
  };
  for (const Case& test : cases) {
    tree.writeConfig(configFor(std::string(test.directive) + "\n"));
    auto r = tree.run({"+javacmd", test.option}, jdkEnv());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, head + " " + test.agent + " PrintArgs\n") << test.directive << " " << test.option;
  }
}

TEST(JavaCmd, DebugProgramOnALegacyInstallation) {
  AppTree tree;
  std::string home = e2e::makeLegacyJdk(tree, e2e::fakeJvmLibrary());
  tree.writeConfig("javahome ../jdk\nmainclass a.b.Main\n");
  auto r = tree.run({"+javacmd", "+javag", "x"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, home + "/bin/java_g -server -Dlauncher.jdk.home=" + home + " -Dlauncher.program=" + home +
                       "/bin/java_g -Dvantrel.executable.path=" + tree.launcher() + " a.b.Main x\n");
}

TEST(JavaCmd, KeyDirectoryRunsTheLoginClass) {
  AppTree tree;
  std::string classes = tree.copyClasses();
  tree.makeDir("adm/security/keys");
  tree.writeConfig(configFor(""));
  auto r = tree.run({"+javacmd", "a b"}, jdkEnv());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kJdk + "/bin/java -server -Djava.class.path=" + classes + launcherTail(tree) +
                       " com.orvalis.security.bootstrap.Login com.orvalis.security.bootstrap.AuthClear PrintArgs"
                       " \"a b\"\n");
  auto s = runScript(tree, r.out);
  ASSERT_EQ(s.status, 0) << s.err;
  EXPECT_EQ(e2e::lines(s.out).front(), "arg=a b");
}

TEST(JavaCmd, ShutdownSwitchOnlyWithAStackDumpEntry) {
  AppTree withDump;
  e2e::makeLegacyJdk(withDump, e2e::fakeJvmDumpLibrary());
  withDump.writeConfig("javahome ../jdk\nmainclass a.b.Main\noptions handleexit\n");
  auto r = withDump.run({"+javacmd"});
  EXPECT_EQ(r.out.find("-Xrs"), std::string::npos) << r.out;
  r = withDump.run({}, Env().set("UTRACE", "-p"));
  EXPECT_TRUE(contains(tracedOptions(r.out), "-Xrs")) << r.out;

  AppTree withoutDump;
  e2e::makeLegacyJdk(withoutDump, e2e::fakeJvmLibrary());
  withoutDump.writeConfig("javahome ../jdk\nmainclass a.b.Main\noptions handleexit\n");
  r = withoutDump.run({}, Env().set("UTRACE", "-p"));
  std::vector<std::string> options = tracedOptions(r.out);
  EXPECT_FALSE(options.empty()) << r.out;
  EXPECT_FALSE(contains(options, "-Xrs")) << r.out;
}

TEST(JavaCmd, RealStartReceivesTheSameOptions) {
  AppTree tree;
  std::string classes = tree.copyClasses();
  std::string c = tree.writeFile("extra/c.jar", "");
  tree.writeConfig(configFor("vmparam -Xmx64m\nvmprop a=1\noptions handleexit\n"));
  const std::string props = "-Dprintargs.props=a,b,launcher.config.classpath,launcher.commandline.classpath";
  auto r = tree.run({"-Db=2", "-Xss2m", "+classpath/p", c, props, "arg"}, jdkEnv().set("UTRACE", "-p"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> expected = {
      "-Xmx64m",
      "-Da=1",
      "-Xss2m",
      "-Db=2",
      props,
      "-Dlauncher.commandline.params=-Xss2m\n-Db=2\n" + props,
      "-Dlauncher.config.params=-Xmx64m\n-Da=1",
      "-Dlauncher.config.classpath=" + classes,
      "-Dlauncher.commandline.classpath=" + c,
      "-Djava.class.path=" + c + ":" + classes,
      "-Dlauncher.jdk.home=" + kJdk,
      "-Dlauncher.program=" + tree.launcher(),
      "-Dvantrel.executable.path=" + tree.launcher(),
      "-Xrs",
      "exit",
  };
  EXPECT_EQ(tracedOptions(r.out), expected) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "prop launcher.commandline.params=-Xss2m")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "prop launcher.config.params=-Xmx64m")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "prop launcher.config.classpath=" + classes)) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "prop launcher.commandline.classpath=" + c)) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "prop java.class.path=" + c + ":" + classes)) << r.out;
}

TEST(JavaCmd, ReferenceImplementationOnTheClassPath) {
  AppTree tree;
  tree.copyClasses();
  std::string ri = tree.writeFile("ri/lib/J2EE.jar", "");
  tree.writeConfig(configFor(""));
  auto r = tree.run({"+javacmd", "+classpath", ri}, jdkEnv());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Sun's J2EE Reference Implementation found on classpath.\n"
                   "Vantrel and Sun's J2EE are mutually exclusive.\n"
                   "Remove '" + ri + "' from the classpath before running any Vantrel command.\n");

  r = tree.run({"+javacmd", "+classpath", ri}, jdkEnv().set("ZEP_NO_SAFETY_NET", ""));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(":" + ri + " "), std::string::npos) << r.out;

  tree.writeConfig(configFor("options allowri\n"));
  r = tree.run({"+javacmd", "+classpath", ri}, jdkEnv());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(":" + ri + " "), std::string::npos) << r.out;

  std::string lookalike = tree.writeFile("lib/myj2ee.jar", "");
  tree.writeConfig(configFor(""));
  r = tree.run({"+javacmd", "+classpath", lookalike}, jdkEnv());
  EXPECT_EQ(r.status, 0) << r.err;
}
