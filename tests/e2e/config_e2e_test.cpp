// End-to-end tests of reading the configuration: the choice of the file, the messages of
// a failing configuration at every include depth, and a configuration carried in the
// launcher's own archive comment.
#include <gtest/gtest.h>

#include <string>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

std::string zipEndRecord(const std::string& comment) {
  std::string r("PK\x05\x06", 4);
  r.append(16, '\0');
  r.push_back(static_cast<char>(comment.size() & 0xff));
  r.push_back(static_cast<char>(comment.size() >> 8));
  return r + comment;
}

Env traced() { return Env().set("UTRACE", "-p"); }

}  // namespace

TEST(Config, FailingLineEndsTheLaunchWithOne) {
  AppTree tree;
  tree.writeConfig("# settings\n\nset A=1\nJavaHome /opt/jdk\nmainclass never.Read\n");
  auto r = tree.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Unrecognized directive 'JavaHome /opt/jdk' at line 4 in configuration file '" +
                       tree.launcher() + ".config'.\n");

  tree.writeConfig("nosplash now\n");
  r = tree.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Parameter not required on 'nosplash now' at line 1 in configuration file '" +
                       tree.launcher() + ".config'.\n");

  tree.writeConfig("vmversion 1.2\n");
  r = tree.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Invalid version specifier in 'vmversion 1.2' at line 1 in configuration file '" +
                       tree.launcher() + ".config'.\n");
}

TEST(Config, FailureInsideIncludedFilesIsReportedAtEveryDepth) {
  AppTree tree;
  std::string inner = tree.writeFile("conf/inner.config", "\n\nset B=2\ncd\n");
  std::string middle = tree.writeFile("conf/middle.config", "set A=1\ninclude inner.config\n");
  tree.writeConfig("# top\ninclude ../conf/middle.config\nmainclass never.Read\n");
  auto r = tree.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Parameter required for 'cd' at line 4 in configuration file '" + inner + "'.\n" +
                       "Error: Unable to process 'include inner.config' at line 2 in configuration file '" + middle +
                       "'.\n" + "Error: Unable to process 'include ../conf/middle.config' at line 2 in "
                       "configuration file '" + tree.launcher() + ".config'.\n");
}

TEST(Config, IncludeCycleIsRefused) {
  AppTree tree;
  std::string config = tree.launcher() + ".config";
  std::string other = tree.writeFile("bin/other.config", "set B=1\ninclude $var(installRoot)/bin/app.config\n");
  tree.writeConfig("include other.config\n");
  auto r = tree.run({});
  EXPECT_EQ(r.status, 1);
  std::string back = tree.bin() + "/../bin/app.config";
  EXPECT_EQ(r.err, "Error: Configuration file '" + config + "' is already being read at line 2 in configuration file '" +
                       other + "'.\n" + "Error: Unable to process 'include " + back +
                       "' at line 2 in configuration file '" + other + "'.\n" +
                       "Error: Unable to process 'include other.config' at line 1 in configuration file '" + config +
                       "'.\n");
}

TEST(Config, IncludeDirReadsAllFilesAndGoesOn) {
  AppTree tree;
  tree.writeFile("conf.d/a.config", "set A=1\n");
  std::string bad = tree.writeFile("conf.d/b.config", "set B=1\nbogus\n");
  tree.writeConfig("includedir ../conf.d\nset C=$var(A)$var(B)\nnosplash x\n");
  auto r = tree.run({}, traced());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Unrecognized directive 'bogus' at line 2 in configuration file '" + bad + "'.\n" +
                       "Error: Parameter not required on 'nosplash x' at line 3 in configuration file '" +
                       tree.launcher() + ".config'.\n");
  EXPECT_TRUE(e2e::hasLine(r.out, "Processed <set C=11> from <app.config>")) << r.out;
}

TEST(Config, ConfigOptionNamesTheFileWithoutFallback) {
  AppTree tree;
  tree.writeConfig("");
  auto r = tree.run({"+config", "missing.config"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Unable to open configuration file '" + tree.bin() + "/missing.config'.\n");

  tree.writeFile("bin/alt.config", "bogus\n");
  r = tree.run({"+config", "alt.config"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Unrecognized directive 'bogus' at line 1 in configuration file '" + tree.bin() +
                       "/alt.config'.\n");
}

TEST(Config, TrailingWIsDroppedWhenThatFileExists) {
  AppTree tree("appw");
  auto r = tree.run({}, traced());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Unable to open configuration file '" + tree.bin() + "/appw.config'.\n");
  tree.writeFile("bin/app.config", "bogus\n");
  r = tree.run({}, traced());
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(e2e::hasLine(r.out, "Look for Configuration file " + tree.bin() + "/app.config")) << r.out;
  EXPECT_EQ(r.err, "Error: Unrecognized directive 'bogus' at line 1 in configuration file '" + tree.bin() +
                       "/app.config'.\n");
}

TEST(Config, ArchiveCommentIsReadWhenNoFileExists) {
  AppTree tree;
  std::string binary = e2e::readFile(tree.launcher());
  tree.writeFile("bin/app", binary + zipEndRecord("set A=1\ninclude sub.config\n"), 0755);
  std::string sub = tree.writeFile("bin/sub.config", "set B=$var(A)\n\nbogus $var(B)\n");
  auto r = tree.run({}, traced());
  EXPECT_EQ(r.status, 1);
  const std::string prefix = "Processed zipfile comment file <";
  size_t at = r.out.find(prefix);
  ASSERT_NE(at, std::string::npos) << r.out;
  std::string tempFile = r.out.substr(at + prefix.size(), r.out.find('>', at) - at - prefix.size());
  // Relative names resolve against the launcher's directory, and the temporary file is gone.
  EXPECT_EQ(r.err, "Error: Unrecognized directive 'bogus $var(B)' at line 3 in configuration file '" + sub + "'.\n" +
                       "Error: Unable to process 'include sub.config' at line 2 in configuration file '" + tempFile +
                       "'.\n");
  EXPECT_FALSE(e2e::fileExists(tempFile));

  // A default file beside the launcher wins over the comment.
  tree.writeConfig("bogus\n");
  r = tree.run({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Unrecognized directive 'bogus' at line 1 in configuration file '" + tree.launcher() +
                       ".config'.\n");
}
