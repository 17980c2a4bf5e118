// End-to-end tests of what a service or a container relies on: jps and jcmd naming the
// VM by the configured sun.java.command, a start with the library path the systemd
// example sets, which needs no re-exec, and the example stopping on the unit's SIGTERM.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

const std::string kJdk = e2e::testJdkHome();

TEST(Service, JpsNamesTheVmByTheConfiguredCommandAndOnlyByIt) {
  struct Case {
    std::string config;
    std::string shown;  // what jps -l prints after the process id, trimmed
  };
  const Case cases[] = {
      {"vmprop sun.java.command=com.example.Server --port 8080\n", "com.example.Server"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config);
    AppTree tree;
    tree.copyClasses();
    tree.writeConfig("javahome " + kJdk + "\nmainclass JpsProbe\naddpath ../classes\n" + c.config);
    e2e::RunResult result = tree.run({});
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_TRUE(e2e::hasLine(result.out, "jps: " + c.shown)) << result.out;
  }
}

TEST(Service, TheUnitsLibraryPathStartsWithoutReexec) {
  AppTree tree;
  tree.copyClasses();
  tree.writeConfig("javahome " + kJdk + "\nmainclass PrintArgs\naddpath ../classes\n");
  Env env;
  env.set("UTRACE", "-p");
  env.set("LD_LIBRARY_PATH", kJdk + "/lib/server:" + kJdk + "/lib");
  env.set("LAUNCHER_ENV_CHECKED", "true");
  e2e::RunResult result = tree.run({"one"}, env);
  ASSERT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.out.find("export LD_LIBRARY_PATH="), std::string::npos) << result.out;
  EXPECT_EQ(result.out.find("Exec'ing"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("one"), std::string::npos) << result.out;
}

// The example application as examples/systemd/hello.service runs it: its own configuration,
// --serve, the unit's environment; systemd's one SIGTERM stops it through Hello.cleanup.
TEST(Service, TheExampleStopsInAnOrderlyWayOnTheUnitsSigterm) {
  AppTree tree("hello");
  tree.copyClasses();
  tree.writeConfig(e2e::readFile(EXAMPLES_DIR "/hello/bin/hello.config"));
  Env env;
  env.set("PATH", kJdk + "/bin:/usr/bin:/bin");
  env.set("LD_LIBRARY_PATH", kJdk + "/lib/server:" + kJdk + "/lib");
  env.set("LAUNCHER_ENV_CHECKED", "true");
  e2e::Child child = tree.start({"--serve"}, env);
  ASSERT_TRUE(child.waitForLine("Serving until stopped.")) << child.out() << child.err();
  ASSERT_TRUE(child.signal(SIGTERM));
  e2e::RunResult result = child.wait();
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_TRUE(e2e::hasLine(result.out, "Stopped in an orderly way.")) << result.out;
  EXPECT_TRUE(e2e::hasLine(result.out, "  argument 2       = --serve")) << result.out;
}

}  // namespace
