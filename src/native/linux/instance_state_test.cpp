// Tests of the state record and the instance commands without an instance: the record's
// line both ways, its replacement and removal, and the commands' forms.
#include "instance_state.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "instance_command.h"
#include "process_end.h"
#include "test_support.h"

namespace {

TEST(InstanceState, TheLineReadsBackAndNothingElseDoes) {
  const InstanceState state{
      .state = "stopping", .generation = 3, .answeredMillis = 1234, .watchMillis = 30000};
  const std::string line = hmdFormatState(state);
  EXPECT_EQ(line, "state=stopping generation=3 answered=1234 watch=30000");
  std::optional<InstanceState> back = hmdParseState(line);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->state, "stopping");
  EXPECT_EQ(back->generation, 3);
  EXPECT_EQ(back->answeredMillis, 1234u);
  EXPECT_EQ(back->watchMillis, 30000u);
  for (const char* bad :
       {"", "state=running generation=1 answered=0 watch=0", "state=ready generation=0 answered=0 watch=0",
        "state=ready generation=1", "12345"}) {
    EXPECT_FALSE(hmdParseState(bad)) << bad;
  }
}

TEST(InstanceState, TheRecordIsReplacedWholeAndKeptForARestart) {
  hmdProcessEndReset();
  hmdStateReset();
  const std::string directory = ::testing::TempDir() + "/instance_state_test";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  const std::string path = hmdStatePath(directory + "/app.pid");
  hmdStateSet("ready");  // nothing before the record begins
  EXPECT_FALSE(std::filesystem::exists(path));
  hmdStateBegin(path,
                InstanceState{.state = "starting", .generation = 2, .answeredMillis = 0, .watchMillis = 0});
  EXPECT_EQ(hmdReadState(path)->state, "starting");
  hmdStateSet("ready");
  hmdStateAnswered(99);
  hmdStateSet("stopping");
  hmdStateSet("ready");  // a late readiness does not undo the stop
  std::optional<InstanceState> read = hmdReadState(path);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->state, "stopping");
  EXPECT_EQ(read->answeredMillis, 99u);
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(directory), std::filesystem::directory_iterator()),
      1);
  // A restart keeps the file, saying the next generation starts; at the end it goes.
  EXPECT_EQ(hmdStateKeepForRestart(3), path);
  hmdRemoveFilesAtEnd();
  EXPECT_EQ(hmdReadState(path)->generation, 3);
  hmdStateTakeOver(path);
  hmdRemoveFilesAtEnd();
  EXPECT_FALSE(std::filesystem::exists(path));
  hmdStateReset();
  hmdProcessEndReset();
  std::filesystem::remove_all(directory);
}

TEST(InstanceCommand, FormsWithoutAPidFile) {
  struct Case {
    const char* argument;
    int32_t status;
    const char* message;
  };
  for (const Case& c : {
           Case{"+status", 4,
                "Error: No pid file is configured (pidfile); +status cannot find the instance.\n"},
           Case{"+status:live", 4,
                "Error: No pid file is configured (pidfile); +status cannot find the instance.\n"},
           Case{"+stop:10,force", 1,
                "Error: No pid file is configured (pidfile); +stop cannot find the instance.\n"},
           Case{"+stop:force", 1,
                "Error: No pid file is configured (pidfile); +stop cannot find the instance.\n"},
           Case{"+status:now", 2,
                "Error: '+status:now' is neither +status[:ready|:live] nor +stop[:SECONDS][,force].\n"},
           Case{"+stop:0", 2,
                "Error: '+stop:0' is neither +status[:ready|:live] nor +stop[:SECONDS][,force].\n"},
           Case{"+stop:5,later", 2,
                "Error: '+stop:5,later' is neither +status[:ready|:live] nor +stop[:SECONDS][,force].\n"},
           Case{"+stopx", 2,
                "Error: '+stopx' is neither +status[:ready|:live] nor +stop[:SECONDS][,force].\n"},
       }) {
    ASSERT_TRUE(hmdSetInstanceCommand(false, c.argument, OptionValue{}));
    testing::internal::CaptureStderr();
    EXPECT_EQ(hmdRunInstanceCommand(std::nullopt), c.status) << c.argument;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    // Used once.
    EXPECT_FALSE(hmdRunInstanceCommand(std::nullopt)) << c.argument;
  }
}

}  // namespace
