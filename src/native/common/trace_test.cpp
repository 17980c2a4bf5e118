// Tests of the trace setting syntax and the trace file header.
#include "trace.h"

#include <gtest/gtest.h>

TEST(TraceSetting, OptionsAreFoundAnywhereAndAppliedLeftToRight) {
  TraceSetting s = ut_parseSetting("x-p");
  EXPECT_TRUE(s.prod);

  s = ut_parseSetting("-l1 -p");
  EXPECT_TRUE(s.prod);
  EXPECT_EQ(s.level, 0u);

  s = ut_parseSetting("-p -l1");
  EXPECT_FALSE(s.prod);
  EXPECT_EQ(s.level, 1u);

  s = ut_parseSetting("-l1 -a -c -f/tmp/t");
  EXPECT_TRUE(s.append);
  EXPECT_TRUE(s.commit);
  EXPECT_EQ(s.fileName, "/tmp/t");
  EXPECT_EQ(s.level, 1u);
}

TEST(TraceSetting, OddOptionsHaveNoEffect) {
  TraceSetting s = ut_parseSetting("- -q -lfoo -");
  EXPECT_FALSE(s.prod);
  EXPECT_EQ(s.level, 0u);
  EXPECT_TRUE(s.fileName.empty());

  // A tab ends an option as a blank does; the file name cannot hold either.
  s = ut_parseSetting("-l2\t-f/tmp/a b");
  EXPECT_EQ(s.level, 2u);
  EXPECT_EQ(s.fileName, "/tmp/a");
}

TEST(TraceHeader, HoldsTheTimeAndTheWholeSetting) {
  std::time_t when = 0;
  std::tm local{};
  localtime_r(&when, &local);
  char expectedTime[64];
  asctime_r(&local, expectedTime);
  EXPECT_EQ(ut_formatHeader(when, "-l1 -f/tmp/t"),
            std::string("\nTRACE OUTPUT ") + expectedTime + "\t\t\t\tusing -l1 -f/tmp/t\n\n");
}
