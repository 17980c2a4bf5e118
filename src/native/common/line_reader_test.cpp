// Tests of the line reader: significant lines, numbering, buffer growth, line ends.
#include "line_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"

namespace {

using testsupport::TempFile;

struct Line {
  std::string text;
  int32_t number;
  bool operator==(const Line&) const = default;
};

std::vector<Line> significantLines(const std::string& content) {
  TempFile file(content);
  FilFile* handle = filOpenFile(file.path(), "r", true);
  EXPECT_NE(handle, nullptr);
  std::vector<Line> result;
  while (auto line = filReadNextLineFromFile(handle)) {
    result.push_back({std::string(*line), filGetCurrentLineNumber()});
  }
  EXPECT_FALSE(filHasReadError(handle));
  filCloseFile(handle);
  return result;
}

class LineReader : public testing::Test {
 protected:
  void SetUp() override { filInit(); }
  void TearDown() override { filTerm(); }
};

}  // namespace

TEST_F(LineReader, SkipsBlankAndCommentLinesAndKeepsPhysicalNumbers) {
  EXPECT_EQ(significantLines("  # comment\n\n   \n  addpath lib  \n"), (std::vector<Line>{{"addpath lib", 4}}));
  EXPECT_EQ(significantLines("x # y\n\t#z\n"), (std::vector<Line>{{"x # y", 1}}));
  EXPECT_EQ(significantLines(""), std::vector<Line>{});
}

TEST_F(LineReader, LineEndsAndTheLastLine) {
  EXPECT_EQ(significantLines("a\r\nb\r\n"), (std::vector<Line>{{"a", 1}, {"b", 2}}));
  EXPECT_EQ(significantLines("a\nlast"), (std::vector<Line>{{"a", 1}, {"last", 2}}));

  // The physical line keeps its carriage return; only the significant line loses it.
  TempFile file("a \r\n");
  FilFile* handle = filOpenFile(file.path(), "r", false);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(filReadLineFromFile(handle), std::optional<std::string_view>("a \r"));
  EXPECT_EQ(filReadLineFromFile(handle), std::nullopt);
  filCloseFile(handle);
}

TEST_F(LineReader, ZeroByteAtLineStartEndsTheFileWithoutError) {
  EXPECT_EQ(significantLines(std::string("a\n\0b\nc\n", 7)), (std::vector<Line>{{"a", 1}}));
  // Inside a line it ends the line's text only.
  EXPECT_EQ(significantLines(std::string("ab\0cd\ne\n", 8)), (std::vector<Line>{{"ab", 1}, {"e", 2}}));
}

TEST_F(LineReader, LongLinesGrowTheBufferWhichKeepsItsSize) {
  EXPECT_EQ(filGetBufferSize(), 1024u);
  std::string longLine(3000, 'x');
  EXPECT_EQ(significantLines("short\n" + longLine + "\nafter\n"),
            (std::vector<Line>{{"short", 1}, {longLine, 2}, {"after", 3}}));
  EXPECT_EQ(filGetBufferSize(), 3072u);
  EXPECT_EQ(significantLines("a\n"), (std::vector<Line>{{"a", 1}}));
  EXPECT_EQ(filGetBufferSize(), 3072u);

  // Exactly at the buffer's limit, with and without a line feed.
  filTerm();
  filInit();
  std::string limit(1023, 'y');
  EXPECT_EQ(significantLines(limit + "\nz\n"), (std::vector<Line>{{limit, 1}, {"z", 2}}));
  EXPECT_EQ(significantLines(limit), (std::vector<Line>{{limit, 1}}));
  EXPECT_EQ(filGetBufferSize(), 1536u);
}

TEST_F(LineReader, MegabyteLineIsReadWhole) {
  std::string huge(1 << 20, 'm');
  EXPECT_EQ(significantLines(huge + "\nend"), (std::vector<Line>{{huge, 1}, {"end", 2}}));
  // The first size of the 512 steps that holds the line and its line feed.
  EXPECT_EQ(filGetBufferSize(), 1024u + 512u * 2047u);
}

TEST_F(LineReader, NestedFilesKeepTheirOwnCounts) {
  TempFile outer("1\n2\n3\n4\n");
  TempFile inner("a\nb\nc\nd\ne\nf\ng\nh\ni\nj\n");
  FilFile* o = filOpenFile(outer.path(), "r", true);
  ASSERT_NE(o, nullptr);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(filReadNextLineFromFile(o));
  EXPECT_EQ(filGetCurrentLineNumber(), 3);
  FilFile* in = filOpenFile(inner.path(), "r", true);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(filGetCurrentLineNumber(), 0);
  while (filReadNextLineFromFile(in)) {
  }
  EXPECT_EQ(filGetCurrentLineNumber(), 10);
  filCloseFile(in);
  EXPECT_EQ(filGetCurrentLineNumber(), 3);
  EXPECT_EQ(filReadNextLineFromFile(o), std::optional<std::string_view>("4"));
  EXPECT_EQ(filGetCurrentLineNumber(), 4);
  filCloseFile(o);
  EXPECT_EQ(filGetCurrentLineNumber(), 0);
}

TEST_F(LineReader, MissingFilesAndReadErrors) {
  EXPECT_EQ(filOpenFile("/nonexistent/file.config", "r", true), nullptr);
  // A directory opens but cannot be read.
  FilFile* dir = filOpenFile("/tmp", "r", true);
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(filReadNextLineFromFile(dir), std::nullopt);
  EXPECT_TRUE(filHasReadError(dir));
  filCloseFile(dir);
  // Term without Init, and twice, is harmless.
  filTerm();
  filTerm();
}

TEST(LittleEndian, IndependentOfHostOrder) {
  const unsigned char bytes[] = {0x50, 0x4b, 0x05, 0x06, 0xff, 0x01};
  EXPECT_EQ(get4LE(bytes, 0), 0x06054b50u);
  EXPECT_EQ(get2LE(bytes, 4), 0x01ffu);
}
