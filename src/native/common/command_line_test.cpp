// Tests of the option table, the parser and the usage text.
#include "command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app_arguments.h"
#include "config_reader.h"
#include "trace.h"

namespace {

using Args = std::vector<std::string>;

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    cfgInit();
    optInit();
  }
  void TearDown() override {
    optTerm();
    cfgTerm();
    ut_treset(nullptr);  // +debug switched tracing on
  }
};

}  // namespace

TEST_F(CommandLine, TableHasItsRowsInOrder) {
  size_t count = 0;
  const JavaOption* table = optGetOptionTable(count);
  ASSERT_EQ(count, 26u);
  EXPECT_STREQ(table[0].name, "+help");
  EXPECT_STREQ(table[11].name, "-X");
  EXPECT_FALSE(table[11].prefixMatch);
  EXPECT_STREQ(table[12].name, "-X");
  EXPECT_TRUE(table[12].prefixMatch);
  EXPECT_STREQ(table[22].name, "+sig");
  EXPECT_STREQ(table[25].name, "+makecache");
  // Rows 14 to 17 hand the sub-type codes 2 to 5 to their handler.
  for (int i = 13; i <= 16; ++i) EXPECT_EQ(table[i].handlerArg - 2, i - 11) << table[i].name;
}

TEST_F(CommandLine, EmptyVectorLeavesBothListsEmpty) {
  Args args;
  EXPECT_TRUE(optParseArgument(args));
  EXPECT_TRUE(args.empty());
  EXPECT_TRUE(optGetArgumentList().empty());
  EXPECT_EQ(optGetApplicationArgCount(), 0);
}

TEST_F(CommandLine, OptionsAndApplicationArgumentsInterleave) {
  Args args = {"a", "+debug", "b"};
  EXPECT_TRUE(optParseArgument(args));
  EXPECT_TRUE(args.empty());
  EXPECT_EQ(optGetArgumentList(), (Args{"+debug"}));
  EXPECT_EQ(optGetApplicationArgList(), (Args{"a", "b"}));
}

TEST_F(CommandLine, ExactAndPrefixRows) {
  Args args = {"-Xmx256m", "-verbose", "-verbose:gc",   "-verbosegc", "-Dfoo=bar",
               "-Dfoo",    "-dfoo",    "+classpathfoo", "+javahomeX", "-x"};
  EXPECT_TRUE(optParseArgument(args));
  EXPECT_EQ(optGetArgumentList(),
            (Args{"-Xmx256m", "-verbose", "-verbose:gc", "-verbosegc", "-Dfoo=bar", "-Dfoo"}));
  EXPECT_EQ(optGetApplicationArgList(), (Args{"-dfoo", "+classpathfoo", "+javahomeX", "-x"}));
  EXPECT_FALSE(optIsOptionOn("-X", false));
}

TEST_F(CommandLine, BareXStopsAndHandsBackTheRest) {
  Args args = {"a", "-X", "b", "+debug"};
  EXPECT_TRUE(optParseArgument(args));
  EXPECT_EQ(args, (Args{"-X", "b", "+debug"}));
  EXPECT_TRUE(optIsOptionOn("-X", false));
  EXPECT_FALSE(optIsOptionOn("+debug", true));
  EXPECT_EQ(optGetApplicationArgList(), (Args{"a"}));
}

TEST_F(CommandLine, HelpStopsAndHandsBackTheRest) {
  Args args = {"+help", "x", "y"};
  EXPECT_TRUE(optParseArgument(args));
  EXPECT_EQ(args, (Args{"+help", "x", "y"}));
  EXPECT_EQ(optGetArgumentList(), (Args{"+help"}));
  EXPECT_EQ(optGetApplicationArgCount(), 0);
}

TEST_F(CommandLine, LetterCaseCountsOnlyForCaseSensitiveRows) {
  Args args = {"+HELP"};
  EXPECT_TRUE(optParseArgument(args));
  EXPECT_EQ(args, (Args{"+HELP"}));
  EXPECT_TRUE(optIsOptionOn("+help", true));
  EXPECT_FALSE(optIsOptionOn("+help", false));

  optTerm();
  optInit();
  args = {"+VERSION", "+Shell"};
  EXPECT_TRUE(optParseArgument(args));
  EXPECT_EQ(optGetApplicationArgList(), (Args{"+VERSION"}));
  EXPECT_TRUE(optIsShellMode());
}

TEST_F(CommandLine, ValueIsTakenWhateverItsText) {
  Args args = {"+config", "+help", "z"};
  EXPECT_TRUE(optParseArgument(args));
  EXPECT_TRUE(args.empty());
  EXPECT_EQ(cfgGetDefaultConfigFile(), "+help");
  EXPECT_EQ(optGetArgumentList(), (Args{"+config", "+help"}));
  // Values are recorded beside their options, so the query finds this one.
  EXPECT_TRUE(optIsOptionOn("+help", true));
  EXPECT_EQ(optGetApplicationArgList(), (Args{"z"}));
}

TEST_F(CommandLine, MissingValueLeavesTheVectorAsGiven) {
  Args args = {"a", "+debug", "+config"};
  EXPECT_FALSE(optParseArgument(args));
  EXPECT_EQ(args, (Args{"a", "+debug", "+config"}));
  // What came before stays recorded.
  EXPECT_EQ(optGetArgumentList(), (Args{"+debug"}));
  EXPECT_EQ(optGetApplicationArgList(), (Args{"a"}));
}

TEST_F(CommandLine, RejectedOptionStopsWithNothingHandedBack) {
  Args args = {"+config", "", "later"};
  EXPECT_FALSE(optParseArgument(args));
  EXPECT_TRUE(args.empty());
  EXPECT_TRUE(optGetArgumentList().empty());
  EXPECT_EQ(optGetApplicationArgCount(), 0);

  optTerm();
  optInit();
  args = {"+config", std::string(1025, 'c')};
  EXPECT_FALSE(optParseArgument(args));

  optTerm();
  optInit();
  args = {"+jpdafoo", "b"};
  EXPECT_FALSE(optParseArgument(args));
  EXPECT_TRUE(args.empty());
  EXPECT_EQ(optGetApplicationArgCount(), 0);
}

TEST_F(CommandLine, ConditionalOptionGoesIntoBothLists) {
  Args args = {"+usage", "+jpda"};
  EXPECT_TRUE(optParseArgument(args));
  EXPECT_EQ(optGetArgumentList(), (Args{"+usage", "+jpda"}));
  EXPECT_EQ(optGetApplicationArgList(), (Args{"+usage", "+jpda"}));
  EXPECT_TRUE(optIsJPDAEnabled());
}

TEST_F(CommandLine, TermResetsEverything) {
  Args args = {"+shell", "a", "+jpda"};
  EXPECT_TRUE(optParseArgument(args));
  optTerm();
  EXPECT_FALSE(optIsShellMode());
  EXPECT_FALSE(optIsJPDAEnabled());
  EXPECT_TRUE(optGetArgumentList().empty());
  EXPECT_EQ(optGetApplicationArgCount(), 0);
  optTerm();
}

TEST_F(CommandLine, UsageTextListsTheUnconditionalRows) {
  ::testing::internal::CaptureStdout();
  optPrintUsage();
  std::string out = ::testing::internal::GetCapturedStdout();
  const std::string classPathArgs = " <directories and zip/jar files separated by path separators>";
  const std::string expected =
      " <+options> <args>\n\n"
      "where options include:\n"
      "    +help\n\tPrints this help message\n"
      "    +debug\n\tRuns with debugging information enabled\n"
      "    +config <config filename>\n\tUses the specified configuration file instead of the default\n"
      "    +javahome <directory>\n\tSpecifies the installation directory of the Java VM\n"
      "    -D<name>=<value>\n\tSets a Java system property\n"
      "    -verbose[:{class|gc|jni}]\n\tEnables verbose output from the Java VM\n"
      "    -X\n\tPrints a summary of non-standard command options\n"
      "    +classicvm\n\tSelects the Classic VM\n"
      "    +hotspotvm\n\tSelects the HotSpot VM\n"
      "    +clientvm\n\tSelects the HotSpot Client VM 2.0 [JDK 1.3]\n"
      "    +servervm\n\tSelects the HotSpot Server VM 2.0 [JDK 1.3]\n"
      "    +classpath\n\tSame as +classpath/a\n"
      "    +classpath/a" +
      classPathArgs +
      "\n\tAppends to the classpath from the config file\n"
      "    +classpath/p" +
      classPathArgs +
      "\n\tPrepends to the classpath from the config file\n"
      "    +classpath/r" +
      classPathArgs + "\n\tReplaces the classpath from the config file\n";
  EXPECT_EQ(out, expected);
}
