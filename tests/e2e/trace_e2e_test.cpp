// End-to-end tests of UTRACE.
#include <gtest/gtest.h>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

// The first trace line of every run, written while the launcher locates itself.
std::string locationLine(const AppTree& tree) {
  return "The full launcher filename and path is set = " + tree.launcher();
}

}  // namespace

TEST(Trace, UnsetWritesNothing) {
  AppTree tree;
  tree.writeConfig("");
  auto r = tree.run({}, Env().unset("UTRACE"));
  EXPECT_EQ(r.out.find("The full launcher"), std::string::npos) << r.out;
}

TEST(Trace, ProductionLinesGoToStandardOutput) {
  AppTree tree;
  tree.writeConfig("");
  for (const char* setting : {"-p", "x-p", "-l1 -p", "-p -f/nonexistent/dir/t"}) {
    auto r = tree.run({}, Env().set("UTRACE", setting));
    EXPECT_TRUE(e2e::hasLine(r.out, locationLine(tree))) << setting << "\n" << r.out;
  }
}

TEST(Trace, LevelWithFileWritesOnlyTheHeader) {
  AppTree tree;
  tree.writeConfig("");
  std::string file = tree.path("trace.txt");
  std::string setting = "-l1 -f" + file;
  auto r = tree.run({"+debug"}, Env().set("UTRACE", setting));
  std::string text = e2e::readFile(file);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.rfind("\nTRACE OUTPUT ", 0), 0u) << text;
  EXPECT_NE(text.find("\t\t\t\tusing " + setting + "\n\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("The full launcher"), std::string::npos);
  // Level tracing is on, so +debug adds nothing.
  EXPECT_EQ(r.out.find("The full launcher"), std::string::npos);
}

TEST(Trace, AppendKeepsEarlierContent) {
  AppTree tree;
  tree.writeConfig("");
  std::string file = tree.writeFile("trace.txt", "earlier\n");
  tree.run({}, Env().set("UTRACE", "-l1 -a -f" + file));
  std::string text = e2e::readFile(file);
  EXPECT_EQ(text.rfind("earlier\n\nTRACE OUTPUT ", 0), 0u) << text;
}

TEST(Trace, LevelBeforeProductionWritesNothing) {
  AppTree tree;
  tree.writeConfig("");
  auto r = tree.run({}, Env().set("UTRACE", "-p -l1"));
  EXPECT_EQ(r.out.find("The full launcher"), std::string::npos) << r.out;
}

TEST(Trace, UnwritableTraceFileIsSilent) {
  AppTree tree;
  tree.writeConfig("");
  auto r = tree.run({}, Env().set("UTRACE", "-l1 -f/nonexistent/dir/trace"));
  EXPECT_EQ(r.out.find("The full launcher"), std::string::npos);
  EXPECT_EQ(r.err.find("trace"), std::string::npos) << r.err;
}
