// Tests of the argument lists, the conversion of conditional options, +jpda and +sig.
#include "app_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config_reader.h"
#include "launch_settings.h"
#include "option_directives.h"
#include "signals.h"
#include "trace.h"

namespace {

using Args = std::vector<std::string>;

class AppArguments : public ::testing::Test {
 protected:
  void SetUp() override {
    cfgInit();
    optInit();
    hmdSignalsReset();
  }
  void TearDown() override {
    optTerm();
    cfgTerm();
    ut_treset(nullptr);  // +debug switched tracing on
    hmdSignalsReset();
  }
  static bool parse(Args args) { return optParseArgument(args); }
};

}  // namespace

TEST_F(AppArguments, InsertionPositions) {
  optAddApplicationArgument("a");
  optAddApplicationArgument("b");
  optInsertApplicationArgumentN("zero", 0);
  optInsertApplicationArgumentN("one", 1);
  EXPECT_EQ(optGetApplicationArgList(), (Args{"one", "zero", "a", "b"}));
  optInsertApplicationArgumentN("end", optGetApplicationArgCount() + 1);
  optInsertApplicationArgumentN("beyond", 99);
  EXPECT_EQ(optGetApplicationArgList(), (Args{"one", "zero", "a", "b", "end", "beyond"}));

  optTerm();
  optInit();
  // Configured arguments at successive positions come before the command line's.
  optAddApplicationArgument("a");
  optAddApplicationArgument("b");
  optInsertApplicationArgumentN("c1", 1);
  optInsertApplicationArgumentN("c2", 2);
  optInsertApplicationArgumentN("c3", 3);
  EXPECT_EQ(optGetApplicationArgList(), (Args{"c1", "c2", "c3", "a", "b"}));
}

TEST_F(AppArguments, RemoveByPosition) {
  for (const char* text : {"a", "b", "c"}) optAddApplicationArgument(text);
  EXPECT_EQ(optRemoveApplicationArgumentN(4), std::nullopt);
  EXPECT_EQ(optRemoveApplicationArgumentN(2), "b");
  EXPECT_EQ(optGetApplicationArgList(), (Args{"a", "c"}));
  EXPECT_EQ(optRemoveApplicationArgumentN(2), "c");
  EXPECT_EQ(optRemoveApplicationArgumentN(0), std::nullopt);
  EXPECT_EQ(optGetApplicationArgCount(), 1);
}

TEST_F(AppArguments, RemoveOptionFromApplicationList) {
  for (const char* text : {"x", "-portX", "-port", "8080", "-name"}) optAddApplicationArgument(text);
  // Exact match skips the longer entry; the value comes along.
  RemovedArgument r = optRemoveApplicationArgument("-port", false, true);
  EXPECT_EQ(r.entry, "-port");
  EXPECT_EQ(r.value, "8080");
  EXPECT_EQ(optGetApplicationArgList(), (Args{"x", "-portX", "-name"}));

  // Last entry asked with its value: the caller gets the option, the list stays.
  r = optRemoveApplicationArgument("-name", false, true);
  EXPECT_EQ(r.entry, "-name");
  EXPECT_EQ(r.value, std::nullopt);
  EXPECT_EQ(optGetApplicationArgList(), (Args{"x", "-portX", "-name"}));

  r = optRemoveApplicationArgument("-port", true, false);
  EXPECT_EQ(r.entry, "-portX");
  EXPECT_EQ(optGetApplicationArgList(), (Args{"x", "-name"}));

  r = optRemoveApplicationArgument("-PORT", true, false);
  EXPECT_EQ(r.entry, std::nullopt);
  EXPECT_EQ(optGetApplicationArgCount(), 2);
}

TEST_F(AppArguments, RemoveOptionFromLauncherList) {
  optAddArgument("+a");
  optAddArgument("v");
  optAddArgument("+b");
  RemovedArgument r = optRemoveArgument("+b", false, true);
  EXPECT_EQ(r.entry, "+b");
  EXPECT_EQ(r.value, std::nullopt);
  EXPECT_EQ(optGetArgumentList(), (Args{"+a", "v"}));
  r = optRemoveArgument("+a", false, true);
  EXPECT_EQ(r.value, "v");
  EXPECT_TRUE(optGetArgumentList().empty());
}

// Without a configuration no usage class, version class or JPDA support is configured,
// so every conditional option is handed to the application.
TEST_F(AppArguments, DisabledConditionalOptionsBecomeApplicationArguments) {
  ASSERT_TRUE(parse({"+usage", "a", "+jpda:paused,address=8000", "+version"}));
  EXPECT_TRUE(optIsJPDAEnabled());
  optConvertDisabledArguments();
  EXPECT_TRUE(optGetArgumentList().empty());
  EXPECT_EQ(optGetApplicationArgList(), (Args{"+usage", "a", "+jpda:paused,address=8000", "+version"}));
  EXPECT_FALSE(optIsJPDAEnabled());
  EXPECT_FALSE(optIsOptionOn("+usage", true));
}

TEST_F(AppArguments, OnlyOneOccurrencePerRowIsSettled) {
  ASSERT_TRUE(parse({"+usage", "+usage", "+USAGE"}));
  optConvertDisabledArguments();
  // The first is taken back; the second stays a launcher option; the one in capitals
  // is not found by the exact comparison and stays too.
  EXPECT_EQ(optGetArgumentList(), (Args{"+usage", "+USAGE"}));
  EXPECT_EQ(optGetApplicationArgList(), (Args{"+usage", "+usage", "+USAGE"}));
}

TEST_F(AppArguments, JpdaArguments) {
  ASSERT_TRUE(parse({"+jpda:paused,address=8000"}));
  EXPECT_TRUE(optIsJPDAEnabled());
  EXPECT_TRUE(optIsJPDAStartPaused());
  EXPECT_EQ(optGetJPDAAddr(), "8000");

  optTerm();
  optInit();
  ASSERT_TRUE(parse({"+jpda:running,,address=host:1,address=host.example.com:80001234567890123456789"}));
  EXPECT_TRUE(optIsJPDAEnabled());
  EXPECT_FALSE(optIsJPDAStartPaused());
  // A long address is kept whole.
  EXPECT_EQ(optGetJPDAAddr(), "host.example.com:80001234567890123456789");

  optTerm();
  optInit();
  ASSERT_TRUE(parse({"+jpda:"}));
  EXPECT_TRUE(optIsJPDAEnabled());

  optTerm();
  optInit();
  ASSERT_TRUE(parse({"+JPDA"}));
  EXPECT_TRUE(optIsJPDAEnabled());

  for (const char* bad : {"+jpda:foo", "+JPDA:paused", "+jpda:paused,foo", "+jpdax"}) {
    optTerm();
    optInit();
    EXPECT_FALSE(parse({bad})) << bad;
    EXPECT_FALSE(optIsJPDAEnabled()) << bad;
    EXPECT_FALSE(optIsJPDAStartPaused()) << bad;
  }
}

// "paused" or "running" on the command line decides over the configuration's jpda
// directive; without either the configuration decides.
TEST_F(AppArguments, JpdaSuspendFlagOverridesTheConfiguration) {
  ASSERT_TRUE(cfgEnableJPDA("paused"));
  ASSERT_TRUE(parse({"+jpda:running"}));
  EXPECT_FALSE(optIsJPDAStartPaused());
  optTerm();
  optInit();
  ASSERT_TRUE(parse({"+jpda"}));
  EXPECT_TRUE(optIsJPDAStartPaused());
  optTerm();
  optInit();
  ASSERT_TRUE(cfgEnableJPDA("running"));
  ASSERT_TRUE(parse({"+jpda:paused"}));
  EXPECT_TRUE(optIsJPDAStartPaused());
}

// With a command prefix configured, the command line is parsed again: the lists and the
// JPDA settings come from that parse, and the configured arguments stay in front.
TEST_F(AppArguments, ReparseUnderTheCommandPrefix) {
  const Args commandLine = {"--+jpda:paused", "+jpda", "x", "--+usage"};
  ASSERT_TRUE(parse(commandLine));
  EXPECT_TRUE(optIsJPDAEnabled());
  ASSERT_TRUE(cfgAddAppArg("conf"));
  ASSERT_TRUE(cfgCmdPrefixCmd("--"));
  ASSERT_TRUE(cfgEnableJPDA("running"));
  Args args = commandLine;
  ASSERT_TRUE(optReparseArgument(args, static_cast<size_t>(cfgGetAppArgCount())));
  optConvertDisabledArguments();
  EXPECT_EQ(optGetArgumentList(), (Args{"--+jpda:paused"}));
  // No usage class: --+usage is the application's, as +jpda is without the prefix.
  EXPECT_EQ(optGetApplicationArgList(), (Args{"conf", "+jpda", "x", "--+usage"}));
  EXPECT_TRUE(optIsJPDAEnabled());
  EXPECT_TRUE(optIsJPDAStartPaused());
  EXPECT_TRUE(optIsOptionOn("+jpda:paused", false));
}

TEST_F(AppArguments, JpdaUndoDisables) {
  ASSERT_TRUE(parse({"+jpda"}));
  OptionValue none;
  EXPECT_TRUE(optSetJPDA(true, "+jpda", none));
  EXPECT_FALSE(optIsJPDAEnabled());
}

TEST_F(AppArguments, SigMarksSignalsIgnored) {
  ASSERT_TRUE(parse({"+sig", "hup,TERM"}));
  EXPECT_TRUE(hmdIsSignalIgnored("hup"));
  EXPECT_TRUE(hmdIsSignalIgnored("term"));
  EXPECT_FALSE(hmdIsSignalIgnored("int"));

  hmdSignalsReset();
  optTerm();
  optInit();
  EXPECT_FALSE(parse({"+sig", "hup,bogus,int"}));
  EXPECT_TRUE(hmdIsSignalIgnored("hup"));
  EXPECT_FALSE(hmdIsSignalIgnored("int"));

  optTerm();
  optInit();
  EXPECT_TRUE(parse({"+sig", ","}));
}
