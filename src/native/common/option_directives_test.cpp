// Tests of setfromoption, dirmustexist, jpda, options, cmdprefix, vmversion and the
// VM version test, read from configuration files.
#include "option_directives.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "app_arguments.h"
#include "config_macros.h"
#include "config_reader.h"
#include "test_support.h"
#include "trace.h"

namespace {

using Strings = std::vector<std::string>;

class OptionDirectives : public testsupport::ConfigFileTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    optAppArgumentsReset();
    cfgInit();
  }
  void TearDown() override {
    cfgTerm();
    optAppArgumentsReset();
  }

  // Reads the text, keeping the trace lines it wrote.
  bool readTraced(const std::string& text) {
    bool ok = false;
    trace = testsupport::traceOf([&] { ok = read(text); });
    return ok;
  }

  std::string trace;
};

constexpr const char* kInvalidOption = "Error: Invalid option in '%s' at line %d in configuration file '%s'.";
constexpr const char* kInvalidVersion =
    "Error: Invalid version specifier in '%s' at line %d in configuration file '%s'.";

TEST_F(OptionDirectives, SetFromOptionTakesOptionAndValue) {
  for (const char* arg : {"-port", "14000", "x"}) optAddApplicationArgument(arg);
  ASSERT_TRUE(read("setfromoption port=-port:Port of the naming service\n"));
  EXPECT_EQ(cfgGetVar("port", ""), "14000");
  EXPECT_EQ(optGetApplicationArgList(), (Strings{"x"}));
  testing::internal::CaptureStdout();
  cfgPrintUsage();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "    -port <value>\tPort of the naming service\n");
}

TEST_F(OptionDirectives, SetFromOptionAbsentOrWithoutValue) {
  optAddApplicationArgument("x");
  ASSERT_TRUE(readTraced("set port=0\nsetfromoption port=-port\n"));
  EXPECT_EQ(cfgGetVar("port", ""), "0");
  EXPECT_NE(trace.find("Option <-port> not on command line"), std::string::npos);

  optAddApplicationArgument("-port");
  EXPECT_FALSE(read("setfromoption port=-port\n"));
  EXPECT_EQ(err, "Error: A value must be specified for option '-port'.\n");
  EXPECT_EQ(optGetApplicationArgList(), (Strings{"x", "-port"}));

  ASSERT_TRUE(readTraced("setfromoption =x\nsetfromoption v=:text\n"));
  EXPECT_NE(trace.find("No variable name specified in <=x>"), std::string::npos);
  EXPECT_NE(trace.find("No option name specified in <v=:text>"), std::string::npos);
}

TEST_F(OptionDirectives, UsageLinesKeepFirstOrderAndLatestText) {
  ASSERT_TRUE(
      read("setfromoption a=-a:first\nsetfromoption b=-b:  bee\nsetfromoption c=-a:again\n"
           "setfromoption d=-d:\n"));
  testing::internal::CaptureStdout();
  cfgPrintUsage();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "    -a <value>\tagain\n    -b <value>\tbee\n");
}

TEST_F(OptionDirectives, DirMustExist) {
  EXPECT_TRUE(read("dirmustexist /etc/passwd\ndirmustexist .\n"));
  EXPECT_FALSE(read("dirmustexist missing\n"));
  EXPECT_EQ(err, "Error: Can't find '" + dir + "/missing'.\n");
}

TEST_F(OptionDirectives, Jpda) {
  EXPECT_FALSE(cfgIsJPDASupportEnabled());
  ASSERT_TRUE(read("jpda paused,address=8000\n"));
  EXPECT_TRUE(cfgIsJPDASupportEnabled());
  EXPECT_TRUE(cfgIsJPDAStartPaused());
  EXPECT_EQ(cfgGetJPDAAddr(), "8000");
  ASSERT_TRUE(read("jpda running,,address=host:1,address=host:2\n"));
  EXPECT_FALSE(cfgIsJPDAStartPaused());
  EXPECT_EQ(cfgGetJPDAAddr(), "host:2");

  cfgTerm();
  cfgInit();
  EXPECT_FALSE(readTraced("jpda paused, address=8000\n"));
  EXPECT_EQ(err, message(kInvalidOption, "jpda paused, address=8000"));
  EXPECT_NE(trace.find("Unknown option in jpda directive < address=8000>"), std::string::npos);
  EXPECT_FALSE(cfgIsJPDASupportEnabled());
  EXPECT_TRUE(cfgIsJPDAStartPaused());
  EXPECT_FALSE(cfgGetJPDAAddr());
}

TEST_F(OptionDirectives, OptionsFlipTheirFlags) {
  EXPECT_TRUE(cfgIsMakePathsAbsolute());
  EXPECT_TRUE(cfgIsAllowJavaOnPathEnabled());
  ASSERT_TRUE(read("options strictvm,handleexit\n"));
  EXPECT_TRUE(cfgIsStrictVMCheckEnabled());
  EXPECT_TRUE(cfgIsHandleShutdownEnabled());
  ASSERT_TRUE(read("options strictvm,leavepathsrelative,allowjavaonpath\n"));
  EXPECT_FALSE(cfgIsStrictVMCheckEnabled());
  EXPECT_FALSE(cfgIsMakePathsAbsolute());
  EXPECT_FALSE(cfgIsAllowJavaOnPathEnabled());

  EXPECT_FALSE(readTraced("options bogus,allowri\n"));
  EXPECT_EQ(err, message(kInvalidOption, "options bogus,allowri"));
  EXPECT_NE(trace.find("Unknown option in 'options' directive <bogus>"), std::string::npos);
  EXPECT_TRUE(cfgIsAllowRIEnabled());

  cfgTerm();
  cfgInit();
  EXPECT_FALSE(cfgIsAllowRIEnabled());
  EXPECT_FALSE(cfgIsHandleShutdownEnabled());
  EXPECT_TRUE(cfgIsMakePathsAbsolute());
  EXPECT_TRUE(cfgIsAllowJavaOnPathEnabled());
}

TEST_F(OptionDirectives, CmdPrefixKeepsTwentyCharacters) {
  ASSERT_TRUE(read("cmdprefix abcdefghijklmnopqrstuvwxy\n"));
  EXPECT_EQ(cfgGetCmdPrefix(), "abcdefghijklmnopqrst");
  cfgTerm();
  EXPECT_EQ(cfgGetCmdPrefix(), "");
  cfgInit();
}

TEST_F(OptionDirectives, DefaultVersionRequirement) {
  std::string text;
  EXPECT_FALSE(cfgIsJVMVersionAcceptable("1.3.0", &text));
  EXPECT_EQ(text, "Version 1.3.1 or higher is required.");
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("1.3.1", nullptr));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("1.5.0", nullptr));
  EXPECT_FALSE(cfgIsJVMVersionAcceptable(nullptr, &text));
  EXPECT_FALSE(cfgIsJVMVersionAcceptable("", nullptr));
  EXPECT_FALSE(cfgIsJVMVersionAcceptable("x1.4.2", nullptr));
}

TEST_F(OptionDirectives, VersionStringsOfTodaysVMs) {
  ASSERT_TRUE(read("vmversion 21.0.0\n"));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("21", nullptr));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("21-ea", nullptr));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("21.", nullptr));
  EXPECT_FALSE(cfgIsJVMVersionAcceptable("21.0.1", nullptr));
  ASSERT_TRUE(read("vmversion 21.1.0\n"));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("21.1", nullptr));
  ASSERT_TRUE(read("vmversion 9.0.0\n"));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("9-ea", nullptr));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("9+181", nullptr));
  ASSERT_TRUE(read("vmversion 1.8.0\n"));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("1.8.0_392", nullptr));
  EXPECT_FALSE(cfgIsJVMVersionAcceptable("1234", nullptr));
  ASSERT_TRUE(read("vmversion 1.8.0+\n"));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("17", nullptr));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("25.0.1+8", nullptr));
  EXPECT_FALSE(cfgIsJVMVersionAcceptable("1.7.0_80", nullptr));
}

TEST_F(OptionDirectives, VmVersionDirective) {
  std::string text;
  ASSERT_TRUE(read("vmversion 1.4.2\n"));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("1.4.2_05", &text));
  EXPECT_EQ(text, "Version 1.4.2 is required.");
  EXPECT_FALSE(cfgIsJVMVersionAcceptable("1.4.3", nullptr));
  EXPECT_FALSE(cfgIsJVMVersionAcceptable("1.4.1", nullptr));

  ASSERT_TRUE(read("vmversion 1.4.0+\n"));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("1.4.0", nullptr));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("1.5.0", nullptr));
  EXPECT_FALSE(cfgIsJVMVersionAcceptable("1.3.1", nullptr));

  ASSERT_TRUE(read("vmversion 1.3.1-\n"));
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("1.3.1", &text));
  EXPECT_EQ(text, "Version 1.3.1 or lower is required.");
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("1.2.2", nullptr));
  EXPECT_FALSE(cfgIsJVMVersionAcceptable("1.4.0", nullptr));

  for (const char* bad : {"1.3.0+", "1.4", "1.4.2x", "1.4.2+-", "21", "1.4.2345", "a.b.c"}) {
    std::string line = std::string("vmversion ") + bad;
    EXPECT_FALSE(readTraced(line + "\n")) << bad;
    EXPECT_EQ(err, message(kInvalidVersion, line)) << bad;
  }
  ASSERT_FALSE(readTraced("vmversion 1.3.0+\n"));
  EXPECT_NE(trace.find("1.3.0 is less than built in minimum 1.3.1"), std::string::npos);
  EXPECT_TRUE(cfgIsJVMVersionAcceptable("1.3.1", &text));
  EXPECT_EQ(text, "Version 1.3.1 or lower is required.");
}

}  // namespace
