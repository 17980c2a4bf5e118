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

// A 40,000-character text from the command line or the configuration is clipped in every
// trace line that carries it, and the launch never ends in the trace overflow.
TEST(Trace, LongUserTextIsClippedInEveryLine) {
  const std::string huge(40000, 'q');
  const std::string first = huge.substr(0, 16384);
  const std::string second = huge.substr(0, 15872);
  struct Case {
    std::vector<std::string> args;
    std::string config;
    std::string line;
  };
  const Case cases[] = {
      {{huge}, "", "Processed <" + first + "> application arg"},
      {{"+classpath", huge}, "", "Processed <+classpath " + second + "> arg"},
      {{"+javahome", "/opt/jdk"}, "javahome " + huge + "\n", "Javahome already set - not setting it to <" + first + ">"},
      {{}, "javapath /a\njavapath " + huge + "\n", "Javapath already set - not setting it to <" + first + ">"},
      {{}, "vmtype server\nvmtype " + huge + "\n", "VMType already set - not setting it to <" + first + ">"},
      {{}, "setfromoption v=" + huge + "\n", "Option <" + first + "> not on command line"},
      {{"+jpda:" + huge}, "jpda running\n", "Unknown option in +jpda argument <" + first + ">"},
      {{}, "options " + huge + "\n", "Unknown option in 'options' directive <" + first + ">"},
      {{}, "jpda " + huge + "\n", "Unknown option in jpda directive <" + first + ">"},
      {{}, "setfromoption " + huge + "\n", "No variable name specified in <" + first + ">"},
  };
  AppTree tree;
  for (const Case& c : cases) {
    tree.writeConfig(c.config);
    auto r = tree.run(c.args, Env().set("UTRACE", "-p"));
    EXPECT_EQ(r.err.find("UTRACE BUFFER OVERFLOW"), std::string::npos) << c.line.substr(0, 40);
    EXPECT_TRUE(e2e::hasLine(r.out, c.line)) << c.line.substr(0, 40) << "\n" << r.out.substr(0, 2000);
  }
}
