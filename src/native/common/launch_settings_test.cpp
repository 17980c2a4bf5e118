// Tests of the launch-setting directives, read from configuration files.
#include "launch_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "app_arguments.h"
#include "config_options.h"
#include "config_reader.h"
#include "jvm_discovery.h"
#include "jvm_options.h"
#include "test_support.h"
#include "trace.h"

namespace {

namespace fs = std::filesystem;

uint64_t memoryMiB = 0;
uint64_t fakeMemory() { return memoryMiB * 1048576; }

class LaunchSettings : public testsupport::ConfigFileTest {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    jopInit();
    jevTerm();
    optAppArgumentsReset();
    cfgInit();
  }
  void TearDown() override {
    cfgTerm();
    jopTerm();
    jevTerm();
    optAppArgumentsReset();
  }

  std::vector<std::string> options() {
    cfgFinalizeJVMOptions();
    std::vector<std::string> texts;
    for (const VmOption& option : *cfgGetJavaVMOptions()) texts.push_back(option.optionString);
    return texts;
  }
};

using Strings = std::vector<std::string>;
constexpr const char* kGeneric = "Error: Unable to process '%s' at line %d in configuration file '%s'.";

TEST_F(LaunchSettings, Defaults) {
  EXPECT_FALSE(cfgGetMainClass());
  EXPECT_EQ(cfgGetMainMethod(), "main");
  EXPECT_EQ(cfgGetVersionMethod(), "main");
  EXPECT_EQ(cfgGetUsageMethod(), "main");
  EXPECT_FALSE(cfgGetExitClass());
  EXPECT_EQ(cfgGetExitMethod(), "cleanup");
  EXPECT_EQ(cfgGetRestartOnExitCode(), 0);
  EXPECT_EQ(cfgGetSocketPort(), 0);
  EXPECT_FALSE(cfgGetDaemonSupport());
  EXPECT_FALSE(cfgGetCurrentDir());
}

TEST_F(LaunchSettings, ClassSpecifications) {
  ASSERT_TRUE(read("mainclass com.example.Server\n"));
  EXPECT_EQ(cfgGetMainClass(), "com.example.Server");
  EXPECT_EQ(cfgGetMainMethod(), "main");
  EXPECT_EQ(cfgGetExitClass(), "com.example.Server");

  ASSERT_TRUE(
      read("mainclass com.example.Server.start()\nusageclass Usage.print()\nexitclass com.example.Stop\n"));
  EXPECT_EQ(cfgGetMainClass(), "com.example.Server");
  EXPECT_EQ(cfgGetMainMethod(), "start");
  EXPECT_EQ(cfgGetUsageClass(), "Usage");
  EXPECT_EQ(cfgGetUsageMethod(), "print");
  EXPECT_EQ(cfgGetExitClass(), "com.example.Stop");
  EXPECT_EQ(cfgGetExitMethod(), "cleanup");

  ASSERT_TRUE(read("mainclass run()\nversionclass ()\n"));
  EXPECT_EQ(cfgGetMainClass(), "");
  EXPECT_EQ(cfgGetMainMethod(), "run");
  EXPECT_EQ(cfgGetVersionClass(), "()");
  EXPECT_EQ(cfgGetVersionMethod(), "main");

  ASSERT_TRUE(read("mainmethod go\nmainclass a.B\n"));
  EXPECT_EQ(cfgGetMainMethod(), "go");
}

TEST_F(LaunchSettings, ExitCodes) {
  const char* invalid = "Error: Invalid number in '%s' at line %d in configuration file '%s'.";
  ASSERT_TRUE(read("restartonexit -3\nusageonexit  7\n"));
  EXPECT_EQ(cfgGetRestartOnExitCode(), -3);
  EXPECT_EQ(cfgGetUsageOnExitCode(), 7);
  EXPECT_FALSE(read("restartonexit 12x\n"));
  EXPECT_EQ(err, message(invalid, "restartonexit 12x"));
  EXPECT_FALSE(read("restartonexit 99999999999\n"));
  EXPECT_FALSE(read("usageonexit 2147483648\n"));
  EXPECT_EQ(cfgGetRestartOnExitCode(), -3);
}

TEST_F(LaunchSettings, VMType) {
  ASSERT_TRUE(read("vmtype jvmdefault\n"));
  EXPECT_EQ(jevGetJVMSubType(), kSubTypeDefault);
  EXPECT_FALSE(read("vmtype fast\n"));
  EXPECT_EQ(err, message("Error: Unrecognized VM type in '%s' at line %d in configuration file '%s'.",
                         "vmtype fast"));
  EXPECT_FALSE(read("vmtype Server\n"));
  ASSERT_TRUE(read("vmtype server\n"));
  EXPECT_EQ(jevGetJVMSubType(), kSubTypeServer);

  jevSetJVMSubType(kSubTypeClient);
  EXPECT_TRUE(read("vmtype server\nvmtype fast\n"));
  EXPECT_EQ(jevGetJVMSubType(), kSubTypeClient);
}

TEST_F(LaunchSettings, JavaHomeAndPathFirstSettingWins) {
  ASSERT_TRUE(read("javahome /opt/jdk\njavahome /opt/other\njavapath lib/libjvm.so\njavapath /x\n"));
  EXPECT_EQ(jopGetJavaHome(), "/opt/jdk");
  EXPECT_EQ(jopGetJavaPath(), "lib/libjvm.so");
}

TEST_F(LaunchSettings, HeapSizes) {
  cfgSetTotalMemoryQuery(fakeMemory);
  memoryMiB = 4096;
  ASSERT_TRUE(read("vmmemmax 50%\n"));
  memoryMiB = 512;
  ASSERT_TRUE(read("vmmemmax 150%\nvmmemmin 25%\n"));
  memoryMiB = 64;
  ASSERT_TRUE(read("vmmemmin 1%\n"));
  memoryMiB = 2048;
  ASSERT_TRUE(read("vmmemmax 50%\nvmmemmin 64m\nvmmemmax auto\nvmmemmax 50%auto\n"));
  memoryMiB = 0;
  ASSERT_TRUE(read("vmmemmax 50%\n"));
  EXPECT_EQ(options(), (Strings{"-Xmx2048m", "-Xmx512m", "-Xms128m", "-Xmx1024m", "-Xms64m"}));
}

// The share is taken of the memory in whole MiB, rounded down, with no ceiling on a 64-bit
// VM; a share under 1 MiB gives no option at all.
TEST_F(LaunchSettings, HeapShareOfAnyMemorySize) {
  struct Case {
    uint64_t memoryMiB;
    const char* directive;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {64, "vmmemmax 50%", {"-Xmx32m"}},
      {99, "vmmemmax 50%", {"-Xmx49m"}},
      {150, "vmmemmax 50%", {"-Xmx75m"}},
      {8192, "vmmemmax 75%", {"-Xmx6144m"}},
      {8192, "vmmemmin 25%", {"-Xms2048m"}},
      {1, "vmmemmax 50%", {}},
      {1, "vmmemmax 100%", {"-Xmx1m"}},
      {100, "vmmemmax 0%", {}},
      {100, "vmmemmax -5%", {}},
      {100, "vmmemmax 250%", {"-Xmx100m"}},
      {100, "vmmemmin 250%", {"-Xms250m"}},
      {uint64_t{1} << 43, "vmmemmax 1000000%", {"-Xmx8796093022208m"}},
  };
  cfgSetTotalMemoryQuery(fakeMemory);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.memoryMiB) + " MiB, " + c.directive);
    cfgTerm();
    jopTerm();
    jopInit();
    cfgInit();
    cfgSetTotalMemoryQuery(fakeMemory);
    memoryMiB = c.memoryMiB;
    ASSERT_TRUE(read(std::string(c.directive) + "\n"));
    EXPECT_EQ(options(), c.options);
  }
}

TEST_F(LaunchSettings, HeapSizeTraceAndLimit) {
  cfgSetTotalMemoryQuery(fakeMemory);
  memoryMiB = 4096;
  testing::internal::CaptureStdout();
  ut_treset("-p");
  ASSERT_TRUE(read("vmmemmax 50%\n"));
  memoryMiB = 1;
  ASSERT_TRUE(read("vmmemmin 10%\n"));
  ut_treset(nullptr);
  std::string trace = testing::internal::GetCapturedStdout();
  EXPECT_NE(trace.find("\t*** The OS returned a total physical memory of 4096 Megabytes"), std::string::npos);
  const bool ceiling = sizeof(void*) == 4;
  EXPECT_EQ(trace.find("\t*** We're trying to auto address more then 1Gb, let's jump back to 1Gb") !=
                std::string::npos,
            ceiling);
  EXPECT_NE(trace.find(ceiling ? "\t*** We passed the following memory parameter to the VM: -Xmx1024m"
                               : "\t*** We passed the following memory parameter to the VM: -Xmx2048m"),
            std::string::npos);
  EXPECT_NE(trace.find("\t*** The share of memory is below 1 MiB; leaving the heap size to the VM"),
            std::string::npos);
  EXPECT_EQ(trace.find("-Xms"), std::string::npos);

  std::string longest = "vmmemmin " + std::string(115, '9') + "\n";
  EXPECT_TRUE(read(longest));
  std::string tooLong = "vmmemmin " + std::string(116, '9');
  EXPECT_FALSE(read(tooLong + "\n"));
  EXPECT_EQ(err, message(kGeneric, tooLong));
}

TEST_F(LaunchSettings, Socket) {
  EXPECT_FALSE(read("socket 0\n"));
  EXPECT_EQ(err, message(kGeneric, "socket 0"));
  EXPECT_FALSE(read("socket none\n"));
  EXPECT_EQ(cfgGetSocketPort(), 0);
  ASSERT_TRUE(read("socket 2000abc\n"));
  EXPECT_EQ(cfgGetSocketPort(), 2000);
  EXPECT_EQ(options(), (Strings{"-Dvantrel.socket=2000"}));
}

TEST_F(LaunchSettings, CopyEnv) {
  ::setenv("LAUNCH_SETTINGS_COPY", "a b=c", 1);
  ::unsetenv("LAUNCH_SETTINGS_NOPE");
  ASSERT_TRUE(read("copyenv LAUNCH_SETTINGS_NOPE\ncopyenv LAUNCH_SETTINGS_COPY\n"));
  ::unsetenv("LAUNCH_SETTINGS_COPY");
  EXPECT_EQ(options(), (Strings{"-Dvantrel.copyenv.LAUNCH_SETTINGS_COPY=a b=c"}));
}

TEST_F(LaunchSettings, ExportEnvFileLivesUntilTerm) {
  ASSERT_TRUE(read("exportenv\n"));
  std::optional<std::string> file = cfgGetExportEnv();
  ASSERT_TRUE(file);
  EXPECT_TRUE(fs::exists(*file));
  EXPECT_EQ(fs::file_size(*file), 0u);
  EXPECT_EQ(options(), (Strings{"-Dvantrel.exportenv=" + *file}));
  cfgTerm();
  EXPECT_FALSE(fs::exists(*file));
  EXPECT_FALSE(cfgGetExportEnv());
  cfgInit();
}

TEST_F(LaunchSettings, RepeatedExportEnvLeavesNoFileBehind) {
  ASSERT_TRUE(read("exportenv\n"));
  std::string first = *cfgGetExportEnv();
  ASSERT_TRUE(read("exportenv\n"));
  std::string second = *cfgGetExportEnv();
  EXPECT_NE(first, second);
  EXPECT_FALSE(fs::exists(first));
  EXPECT_TRUE(fs::exists(second));
}

TEST_F(LaunchSettings, CurrentDirAndDaemonSupportResolveAgainstTheFile) {
  ASSERT_TRUE(read("cd first\ncd work/../logs\ndaemonsupport log\n"));
  EXPECT_EQ(cfgGetCurrentDir(), dir + "/logs");
  EXPECT_TRUE(cfgGetDaemonSupport());
  EXPECT_EQ(cfgGetDaemonLogDir(), dir + "/log");
}

TEST_F(LaunchSettings, LibPathKeepsExistingEntriesInOrder) {
  fs::create_directory(dir + "/a");
  fs::create_directory(dir + "/b");
  ASSERT_TRUE(read("addlibpath b:missing:a\naddlibpath a\n"));
  EXPECT_EQ(cfgGetShLibPath().entries(), (Strings{dir + "/b", dir + "/a"}));
}

TEST_F(LaunchSettings, ConfiguredArgumentsComeFirstInOrder) {
  optAddApplicationArgument("c");
  ASSERT_TRUE(read("apparg a\naddparam b\nnosplash\n"));
  EXPECT_EQ(optGetApplicationArgList(), (Strings{"a", "b", "-nosplash", "c"}));
}

TEST_F(LaunchSettings, TermRestoresTheStartValues) {
  fs::create_directory(dir + "/lib");
  ASSERT_TRUE(read("socket 99\napparg a\naddlibpath lib\nmainclass X.y()\nrestartonexit 5\n"));
  cfgTerm();
  optAppArgumentsReset();
  cfgInit();
  EXPECT_EQ(cfgGetSocketPort(), 0);
  EXPECT_TRUE(cfgGetShLibPath().empty());
  EXPECT_FALSE(cfgGetMainClass());
  EXPECT_EQ(cfgGetMainMethod(), "main");
  EXPECT_EQ(cfgGetRestartOnExitCode(), 0);
  optAddApplicationArgument("z");
  ASSERT_TRUE(read("apparg b\n"));
  EXPECT_EQ(optGetApplicationArgList(), (Strings{"b", "z"}));
}

}  // namespace

TEST_F(LaunchSettings, ReadinessRulesAndPidFile) {
  EXPECT_EQ(cfgGetReadiness().mode, ReadinessMode::Main);
  EXPECT_FALSE(cfgGetPidFile());
  struct Case {
    std::string argument;
    bool accepted;
    ReadinessMode mode;
    int32_t port;
    std::string path = "";
  };
  const Case cases[] = {
      {"return", true, ReadinessMode::Return, 0},  {"main", true, ReadinessMode::Main, 0},
      {"port 8080", true, ReadinessMode::Port, 8080}, {"port \t 1", true, ReadinessMode::Port, 1},
      {"port 65535", true, ReadinessMode::Port, 65535}, {"port 0", false, {}, 0},
      {"port 65536", false, {}, 0},                 {"port 80x", false, {}, 0},
      {"port -1", false, {}, 0},                    {"port", false, {}, 0},
      {"port8080", false, {}, 0},                   {"Main", false, {}, 0},
      {"ready", false, {}, 0},                      {"port 0000000080", false, {}, 0},
      {"port 80 /", false, {}, 0},
      {"http 8080", true, ReadinessMode::Http, 8080, "/"},
      {"http\t8080 \t/health/ready?full=1", true, ReadinessMode::Http, 8080, "/health/ready?full=1"},
      {"http 1 /" + std::string(kReadinessPathMax - 1, 'a'), true, ReadinessMode::Http, 1,
       "/" + std::string(kReadinessPathMax - 1, 'a')},
      {"http 1 /" + std::string(kReadinessPathMax, 'a'), false, {}, 0},
      {"http", false, {}, 0},                       {"http 0", false, {}, 0},
      {"http 8080 health", false, {}, 0},           {"http 8080 / more", false, {}, 0},
      {"http 8080 /\x01", false, {}, 0},            {"http 8080 /caf\xc3\xa9", false, {}, 0},
      {"http8080", false, {}, 0},                   {"HTTP 8080", false, {}, 0},
  };
  constexpr const char* kInvalidRule = "Error: Invalid readiness rule in '%s' at line %d in configuration file '%s'.";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    cfgSetReadiness("main");
    std::string line = "readiness " + c.argument;
    EXPECT_EQ(read(line + "\n"), c.accepted);
    if (c.accepted) {
      EXPECT_EQ(cfgGetReadiness().mode, c.mode);
      EXPECT_EQ(cfgGetReadiness().port, c.port);
      EXPECT_EQ(cfgGetReadiness().path, c.path);
    } else {
      // The message cuts a long line short.
      EXPECT_EQ(err.substr(0, 200), message(kInvalidRule, line).substr(0, 200));
      EXPECT_EQ(cfgGetReadiness().mode, ReadinessMode::Main);
    }
  }
  ASSERT_TRUE(read("pidfile run/app.pid\n"));
  EXPECT_EQ(cfgGetPidFile(), dir + "/run/app.pid");
  cfgTerm();
  cfgInit();
  EXPECT_EQ(cfgGetReadiness().mode, ReadinessMode::Main);
  EXPECT_FALSE(cfgGetPidFile());
}
