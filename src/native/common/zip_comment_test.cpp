// Tests of the archive comment search: record placement, window borders, the 64 KiB case.
#include "zip_comment.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "test_support.h"

namespace {

using testsupport::TempFile;

// An end-of-central-directory record announcing a comment of the given length.
constexpr auto& record = testsupport::archiveEndRecord;

std::string filler(size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
  return text;
}

std::optional<std::string> commentOf(const std::string& content) {
  TempFile file(content);
  return zipGetZipComment(file.path());
}

}  // namespace

TEST(ZipComment, RecordAtTheEnd) {
  EXPECT_EQ(commentOf(filler(100) + record(8) + "comment!"), std::optional<std::string>("comment!"));
  EXPECT_EQ(commentOf(record(8) + "comment!"), std::optional<std::string>("comment!"));
  EXPECT_EQ(commentOf(filler(50) + record(0)), std::optional<std::string>(""));
  EXPECT_EQ(commentOf(filler(5000)), std::nullopt);
}

TEST(ZipComment, RecordMustReachExactlyTheEnd) {
  // Too long and too short comment lengths are ignored; an earlier record that fits wins.
  std::string tail = record(4) + "abc";  // claims 4, has 3
  EXPECT_EQ(commentOf(filler(10) + tail), std::nullopt);
  std::string earlier = record(tail.size() + 2) + "xy";
  EXPECT_EQ(commentOf(filler(10) + earlier + tail), std::optional<std::string>("xy" + tail));
  // The record nearest the end wins over an earlier one that also fits.
  std::string last = record(3) + "end";
  std::string first = record(last.size() + 2) + "st";
  EXPECT_EQ(commentOf(filler(10) + first + last), std::optional<std::string>("end"));
}

TEST(ZipComment, SmallAndMissingFiles) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(commentOf("0123456789"), std::nullopt);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Zip file size is unreasonably small\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(zipGetZipComment("/nonexistent/launcher"), std::nullopt);
  EXPECT_EQ(commentOf(record(0)), std::optional<std::string>(""));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(ZipComment, WindowBorders) {
  // File of 200,000 bytes: windows end at 200000, 134486, 68972, and the last starts at 0.
  const size_t size = 200000;
  const size_t firstStart = size - 65536;  // 134464
  // A record that straddles the first window's start lies wholly in the second window.
  for (size_t recordStart : {firstStart - 10, firstStart - 22, firstStart - 21, firstStart}) {
    size_t commentLength = size - recordStart - 22;
    if (commentLength > 65535) continue;
    std::string comment = filler(commentLength);
    std::string content = filler(recordStart) + record(commentLength) + comment;
    ASSERT_EQ(content.size(), size);
    EXPECT_EQ(commentOf(content), std::optional<std::string>(comment)) << recordStart;
  }
  // The last offset the first window looks at holds a record without comment.
  EXPECT_EQ(commentOf(filler(size - 22) + record(0)), std::optional<std::string>(""));
}

TEST(ZipComment, LongestCommentBeginsOutsideTheFirstWindow) {
  std::string comment = filler(65535);
  std::string content = filler(100000) + record(65535) + comment;
  // The record begins 65557 bytes before the end, beyond the first 64 KiB window.
  EXPECT_EQ(content.size() - 100000, 65557u);
  EXPECT_EQ(commentOf(content), std::optional<std::string>(comment));
  // A file smaller than one window is one window starting at 0.
  EXPECT_EQ(commentOf(record(30000) + filler(30000)), std::optional<std::string>(filler(30000)));
}

TEST(ZipComment, EmptyCommentGivesNoFile) {
  TempFile file(filler(40) + record(0));
  EXPECT_EQ(zipGetCommentFileName(file.path()), std::nullopt);
  TempFile zero(filler(40) + record(3) + std::string("\0ab", 3));
  EXPECT_EQ(zipGetCommentFileName(zero.path()), std::nullopt);
}

TEST(ZipComment, CommentFileHoldsTheCommentUpToItsFirstZeroByte) {
  TempFile file(filler(40) + record(9) + std::string("set A=1\n\0z", 9));
  std::optional<std::string> name = zipGetCommentFileName(file.path());
  ASSERT_TRUE(name.has_value());
  std::ifstream in(*name, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "set A=1\n");
  ::unlink(name->c_str());
}
