// The re-exec decision, the environment snapshot and the temporary files.
#include "environment.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "config_reader.h"
#include "jvm_discovery.h"
#include "jvm_library.h"
#include "jvm_options.h"
#include "process_end.h"
#include "test_support.h"

namespace {

const std::string kJdk = "/usr/lib/jvm/java-17-openjdk-amd64";

using testsupport::ScopedEnv;

std::string contentOf(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class Environment : public testsupport::VmModules {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kJdk + "/lib/modules")) GTEST_SKIP() << "no OpenJDK 17 here";
    cfgInit();
    VmModules::SetUp();
    jopSetJavaHome(kJdk);
  }
  void TearDown() override {
    VmModules::TearDown();
    cfgTerm();
  }
  const std::string required = kJdk + "/lib/server:" + kJdk + "/lib";
  ScopedEnv path{"LD_LIBRARY_PATH", std::nullopt};
  ScopedEnv checked{"LAUNCHER_ENV_CHECKED", std::nullopt};
  ScopedEnv marker{"LAUNCHER_LIBRARY_PATH_REEXEC", std::nullopt};
  ScopedEnv located{"LAUNCHER_REEXEC_FILE", std::nullopt};
};

TEST_F(Environment, RootFirstPassStartsFromEmptyPath) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  ::setenv("LD_LIBRARY_PATH", "/usr/lib", 1);
  bool flag = false;
  ASSERT_TRUE(hmdSetEnvironment(flag));
  EXPECT_TRUE(flag);
  EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), required.c_str());
  EXPECT_STREQ(std::getenv("LAUNCHER_ENV_CHECKED"), "true");

  // The second pass finds the path complete and leaves it as inherited; the variable the
  // first pass set for it goes before the VM sees the environment.
  hmdTakeReexecMarker();
  EXPECT_EQ(std::getenv("LAUNCHER_LIBRARY_PATH_REEXEC"), nullptr);
  ASSERT_TRUE(hmdSetEnvironment(flag));
  EXPECT_FALSE(flag);
  EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), required.c_str());
  hmdRemoveLauncherVariables();
  EXPECT_EQ(std::getenv("LAUNCHER_ENV_CHECKED"), nullptr);
  EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), required.c_str());

  // A restart gets it back, marked as the launcher's, so that it needs no re-exec and
  // takes the variable out again.
  hmdHandToReexec();
  // What the new image finds: the list the re-execution builds, not this environment.
  EXPECT_EQ(std::getenv("LAUNCHER_LIBRARY_PATH_REEXEC"), nullptr);
  for (const std::string& entry : hmdReexecEnvironment()) {
    if (entry.rfind("LAUNCHER_", 0) == 0) {
      const size_t at = entry.find('=');
      ::setenv(entry.substr(0, at).c_str(), entry.substr(at + 1).c_str(), 1);
    }
  }
  hmdProcessEndReset();
  EXPECT_STREQ(std::getenv("LAUNCHER_ENV_CHECKED"), "true");
  EXPECT_STREQ(std::getenv("LAUNCHER_LIBRARY_PATH_REEXEC"), "LAUNCHER_ENV_CHECKED");
  hmdTakeReexecMarker();
  ASSERT_TRUE(hmdSetEnvironment(flag));
  EXPECT_FALSE(flag);
  hmdRemoveLauncherVariables();
  EXPECT_EQ(std::getenv("LAUNCHER_ENV_CHECKED"), nullptr);

  // As the operator set it, it stays.
  ::setenv("LAUNCHER_ENV_CHECKED", "true", 1);
  hmdTakeReexecMarker();
  ASSERT_TRUE(hmdSetEnvironment(flag));
  hmdRemoveLauncherVariables();
  EXPECT_STREQ(std::getenv("LAUNCHER_ENV_CHECKED"), "true");
}

TEST_F(Environment, RootSecondPassWithIncompletePathRefuses) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  ::setenv("LAUNCHER_ENV_CHECKED", "true", 1);
  ::setenv("LD_LIBRARY_PATH", "/usr/lib", 1);
  bool flag = false;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(hmdSetEnvironment(flag));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Unable to start with setuid to root privileges.\n"
            "The following must be in the trusted directories list (see ldconfig(8)):\n"
            "\t" +
                required + ":/usr/lib\n");
}

TEST_F(Environment, NonRootKeepsThePathAndExtendsIt) {
  if (::geteuid() == 0) GTEST_SKIP() << "runs as root; the end-to-end tests cover this as another user";
  ::setenv("LD_LIBRARY_PATH", "/usr/lib", 1);
  bool flag = false;
  ASSERT_TRUE(hmdSetEnvironment(flag));
  EXPECT_TRUE(flag);
  EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), (required + ":/usr/lib").c_str());
  ASSERT_TRUE(hmdSetEnvironment(flag));
  EXPECT_FALSE(flag);
}

TEST_F(Environment, LongInheritedPathIsClippedInTheTrace) {
  const std::string inherited = "/" + std::string(40000, 'p');
  ::setenv("LAUNCHER_ENV_CHECKED", "true", 1);
  ::setenv("LD_LIBRARY_PATH", inherited.c_str(), 1);
  bool flag = false;
  std::string err;
  std::string trace =
      testsupport::traceOf([&] { testsupport::withStderr(err, [&] { return hmdSetEnvironment(flag); }); });
  EXPECT_TRUE(flag);
  const std::string line = "export LD_LIBRARY_PATH=" + (required + ":" + inherited).substr(0, 16384) + "\n";
  EXPECT_NE(trace.find(line), std::string::npos);
}

TEST(EnvironmentSnapshot, BytesHoldEveryEntry) {
  ScopedEnv marker("ENV_TEST_MARKER", "a=b c");
  std::string block = hmdGetEnvironmentBytes();
  ASSERT_GE(block.size(), 2u);
  EXPECT_EQ(block.back(), '\0');
  EXPECT_EQ(block[block.size() - 2], '\0');
  EXPECT_NE(block.find(std::string("\0ENV_TEST_MARKER=a=b c\0", 23)), std::string::npos);
  EXPECT_EQ(hmdGetEnvironmentChars(), std::nullopt);
  EXPECT_EQ(hmdGetEnvironmentValue("ENV_TEST_MARKER"), "a=b c");
  EXPECT_EQ(hmdGetEnvironmentValue("ENV_TEST_SURELY_UNSET"), std::nullopt);
}

TEST(TempFiles, PrivateUniqueFilesAndContent) {
  std::optional<std::string> a = hmdWriteTempFile(std::nullopt);
  std::optional<std::string> b = hmdWriteTempFile(std::string_view("dump\n"));
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  EXPECT_EQ(a->rfind("/tmp/vantrel-envdump-", 0), 0u);
  EXPECT_EQ(a->size(), std::string("/tmp/vantrel-envdump-XXXXXX").size());
  struct stat st {};
  ASSERT_EQ(::stat(a->c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_EQ(contentOf(*b), "dump\n");

  hmdWriteFileContent(*a, "line 1\nline 2\n");
  EXPECT_EQ(contentOf(*a), "line 1\nline 2\n");
  hmdWriteFileContent(*a, "");
  EXPECT_EQ(contentOf(*a), "");

  hmdDeleteTempFile(*a);
  hmdDeleteTempFile(*b);
  EXPECT_FALSE(std::filesystem::exists(*a));
  hmdDeleteTempFile(*b);  // already gone: ignored

  EXPECT_EQ(hmdWriteTempFile(std::string_view("")), std::nullopt);

  ::testing::internal::CaptureStderr();
  hmdWriteFileContent("/nonexistent-dir/file", "x");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Unable to open '/nonexistent-dir/file'.\n");
}

}  // namespace
