// Tests of the +javacmd script and of the quoting of its words.
#include "java_command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app_arguments.h"
#include "command_line.h"
#include "config_macros.h"
#include "config_reader.h"
#include "jvm_discovery.h"
#include "jvm_options.h"
#include "launch_settings.h"
#include "launcher_location.h"
#include "test_support.h"

namespace {

class JavaCommand : public testsupport::LauncherModules {
 protected:
  static std::string script(const std::string& className) {
    testing::internal::CaptureStdout();
    japPrintJavaCmd(className);
    return testing::internal::GetCapturedStdout();
  }
};

TEST(JavaCommandQuoting, OnlyTheSpaceQuotesAndNothingIsEscaped) {
  EXPECT_EQ(japQuoteSpaces("plain"), "plain");
  EXPECT_EQ(japQuoteSpaces(""), "");
  EXPECT_EQ(japQuoteSpaces("a\tb;$x"), "a\tb;$x");
  EXPECT_EQ(japQuoteSpaces("say\"hi\""), "say\"hi\"");
  EXPECT_EQ(japQuoteSpaces("two words"), "\"two words\"");
  EXPECT_EQ(japQuoteSpaces("a \"b\""), "\"a \"b\"\"");
  EXPECT_EQ(japQuoteSpaces(" "), "\" \"");
}

TEST_F(JavaCommand, WorkingDirectoryTypeOptionsClassAndArguments) {
  ASSERT_TRUE(cfgSetCurrentDir("/var/app"));
  jopSetJavaHome("/opt/jdk");
  jevSetJVMSubType(kSubTypeServer);
  jopAddParam("-Xmx256m");
  jopFinalizeJVMOptions();
  optAddApplicationArgument("x");
  optAddApplicationArgument("y");
  EXPECT_EQ(script("a.b.Main"),
            "# All paths passed to the launcher command must be absolute for this cd to be valid\n"
            "cd /var/app\n"
            "\n"
            "/opt/jdk/bin/java -server -Xmx256m -Dlauncher.program=/opt/jdk/bin/java "
            "-Dvantrel.executable.path=/opt/app/bin/server a.b.Main x y\n");
}

TEST_F(JavaCommand, LauncherOnlyOptionsLeftOutAndSpacesQuoted) {
  jopSetJavaHome("/opt/my jdk");
  jevSetJVMSubType(kSubTypeClassic);
  jopAddProp("-Dk=two words");
  ASSERT_TRUE(cfgSetVMParam("-Xss1m"));
  jopFinalizeJVMOptions();
  jopAddParam("-Xrs");
  jopAddParam("-Duser.dirx");
  jopAddParam("-Dlauncher.configured=1");
  jopAddParam("-Dlauncher.programme");
  jopAddParam("exit");
  jopAddParam("exit2");
  optAddApplicationArgument("an arg");
  optAddApplicationArgument("q\"x\"");
  EXPECT_EQ(script("My Main"),
            "\"/opt/my jdk/bin/java\" -classic -Xss1m \"-Dk=two words\" "
            "\"-Dlauncher.program=/opt/my jdk/bin/java\" -Dvantrel.executable.path=/opt/app/bin/server "
            "\"-Dlauncher.program=/opt/my jdk/bin/java\" exit2 My Main \"an arg\" q\"x\"\n");
}

TEST_F(JavaCommand, DebugProgramAndDefaultSubType) {
  std::vector<std::string> args = {"+JAVAG"};
  ASSERT_TRUE(optParseArgument(args));
  jopSetJavaHome("/opt/jdk");
  jopFinalizeJVMOptions();
  EXPECT_EQ(script("C"),
            "/opt/jdk/bin/java_g -Dlauncher.program=/opt/jdk/bin/java_g "
            "-Dvantrel.executable.path=/opt/app/bin/server C\n");
}

TEST(JavaCommandQuoting, ShellQuoteKeepsEveryByteForSh) {
  EXPECT_EQ(japShellQuote(""), "''");
  EXPECT_EQ(japShellQuote("plain"), "'plain'");
  EXPECT_EQ(japShellQuote("it's"), "'it'\\''s'");
  EXPECT_EQ(japShellQuote("$HOME `x` \"q\" \\ ;&|\n*"), "'$HOME `x` \"q\" \\ ;&|\n*'");
}

// The configuration's exports head the script, each once with its last value, quoted for
// sh; a name sh cannot export is named in a comment.
TEST_F(JavaCommand, ExportedVariablesHeadTheScript) {
  ASSERT_TRUE(cfgExport("JC_TEST_A=first"));
  ASSERT_TRUE(cfgExport("JC_TEST_B=it's $HOME"));
  ASSERT_TRUE(cfgExport("JC_TEST_A=second"));
  ASSERT_TRUE(cfgExport("JC-TEST=x"));
  jopSetJavaHome("/opt/jdk");
  jopFinalizeJVMOptions();
  EXPECT_EQ(script("C"),
            "export JC_TEST_A='second'\n"
            "export JC_TEST_B='it'\\''s $HOME'\n"
            "# 'JC-TEST' cannot be exported by sh; the application sees it set\n"
            "\n"
            "/opt/jdk/bin/java -Dlauncher.program=/opt/jdk/bin/java "
            "-Dvantrel.executable.path=/opt/app/bin/server C\n");
  for (const char* name : {"JC_TEST_A", "JC_TEST_B", "JC-TEST"}) unsetenv(name);
  cfgTerm();
  cfgInit();
  EXPECT_TRUE(cfgGetExportedNames().empty());
}

}  // namespace
