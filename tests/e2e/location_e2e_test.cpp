// End-to-end tests of how the launcher finds itself and its application home.
#include <gtest/gtest.h>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;
using e2e::RunOptions;

namespace {

void expectLocated(const e2e::RunResult& r, const std::string& file, const std::string& directory) {
  EXPECT_TRUE(e2e::hasLine(r.out, "The full launcher filename and path is set = " + file)) << r.out << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "The full launcher path is set = " + directory)) << r.out << r.err;
}

void expectNoHome(const e2e::RunResult& r) {
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, "Can't get home directory\n");
  EXPECT_EQ(r.out.find("The full launcher"), std::string::npos) << r.out;
}

}  // namespace

TEST(Location, BareNameIsFoundOnPathPastAnEmptyEntry) {
  AppTree tree;
  tree.writeConfig("");
  RunOptions options;
  options.argv0 = tree.name();
  auto r = tree.run({}, Env().set("UTRACE", "-p").set("PATH", "/usr/bin::" + tree.bin()), options);
  expectLocated(r, tree.launcher(), tree.bin());
}

TEST(Location, BareNameNotOnPathHasNoHome) {
  AppTree tree;
  tree.writeConfig("");
  RunOptions options;
  options.argv0 = tree.name();
  // The launcher lies in the current directory, but an empty PATH entry does not stand for it.
  options.cwd = tree.bin();
  expectNoHome(tree.run({}, Env().set("UTRACE", "-p").set("PATH", "/usr/bin:"), options));
  expectNoHome(tree.run({}, Env().set("UTRACE", "-p").unset("PATH"), options));
}

TEST(Location, DotSlashNameFromTheLaunchersDirectory) {
  AppTree tree;
  tree.writeConfig("");
  RunOptions options;
  options.argv0 = "./" + tree.name();
  options.cwd = tree.bin();
  auto r = tree.run({}, Env().set("UTRACE", "-p"), options);
  expectLocated(r, tree.launcher(), tree.bin());
}

TEST(Location, LauncherInAPatchesDirectory) {
  AppTree tree;
  std::string patched = tree.copyLauncher("bin/patches/" + tree.name());
  tree.writeFile("bin/patches/" + tree.name() + ".config", "");
  RunOptions options;
  options.argv0 = patched;
  options.program = patched;
  auto r = tree.run({}, Env().set("UTRACE", "-p"), options);
  expectLocated(r, patched, tree.bin() + "/patches");
}

TEST(Location, SymbolicLinkGivesTheTargetsValues) {
  AppTree tree;
  tree.writeConfig("");
  tree.symlink(tree.launcher(), "links/srv");
  RunOptions options;
  options.argv0 = tree.path("links/srv");
  options.program = tree.path("links/srv");
  auto r = tree.run({}, Env().set("UTRACE", "-p"), options);
  expectLocated(r, tree.launcher(), tree.bin());
  for (const std::string& line : e2e::lines(r.out)) {
    if (line.starts_with("The full launcher")) {
      EXPECT_EQ(line.find("links"), std::string::npos) << line;
    }
  }
}

TEST(Location, LauncherAtTheTopOfTheTree) {
  AppTree tree;
  std::string top = tree.copyLauncher(tree.name());
  tree.writeFile(tree.name() + ".config", "");
  RunOptions options;
  options.argv0 = top;
  options.program = top;
  auto r = tree.run({}, Env().set("UTRACE", "-p"), options);
  expectLocated(r, top, tree.root());
}

TEST(Location, ArgumentZeroThatDoesNotExist) {
  AppTree tree;
  tree.writeConfig("");
  RunOptions options;
  options.argv0 = tree.path("bin/nothing-here");
  expectNoHome(tree.run({}, Env().set("UTRACE", "-p"), options));
}
