// Tests of the configuration's VM options, class paths, jar scans and skip paths.
#include "config_options.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "config_reader.h"
#include "test_support.h"

namespace {

using Strings = std::vector<std::string>;

class ConfigOptions : public testsupport::ConfigFileTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    cfgInit();
  }
  void TearDown() override { cfgTerm(); }

  // Reads the file, leaving its messages on standard error.
  bool read(const std::string& text) { return include(text); }

  void touch(const std::string& name) { temp.write(name, "x"); }

  Strings classPath() {
    std::optional<std::string> joined = cfgGetClassPath();
    Strings entries;
    if (!joined) return entries;
    size_t start = 0;
    while (true) {
      size_t colon = joined->find(':', start);
      entries.push_back(joined->substr(start, colon - start));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    return entries;
  }
};

TEST_F(ConfigOptions, PropertiesFollowOptionsAfterFinalisation) {
  ASSERT_TRUE(
      read("vmprop a=1\nvmparam -Xss1m\nvmprop b=2\nvmparam -Xint\nvmprop java.security.policy=/x/y\n"));
  EXPECT_EQ(cfgGetJavaVMOptions(), nullptr);
  EXPECT_EQ(cfgGetJavaVMOptionsCount(), 0u);
  EXPECT_TRUE(cfgIsPropSet("-Djava.security.policy="));
  EXPECT_FALSE(cfgIsParamSet("-Djava.security.policy="));
  EXPECT_TRUE(cfgIsParamSet("-Xss"));

  cfgFinalizeJVMOptions();
  cfgFinalizeJVMOptions();
  const VmOptionList* options = cfgGetJavaVMOptions();
  ASSERT_NE(options, nullptr);
  Strings texts;
  for (const VmOption& option : *options) texts.push_back(option.optionString);
  EXPECT_EQ(texts, (Strings{"-Xss1m", "-Xint", "-Da=1", "-Db=2", "-Djava.security.policy=/x/y"}));
  EXPECT_EQ(cfgGetJavaVMOptionsCount(), 5u);

  cfgTerm();
  cfgInit();
  EXPECT_EQ(cfgGetJavaVMOptions(), nullptr);
  EXPECT_FALSE(cfgIsPropSet("-D"));
}

TEST_F(ConfigOptions, MergedRecordsKeepTheirExtraInformation) {
  int marker = 0;
  cfgAddParam("-Xint");
  cfgMergeJVMOptions({{.optionString = "-Xrs", .extraInfo = &marker}, {.optionString = "-Xss2m"}});
  cfgFinalizeJVMOptions();
  const VmOptionList& options = *cfgGetJavaVMOptions();
  ASSERT_EQ(options.size(), 3u);
  EXPECT_EQ(options[1].optionString, "-Xrs");
  EXPECT_EQ(options[1].extraInfo, &marker);
  EXPECT_EQ(options[2].extraInfo, nullptr);
}

TEST_F(ConfigOptions, JarScanAddsJarsAndZipsSortedIgnoringCase) {
  for (const char* name :
       {"lib/x.JAR", "lib/a.zip", "lib/readme.txt", "lib/.jar", "lib/sub.jar.old", "lib/B.jar"})
    touch(name);
  touch("first.jar");
  ASSERT_TRUE(read("addpath first.jar\naddjars lib\naddjars lib\naddjars missing\n"));
  EXPECT_EQ(classPath(),
            (Strings{dir + "/first.jar", dir + "/lib/a.zip", dir + "/lib/B.jar", dir + "/lib/x.JAR"}));
}

TEST_F(ConfigOptions, SkipPathsBeforeAndAfterTheScan) {
  for (const char* name : {"lib/x.jar", "lib/y.jar", "lib/z.jar"}) touch(name);
  ASSERT_TRUE(read("addskippath lib/x.jar\naddjars lib\naddskippath lib/y.jar\n"));
  EXPECT_EQ(classPath(), (Strings{dir + "/lib/z.jar"}));
  ASSERT_TRUE(read("addpath lib/x.jar\n"));
  EXPECT_EQ(classPath(), (Strings{dir + "/lib/z.jar", dir + "/lib/x.jar"}));
}

TEST_F(ConfigOptions, BootClassPathEntriesLeaveTheClassPath) {
  touch("a.jar");
  touch("b.jar");
  ASSERT_TRUE(read("addpath a.jar:b.jar\naddbootpath a.jar\n"));
  EXPECT_EQ(cfgGetBootClassPath(), dir + "/a.jar");
  EXPECT_EQ(classPath(), (Strings{dir + "/b.jar"}));

  touch("boot/c.jar");
  ASSERT_TRUE(read("addpath " + dir + "/boot/c.jar\naddbootjars boot\n"));
  EXPECT_EQ(cfgGetBootClassPath(), dir + "/a.jar:" + dir + "/boot/c.jar");
  EXPECT_EQ(classPath(), (Strings{dir + "/b.jar"}));
}

TEST_F(ConfigOptions, EmptyPathsGiveNone) {
  EXPECT_FALSE(cfgGetClassPath());
  EXPECT_FALSE(cfgGetBootClassPath());
}

TEST_F(ConfigOptions, J2eeReferenceImplementationEndsTheProcess) {
  touch("lib/J2EE.JAR");
  touch("lib/a.jar");
  EXPECT_EXIT(read("addjars lib\n"), testing::ExitedWithCode(1),
              "Sun's J2EE Reference Implementation found in '" + dir +
                  "/lib/j2ee.jar'.\nVantrel and Sun's J2EE are mutually exclusive. Uninstall J2EE.\n");

  ASSERT_TRUE(read("options allowri\naddjars lib\n"));
  EXPECT_EQ(classPath(), (Strings{dir + "/lib/a.jar", dir + "/lib/J2EE.JAR"}));
}

TEST_F(ConfigOptions, SafetyNetOffWhenTheVariableExists) {
  touch("lib/j2ee.jar");
  ::setenv("ZEP_NO_SAFETY_NET", "", 1);
  cfgTerm();
  cfgInit();
  ::unsetenv("ZEP_NO_SAFETY_NET");
  EXPECT_FALSE(cfgGetZepSafetyNet());
  ASSERT_TRUE(read("addjars lib\n"));
  EXPECT_EQ(classPath(), (Strings{dir + "/lib/j2ee.jar"}));
}

}  // namespace
