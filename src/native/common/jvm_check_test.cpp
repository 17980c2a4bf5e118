// The acceptance rules and the version trace, from property values alone.
#include "jvm_check.h"

#include <gtest/gtest.h>

#include "option_directives.h"
#include "test_support.h"

namespace {

class JvmCheck : public testsupport::LauncherModules {};

VmProperties reported(const std::string& javaVersion, const std::string& vendor = "Debian",
                      const std::string& vmVersion = "17.0.15+6", const std::string& vmInfo = "mixed mode") {
  VmProperties p;
  p.javaVersion = javaVersion;
  p.vmVendor = vendor;
  p.vmVersion = vmVersion;
  p.vmInfo = vmInfo;
  p.vmName = "Server VM";
  p.runtimeName = "Runtime";
  p.runtimeVersion = "17.0.15+6";
  return p;
}

const char kHint[] =
    "Check your installation and use the javahome commandline switchto specify the JDK or JRE location\n";
const char kUnsupported[] = "This Java VM release is unsupported by Vantrel (see the release notes)\n";

}  // namespace

TEST_F(JvmCheck, VersionRequirement) {
  struct Case {
    const char* vmversion;  // null: the default requirement
    const char* reported;
    bool accepted;
  } cases[] = {
      {nullptr, "1.3.1", true},    {nullptr, "1.3.0", false},    {nullptr, "17.0.15", true},
      {nullptr, "21", true},       {"21.0.0", "21", true},       {"21.0.0", "21.0.1", false},
      {"1.4.2", "1.4.2_05", true}, {"1.4.0-", "17.0.15", false}, {"9.0.0+", "9-ea", true},
  };
  for (const Case& c : cases) {
    cfgTerm();
    cfgInit();
    if (c.vmversion != nullptr) {
      ASSERT_TRUE(cfgVMVersionCmd(c.vmversion));
    }
    CheckVerdict verdict = jsvJudgeJVM(reported(c.reported), CheckSettings{});
    EXPECT_EQ(verdict.code, c.accepted ? 0 : 1) << c.vmversion << " " << c.reported;
    if (!c.accepted) {
      std::string requirement;
      cfgIsJVMVersionAcceptable(c.reported, &requirement);
      EXPECT_EQ(verdict.message,
                "Unable to find a supported JDK or JRE version. " + requirement + "\n" + kHint);
    } else {
      EXPECT_EQ(verdict.message, "");
    }
  }
}

TEST_F(JvmCheck, KnownBadBuildNeedsItsWorkaround) {
  const VmProperties bad = reported("1.3.1", "Sun Microsystems Inc.", "1.3.1-b24", "interpreted mode");
  const std::string workaround =
      std::string("\n") + kUnsupported + "Attempting to start server with workaround for Java VM issue\n\n";
  struct Case {
    VmProperties properties;
    CheckSettings settings;
    int32_t code;
    std::string message;
  } cases[] = {
      {bad, {.strictVMCheck = true}, 1, std::string(kUnsupported) + kHint},
      {bad, {.strictVMCheck = true, .policySet = true}, 0, workaround},
      {reported("1.3.1", "Sun Microsystems Inc.", "1.3.1-b24", "1.3.1-b24, mixed"),
       {.strictVMCheck = true},
       0,
       workaround},
      {bad, {.strictVMCheck = true, .safetyNetOff = true}, 0, ""},
      {bad, {}, 0, ""},
      {reported("1.3.1", "Sun Microsystems Inc. ", "1.3.1-b24"), {.strictVMCheck = true}, 0, ""},
      {reported("1.3.1", "Sun Microsystems Inc.", "1.3.1-b2"), {.strictVMCheck = true}, 0, ""},
  };
  for (const Case& c : cases) {
    CheckVerdict verdict = jsvJudgeJVM(c.properties, c.settings);
    EXPECT_EQ(verdict.code, c.code) << c.properties.vmVendor << "|" << c.properties.vmVersion;
    EXPECT_EQ(verdict.message, c.message) << c.properties.vmVendor << "|" << c.properties.vmVersion;
  }
}

TEST(JvmCheckTrace, LongFormFromOnePointThreeZero) {
  VmProperties p = reported("1.3.0");
  EXPECT_EQ(
      jsvVersionTraceLines(p),
      (std::vector<std::string>{"Java version \"1.3.0\"", "Runtime (build 17.0.15+6)",
                                "Server VM (build 17.0.15+6, mixed mode)", "JVM vendor is \"Debian\""}));
  for (const char* older : {"1.3", "1.2.2", ""}) {
    p.javaVersion = older;
    std::vector<std::string> lines = jsvVersionTraceLines(p);
    ASSERT_EQ(lines.size(), 3u) << older;
    EXPECT_EQ(lines[1], "Server VM (mixed mode)") << older;
  }
  p.javaVersion = "1.3.0_01";
  EXPECT_EQ(jsvVersionTraceLines(p).size(), 4u);
}
