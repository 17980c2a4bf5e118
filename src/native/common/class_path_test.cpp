// Tests of the class path options: the four modes, the merge, the recording properties,
// the boot class path and the refusal of the J2EE reference implementation.
#include "class_path.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app_arguments.h"
#include "command_line.h"
#include "config_options.h"
#include "config_reader.h"
#include "jvm_discovery.h"
#include "jvm_options.h"
#include "launcher_location.h"
#include "option_directives.h"
#include "test_support.h"

namespace {

class ClassPath : public testsupport::LauncherModules {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    unsetenv("ZEP_NO_SAFETY_NET");
    LauncherModules::SetUp();
  }
  void TearDown() override {
    LauncherModules::TearDown();
    unsetenv("ZEP_NO_SAFETY_NET");
  }

  std::string make(const std::string& name) const { return temp_.write(name, "x"); }

  // The class path options of the final list, in order.
  static std::vector<std::string> classPathOptions() {
    jopFinalizeJVMOptions();
    std::vector<std::string> texts;
    for (const VmOption& option : *jopGetJavaVMOptions()) {
      const std::string& text = option.optionString;
      if (text.starts_with("-Djava.class.path=") || text.starts_with("-Dlauncher.config.classpath=") ||
          text.starts_with("-Dlauncher.commandline.classpath=") ||
          text.starts_with("-Dlauncher.config.bootclasspath=") || text.starts_with("-Xbootclasspath")) {
        texts.push_back(text);
      }
    }
    return texts;
  }

  void restart() {
    jopTerm();
    cfgTerm();
    cfgInit();
    jopInit();
  }

  const testsupport::TempDir temp_;
  const std::string dir_ = temp_.root();
};

TEST_F(ClassPath, ModesMergeInTheirOrder) {
  std::string a = make("a"), b = make("b"), c = make("c");
  std::string configured = a + ":" + b;
  struct Case {
    const char* option;
    std::string classPath;
  } cases[] = {
      {"+classpath", a + ":" + b + ":" + c},
      {"+classpath/a", a + ":" + b + ":" + c},
      {"+classpath/p", c + ":" + a + ":" + b},
      {"+classpath/r", c},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.option);
    restart();
    ASSERT_TRUE(cfgAddPath(configured));
    jopSetCmdLineClassPath(test.option, c);
    EXPECT_EQ(classPathOptions(),
              (std::vector<std::string>{"-Dlauncher.config.classpath=" + configured,
                                        "-Dlauncher.commandline.classpath=" + c, "-Djava.class.path=" + test.classPath}));
  }
}

TEST_F(ClassPath, LastOptionWinsAndCapitalModeKeepsTheMode) {
  std::string a = make("a"), c = make("c"), d = make("d");
  ASSERT_TRUE(cfgAddPath(a));
  jopSetCmdLineClassPath("+classpath/p", c);
  jopSetCmdLineClassPath("+classpath/R", d + ":" + dir_ + "/missing");
  EXPECT_EQ(jopGetClassPathLocation(), kClassPathPrepend);
  EXPECT_EQ(classPathOptions().back(), "-Djava.class.path=" + d + ":" + a);
}

TEST_F(ClassPath, SourcesAloneAndElementsInBoth) {
  std::string a = make("a"), b = make("b");
  ASSERT_TRUE(cfgAddPath(a + ":" + b));
  EXPECT_EQ(classPathOptions(), (std::vector<std::string>{"-Dlauncher.config.classpath=" + a + ":" + b,
                                                          "-Djava.class.path=" + a + ":" + b}));
  restart();
  EXPECT_TRUE(classPathOptions().empty());

  restart();
  ASSERT_TRUE(cfgAddPath(a + ":" + b));
  jopSetCmdLineClassPath("+classpath", b + ":" + a);
  EXPECT_EQ(classPathOptions().back(), "-Djava.class.path=" + a + ":" + b);

  restart();
  jopSetCmdLineClassPath("+classpath/r", b);
  EXPECT_EQ(classPathOptions(), (std::vector<std::string>{"-Dlauncher.commandline.classpath=" + b,
                                                          "-Djava.class.path=" + b}));
}

TEST_F(ClassPath, ReplacingWithNothingLeavesTheClassPathOut) {
  std::string a = make("a");
  ASSERT_TRUE(cfgAddPath(a));
  jopSetCmdLineClassPath("+classpath/r", dir_ + "/missing");
  EXPECT_EQ(classPathOptions(), (std::vector<std::string>{"-Dlauncher.config.classpath=" + a}));
}

TEST_F(ClassPath, BootClassPathPrependedOnOldVMsAppendedOnModularOnes) {
  std::string a = make("a"), boot = make("boot.jar");
  ASSERT_TRUE(cfgAddPath(a + ":" + boot));
  ASSERT_TRUE(cfgAddBootPath(boot));
  std::vector<std::string> expected = {"-Dlauncher.config.classpath=" + a, "-Dlauncher.config.bootclasspath=" + boot,
                                       "-Xbootclasspath/p:" + boot, "-Djava.class.path=" + a};
  EXPECT_EQ(classPathOptions(), expected);

  restart();
  ASSERT_TRUE(jevBasicJDKJREChecks("/usr/lib/jvm/java-17-openjdk-amd64"));
  ASSERT_TRUE(cfgAddBootPath(boot));
  EXPECT_EQ(classPathOptions(),
            (std::vector<std::string>{"-Dlauncher.config.bootclasspath=" + boot, "-Xbootclasspath/a:" + boot}));
}

TEST_F(ClassPath, ReferenceImplementationEndsTheProcess) {
  std::filesystem::create_directories(dir_ + "/lib");
  std::string other = make("myj2ee.jar");
  std::string ri = make("lib/J2EE.JAR");
  ASSERT_TRUE(cfgAddPath(other));
  jopSetCmdLineClassPath("+classpath", ri);
  EXPECT_EXIT(classPathOptions(), testing::ExitedWithCode(1),
              "^Sun's J2EE Reference Implementation found on classpath\\.\n"
              "Vantrel and Sun's J2EE are mutually exclusive\\.\n"
              "Remove '" + ri + "' from the classpath before running any Vantrel command\\.\n$");
}

TEST_F(ClassPath, ReferenceImplementationAllowedBySafetyNetOrAllowri) {
  std::string ri = make("j2ee.jar");
  jopSetCmdLineClassPath("+classpath", ri);
  setenv("ZEP_NO_SAFETY_NET", "1", 1);
  jopInit();
  jopSetCmdLineClassPath("+classpath", ri);
  EXPECT_EQ(classPathOptions().back(), "-Djava.class.path=" + ri);

  unsetenv("ZEP_NO_SAFETY_NET");
  restart();
  ASSERT_TRUE(cfgOptionsCmd("allowri"));
  jopSetCmdLineClassPath("+classpath", ri);
  EXPECT_EQ(classPathOptions().back(), "-Djava.class.path=" + ri);
  // The options flags outlive the configuration's Init; switch it back for later tests.
  if (cfgIsAllowRIEnabled()) cfgOptionsCmd("allowri");
}

TEST_F(ClassPath, InitAndTermResetTheCommandLineClassPath) {
  std::string a = make("a");
  jopSetCmdLineClassPath("+classpath/r", a);
  jopTerm();
  EXPECT_EQ(jopGetClassPathLocation(), kClassPathUnset);
  jopInit();
  EXPECT_TRUE(classPathOptions().empty());
}

}  // namespace
