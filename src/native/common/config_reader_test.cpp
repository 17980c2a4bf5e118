// Tests of the configuration reader: dispatch, its messages, include and includedir
// nesting, and the choice of the configuration file.
#include "config_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "config_macros.h"
#include "launcher_location.h"
#include "test_support.h"

namespace {

std::string recordWithComment(const std::string& comment) {
  return testsupport::archiveEndRecord(comment.size()) + comment;
}

class ConfigReader : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    cfgInit();
  }
  void TearDown() override {
    cfgTerm();
    hmdSetFullLauncherFileName("");
    hmdSetFullLauncherPath("");
  }

  std::string write(const std::string& relative, const std::string& text) const {
    return temp_.write(relative, text);
  }

  // Reads the file, giving its result and what it wrote on standard error.
  bool read(const std::string& path, std::string& err) const {
    return testsupport::withStderr(err, [&] { return cfgProcessConfigFile(path); });
  }

  // Reads the file as the +config file, so that relative names resolve against it.
  bool readMain(const std::string& path, std::string& err) const {
    EXPECT_TRUE(cfgSetDefaultConfigFile(path));
    return testsupport::withStderr(err, [&] { return cfgProcessConfig(); });
  }

  static std::optional<std::string> var(const std::string& name) { return cfgGetVar(name, ""); }

  const testsupport::TempDir temp_;
  const std::string dir_ = temp_.root();
};

}  // namespace

TEST_F(ConfigReader, EmptyAndCommentOnlyFilesAreAccepted) {
  std::string err;
  EXPECT_TRUE(read(write("a.config", ""), err));
  EXPECT_TRUE(read(write("b.config", "# only\n\n  \t\n   # more\n"), err));
  EXPECT_EQ(err, "");
  EXPECT_TRUE(cfgGetConfigVars().empty());
}

TEST_F(ConfigReader, DirectiveWordAndArgument) {
  std::string err;
  EXPECT_TRUE(read(write("a.config", "set \tA=1\nset B=x y  \n"), err));
  EXPECT_EQ(err, "");
  EXPECT_EQ(var("A"), std::optional<std::string>("1"));
  EXPECT_EQ(var("B"), std::optional<std::string>("x y"));

  std::string file = write("b.config", "\n# c\nJavaHome /opt/jdk\n");
  EXPECT_FALSE(read(file, err));
  EXPECT_EQ(err, "Error: Unrecognized directive 'JavaHome /opt/jdk' at line 3 in configuration file '" + file + "'.\n");

  // Only a space ends the directive word; the message shows the line as read.
  file = write("c.config", "javahome\t/opt/$env(HOME)\n");
  EXPECT_FALSE(read(file, err));
  EXPECT_EQ(err, "Error: Unrecognized directive 'javahome\t/opt/$env(HOME)' at line 1 in configuration file '" +
                     file + "'.\n");
}

TEST_F(ConfigReader, ParameterChecksAfterExpansion) {
  ::unsetenv("CONFIG_READER_UNSET");
  ::setenv("CONFIG_READER_SET", "text", 1);
  std::string err;
  std::string file = write("a.config", "set\n");
  EXPECT_FALSE(read(file, err));
  EXPECT_EQ(err, "Error: Parameter required for 'set' at line 1 in configuration file '" + file + "'.\n");

  file = write("b.config", "set A=1\nset $env(CONFIG_READER_UNSET)\nset B=2\n");
  EXPECT_FALSE(read(file, err));
  EXPECT_EQ(err, "Error: Parameter required for 'set ' at line 2 in configuration file '" + file + "'.\n");
  EXPECT_EQ(var("A"), std::optional<std::string>("1"));
  EXPECT_EQ(var("B"), std::nullopt);

  file = write("c.config", "nosplash now\n");
  EXPECT_FALSE(read(file, err));
  EXPECT_EQ(err, "Error: Parameter not required on 'nosplash now' at line 1 in configuration file '" + file + "'.\n");

  file = write("d.config", "exportenv $env(CONFIG_READER_SET)\n");
  EXPECT_FALSE(read(file, err));
  EXPECT_EQ(err, "Error: Parameter not required on 'exportenv text' at line 1 in configuration file '" + file +
                     "'.\n");
  ::unsetenv("CONFIG_READER_SET");
}

TEST_F(ConfigReader, HandlerRefusalsUseTheRowsMessage) {
  std::string err;
  std::string file = write("a.config", "vmversion 1.2\n");
  EXPECT_FALSE(read(file, err));
  EXPECT_EQ(err, "Error: Invalid version specifier in 'vmversion 1.2' at line 1 in configuration file '" + file +
                     "'.\n");
  file = write("b.config", "\nvmtype bogus\n");
  EXPECT_FALSE(read(file, err));
  EXPECT_EQ(err, "Error: Unrecognized VM type in 'vmtype bogus' at line 2 in configuration file '" + file + "'.\n");
  file = write("c.config", "restartonexit 12x\n");
  EXPECT_FALSE(read(file, err));
  EXPECT_EQ(err, "Error: Invalid number in 'restartonexit 12x' at line 1 in configuration file '" + file + "'.\n");
  // A suppressed row prints only the handler's own message.
  file = write("d.config", "dirmustexist " + dir_ + "/missing\nset A=1\n");
  EXPECT_FALSE(read(file, err));
  EXPECT_EQ(err, "Error: Can't find '" + dir_ + "/missing'.\n");
  EXPECT_EQ(var("A"), std::nullopt);
}

TEST_F(ConfigReader, MissingAndUnreadableFiles) {
  std::string err;
  EXPECT_FALSE(read(dir_ + "/missing.config", err));
  EXPECT_EQ(err, "Error: Unable to open configuration file '" + dir_ + "/missing.config'.\n");
  std::string sub = dir_ + "/sub.config";
  ::mkdir(sub.c_str(), 0755);
  EXPECT_FALSE(read(sub, err));
  EXPECT_EQ(err, "Error: Unable to read configuration file '" + sub + "' - error 32.\n");
}

TEST_F(ConfigReader, IncludeReportsTwiceWithEachFilesLineNumbers) {
  std::string inner = write("conf/inner.config", "set I=1\n\n# x\nbogus line\n");
  std::string outer = write("conf/outer.config", "# c\nset A=1\ninclude inner.config\nset Z=9\n");
  std::string err;
  EXPECT_FALSE(readMain(outer, err));
  EXPECT_EQ(err, "Error: Unrecognized directive 'bogus line' at line 4 in configuration file '" + inner + "'.\n" +
                     "Error: Unable to process 'include inner.config' at line 3 in configuration file '" + outer +
                     "'.\n");
  EXPECT_EQ(var("I"), std::optional<std::string>("1"));
  EXPECT_EQ(var("Z"), std::nullopt);
}

TEST_F(ConfigReader, LineNumbersContinueAfterAnInclude) {
  std::string inner = write("inner.config", "set I=1\nset I=2\nset I=3\n\n\n\n\n\n\nset I=10\n");
  std::string outer = write("outer.config", "set A=1\n\ninclude " + inner + "\nbogus\n");
  std::string err;
  EXPECT_FALSE(read(outer, err));
  EXPECT_EQ(err, "Error: Unrecognized directive 'bogus' at line 4 in configuration file '" + outer + "'.\n");
  EXPECT_EQ(var("I"), std::optional<std::string>("10"));
  EXPECT_FALSE(read(write("m.config", "include " + dir_ + "/none.config\n"), err));
  EXPECT_EQ(err, "Error: Unable to open configuration file '" + dir_ + "/none.config'.\n" +
                     "Error: Unable to process 'include " + dir_ + "/none.config' at line 1 in configuration file '" +
                     dir_ + "/m.config'.\n");
}

TEST_F(ConfigReader, IncludeCyclesAreRefused) {
  std::string err;
  std::string self = dir_ + "/self.config";
  write("self.config", "set A=1\ninclude " + self + "\nset B=2\n");
  EXPECT_FALSE(read(self, err));
  EXPECT_EQ(err, "Error: Configuration file '" + self + "' is already being read at line 2 in configuration file '" +
                     self + "'.\n" + "Error: Unable to process 'include " + self +
                     "' at line 2 in configuration file '" + self + "'.\n");
  EXPECT_EQ(var("B"), std::nullopt);

  std::string a = dir_ + "/a.config";
  std::string b = dir_ + "/b.config";
  write("a.config", "set A=1\ninclude " + b + "\n");
  write("b.config", "\n\ninclude " + a + "\n");
  EXPECT_FALSE(read(a, err));
  EXPECT_EQ(err, "Error: Configuration file '" + a + "' is already being read at line 3 in configuration file '" + b +
                     "'.\n" + "Error: Unable to process 'include " + a + "' at line 3 in configuration file '" + b +
                     "'.\n" + "Error: Unable to process 'include " + b + "' at line 2 in configuration file '" + a +
                     "'.\n");

  // The same file reached through another name is the same file.
  std::string link = dir_ + "/link.config";
  ASSERT_EQ(::symlink(a.c_str(), link.c_str()), 0);
  write("a.config", "include " + link + "\n");
  EXPECT_FALSE(read(a, err));
  EXPECT_NE(err.find("Error: Configuration file '" + link + "' is already being read at line 1"), std::string::npos)
      << err;

  // A file may be included again once it is no longer being read.
  write("twice.config", "include " + b + "\ninclude " + b + "\n");
  write("b.config", "set T=1\n");
  EXPECT_TRUE(read(dir_ + "/twice.config", err));
  EXPECT_EQ(err, "");
}

TEST_F(ConfigReader, IncludeDirReadsEveryConfigFileAndNeverFails) {
  write("d/a.config", "set A=1\n");
  std::string bad = write("d/b.config", "set B=1\nbogus\n");
  write("d/C.CONFIG", "set C=1\n");
  write("d/.config", "set D=1\n");
  write("d/e.config.bak", "set E=1\n");
  write("d/f.txt", "set F=1\n");
  write("d/g.config", "set G=$var(A)\n");
  std::string outer = write("outer.config", "includedir d\nset Z=1\n");
  std::string err;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(cfgIncludeDir(dir_ + "/d"));
  err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Error: Unrecognized directive 'bogus' at line 2 in configuration file '" + bad + "'.\n");
  for (const char* name : {"A", "B", "C"}) EXPECT_EQ(var(name), std::optional<std::string>("1")) << name;
  for (const char* name : {"D", "E", "F"}) EXPECT_EQ(var(name), std::nullopt) << name;
  EXPECT_TRUE(cfgIncludeDir(dir_ + "/nonexistent"));

  // Through the reader, relative to the including file; a file including its own
  // directory is refused but the others are read.
  cfgTerm();
  cfgInit();
  write("d/h.config", "includedir .\n");
  EXPECT_TRUE(readMain(outer, err));
  EXPECT_NE(err.find("Error: Configuration file '" + dir_ + "/d/h.config' is already being read at line 1 in "
                     "configuration file '" + dir_ + "/d/h.config'.\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(var("Z"), std::optional<std::string>("1"));
}

TEST_F(ConfigReader, DefaultConfigFileName) {
  write("bin/vie.config", "");
  hmdSetFullLauncherFileName(dir_ + "/bin/view");
  hmdSetFullLauncherPath(dir_ + "/bin");
  EXPECT_EQ(cfgGetConfigFileName(std::nullopt), dir_ + "/bin/vie.config");
  hmdSetFullLauncherFileName(dir_ + "/bin/serverW");
  EXPECT_EQ(cfgGetConfigFileName(""), dir_ + "/bin/serverW.config");
  write("bin/server.config", "");
  EXPECT_EQ(cfgGetConfigFileName(""), dir_ + "/bin/server.config");
  hmdSetFullLauncherFileName(dir_ + "/bin/server.sh");
  EXPECT_EQ(cfgGetConfigFileName(""), dir_ + "/bin/server.config");
  hmdSetFullLauncherFileName(dir_ + "/bin.d/app");
  EXPECT_EQ(cfgGetConfigFileName(""), dir_ + "/bin.d/app.config");
  EXPECT_EQ(cfgGetConfigFileName("/etc/x.config"), "/etc/x.config");
}

TEST_F(ConfigReader, ConfigFileOptionIsLimitedAndHasNoFallback) {
  EXPECT_TRUE(cfgSetDefaultConfigFile(std::string(1024, 'a')));
  EXPECT_FALSE(cfgSetDefaultConfigFile(std::string(1025, 'a')));
  EXPECT_EQ(cfgGetDefaultConfigFile(), std::string(1024, 'a'));

  std::string launcher = write("bin/app", "#!/bin/sh\n" + recordWithComment("set Z=1\n"));
  write("bin/app.config", "set A=1\n");
  hmdSetFullLauncherFileName(launcher);
  hmdSetFullLauncherPath(dir_ + "/bin");
  ASSERT_TRUE(cfgSetDefaultConfigFile(dir_ + "/missing.config"));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(cfgProcessConfig());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Unable to open configuration file '" + dir_ + "/missing.config'.\n");
  EXPECT_EQ(cfgGetConfigFileMode(), 0);
  EXPECT_EQ(var("Z"), std::nullopt);
}

TEST_F(ConfigReader, DefaultFileBeatsTheArchiveComment) {
  std::string launcher = write("bin/app", "#!/bin/sh\n" + recordWithComment("set Z=1\n"));
  std::string config = write("bin/app.config", "set A=1\n");
  hmdSetFullLauncherFileName(launcher);
  hmdSetFullLauncherPath(dir_ + "/bin");
  EXPECT_TRUE(cfgProcessConfig());
  EXPECT_EQ(cfgGetConfigFileMode(), 0);
  EXPECT_EQ(var("A"), std::optional<std::string>("1"));
  EXPECT_EQ(var("Z"), std::nullopt);
  EXPECT_EQ(cfgGetCurrentConfigFile(), std::optional<std::string>(config));
}

TEST_F(ConfigReader, ArchiveCommentIsTheConfigurationWhenNoFileExists) {
  std::string launcher = write("bin/app", "#!/bin/sh\n" + recordWithComment("set Z=1\ninclude sub.config\n"));
  write("bin/sub.config", "set S=$var(Z)2\n");
  hmdSetFullLauncherFileName(launcher);
  hmdSetFullLauncherPath(dir_ + "/bin");
  EXPECT_TRUE(cfgProcessConfig());
  EXPECT_EQ(cfgGetConfigFileMode(), 1);
  EXPECT_EQ(var("Z"), std::optional<std::string>("1"));
  // Relative names in the comment resolve against the launcher's directory.
  EXPECT_EQ(var("S"), std::optional<std::string>("12"));
  // The comment's temporary file is gone once it has been read.
  std::optional<std::string> tempFile = cfgGetCurrentConfigFile();
  ASSERT_TRUE(tempFile.has_value());
  EXPECT_NE(*tempFile, dir_ + "/bin/app.config");
  EXPECT_FALSE(std::filesystem::exists(*tempFile));

  // Without a comment the default name is reported missing.
  cfgTerm();
  cfgInit();
  std::string plain = write("bin/plain", std::string(100, 'x'));
  hmdSetFullLauncherFileName(plain);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(cfgProcessConfig());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: Unable to open configuration file '" + dir_ + "/bin/plain.config'.\n");
}
