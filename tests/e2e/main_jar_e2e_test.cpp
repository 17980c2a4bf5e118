// End-to-end tests of the mainjar directive: an executable jar's manifest gives the class
// to run, the class path and the opened packages, as java -jar takes them, on every
// installation; mainclass still wins; a file that is no jar stops the configuration.
#include <gtest/gtest.h>

#include <string>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

// lib/app.jar holds only a manifest; its Class-Path names the test classes beside it.
std::string makeJar(const AppTree& tree, const std::string& manifest) {
  tree.copyClasses("classes");
  std::string text = tree.writeFile("manifest.txt", manifest);
  tree.makeDir("lib");
  std::string jar = tree.path("lib/app.jar");
  e2e::RunResult made = e2e::runProgram(e2e::testJdkHome() + "/bin/jar",
                                        {"jar", "--create", "--file", jar, "--manifest", text}, Env(), {});
  EXPECT_EQ(made.status, 0) << made.err;
  return jar;
}

}  // namespace

TEST(MainJar, RunsTheManifestsClassWithItsClassPathOnEveryInstallation) {
  AppTree tree;
  std::string jar =
      makeJar(tree, "Main-Class: PrintArgs\nClass-Path: ../classes/\nAdd-Opens: java.base/java.lang\n");
  for (const std::string& home : e2e::testInstallations()) {
    tree.writeConfig("javahome " + home + "\nmainjar ../lib/app.jar\napparg hello\n");
    e2e::RunResult run = tree.run({});
    EXPECT_EQ(run.status, 0) << home << run.err;
    EXPECT_TRUE(e2e::hasLine(run.out, "arg=hello")) << run.out;
    EXPECT_TRUE(e2e::hasLine(run.out, "prop java.class.path=" + jar + ":" + tree.path("classes"))) << run.out;

    e2e::RunResult script = tree.run({"+javacmd"});
    EXPECT_TRUE(e2e::contains(script.out, " --add-opens=java.base/java.lang=ALL-UNNAMED ")) << script.out;
    EXPECT_TRUE(e2e::contains(script.out, " PrintArgs hello")) << script.out;
  }
}

TEST(MainJar, MainclassWinsAndAFileThatIsNoJarStops) {
  AppTree tree;
  makeJar(tree, "Main-Class: NoSuchClass\nClass-Path: ../classes/\n");
  const std::string home = "javahome " + e2e::testJdkHome() + "\n";
  tree.writeConfig(home + "mainclass PrintArgs\nmainjar ../lib/app.jar\n");
  e2e::RunResult run = tree.run({"+javacmd"});
  EXPECT_TRUE(e2e::contains(run.out, " PrintArgs\n")) << run.out;

  tree.writeFile("lib/notes.txt", "Main-Class: PrintArgs\n");
  tree.writeConfig(home + "mainjar ../lib/notes.txt\n");
  run = tree.run({});
  EXPECT_NE(run.status, 0);
  EXPECT_TRUE(e2e::contains(run.err,
                            "Error: No readable jar manifest in 'mainjar ../lib/notes.txt' at line 2 in "
                            "configuration file '"))
      << run.err;

  tree.writeFile("manifest2.txt", "Created-By: hand\n");
  e2e::runProgram(
      e2e::testJdkHome() + "/bin/jar",
      {"jar", "--create", "--file", tree.path("lib/plain.jar"), "--manifest", tree.path("manifest2.txt")},
      Env(), {});
  tree.writeConfig(home + "mainjar ../lib/plain.jar\n");
  run = tree.run({});
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.err, "Main class is undefined.\n");
}
