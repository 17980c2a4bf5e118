// Tests of the memory size query and the control group limit parsing.
#include "sysinfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(Sysinfo, ParsesControlGroupLimits) {
  EXPECT_EQ(sysinfoParseMemoryLimit("536870912\n"), 536870912u);
  EXPECT_EQ(sysinfoParseMemoryLimit("4294967296"), 4294967296u);
  EXPECT_FALSE(sysinfoParseMemoryLimit("max\n"));
  EXPECT_FALSE(sysinfoParseMemoryLimit("9223372036854771712\n"));
  EXPECT_FALSE(sysinfoParseMemoryLimit("99999999999999999999999\n"));
  EXPECT_FALSE(sysinfoParseMemoryLimit(""));
  EXPECT_FALSE(sysinfoParseMemoryLimit("0\n"));
  EXPECT_FALSE(sysinfoParseMemoryLimit("12k"));
  EXPECT_FALSE(sysinfoParseMemoryLimit("-1"));
}

TEST(Sysinfo, TotalIsAtMostThePhysicalMemory) {
  uint64_t physical =
      static_cast<uint64_t>(::sysconf(_SC_PAGESIZE)) * static_cast<uint64_t>(::sysconf(_SC_PHYS_PAGES));
  uint64_t total = getTotalPhysMem();
  EXPECT_GT(total, 0u);
  EXPECT_LE(total, physical);
}
