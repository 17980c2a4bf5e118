// The VM library's layout, the library path it needs and loading it.
#include "jvm_library.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "jvm_discovery.h"
#include "jvm_options.h"
#include "test_support.h"

namespace {

const std::string kArch = LAUNCHER_JDK_ARCH;

VmInfo info(int32_t subType, int32_t jvmType, int32_t version) {
  return VmInfo{.subType = subType, .jvmType = jvmType, .version = version, .vendor = kVendorSun};
}

using testsupport::ScopedEnv;

class JvmLibrary : public testsupport::VmModules {};

TEST_F(JvmLibrary, LibraryAndConfigPathsOfEachLayout) {
  std::string dest;
  jmdGetJVMSharedLib(dest, "/opt/jdk", info(kSubTypeServer, kJvmTypeJDK, kVersion14));
  EXPECT_EQ(dest, "/opt/jdk/jre/lib/" + kArch + "/server/libjvm.so");
  jmdGetJVMSharedLib(dest, "/opt/jre", info(kSubTypeHotspot, kJvmTypeJRE, kVersion13));
  EXPECT_EQ(dest, "/opt/jre/lib/" + kArch + "/client/libjvm.so");
  jmdGetJVMSharedLib(dest, "/opt/jre", info(kSubTypeClassic, kJvmTypeJRE, kVersion14));
  EXPECT_EQ(dest, "/opt/jre/lib/" + kArch + "/client/libjvm.so");
  jmdGetJVMSharedLib(dest, "/opt/m", info(kSubTypeServer, kJvmTypeJDK, kVersionModular));
  EXPECT_EQ(dest, "/opt/m/lib/server/libjvm.so");
  jmdGetJVMSharedLib(dest, "/opt/m", info(kSubTypeDefault, kJvmTypeJRE, kVersionModular));
  EXPECT_EQ(dest, "/opt/m/lib/client/libjvm.so");
  dest = "unchanged";
  jmdGetJVMSharedLib(dest, "/opt/x", info(kSubTypeServer, 7, kVersion14));
  EXPECT_EQ(dest, "unchanged");

  jmdGetJVMConfigFile(dest, "/opt/jdk", info(kSubTypeDefault, kJvmTypeJDK, kVersion13));
  EXPECT_EQ(dest, "/opt/jdk/jre/lib/jvm.cfg");
  jmdGetJVMConfigFile(dest, "/opt/jdk", info(kSubTypeDefault, kJvmTypeJDK, kVersion14));
  EXPECT_EQ(dest, "/opt/jdk/jre/lib/" + kArch + "/jvm.cfg");
  jmdGetJVMConfigFile(dest, "/opt/jre", info(kSubTypeDefault, kJvmTypeJRE, kVersion13));
  EXPECT_EQ(dest, "/opt/jre/lib/jvm.cfg");
  jmdGetJVMConfigFile(dest, "/opt/jre", info(kSubTypeDefault, kJvmTypeJRE, kVersion14));
  EXPECT_EQ(dest, "/opt/jre/lib/" + kArch + "/jvm.cfg");
  jmdGetJVMConfigFile(dest, "/opt/m", info(kSubTypeDefault, kJvmTypeJDK, kVersionModular));
  EXPECT_EQ(dest, "/opt/m/lib/jvm.cfg");
  dest = "unchanged";
  jmdGetJVMConfigFile(dest, "/opt/x", info(kSubTypeDefault, 0, kVersion14));
  EXPECT_EQ(dest, "unchanged");
}

TEST_F(JvmLibrary, LoadFailuresNameTheLibrary) {
  // A configured file is loaded as given, but the messages name the library.
  jopSetJavaPath("/nonexistent/libjvm-elsewhere.so");
  ::testing::internal::CaptureStderr();
  InvocationFunctions table;
  EXPECT_FALSE(jmdLoadJavaVM(table));
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Error loading Java VM library: libjvm.so [/nonexistent/libjvm-elsewhere.so: ", 0), 0u)
      << err;

  // A library without the JNI entry points.
  jopTerm();
  jopInit();
  jopSetJavaPath("libm.so.6");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(jmdLoadJavaVM(table));
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Can't find JNI interfaces in: libjvm.so [", 0), 0u) << err;
  EXPECT_NE(err.find("JNI_CreateJavaVM"), std::string::npos) << err;
}

TEST_F(JvmLibrary, LoadsTheRealVmLibrary) {
  const std::string library = "/usr/lib/jvm/java-17-openjdk-amd64/lib/server/libjvm.so";
  if (!std::filesystem::exists(library)) GTEST_SKIP() << "no OpenJDK 17 here";
  jopSetJavaPath(library);
  ScopedEnv bindNow("LD_BIND_NOW", "1");
  InvocationFunctions table;
  ASSERT_TRUE(jmdLoadJavaVM(table));
  EXPECT_NE(table.createJavaVM, nullptr);
  EXPECT_NE(table.getDefaultJavaVMInitArgs, nullptr);
  EXPECT_NE(table.dumpAllStacks, nullptr);
}

TEST_F(JvmLibrary, LibraryPathForModularInstallation) {
  const std::string home = "/usr/lib/jvm/java-17-openjdk-amd64";
  if (!std::filesystem::exists(home + "/lib/modules")) GTEST_SKIP() << "no OpenJDK 17 here";
  jopSetJavaHome(home);
  {
    ScopedEnv path("LD_LIBRARY_PATH", std::nullopt);
    bool flag = false;
    ASSERT_TRUE(jmdSetJavaEnvironment(flag));
    EXPECT_TRUE(flag);
    EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), (home + "/lib/server:" + home + "/lib").c_str());
    // Already complete: nothing changes and the flag is never cleared here.
    ASSERT_TRUE(jmdSetJavaEnvironment(flag));
    EXPECT_TRUE(flag);
    flag = false;
    ASSERT_TRUE(jmdSetJavaEnvironment(flag));
    EXPECT_FALSE(flag);
  }
  ScopedEnv path("LD_LIBRARY_PATH", "/x:" + home + "/lib");
  bool flag = false;
  ASSERT_TRUE(jmdSetJavaEnvironment(flag));
  EXPECT_TRUE(flag);
  EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), (home + "/lib/server:/x:" + home + "/lib").c_str());

  ScopedEnv preload("LD_PRELOAD", "/a.so " + home + "/lib/server/libjvm.so /b.so");
  jmdClearJavaEnvironment();
  EXPECT_STREQ(std::getenv("LD_PRELOAD"), "/a.so /b.so");
}

TEST_F(JvmLibrary, RegisteredInstallationFromJavaHome) {
  const std::string home = "/usr/lib/jvm/java-17-openjdk-amd64";
  if (!std::filesystem::exists(home + "/lib/modules")) GTEST_SKIP() << "no OpenJDK 17 here";
  {
    ScopedEnv javaHome("JAVA_HOME", home);
    EXPECT_EQ(jmdIsThisJVMInstalled(), home);
  }
  ScopedEnv javaHome("JAVA_HOME", "/nonexistent");
  std::optional<std::string> fallback = jmdIsThisJVMInstalled();
  if (std::filesystem::exists("/usr/lib/jvm/default-java/bin/java"))
    EXPECT_EQ(fallback, "/usr/lib/jvm/default-java");
  else
    EXPECT_EQ(fallback, std::nullopt);
}

}  // namespace
