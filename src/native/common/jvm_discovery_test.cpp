// Classification of installation trees, the jvm.cfg reader and the PATH search.
#include "jvm_discovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "config_reader.h"
#include "jvm_library.h"
#include "jvm_options.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kArch = LAUNCHER_JDK_ARCH;

using testsupport::ScopedEnv;
using testsupport::TempDir;

// A Sun JDK of the 1.4 layout: jre/lib/<arch>/jvm.cfg and the libraries asked for.
std::string makeJdk14(const TempDir& dir, const std::string& cfg, bool client, bool server) {
  dir.write("jdk/bin/java", "", 0755);
  dir.write("jdk/bin/javac", "", 0755);
  dir.write("jdk/bin/tnameserv", "", 0755);
  dir.write("jdk/jre/lib/" + kArch + "/jvm.cfg", cfg);
  if (client) dir.write("jdk/jre/lib/" + kArch + "/client/libjvm.so");
  if (server) dir.write("jdk/jre/lib/" + kArch + "/server/libjvm.so");
  return dir.path("jdk");
}

// A Sun JRE of the 1.3 layout: lib/jvm.cfg and the libraries asked for.
std::string makeJre13(const TempDir& dir, const std::string& cfg, bool client, bool server) {
  dir.write("jre/bin/java", "", 0755);
  dir.write("jre/bin/tnameserv", "", 0755);
  dir.write("jre/lib/jvm.cfg", cfg);
  if (client) dir.write("jre/lib/" + kArch + "/client/libjvm.so");
  if (server) dir.write("jre/lib/" + kArch + "/server/libjvm.so");
  return dir.path("jre");
}

class JvmDiscovery : public testsupport::VmModules {
 protected:
  // Runs the library-directory search on the home; the directory or none, and stderr.
  std::optional<std::string> libDir(const std::string& home, std::string* err = nullptr) {
    jopSetJavaHome(home);
    std::string dir;
    std::string captured;
    bool found = testsupport::withStderr(captured, [&] { return jevGetJavaVMLibDir(dir); });
    if (err != nullptr) *err = captured;
    if (!found) return std::nullopt;
    return dir;
  }
};

TEST_F(JvmDiscovery, ClassifiesLegacyJdkJreAndIbmTrees) {
  TempDir dir;
  std::string jdk = makeJdk14(dir, "-server KNOWN\n", false, true);
  ASSERT_TRUE(jevBasicJDKJREChecks(jdk));
  EXPECT_EQ(jevGetVmInfo().jvmType, kJvmTypeJDK);
  EXPECT_EQ(jevGetVmInfo().version, kVersion14);
  EXPECT_EQ(jevGetVmInfo().vendor, kVendorSun);

  // The 1.3 jvm.cfg beside it wins: the family-1 file is looked for first.
  dir.write("jdk/jre/lib/jvm.cfg", "-hotspot\n");
  ASSERT_TRUE(jevBasicJDKJREChecks(jdk));
  EXPECT_EQ(jevGetVmInfo().version, kVersion13);

  // liborb.so marks IBM, whatever the jvm.cfg files say.
  dir.write("jdk/jre/bin/liborb.so");
  ASSERT_TRUE(jevBasicJDKJREChecks(jdk));
  EXPECT_EQ(jevGetVmInfo().jvmType, kJvmTypeJDK);
  EXPECT_EQ(jevGetVmInfo().version, kVersion13);
  EXPECT_EQ(jevGetVmInfo().vendor, kVendorIBM);

  // No javac: tried as a JDK, passes as a JRE.
  std::string jre = makeJre13(dir, "-hotspot\n", true, false);
  ASSERT_TRUE(jevBasicJDKJREChecks(jre));
  EXPECT_EQ(jevGetVmInfo().jvmType, kJvmTypeJRE);
  EXPECT_EQ(jevGetVmInfo().version, kVersion13);
  EXPECT_EQ(jevGetVmInfo().vendor, kVendorSun);

  // Without tnameserv or without any jvm.cfg a legacy tree fails.
  fs::remove(dir.path("jre/bin/tnameserv"));
  EXPECT_FALSE(jevBasicJDKJREChecks(jre));
  dir.write("jre/bin/tnameserv", "", 0755);
  fs::remove(dir.path("jre/lib/jvm.cfg"));
  EXPECT_FALSE(jevBasicJDKJREChecks(jre));
  EXPECT_FALSE(jevBasicJDKJREChecks(dir.path("nothing")));
}

TEST_F(JvmDiscovery, ClassifiesModularTrees) {
  TempDir dir;
  dir.write("m/bin/java", "", 0755);
  dir.write("m/lib/modules", "image");
  ASSERT_TRUE(jevBasicJDKJREChecks(dir.path("m")));
  EXPECT_EQ(jevGetVmInfo().jvmType, kJvmTypeJRE);
  EXPECT_EQ(jevGetVmInfo().version, kVersionModular);
  dir.write("m/bin/javac", "", 0755);
  ASSERT_TRUE(jevBasicJDKJREChecks(dir.path("m")));
  EXPECT_EQ(jevGetVmInfo().jvmType, kJvmTypeJDK);

  // A lib/modules directory (the kernel's modules below /usr) is no runtime image.
  dir.write("usr/bin/java", "", 0755);
  fs::create_directories(dir.path("usr/lib/modules/6.1"));
  EXPECT_FALSE(jevBasicJDKJREChecks(dir.path("usr")));
}

TEST_F(JvmDiscovery, Jdk14ConfigFirstUsableLineWins) {
  TempDir dir;
  std::string jdk = makeJdk14(dir, "# variants\n-client KNOWN\n-server KNOWN\n", true, true);
  EXPECT_EQ(libDir(jdk), jdk + "/jre/lib/" + kArch + "/client");
  EXPECT_EQ(jevGetJVMSubType(), kSubTypeClient);
}

TEST_F(JvmDiscovery, Jdk14ConfigSkipsVariantsWithoutLibrary) {
  TempDir dir;
  std::string jdk = makeJdk14(dir, "-client KNOWN\n-server KNOWN\n", false, true);
  EXPECT_EQ(libDir(jdk), jdk + "/jre/lib/" + kArch + "/server");
  EXPECT_EQ(jevGetJVMSubType(), kSubTypeServer);
}

TEST_F(JvmDiscovery, Jdk14ConfigWithoutAnyLibraryFindsNoVm) {
  TempDir dir;
  std::string jdk = makeJdk14(dir, "-client KNOWN\n-server KNOWN\n", false, false);
  std::string err;
  EXPECT_FALSE(libDir(jdk, &err));
  EXPECT_EQ(err, "Error: No JVM found in '" + jdk + "/jre/lib/" + kArch + "/jvm.cfg'.\n");
  EXPECT_EQ(jevGetJVMSubType(), kSubTypeDefault);
}

TEST_F(JvmDiscovery, Jdk14ConfigMarkers) {
  TempDir dir;
  // IGNORE and unknown variants are passed over; WARN counts like KNOWN.
  std::string jdk = makeJdk14(dir, "-classic IGNORE\n-green KNOWN\n-server\n-hotspot WARN\n", true, true);
  EXPECT_EQ(libDir(jdk), jdk + "/jre/lib/" + kArch + "/client");
  EXPECT_EQ(jevGetJVMSubType(), kSubTypeHotspot);

  jevTerm();
  dir.write("jdk/jre/lib/" + kArch + "/jvm.cfg", "-classic IGNORE\n-server ALIASED_TO -client\n");
  EXPECT_EQ(libDir(jdk), jdk + "/jre/lib/" + kArch + "/server");
  EXPECT_EQ(jevGetJVMSubType(), kSubTypeServer);
}

TEST_F(JvmDiscovery, Jre13ConfigTakesOnlyLonelyVariants) {
  TempDir dir;
  std::string jre = makeJre13(dir, "-hotspot KNOWN\n  -hotspot  \n", true, false);
  EXPECT_EQ(libDir(jre), jre + "/lib/" + kArch + "/client");
  EXPECT_EQ(jevGetJVMSubType(), kSubTypeHotspot);

  jevTerm();
  dir.write("jre/lib/jvm.cfg", "-hotspot KNOWN\n");
  std::string err;
  EXPECT_FALSE(libDir(jre, &err));
  EXPECT_EQ(err, "Error: No JVM found in '" + jre + "/lib/jvm.cfg'.\n");
}

TEST_F(JvmDiscovery, ChosenSubTypeBypassesConfig) {
  TempDir dir;
  std::string jdk = makeJdk14(dir, "this file is not read\n", true, false);
  jevSetJVMSubType(kSubTypeClient);
  EXPECT_EQ(libDir(jdk), jdk + "/jre/lib/" + kArch + "/client");

  jevTerm();
  jevSetJVMSubType(kSubTypeServer);
  std::string err;
  EXPECT_FALSE(libDir(jdk, &err));
  EXPECT_EQ(err, "Unable to find a suitable Java VM in " + jdk + "\n");
}

TEST_F(JvmDiscovery, IbmVmTakesClassicFromClientDirectory) {
  TempDir dir;
  std::string jdk = makeJdk14(dir, "not read\n", true, false);
  dir.write("jdk/jre/bin/liborb.so");
  EXPECT_EQ(libDir(jdk), jdk + "/jre/lib/" + kArch + "/client");
  EXPECT_EQ(jevGetJVMSubType(), kSubTypeClassic);
}

TEST_F(JvmDiscovery, ReferenceImplementationRefusedUnlessSafetyNetOff) {
  TempDir dir;
  std::string jdk = makeJdk14(dir, "-server KNOWN\n", false, true);
  dir.write("jdk/lib/j2ee.jar");
  {
    ScopedEnv net("ZEP_NO_SAFETY_NET", std::nullopt);
    std::string err;
    EXPECT_FALSE(libDir(jdk, &err));
    EXPECT_EQ(
        err, "Sun's J2EE Reference Implementation found in " + jdk + ".\nVantrel requires J2SE, not J2EE.\n");
  }
  ScopedEnv net("ZEP_NO_SAFETY_NET", "");
  EXPECT_EQ(libDir(jdk), jdk + "/jre/lib/" + kArch + "/server");
}

TEST_F(JvmDiscovery, ModularWithoutConfigAndHomeChanges) {
  TempDir dir;
  dir.write("m/bin/java", "", 0755);
  dir.write("m/lib/modules", "image");
  dir.write("m/lib/server/libjvm.so");
  std::string err;
  EXPECT_FALSE(libDir(dir.path("m"), &err));
  EXPECT_EQ(err, "Error: Unable to open configuration file '" + dir.path("m") + "/lib/jvm.cfg'.\n");

  dir.write("m/lib/jvm.cfg", "-server KNOWN\n-client IGNORE\n");
  EXPECT_EQ(libDir(dir.path("m")), dir.path("m") + "/lib/server");
  EXPECT_EQ(jevGetJVMHome(), dir.path("m"));

  // A home that fails leaves none behind.
  EXPECT_FALSE(libDir(dir.path("none"), &err));
  EXPECT_EQ(jevGetJVMHome(), "");
  EXPECT_NE(err.find("Unable to find a supported JDK or JRE version. "), std::string::npos);
  EXPECT_NE(err.find("\nCheck your installation and use +javahome to specify the JDK or JRE location\n"),
            std::string::npos);
}

TEST_F(JvmDiscovery, LongTextIsClippedInTheTrace) {
  const std::string home = "/" + std::string(40000, 'h');
  std::string err;
  std::string trace = testsupport::traceOf([&] { EXPECT_FALSE(libDir(home, &err)); });
  EXPECT_NE(trace.find("JavaHome has been reset to '" + home.substr(0, 16384) + "'\n"), std::string::npos);
  EXPECT_NE(err.find("Unable to find a supported JDK or JRE version. "), std::string::npos);

  TempDir dir;
  const std::string line(40000, 'x');
  std::string jdk = makeJdk14(dir, line + "\n-server KNOWN\n", false, true);
  trace = testsupport::traceOf([&] { EXPECT_EQ(libDir(jdk), jdk + "/jre/lib/" + kArch + "/server"); });
  EXPECT_NE(trace.find("Ignored <" + line.substr(0, 16384) + "> from <" + jdk + "/jre/lib/" + kArch +
                       "/jvm.cfg>\n"),
            std::string::npos);
}

TEST_F(JvmDiscovery, PathSearchFollowsLinksAndSkipsNonPrograms) {
  TempDir dir;
  cfgInit();
  std::string jre = makeJre13(dir, "-hotspot\n", true, false);
  fs::create_directories(dir.path("a/java"));  // a directory
  dir.write("b/java", "", 0644);               // not executable
  fs::create_directories(dir.path("c/bin"));
  fs::create_directories(dir.path("links"));
  fs::create_symlink(jre + "/bin/java", dir.path("links/java1"));
  fs::create_symlink(dir.path("links/java1"), dir.path("c/bin/java"));
  ScopedEnv path("PATH", dir.path("a") + ":" + dir.path("b") + ":" + dir.path("c/bin"));
  ScopedEnv javaHome("JAVA_HOME", std::nullopt);
  jevConfigureDefaultJVM();
  EXPECT_EQ(jopGetJavaHome(), jre);
  cfgTerm();
}

}  // namespace
