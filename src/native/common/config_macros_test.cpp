// Tests of macro expansion, configuration variables, set and export.
#include "config_macros.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "app_arguments.h"
#include "launcher_location.h"
#include "test_support.h"
#include "trace.h"

namespace {

class Macros : public testing::Test {
 protected:
  void SetUp() override {
    cfgMacrosInit();
    optAppArgumentsReset();
  }
  void TearDown() override {
    cfgMacrosTerm();
    optAppArgumentsReset();
    ::unsetenv("MACRO_TEST_VALUE");
  }
};

// The expansion together with the trace lines it wrote.
std::string expandTraced(std::string_view line, std::string& trace) {
  std::string result;
  trace = testsupport::traceOf([&] { result = cfgExpandMacros(line); });
  return result;
}

}  // namespace

TEST_F(Macros, TextWithoutMacrosIsCopied) {
  EXPECT_EQ(cfgExpandMacros(""), "");
  EXPECT_EQ(cfgExpandMacros("addpath lib"), "addpath lib");
}

TEST_F(Macros, EnvironmentAndHostProperties) {
  ::setenv("MACRO_TEST_VALUE", "v$env(X)", 1);
  ::unsetenv("MACRO_TEST_UNSET");
  EXPECT_EQ(cfgExpandMacros("a $env(MACRO_TEST_VALUE:/tmp) b"), "a v$env(X) b");
  EXPECT_EQ(cfgExpandMacros("$ENV(MACRO_TEST_UNSET:/tmp)"), "/tmp");
  EXPECT_EQ(cfgExpandMacros("[$env(MACRO_TEST_UNSET)]"), "[]");
  EXPECT_EQ(cfgExpandMacros("$reg(key:dflt)"), "dflt");
  EXPECT_EQ(cfgExpandMacros("[$reg(key)]"), "[]");
  EXPECT_EQ(cfgExpandMacros("$regThenEnv(MACRO_TEST_VALUE:d)"), "v$env(X)");
  EXPECT_EQ(cfgExpandMacros("$envThenReg(MACRO_TEST_UNSET:d:e)"), "d:e");
  // Macros do not nest: the default is '$env(B' and the last ')' is text.
  EXPECT_EQ(cfgExpandMacros("$env(MACRO_TEST_UNSET:$env(B))"), "$env(B)");
}

TEST_F(Macros, MalformedAndUnknownMacrosKeepTheRestOfTheLine) {
  ::setenv("MACRO_TEST_VALUE", "x", 1);
  std::string trace;
  EXPECT_EQ(expandTraced("cost $5 and $env(MACRO_TEST_VALUE)", trace), "cost $5 and $env(MACRO_TEST_VALUE)");
  EXPECT_EQ(trace, "Unrecognised macro <$5 and $env(MACRO_TEST_VALUE)>\n");
  EXPECT_EQ(expandTraced("a $env(X", trace), "a $env(X");
  EXPECT_EQ(trace, "Malformed macro <$env(X>\n");
  EXPECT_EQ(expandTraced("a $env() $env(MACRO_TEST_VALUE)", trace), "a $env() $env(MACRO_TEST_VALUE)");
  EXPECT_EQ(trace, "Malformed macro <$env() $env(MACRO_TEST_VALUE)>\n");
  EXPECT_EQ(expandTraced("$env(MACRO_TEST_VALUE) $", trace), "x $");
  EXPECT_EQ(trace, "Malformed macro <$>\n");
  EXPECT_EQ(expandTraced("p=$file(c:\\dir\\x:y)", trace), "p=$file(c:\\dir\\x:y)");
  EXPECT_EQ(trace, "Malformed macro <$file(c:\\dir\\x:y)>\n");
  EXPECT_EQ(cfgExpandMacros("$file(lib\\ext)/a"), "lib/ext/a");
}

TEST_F(Macros, BuiltInVariables) {
  hmdSetFullLauncherPath("/opt/app/bin");
  EXPECT_EQ(cfgExpandMacros("addpath $var(installRoot)/lib"), "addpath /opt/app/bin/../lib");
  EXPECT_EQ(cfgExpandMacros("$VAR(pathsep)$sys(FILESEP)"), ":/");
  EXPECT_EQ(cfgExpandMacros("$var(PID)"), std::to_string(::getpid()));
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(cfgExpandMacros("$var(cwd)"), cwd);
}

// A variable defined by set wins over the default, an empty one too.
TEST_F(Macros, DefinedVariableWinsOverTheDefault) {
  ASSERT_TRUE(cfgSet("Name=set"));
  EXPECT_EQ(cfgExpandMacros("$var(Name:default)"), "set");
  ASSERT_TRUE(cfgSet("Empty="));
  EXPECT_EQ(cfgExpandMacros("[$var(Empty:default)]"), "[]");
}

TEST_F(Macros, VariablesAreCaseSensitiveAndStoredExpanded) {
  EXPECT_TRUE(cfgSet("Foo=bar"));
  EXPECT_EQ(cfgExpandMacros("$var(Foo)"), "bar");
  EXPECT_EQ(cfgExpandMacros("$var(foo:none)"), "none");
  cfgSet("A=1");
  cfgSet(cfgExpandMacros("B=$var(A)2"));
  cfgSet("A=5");
  EXPECT_EQ(cfgExpandMacros("$var(B)$var(A)"), "125");
  cfgSet("C=x=y");
  EXPECT_EQ(cfgGetVar("C", ""), std::optional<std::string>("x=y"));
  EXPECT_TRUE(cfgSet("=nothing"));
  EXPECT_TRUE(cfgSet("nothing"));
  EXPECT_EQ(cfgGetConfigVars().size(), 4u);

  std::string trace;
  EXPECT_EQ(expandTraced("[$var(Undefined)]", trace), "[<UNKNOWN>]");
  EXPECT_EQ(trace, "Undefined variable <Undefined>\n");
}

TEST_F(Macros, NumberedVariablesAreApplicationArguments) {
  optAddApplicationArgument("p");
  optAddApplicationArgument("q");
  EXPECT_EQ(cfgExpandMacros("$var(2)"), "q");
  EXPECT_EQ(optGetApplicationArgCount(), 2);
  EXPECT_EQ(cfgExpandMacros("$var(3:none)"), "none");
  EXPECT_EQ(cfgExpandMacros("$var(3)"), "<UNKNOWN>");
  EXPECT_EQ(cfgExpandMacros("$var(0:zero)"), "zero");
  EXPECT_EQ(cfgExpandMacros("$var(-3:x)"), "x");
  EXPECT_EQ(cfgExpandMacros("$var(99999999999999999999:big)"), "big");
  EXPECT_EQ(cfgExpandMacros("$var( +1)"), "p");
  EXPECT_EQ(cfgExpandMacros("$var(-1)"), "p");
  ASSERT_EQ(optGetApplicationArgCount(), 1);
  EXPECT_EQ(optGetApplicationArgList()[0], "q");
  // A variable named like a number is found once the number is out of range.
  cfgSet("7=seven");
  EXPECT_EQ(cfgExpandMacros("$var(7)"), "seven");
}

TEST_F(Macros, LongLinesAndLongNames) {
  ::setenv("MACRO_TEST_VALUE", std::string(2000, 'v').c_str(), 1);
  std::string line = std::string(1500, 'a') + "$env(MACRO_TEST_VALUE)" + std::string(1500, 'b');
  EXPECT_EQ(cfgExpandMacros(line), std::string(1500, 'a') + std::string(2000, 'v') + std::string(1500, 'b'));
  // Names and defaults are cut to 4096 characters.
  std::string longDefault(5000, 'd');
  EXPECT_EQ(cfgExpandMacros("$env(MACRO_TEST_UNSET:" + longDefault + ")"), std::string(4096, 'd'));
}

TEST_F(Macros, ExportSetsTheProcessEnvironment) {
  EXPECT_TRUE(cfgExport("MACRO_TEST_VALUE=a=b"));
  EXPECT_STREQ(std::getenv("MACRO_TEST_VALUE"), "a=b");
  EXPECT_EQ(cfgExpandMacros("$env(MACRO_TEST_VALUE)"), "a=b");
  EXPECT_TRUE(cfgExport("MACRO_TEST_VALUE="));
  EXPECT_STREQ(std::getenv("MACRO_TEST_VALUE"), "");
  EXPECT_TRUE(cfgExport("=x"));
}

TEST_F(Macros, TermForgetsVariables) {
  cfgSet("A=1");
  cfgMacrosTerm();
  cfgMacrosTerm();
  cfgMacrosInit();
  EXPECT_EQ(cfgGetVar("A", ""), std::nullopt);
}
