// End-to-end tests of the launch ladder and the exit status it maps each outcome to.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

// A Java 1.4-style JDK below the tree, with a stand-in VM library that loads but
// refuses to create a VM.
std::string makeLegacyJdk(const AppTree& tree) { return e2e::makeLegacyJdk(tree, e2e::fakeJvmLibrary()); }

// The stand-in library refuses to create a VM.
const char kVmRefused[] = "fake VM: JNI_CreateJavaVM called\nUnable to create JVM.\n";

std::string usageHead(const AppTree& tree) {
  return "Usage: " + tree.launcher() + " <+options> <args>\n\nwhere options include:\n";
}

}  // namespace

TEST(Launch, MissingConfigurationEndsWithOneAndNoUsage) {
  AppTree tree;
  auto r = tree.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Unable to open configuration file '" + tree.launcher() + ".config'.\n");
  EXPECT_EQ(r.out, "");

  // A rejected command line does not change that: the configuration comes first.
  r = tree.run({"+config"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

TEST(Launch, RejectedCommandLinePrintsUsageAndSucceeds) {
  AppTree tree;
  tree.writeConfig("");
  auto r = tree.run({"a", "+config"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind(usageHead(tree), 0), 0u) << r.out;
}

TEST(Launch, LauncherThatCannotFindItselfEndsWith255) {
  AppTree tree;
  tree.writeConfig("");
  e2e::RunOptions options;
  options.argv0 = "no-such-launcher-on-path";
  auto r = tree.run({}, Env().set("PATH", "/usr/bin:/bin"), options);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Can't get home directory\n");
}

TEST(Launch, WithoutMainClassEndsWithOne) {
  AppTree tree;
  makeLegacyJdk(tree);
  tree.writeConfig("javahome ../jdk\n");
  auto r = tree.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Main class is undefined.\n");
}

TEST(Launch, RefusedVmCreationEndsWithOne) {
  AppTree tree;
  makeLegacyJdk(tree);
  tree.writeConfig("javahome ../jdk\nmainclass a.b.Main\n");
  auto r = tree.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kVmRefused);
}

TEST(Launch, FailedLaunchIsNotRestartedEvenWhenItsCodeIsTheRestartCode) {
  AppTree tree;
  makeLegacyJdk(tree);
  tree.writeConfig("javahome ../jdk\nmainclass a.b.Main\nrestartonexit 1\n");
  e2e::RunOptions options;
  options.timeoutSeconds = 20;
  auto r = tree.run({}, Env().set("UTRACE", "-p"), options);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find("to restart server....."), r.out.rfind("to restart server.....")) << r.out;
}

TEST(Launch, UsageCodeResultPrintsUsageAfterTheRun) {
  AppTree tree;
  makeLegacyJdk(tree);
  tree.writeConfig("javahome ../jdk\nmainclass a.b.Main\nusageonexit 1\n");
  auto r = tree.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind(usageHead(tree), 0), 0u) << r.out;
}

TEST(Launch, HelpAfterTheLibraryIsLoaded) {
  AppTree tree;
  makeLegacyJdk(tree);
  tree.writeConfig("javahome ../jdk\nmainclass a.b.Main\n");
  auto r = tree.run({"+HELP", "ignored", "args"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind(usageHead(tree), 0), 0u) << r.out;
}

TEST(Launch, MissingVersionOrUsageClassPrintsUsageAndFails) {
  AppTree tree;
  makeLegacyJdk(tree);
  tree.writeConfig("javahome ../jdk\nmainclass a.b.Main\njpda paused\n");
  for (const char* option : {"+version", "+usage"}) {
    auto r = tree.run({option});
    // Without a configured class the option is the application's, so the main class runs.
    EXPECT_EQ(r.err, kVmRefused) << option;
  }
  // +jpda itself becomes an application argument without JPDA support; typed in capitals
  // it escapes that conversion and stays in force, which the ladder refuses.
  tree.writeConfig("javahome ../jdk\nmainclass a.b.Main\n");
  auto r = tree.run({"+JPDA"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind(usageHead(tree), 0), 0u) << r.out;
}

TEST(Launch, JavaCommandInsteadOfAStart) {
  AppTree tree;
  std::string jdk = makeLegacyJdk(tree);
  tree.writeConfig("javahome ../jdk\nmainclass a.b.Main\n");
  auto r = tree.run({"+javacmd", "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind(jdk + "/bin/java -server ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(" a.b.Main x\n"), std::string::npos) << r.out;
}

TEST(Launch, KeyDirectoryRunsTheLoginClass) {
  AppTree tree;
  makeLegacyJdk(tree);
  tree.makeDir("adm/security/keys");
  tree.writeConfig("javahome ../jdk\nmainclass a.b.Main\nversionclass a.b.Version\n");
  auto r = tree.run({"+javacmd", "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" com.orvalis.security.bootstrap.Login com.orvalis.security.bootstrap.AuthClear a.b.Main x\n"),
            std::string::npos)
      << r.out;

  // The version class is not wrapped.
  r = tree.run({"+javacmd", "+version"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" a.b.Version\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Login"), std::string::npos) << r.out;
}
