// Tests of the file access checks and the byte-range reads.
#include "file_helpers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "test_support.h"

namespace {

using testsupport::TempFile;

FileAccessInfo record(uint32_t mode, uint32_t owner = ::geteuid(), uint32_t group = ::getegid()) {
  return FileAccessInfo{.valid = true, .path = "/f", .owner = owner, .group = group, .mode = 0100000 | mode};
}

bool checked(const FileAccessInfo& info, std::string& err) {
  return testsupport::withStderr(err, [&] { return hmdCheckProcessFileAccess(info); });
}

bool compared(const FileAccessInfo& reference, FileAccessInfo other, std::string& err) {
  other.path = "/g";
  return testsupport::withStderr(err, [&] { return hmdCompareFileAccess(reference, other); });
}

}  // namespace

TEST(FileHelpers, StatReadsOwnerGroupAndMode) {
  TempFile file("x", 0640);
  FileAccessInfo info = hmdStat(file.path());
  EXPECT_TRUE(info.valid);
  EXPECT_EQ(info.path, file.path());
  EXPECT_EQ(info.owner, ::geteuid());
  EXPECT_EQ(info.mode & 0777, 0640u);
  EXPECT_FALSE(hmdStat("/nonexistent/x").valid);
}

TEST(FileHelpers, ProcessFileAccess) {
  std::string err;
  EXPECT_TRUE(checked(record(0644), err));
  EXPECT_EQ(err, "");
  EXPECT_FALSE(checked(record(0664), err));
  EXPECT_EQ(err, "Error: file '/f' cannot have group or other write access.\n");
  EXPECT_FALSE(checked(record(0646), err));
  EXPECT_EQ(err, "Error: file '/f' cannot have group or other write access.\n");
  EXPECT_FALSE(checked(record(0644, ::geteuid() + 1), err));
  EXPECT_EQ(err, "Error: file '/f' must have the same owner and group as this process.\n");
  EXPECT_FALSE(checked(record(0600, ::geteuid(), ::getegid() + 1), err));
  EXPECT_EQ(err, "Error: file '/f' must have the same owner and group as this process.\n");
  EXPECT_FALSE(checked(FileAccessInfo{}, err));
  EXPECT_EQ(err, "");
}

TEST(FileHelpers, CompareFileAccessCountsOnlyWriteBits) {
  std::string err;
  EXPECT_TRUE(compared(record(0664), record(0644), err));
  EXPECT_FALSE(compared(record(0644), record(0664), err));
  EXPECT_EQ(err, "Error: file '/g' cannot have more open write access than '/f'.\n");
  EXPECT_TRUE(compared(record(0600), record(0755), err));
  EXPECT_FALSE(compared(record(0600), record(0622), err));
  EXPECT_FALSE(compared(record(0600), record(0600, ::geteuid() + 1), err));
  EXPECT_EQ(err, "Error: file '/f' and '/g' must have the same owner and group.\n");
  EXPECT_FALSE(compared(FileAccessInfo{}, record(0600), err));
  EXPECT_EQ(err, "");
}

TEST(FileHelpers, SizeAndContent) {
  TempFile file("0123456789");
  EXPECT_EQ(hmdGetFileSize(file.path()), 10);
  EXPECT_EQ(hmdCreateFileContent(file.path(), 2, 3), "234");
  EXPECT_EQ(hmdCreateFileContent(file.path(), 7, 100), "789");
  EXPECT_EQ(hmdCreateFileContent(file.path(), 10, 5), "");
  EXPECT_EQ(hmdCreateFileContent(file.path(), 0, 0), "");
  EXPECT_EQ(hmdGetFileSize("/nonexistent/x"), -1);
  EXPECT_EQ(hmdCreateFileContent("/nonexistent/x", 0, 4), "");
}
