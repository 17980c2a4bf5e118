// Tests of the handled signals' names.
#include "signals.h"

#include <gtest/gtest.h>

TEST(Signals, NamesMatchIgnoringCase) {
  hmdSignalsReset();
  EXPECT_TRUE(hmdSetSignalIgnore("HUP"));
  EXPECT_TRUE(hmdSetSignalIgnore("Quit"));
  EXPECT_TRUE(hmdIsSignalIgnored("hup"));
  EXPECT_TRUE(hmdIsSignalIgnored("QUIT"));
  EXPECT_FALSE(hmdIsSignalIgnored("int"));
  EXPECT_FALSE(hmdIsSignalIgnored("term"));
  for (const char* bad : {"usr1", "", "hu", "hupx", "sighup"}) EXPECT_FALSE(hmdSetSignalIgnore(bad)) << bad;
  hmdSignalsReset();
  EXPECT_FALSE(hmdIsSignalIgnored("hup"));
}
