// Tests of the supervision rules without a VM: the back-off curve, the restart limit's
// window, the directives, and the state that crosses a re-execution.
#include "supervision.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "process_end.h"

namespace {

class Supervision : public ::testing::Test {
 protected:
  void SetUp() override { clear(); }
  void TearDown() override { clear(); }
  static void clear() {
    unsetenv("LAUNCHER_SUPERVISION");
    unsetenv("LAUNCHER_TEST_RESTART_BACKOFF");
    hmdSupervisionReset();
    hmdProcessEndReset();
  }
  // What the next image would find set: the list its environment is built from.
  static std::string passed(const std::string& name) {
    for (const std::string& entry : hmdReexecEnvironment()) {
      if (entry.starts_with(name + "=")) return entry.substr(name.size() + 1);
    }
    return "(none)";
  }
  static std::string state() { return passed("LAUNCHER_SUPERVISION"); }
  // The re-execution: the next image starts with the launcher's variables of the list.
  static void nextImage() {
    for (const std::string& entry : hmdReexecEnvironment()) {
      if (!entry.starts_with("LAUNCHER_")) continue;
      const size_t equals = entry.find('=');
      setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1);
    }
    hmdProcessEndReset();
  }
};

TEST_F(Supervision, TheDefaultWaitDoublesFromASecondToAMinute) {
  const RestartBackoff standard;
  EXPECT_EQ(standard.briefMillis, 10000u);
  struct Case {
    uint32_t brief;
    uint64_t millis;
  };
  for (const Case& c :
       {Case{0, 0}, Case{1, 1000}, Case{2, 2000}, Case{3, 4000}, Case{4, 8000}, Case{6, 32000},
        Case{7, 60000}, Case{8, 60000}, Case{64, 60000}, Case{4000000000u, 60000}}) {
    EXPECT_EQ(hmdRestartDelayMillis(standard, c.brief), c.millis) << c.brief;
  }
  const RestartBackoff none{.firstMillis = 0, .capMillis = 0, .briefMillis = 0};
  EXPECT_EQ(hmdRestartDelayMillis(none, 5), 0u);
  const RestartBackoff small{.firstMillis = 100, .capMillis = 250, .briefMillis = 1};
  EXPECT_EQ(hmdRestartDelayMillis(small, 2), 200u);
  EXPECT_EQ(hmdRestartDelayMillis(small, 3), 250u);
}

TEST_F(Supervision, TheLimitCountsRestartsInsideTheWindowOnly) {
  std::deque<uint64_t> times;
  // Three restarts within 10 s are allowed, the fourth is not.
  EXPECT_FALSE(hmdRestartLimitReached(times, 1000, 3, 10000));
  EXPECT_FALSE(hmdRestartLimitReached(times, 2000, 3, 10000));
  EXPECT_FALSE(hmdRestartLimitReached(times, 3000, 3, 10000));
  EXPECT_TRUE(hmdRestartLimitReached(times, 4000, 3, 10000));
  EXPECT_EQ(times.size(), 3u);
  // Once the first has left the window there is room for one more.
  EXPECT_FALSE(hmdRestartLimitReached(times, 11000, 3, 10000));
  EXPECT_EQ(times.front(), 2000u);
  // A time from the future (a clock that cannot be compared) does not count.
  std::deque<uint64_t> odd{50000};
  EXPECT_FALSE(hmdRestartLimitReached(odd, 1000, 1, 10000));
}

TEST_F(Supervision, Directives) {
  struct Case {
    bool (*handler)(const std::string&);
    const char* argument;
    bool accepted;
  };
  for (const Case& c : {Case{hmdSetRestartLimit, "5 300", true}, Case{hmdSetRestartLimit, "  5\t300 ", true},
                        Case{hmdSetRestartLimit, "5", false}, Case{hmdSetRestartLimit, "0 300", false},
                        Case{hmdSetRestartLimit, "5 0", false}, Case{hmdSetRestartLimit, "5 300 x", false},
                        Case{hmdSetRestartLimit, "-5 300", false},
                        Case{hmdSetRestartLimit, "5 99999999999", false}, Case{hmdSetVmWatch, "30", true},
                        Case{hmdSetVmWatch, "30 exit", true}, Case{hmdSetVmWatch, "30 restart", true},
                        Case{hmdSetVmWatch, "", false}, Case{hmdSetVmWatch, "0", false},
                        Case{hmdSetVmWatch, "30 stop", false}, Case{hmdSetVmWatch, "30 exit now", false},
                        Case{hmdSetVmWatch, "1.5", false}, Case{hmdSetVmWatch, "86401", false}}) {
    EXPECT_EQ(c.handler(c.argument), c.accepted) << c.argument;
  }
  hmdSupervisionReset();
  ASSERT_TRUE(hmdSetVmWatch("12 exit"));
  EXPECT_EQ(hmdGetVmWatchSeconds(), 12u);
  EXPECT_FALSE(hmdVmWatchRestarts());
  ASSERT_TRUE(hmdSetVmWatch("7"));
  EXPECT_TRUE(hmdVmWatchRestarts());
  hmdSupervisionReset();
  EXPECT_EQ(hmdGetVmWatchSeconds(), 0u);
}

// Brief generations in a row and the recent restarts cross each re-execution; the
// variables never stay in the environment the application sees.
TEST_F(Supervision, TheStateCrossesReexecutionsAndLeavesTheEnvironment) {
  // No wait at all (first 0), but every generation is brief (under 100 s).
  setenv("LAUNCHER_TEST_RESTART_BACKOFF", "0 0 100000", 1);
  hmdSupervisionTakeEnvironment(nullptr);
  EXPECT_EQ(std::getenv("LAUNCHER_TEST_RESTART_BACKOFF"), nullptr);
  ASSERT_TRUE(hmdSetRestartLimit("2 3600"));
  for (int restart = 1; restart <= 2; ++restart) {
    ASSERT_TRUE(hmdSupervisionBeforeRestart(3)) << restart;
    hmdSupervisionBeforeReexec(true);
    const std::string passed = state();
    EXPECT_EQ(passed.rfind("0 " + std::to_string(restart) + " " + std::to_string(restart + 1) + " ", 0), 0u)
        << passed;
    EXPECT_EQ(Supervision::passed("LAUNCHER_TEST_RESTART_BACKOFF"), "0 0 100000");
    // The next image.
    nextImage();
    hmdSupervisionTakeEnvironment(nullptr);
    EXPECT_EQ(std::getenv("LAUNCHER_SUPERVISION"), nullptr);
    ASSERT_TRUE(hmdSetRestartLimit("2 3600"));
  }
  // The third restart within the hour is one too many.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(hmdSupervisionBeforeRestart(3));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: The application asked for more than 2 restarts within 3600 seconds; ending with its "
            "status 3.\n");

  // A re-execution that completes the library path keeps the generation's start.
  hmdSupervisionReset();
  setenv("LAUNCHER_SUPERVISION", "12345 4 3 100,200", 1);
  hmdSupervisionTakeEnvironment(nullptr);
  hmdSupervisionBeforeReexec(false);
  EXPECT_EQ(state(), "12345 4 3 100,200");
  // Without the limit no restart times are kept; a long generation ends the brief run.
  setenv("LAUNCHER_TEST_RESTART_BACKOFF", "0 0 1", 1);
  setenv("LAUNCHER_SUPERVISION", "1 4 2 ", 1);
  hmdSupervisionTakeEnvironment(nullptr);
  ASSERT_TRUE(hmdSupervisionBeforeRestart(3));
  hmdSupervisionBeforeReexec(true);
  EXPECT_EQ(state(), "0 0 3 ");
  // Garbage is ignored.
  setenv("LAUNCHER_SUPERVISION", "x y", 1);
  hmdSupervisionTakeEnvironment(nullptr);
  hmdSupervisionBeforeReexec(true);
  EXPECT_EQ(state(), "0 0 2 ");
}

}  // namespace
