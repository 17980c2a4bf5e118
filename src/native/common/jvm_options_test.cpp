// Tests of the VM option list: consolidation, the order of the final list, the launcher's
// own properties and the debugging options for old and modular VMs.
#include "jvm_options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app_arguments.h"
#include "command_line.h"
#include "config_reader.h"
#include "jvm_discovery.h"
#include "launch_settings.h"
#include "launcher_location.h"
#include "option_directives.h"
#include "test_support.h"

namespace {

constexpr const char* kJdkHome = "/usr/lib/jvm/java-17-openjdk-amd64";

class JvmOptions : public testsupport::LauncherModules {
 protected:
  void SetUp() override {
    unsetenv("ZEP_NO_SAFETY_NET");
    LauncherModules::SetUp();
  }

  static std::vector<std::string> finalOptions() {
    std::vector<std::string> texts;
    const VmOptionList* options = jopGetJavaVMOptions();
    if (options == nullptr) return texts;
    for (const VmOption& option : *options) texts.push_back(option.optionString);
    return texts;
  }
};

TEST_F(JvmOptions, ConsolidationJoinsWithSingleLineFeedsAndGrowsPastItsBuffer) {
  jopFinalizeJVMOptions();
  size_t before = jopGetJavaVMOptionsCount();

  jopConsolidateParams("empty", {});
  EXPECT_EQ(jopGetJavaVMOptionsCount(), before);

  jopConsolidateParams("one", {{"-Xa", nullptr}});
  std::string longText = "-Dlong=" + std::string(3000, 'x');
  jopConsolidateParams("set", {{"-Xa", nullptr}, {longText, nullptr}, {"-Dz=1", nullptr}});
  std::vector<std::string> options = finalOptions();
  ASSERT_EQ(options.size(), before + 2);
  EXPECT_EQ(options[before], "-Done=-Xa");
  EXPECT_EQ(options[before + 1], "-Dset=-Xa\n" + longText + "\n-Dz=1");
}

TEST_F(JvmOptions, FinalListOrderAndSecondCallAddsNothing) {
  EXPECT_EQ(jopGetJavaVMOptions(), nullptr);
  EXPECT_EQ(jopGetJavaVMOptionsCount(), 0u);
  jopAddProp("-Dfoo=1");
  jopAddParam("-Xmx64m");
  jopAddParam("-verbose:gc");
  ASSERT_TRUE(cfgSetVMProp("a.b=c"));
  ASSERT_TRUE(cfgSetVMParam("-Xms32m"));
  jopFinalizeJVMOptions();

  std::vector<std::string> expected = {
      "-Xms32m",
      "-Da.b=c",
      "-Xmx64m",
      "-verbose:gc",
      "-Dfoo=1",
      "-Dlauncher.commandline.params=-Xmx64m\n-verbose:gc\n-Dfoo=1",
      "-Dlauncher.config.params=-Xms32m\n-Da.b=c",
      "-Dlauncher.program=/opt/app/bin/server",
      "-Dvantrel.executable.path=/opt/app/bin/server",
  };
  EXPECT_EQ(finalOptions(), expected);
  jopFinalizeJVMOptions();
  EXPECT_EQ(finalOptions(), expected);

  EXPECT_TRUE(jopIsPropSet("-Dfoo="));
  EXPECT_FALSE(jopIsPropSet("-Xmx"));

  int hook = 0;
  jopAddParam("exit", &hook);
  ASSERT_EQ(jopGetJavaVMOptionsCount(), expected.size() + 1);
  EXPECT_EQ(jopGetJavaVMOptions()->back().extraInfo, &hook);
}

TEST_F(JvmOptions, EmptySourcesGiveOnlyTheLauncherProperties) {
  jopFinalizeJVMOptions();
  EXPECT_EQ(finalOptions(), (std::vector<std::string>{"-Dlauncher.program=/opt/app/bin/server",
                                                       "-Dvantrel.executable.path=/opt/app/bin/server"}));
}

TEST_F(JvmOptions, JdkHomeAndWorkingDirectory) {
  ASSERT_TRUE(jevBasicJDKJREChecks(kJdkHome));
  ASSERT_TRUE(cfgSetCurrentDir("/tmp"));
  jopFinalizeJVMOptions();
  std::vector<std::string> expected = {"-Dlauncher.jdk.home=" + jevGetJVMHome(),
                                       "-Dlauncher.program=/opt/app/bin/server",
                                       "-Dvantrel.executable.path=/opt/app/bin/server", "-Duser.dir=/tmp"};
  EXPECT_EQ(finalOptions(), expected);
}

TEST_F(JvmOptions, ShutdownSwitchNeedsHandleExitAndAStackDumpEntry) {
  // The test installation's VM exports JVM_DumpAllStacks.
  jopSetJavaPath(std::string(kJdkHome) + "/lib/server/libjvm.so");
  ASSERT_TRUE(jevInit());
  ASSERT_NE(jevGetInvocationFunction().dumpAllStacks, nullptr);

  jopFinalizeJVMOptions();
  std::vector<std::string> withoutHandleExit = finalOptions();
  EXPECT_EQ(std::count(withoutHandleExit.begin(), withoutHandleExit.end(), "-Xrs"), 0);

  jopTerm();
  jopInit();
  ASSERT_TRUE(cfgOptionsCmd("handleexit"));
  jopFinalizeJVMOptions();
  std::vector<std::string> withHandleExit = finalOptions();
  ASSERT_FALSE(withHandleExit.empty());
  EXPECT_EQ(withHandleExit.back(), "-Xrs");
}

TEST_F(JvmOptions, DebuggingOptionsOfOldVMs) {
  ASSERT_TRUE(optSetJPDA(false, "+jpda:paused,address=8000", OptionValue{}));
  jopFinalizeJVMOptions();
  std::vector<std::string> options = finalOptions();
  ASSERT_GE(options.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(options.end() - 4, options.end()),
            (std::vector<std::string>{"-Xdebug", "-Xnoagent", "-Djava.compiler=",
                                      "-Xrunjdwp:transport=dt_socket,server=y,suspend=y,address=8000"}));

  jopTerm();
  jopInit();
  optTerm();
  optInit();
  jevSetJVMSubType(kSubTypeServer);
  ASSERT_TRUE(optSetJPDA(false, "+jpda:running,address=myhost:8000", OptionValue{}));
  jopFinalizeJVMOptions();
  options = finalOptions();
  EXPECT_EQ(std::vector<std::string>(options.end() - 3, options.end()),
            (std::vector<std::string>{"-Xdebug", "-Xnoagent",
                                      "-Xrunjdwp:transport=dt_socket,server=n,suspend=n,address=myhost:8000"}));
}

TEST_F(JvmOptions, DebuggingOptionsOfModularVMs) {
  ASSERT_TRUE(jevBasicJDKJREChecks(kJdkHome));
  ASSERT_TRUE(optSetJPDA(false, "+jpda", OptionValue{}));
  jopFinalizeJVMOptions();
  std::vector<std::string> options = finalOptions();
  EXPECT_EQ(options.back(), "-agentlib:jdwp=transport=dt_socket,server=y,suspend=n");
  for (const std::string& option : options) {
    EXPECT_NE(option, "-Xdebug");
    EXPECT_NE(option, "-Xnoagent");
    EXPECT_NE(option, "-Djava.compiler=");
  }
}

TEST_F(JvmOptions, HomePathAndSafetyNetAreResetByInit) {
  jopSetJavaHome("/a");
  jopSetJavaHome("/b");
  jopSetJavaPath("/lib/x.so");
  EXPECT_EQ(jopGetJavaHome(), "/b");
  EXPECT_EQ(jopGetJavaPath(), "/lib/x.so");
  EXPECT_TRUE(jopGetZepSafetyNet());
  setenv("ZEP_NO_SAFETY_NET", "", 1);
  jopInit();
  EXPECT_FALSE(jopGetJavaHome());
  EXPECT_FALSE(jopGetJavaPath());
  EXPECT_FALSE(jopGetZepSafetyNet());
  unsetenv("ZEP_NO_SAFETY_NET");
  jopTerm();
  jopTerm();
}

}  // namespace
