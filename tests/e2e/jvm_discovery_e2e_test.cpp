// End-to-end tests of finding, classifying and loading the Java installation: the real
// JDK found each way, legacy trees with a stand-in VM library, and every message.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "e2e_fixture.h"

using e2e::AppTree;
using e2e::Env;

namespace {

size_t countLines(const std::string& text, const std::string& line) {
  auto all = e2e::lines(text);
  return static_cast<size_t>(std::count(all.begin(), all.end(), line));
}

bool haveRealJdk() { return std::filesystem::exists(e2e::testJdkHome() + "/lib/modules"); }

// The trace lines of a launch that found and loaded the real JDK.
void expectRealJdkLoaded(const e2e::RunResult& r) {
  const std::string home = e2e::testJdkHome();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM appears to be Java 9 or later (modular layout)")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "Processed <-server KNOWN> from <" + home + "/lib/jvm.cfg>")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM shared library dir is " + home + "/lib/server")) << r.out;
  EXPECT_EQ(countLines(r.out, "Loaded Java VM Library libjvm.so from LD_LIBRARY_PATH"), 1u) << r.out;
}

Env traced() { return Env().set("UTRACE", "-p").unset("JAVA_HOME"); }

// Legacy trees, with the stand-in VM library copied in as libjvm.so.
void putLibrary(const AppTree& tree, const std::string& relative, const std::string& library) {
  tree.writeFile(relative + "/libjvm.so", e2e::readFile(library), 0755);
}

std::string makeJdk14(const AppTree& tree, const std::string& cfg, const std::string& library) {
  const std::string arch = e2e::testJdkArch();
  tree.writeFile("jdk/bin/java", "#!/bin/sh\n", 0755);
  tree.writeFile("jdk/bin/javac", "#!/bin/sh\n", 0755);
  tree.writeFile("jdk/bin/tnameserv", "#!/bin/sh\n", 0755);
  tree.writeFile("jdk/jre/lib/" + arch + "/jvm.cfg", cfg);
  if (!library.empty()) putLibrary(tree, "jdk/jre/lib/" + arch + "/server", library);
  return tree.path("jdk");
}

std::string makeJre13(const AppTree& tree, const std::string& library) {
  const std::string arch = e2e::testJdkArch();
  tree.writeFile("jre/bin/java", "#!/bin/sh\n", 0755);
  tree.writeFile("jre/bin/tnameserv", "#!/bin/sh\n", 0755);
  tree.writeFile("jre/lib/jvm.cfg", "-hotspot KNOWN\n-hotspot\n");
  putLibrary(tree, "jre/lib/" + arch + "/client", library);
  return tree.path("jre");
}

// A modular tree with a stand-in library: lib/modules, bin/java, lib/server.
std::string makeModular(const AppTree& tree, const std::string& library) {
  tree.writeFile("mod/bin/java", "", 0644);
  tree.writeFile("mod/lib/modules", "image");
  putLibrary(tree, "mod/lib/server", library);
  return tree.path("mod");
}

}  // namespace

TEST(JvmDiscoveryE2E, RealJdkByCommandLineAndDirective) {
  if (!haveRealJdk()) GTEST_SKIP() << "no " << e2e::testJdkHome();
  AppTree tree;
  tree.writeConfig("mainclass X\n");
  auto r = tree.run({"+javahome", e2e::testJdkHome(), "+help"}, traced());
  expectRealJdkLoaded(r);
  EXPECT_NE(r.out.find("Usage: "), std::string::npos);

  tree.writeConfig("javahome " + e2e::testJdkHome() + "\nmainclass X\n");
  r = tree.run({"+help"}, traced());
  expectRealJdkLoaded(r);
  EXPECT_TRUE(e2e::hasLine(r.out, "JavaHome has been reset to '" + e2e::testJdkHome() + "'")) << r.out;
}

TEST(JvmDiscoveryE2E, RealJdkThroughLinkedJavaOnPath) {
  if (!haveRealJdk()) GTEST_SKIP() << "no " << e2e::testJdkHome();
  AppTree tree;
  tree.writeConfig("mainclass X\n");
  // Like a distribution's /usr/bin/java: a chain of links into the installation.
  tree.makeDir("links");
  tree.symlink(e2e::testJdkHome() + "/bin/java", "links/java");
  tree.makeDir("usr/bin");
  tree.symlink(tree.path("links/java"), "usr/bin/java");
  auto r = tree.run({"+help"}, traced().set("PATH", tree.path("usr/bin") + ":/bin"));
  expectRealJdkLoaded(r);
  EXPECT_TRUE(e2e::hasLine(r.out, "JavaHome has been reset to '" + e2e::testJdkHome() + "'")) << r.out;
}

TEST(JvmDiscoveryE2E, SystemJavaOnPath) {
  char resolved[PATH_MAX];
  if (realpath("/usr/bin/java", resolved) == nullptr) GTEST_SKIP() << "no /usr/bin/java";
  std::string home = std::filesystem::path(resolved).parent_path().parent_path();
  if (!std::filesystem::exists(home + "/lib/modules")) GTEST_SKIP() << "/usr/bin/java is no modular JDK";
  AppTree tree;
  tree.writeConfig("mainclass X\n");
  auto r = tree.run({"+help"}, traced().set("PATH", "/usr/bin:/bin"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "JavaHome has been reset to '" + home + "'")) << r.out;
  EXPECT_EQ(countLines(r.out, "Loaded Java VM Library libjvm.so from LD_LIBRARY_PATH"), 1u) << r.out;
}

TEST(JvmDiscoveryE2E, RealJdkThroughJavaHome) {
  if (!haveRealJdk()) GTEST_SKIP() << "no " << e2e::testJdkHome();
  AppTree tree;
  tree.writeConfig("mainclass X\n");
  tree.makeDir("empty");
  auto r = tree.run({"+help"}, traced().set("PATH", tree.path("empty")).set("JAVA_HOME", e2e::testJdkHome()));
  expectRealJdkLoaded(r);
}

TEST(JvmDiscoveryE2E, NoInstallationFound) {
  if (std::filesystem::exists("/usr/lib/jvm/default-java"))
    GTEST_SKIP() << "a registered installation exists";
  AppTree tree;
  tree.writeConfig("mainclass X\n");
  tree.makeDir("empty");
  auto r = tree.run({"+help"}, Env().unset("JAVA_HOME").set("PATH", tree.path("empty")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Unable to find a supported JDK or JRE version. Version 1.3.1 or higher is required.\n"
            "No Java home is configured (javahome, +javahome) and none was found along PATH, in JAVA_HOME or "
            "at /usr/lib/jvm/default-java.\n"
            "Check your installation and use +javahome to specify the JDK or JRE location\n");

  // A JAVA_HOME that is no installation is named, with the reason it was passed over.
  tree.writeFile("jre8/bin/java", "#!/bin/sh\n", 0755);
  r = tree.run({"+help"}, Env().set("JAVA_HOME", tree.path("jre8")).set("PATH", tree.path("empty")));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("\nJAVA_HOME '" + tree.path("jre8") +
                       "' was passed over: it has neither lib/modules (Java 9 and later) nor bin/tnameserv "
                       "(older releases).\nCheck your installation"),
            std::string::npos)
      << r.err;
}

TEST(JvmDiscoveryE2E, LegacyJdk14WithStackDump) {
  AppTree tree;
  const std::string arch = e2e::testJdkArch();
  std::string jdk = makeJdk14(tree, "-client KNOWN\n-server KNOWN\n", e2e::fakeJvmDumpLibrary());
  tree.writeConfig("javahome " + jdk + "\nmainclass X\n");
  auto r = tree.run({"+help"}, traced().set("LD_LIBRARY_PATH", "/usr/lib"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM appears to be Sun Java 2 v1.4")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "Ignored <-client KNOWN> from <" + jdk + "/jre/lib/" + arch + "/jvm.cfg>"));
  EXPECT_TRUE(
      e2e::hasLine(r.out, "Processed <-server KNOWN> from <" + jdk + "/jre/lib/" + arch + "/jvm.cfg>"));
  // Root starts from the empty path; every added entry goes to the front.
  const std::string lib = jdk + "/jre/lib/" + arch;
  EXPECT_EQ(countLines(r.out, "export LD_LIBRARY_PATH=" + jdk + "/lib/" + arch + ":" + lib +
                                  "/native_threads:" + lib + "/server:" + lib),
            geteuid() == 0 ? 1u : 0u)
      << r.out;
  EXPECT_EQ(countLines(r.out, "Loaded Java VM Library libjvm.so from LD_LIBRARY_PATH"), 1u) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM is 1.3.1_01 or later")) << r.out;
}

TEST(JvmDiscoveryE2E, LegacyJre13AndXusage) {
  AppTree tree;
  const std::string arch = e2e::testJdkArch();
  std::string jre = makeJre13(tree, e2e::fakeJvmLibrary());
  tree.writeConfig("javahome " + jre + "\nmainclass X\n");
  auto r = tree.run({"+help"}, traced());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM appears to be Sun Java 2 v1.3")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "Processed <-hotspot> from <" + jre + "/lib/jvm.cfg>")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM shared library dir is " + jre + "/lib/" + arch + "/client")) << r.out;
  EXPECT_FALSE(e2e::hasLine(r.out, "JVM is 1.3.1_01 or later")) << r.out;
  EXPECT_EQ(countLines(r.out, "Loaded Java VM Library libjvm.so from LD_LIBRARY_PATH"), 1u) << r.out;

  r = tree.run({"-X"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Can't open " + jre + "/lib/" + arch + "/client/Xusage.txt\n");

  std::string text(300, 'x');
  text += "\n    -Xint   interpreted mode only\n";
  tree.writeFile("jre/lib/" + arch + "/client/Xusage.txt", text);
  r = tree.run({"-X"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, text);
  EXPECT_EQ(r.err, "");
}

TEST(JvmDiscoveryE2E, IbmTreeTakesClassicAndHasNoXusage) {
  AppTree tree;
  const std::string arch = e2e::testJdkArch();
  std::string jdk = makeJdk14(tree, "-server KNOWN\n", "");
  tree.writeFile("jdk/jre/bin/liborb.so", "");
  putLibrary(tree, "jdk/jre/lib/" + arch + "/client", e2e::fakeJvmLibrary());
  tree.writeConfig("javahome " + jdk + "\nmainclass X\n");
  auto r = tree.run({"-X"}, traced());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM appears to be Java 2 - assuming it's IBM 1.3.1")) << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM shared library dir is " + jdk + "/jre/lib/" + arch + "/client"))
      << r.out;
  EXPECT_EQ(r.err, "Unable to get -X options list from this VM. Try 'java -X'.\n");
}

TEST(JvmDiscoveryE2E, ChosenSubTypeWithoutLibrary) {
  AppTree tree;
  std::string jdk = makeJdk14(tree, "-server KNOWN\n", e2e::fakeJvmLibrary());
  tree.writeConfig("javahome " + jdk + "\nmainclass X\n");
  auto r = tree.run({"+clientvm", "+help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unable to find a suitable Java VM in " + jdk + "\n");

  tree.writeConfig("javahome " + jdk + "\nvmtype client\nmainclass X\n");
  r = tree.run({"+help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Unable to find a suitable Java VM in " + jdk + "\n");
}

TEST(JvmDiscoveryE2E, ConfigFileMessages) {
  AppTree tree;
  const std::string arch = e2e::testJdkArch();
  std::string jdk = makeJdk14(tree, "-client KNOWN\n-server IGNORE\n", e2e::fakeJvmLibrary());
  tree.writeConfig("javahome " + jdk + "\nmainclass X\n");
  auto r = tree.run({"+help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: No JVM found in '" + jdk + "/jre/lib/" + arch + "/jvm.cfg'.\n");

  std::string mod = makeModular(tree, e2e::fakeJvmLibrary());
  tree.writeConfig("javahome " + mod + "\nmainclass X\n");
  r = tree.run({"+help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: Unable to open configuration file '" + mod + "/lib/jvm.cfg'.\n");
}

TEST(JvmDiscoveryE2E, LibraryLoadMessages) {
  AppTree tree;
  std::string mod = makeModular(tree, e2e::fakeJvmNoJniLibrary());
  tree.writeFile("mod/lib/jvm.cfg", "-server KNOWN\n");
  tree.writeConfig("javahome " + mod + "\nmainclass X\n");
  auto r = tree.run({"+help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Can't find JNI interfaces in: libjvm.so [", 0), 0u) << r.err;
  EXPECT_EQ(e2e::lines(r.err).size(), 1u) << r.err;

  tree.writeFile("mod/lib/server/libjvm.so", "not a library\n", 0755);
  r = tree.run({"+help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Error loading Java VM library: libjvm.so [", 0), 0u) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - 2), "]\n");
  EXPECT_EQ(e2e::lines(r.err).size(), 1u) << r.err;

  // A modular tree whose java cannot run has no -X list to offer.
  putLibrary(tree, "mod/lib/server", e2e::fakeJvmLibrary());
  r = tree.run({"-X"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Unable to get -X options list from this VM. Try 'java -X'.\n");
}

TEST(JvmDiscoveryE2E, ReferenceImplementationRefused) {
  AppTree tree;
  std::string jdk = makeJdk14(tree, "-server KNOWN\n", e2e::fakeJvmLibrary());
  tree.writeFile("jdk/lib/j2ee.jar", "");
  tree.writeConfig("javahome " + jdk + "\nmainclass X\n");
  auto r = tree.run({"+help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "Sun's J2EE Reference Implementation found in " + jdk + ".\nVantrel requires J2SE, not J2EE.\n");

  r = tree.run({"+help"}, Env().set("ZEP_NO_SAFETY_NET", "1"));
  EXPECT_EQ(r.status, 0) << r.err;

  tree.writeConfig("javahome " + jdk + "\noptions allowri\nmainclass X\n");
  r = tree.run({"+help"});
  EXPECT_EQ(r.status, 0) << r.err;
}

TEST(JvmDiscoveryE2E, RealJdkXOptions) {
  if (!haveRealJdk()) GTEST_SKIP() << "no " << e2e::testJdkHome();
  AppTree tree;
  tree.writeConfig("javahome " + e2e::testJdkHome() + "\nmainclass X\n");
  auto r = tree.run({"-X"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("-Xmx<size>"), std::string::npos) << r.out;
}

TEST(JvmDiscoveryE2E, SecondInstallationWhenPresent) {
  std::string other;
  for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/jvm")) {
    std::string home = entry.path().string();
    if (entry.is_symlink() || !std::filesystem::exists(home + "/lib/modules") ||
        !std::filesystem::exists(home + "/lib/jvm.cfg") || home == e2e::testJdkHome())
      continue;
    char resolved[PATH_MAX];
    if (realpath(home.c_str(), resolved) != nullptr && std::string(resolved) == e2e::testJdkHome()) continue;
    other = home;
    break;
  }
  if (other.empty()) GTEST_SKIP() << "no second installation";
  AppTree tree;
  tree.writeConfig("mainclass X\n");
  auto r = tree.run({"+javahome", other, "+help"}, traced());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM appears to be Java 9 or later (modular layout)")) << r.out;
  EXPECT_EQ(countLines(r.out, "Loaded Java VM Library libjvm.so from LD_LIBRARY_PATH"), 1u) << r.out;
}

TEST(JvmDiscoveryE2E, DebugLibraryAndConfiguredJavaPath) {
  AppTree tree;
  const std::string arch = e2e::testJdkArch();
  std::string jdk = makeJdk14(tree, "-server KNOWN\n", "");
  tree.writeFile("jdk/jre/lib/" + arch + "/server/libjvm_g.so", e2e::readFile(e2e::fakeJvmDumpLibrary()),
                 0755);
  tree.writeConfig("javahome " + jdk + "\nmainclass X\n");
  auto r = tree.run({"+JAVAG", "+help"}, traced().set("LD_BIND_NOW", "1"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(e2e::hasLine(r.out, "JVM shared library dir is " + jdk + "/jre/lib/" + arch + "/server"))
      << r.out;
  EXPECT_TRUE(e2e::hasLine(r.out, "Loaded Java VM Library libjvm_g.so from LD_LIBRARY_PATH")) << r.out;

  // Without +javag the plain library is looked for and missing.
  r = tree.run({"+help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Error: No JVM found in '" + jdk + "/jre/lib/" + arch + "/jvm.cfg'.\n");

  // A configured library file is loaded as given; the messages still name libjvm.so.
  putLibrary(tree, "jdk/jre/lib/" + arch + "/server", e2e::fakeJvmDumpLibrary());
  tree.writeConfig("javahome " + jdk + "\njavapath " + e2e::fakeJvmNoJniLibrary() + "\nmainclass X\n");
  r = tree.run({"+help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Can't find JNI interfaces in: libjvm.so [", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(e2e::fakeJvmNoJniLibrary()), std::string::npos) << r.err;
}

// Each sub-type option selects its own sub-type: the library directory it loads from and
// the flag the +javacmd script hands to the java program.
TEST(JvmDiscoveryE2E, EachSubTypeOptionSelectsItsOwnSubType) {
  AppTree tree;
  const std::string arch = e2e::testJdkArch();
  std::string jdk = makeJdk14(tree, "-client KNOWN\n-server KNOWN\n-classic KNOWN\n-hotspot KNOWN\n",
                              e2e::fakeJvmLibrary());
  putLibrary(tree, "jdk/jre/lib/" + arch + "/client", e2e::fakeJvmLibrary());
  tree.writeConfig("javahome " + jdk + "\nmainclass X\n");
  const struct {
    const char* option;
    const char* flag;
    const char* dir;
  } rows[] = {
      {"+classicvm", " -classic ", "client"},
      {"+hotspotvm", " -hotspot ", "client"},
      {"+clientvm", " -client ", "client"},
      {"+servervm", " -server ", "server"},
  };
  for (const auto& row : rows) {
    auto r = tree.run({row.option, "+javacmd"}, traced());
    EXPECT_EQ(r.status, 0) << row.option << "\n" << r.err;
    EXPECT_TRUE(e2e::hasLine(r.out, "JVM shared library dir is " + jdk + "/jre/lib/" + arch + "/" + row.dir))
        << row.option << "\n"
        << r.out;
    std::vector<std::string> all = e2e::lines(r.out);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().find(jdk + "/bin/java" + row.flag), 0u) << row.option << "\n" << all.back();
  }
}
