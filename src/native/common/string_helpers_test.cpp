#include "string_helpers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "test_support.h"

namespace {

// Switches LC_CTYPE for one test and puts the previous locale back.
class CtypeLocale {
 public:
  explicit CtypeLocale(const char* name) {
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    previous_ = current != nullptr ? current : "C";
    active_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~CtypeLocale() { std::setlocale(LC_CTYPE, previous_.c_str()); }
  bool active() const { return active_; }

 private:
  std::string previous_;
  bool active_ = false;
};

using testsupport::ScopedEnv;

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "<unset>";
}

std::vector<std::string> tokens(std::string_view text, std::string_view delimiters) {
  return utlSplit(text, delimiters);
}

constexpr size_t npos = std::string_view::npos;

}  // namespace

TEST(StringHelpersSingleByte, SearchesMatchTheStandardFunctions) {
  CtypeLocale locale("C");
  ASSERT_TRUE(locale.active());
  const char* samples[] = {"", "a", "a/b/c", "/lead", "trail/", "\xc3\xa9/x", "\xff\\y", "::a:b::"};
  for (const char* sample : samples) {
    for (char c : {'/', '\\', ':', 'a', '\xa9'}) {
      const char* p = std::strchr(sample, c);
      EXPECT_EQ(utlStrchr(sample, c), p ? size_t(p - sample) : npos) << sample << " " << c;
      const char* r = std::strrchr(sample, c);
      EXPECT_EQ(utlStrrchr(sample, c), r ? size_t(r - sample) : npos) << sample << " " << c;
    }
    for (const char* set : {"/", ":\\", "a\xc3", ""}) {
      const char* b = std::strpbrk(sample, set);
      EXPECT_EQ(utlStrpbrk(sample, set), b ? size_t(b - sample) : npos) << sample << " " << set;
      EXPECT_EQ(utlStrspn(sample, set), std::strspn(sample, set)) << sample << " " << set;
    }
  }
  // strchr finds the terminator.
  EXPECT_EQ(utlStrchr("abc", '\0'), 3u);
  // Bytes of a UTF-8 character are plain bytes here.
  EXPECT_EQ(tokens("a\xc3\xa9" "b", "\xa9"), (std::vector<std::string>{"a\xc3", "b"}));
}

TEST(StringHelpersMultibyte, Utf8CharactersAreSteppedOverWhole) {
  CtypeLocale locale("C.UTF-8");
  if (!locale.active()) GTEST_SKIP() << "C.UTF-8 is not installed";
  ASSERT_GT(MB_CUR_MAX, 1u);
  std::string text = "\xc3\xa9/x/\xc3\xa9";
  EXPECT_EQ(utlStrchr(text, '/'), 2u);
  EXPECT_EQ(utlStrrchr(text, '/'), 4u);
  EXPECT_EQ(utlStrchr(text, '\xa9'), npos);
  EXPECT_EQ(utlStrrchr(text, '\xc3'), npos);
  EXPECT_EQ(utlStrchr("", 'a'), npos);
  EXPECT_EQ(utlStrchr("abc", '\0'), npos);
  EXPECT_EQ(utlStrpbrk(text, "\xa9x"), 3u);
  // The count ends at the first multibyte character even when its bytes are in the set.
  EXPECT_EQ(utlStrspn("a\xc3\xa9" "a", "a\xc3\xa9"), 1u);
  // An invalid byte counts as one single-byte character.
  EXPECT_EQ(utlStrchr("\xff/", '/'), 1u);
  EXPECT_EQ(utlStrchr("\xff", '\xff'), 0u);
  // A truncated sequence at the end is taken byte by byte.
  EXPECT_EQ(utlStrrchr("x\xc3", '\xc3'), 1u);
  // A delimiter byte inside a character does not split.
  EXPECT_EQ(tokens("a\xc3\xa9" "b", "\xa9"), (std::vector<std::string>{"a\xc3\xa9" "b"}));
  EXPECT_EQ(utlStrToUpper("a\xc3\xa9z"), "A\xc3\xa9Z");
}

TEST(StringHelpersMultibyte, ShiftJisBackslashInsideACharacterIsSkipped) {
  CtypeLocale locale("ja_JP.SJIS");
  if (!locale.active()) GTEST_SKIP() << "ja_JP.SJIS is not installed";
  // 0x95 0x5C is one character whose second byte is the backslash.
  std::string text = "a\x95\x5c\\b";
  EXPECT_EQ(utlStrchr(text, '\\'), 3u);
  EXPECT_EQ(utlStrrchr(text, '\\'), 3u);
  EXPECT_EQ(utlStrspn(text, "a\x95\\"), 1u);
  EXPECT_EQ(tokens(text, "\\"), (std::vector<std::string>{"a\x95\x5c", "b"}));
}

TEST(StringHelpers, TokenizerDropsEmptyTokensAndInterleaves) {
  EXPECT_EQ(tokens("a::b:", ":"), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(tokens("::", ":").empty());
  EXPECT_TRUE(tokens("", ":").empty());
  EXPECT_EQ(tokens("x y\tz", " \t"), (std::vector<std::string>{"x", "y", "z"}));

  std::string_view first = "a:b:c";
  std::string_view second = "1 2";
  EXPECT_EQ(utlStrtok(first, ":"), "a");
  EXPECT_EQ(utlStrtok(second, " "), "1");
  EXPECT_EQ(utlStrtok(first, ":"), "b");
  EXPECT_EQ(utlStrtok(second, " "), "2");
  EXPECT_EQ(utlStrtok(second, " "), std::nullopt);
  EXPECT_EQ(utlStrtok(first, ":"), "c");
  EXPECT_EQ(utlStrtok(first, ":"), std::nullopt);
  EXPECT_EQ(utlStrtok(first, ":"), std::nullopt);
}

TEST(StringHelpers, EnforceEnvValuePrependsOrAppendsOnlyWhenMissing) {
  ScopedEnv saved("LD_LIBRARY_PATH");
  setenv("LD_LIBRARY_PATH", "/x", 1);
  EXPECT_TRUE(utlEnforceEnvValue("LD_LIBRARY_PATH", "/a", ":", true));
  EXPECT_EQ(env("LD_LIBRARY_PATH"), "/a:/x");
  EXPECT_FALSE(utlEnforceEnvValue("LD_LIBRARY_PATH", "/a", ":", false));
  EXPECT_EQ(env("LD_LIBRARY_PATH"), "/a:/x");

  setenv("LD_LIBRARY_PATH", "/x", 1);
  EXPECT_TRUE(utlEnforceEnvValue("LD_LIBRARY_PATH", "/a", ":", false));
  EXPECT_EQ(env("LD_LIBRARY_PATH"), "/x:/a");

  for (bool prepend : {true, false}) {
    unsetenv("LD_LIBRARY_PATH");
    EXPECT_TRUE(utlEnforceEnvValue("LD_LIBRARY_PATH", "/a", ":", prepend));
    EXPECT_EQ(env("LD_LIBRARY_PATH"), "/a");
    setenv("LD_LIBRARY_PATH", "", 1);
    EXPECT_TRUE(utlEnforceEnvValue("LD_LIBRARY_PATH", "/a", ":", prepend));
    EXPECT_EQ(env("LD_LIBRARY_PATH"), "/a");
  }

  // Elements compare whole: '/a/' is not '/a'; empty elements are skipped.
  setenv("LD_LIBRARY_PATH", "/a/", 1);
  EXPECT_TRUE(utlEnforceEnvValue("LD_LIBRARY_PATH", "/a", ":", false));
  EXPECT_EQ(env("LD_LIBRARY_PATH"), "/a/:/a");
  setenv("LD_LIBRARY_PATH", ":/a:", 1);
  EXPECT_FALSE(utlEnforceEnvValue("LD_LIBRARY_PATH", "/a", ":", true));

  // Without a separator the whole value is compared and replaced.
  setenv("LD_LIBRARY_PATH", "/x", 1);
  EXPECT_TRUE(utlEnforceEnvValue("LD_LIBRARY_PATH", "/a", nullptr, true));
  EXPECT_EQ(env("LD_LIBRARY_PATH"), "/a");
  EXPECT_FALSE(utlEnforceEnvValue("LD_LIBRARY_PATH", "/a", nullptr, true));
}

TEST(StringHelpers, EnforceLackOfEnvValueRemovesEveryMatch) {
  ScopedEnv saved("LD_PRELOAD");
  setenv("LD_PRELOAD", "/x.so /j/libjvm.so /y.so /j/libjvm.so", 1);
  EXPECT_TRUE(utlEnforceLackOfEnvValue("LD_PRELOAD", "/j/libjvm.so", " "));
  EXPECT_EQ(env("LD_PRELOAD"), "/x.so /y.so");
  EXPECT_FALSE(utlEnforceLackOfEnvValue("LD_PRELOAD", "/j/libjvm.so", " "));
  EXPECT_EQ(env("LD_PRELOAD"), "/x.so /y.so");

  setenv("LD_PRELOAD", "/j/libjvm.so", 1);
  EXPECT_TRUE(utlEnforceLackOfEnvValue("LD_PRELOAD", "/j/libjvm.so", " "));
  EXPECT_EQ(env("LD_PRELOAD"), "");

  // A variable without the element is not rewritten (its doubled blank stays).
  setenv("LD_PRELOAD", "/x.so  /y.so", 1);
  EXPECT_FALSE(utlEnforceLackOfEnvValue("LD_PRELOAD", "/j/libjvm.so", " "));
  EXPECT_EQ(env("LD_PRELOAD"), "/x.so  /y.so");

  unsetenv("LD_PRELOAD");
  EXPECT_FALSE(utlEnforceLackOfEnvValue("LD_PRELOAD", "/j/libjvm.so", " "));
  EXPECT_EQ(env("LD_PRELOAD"), "<unset>");
}

TEST(StringHelpers, EnvironmentDumpEscapesEachEntryOnItsOwnLine) {
  std::u16string snapshot = u"A=x\ty";
  snapshot += u'\0';
  snapshot += u"B=\u00e9\r\x01\\\n\f\x7f~";
  snapshot += u'\0';
  snapshot += u"C=\u20ac";
  snapshot += u'\0';
  snapshot += u'\0';
  EXPECT_EQ(utlPrintEnvironment(snapshot),
            "A=x\\ty\n"
            "B=\\u00E9\\r\\u0001\\\\\\n\\f\x7f~\n"
            "C=\\u20AC\n");
  EXPECT_EQ(utlPrintEnvironment(std::u16string(1, u'\0')), "");
  EXPECT_EQ(utlPrintEnvironment(u""), "");
  // An entry after the closing empty entry is not part of the snapshot.
  std::u16string closed = u"A=1";
  closed += u'\0';
  closed += u'\0';
  closed += u"B=2";
  EXPECT_EQ(utlPrintEnvironment(closed), "A=1\n");
}

TEST(StringHelpers, InitTakesTheSnapshotAndTermReleasesIt) {
  ScopedEnv saved("STRING_HELPERS_TEST");
  setenv("STRING_HELPERS_TEST", "v1", 1);
  CtypeLocale restore("C");
  utlInit();
  const std::string& bytes = utlGetEnvironmentBytes();
  EXPECT_NE(bytes.find(std::string("STRING_HELPERS_TEST=v1\0", 23)), std::string::npos);
  EXPECT_FALSE(utlGetEnvironmentChars().has_value());
  utlTerm();
  EXPECT_TRUE(utlGetEnvironmentBytes().empty());
  utlTerm();
}

TEST(StringHelpers, UpperCaseAndQuotedCopies) {
  CtypeLocale locale("C");
  EXPECT_EQ(utlStrToUpper("abc-Z\xc3\xa9"), "ABC-Z\xc3\xa9");
  EXPECT_EQ(utlCopyAndQuoteArray({"a b", "c", ""}), (std::vector<std::string>{"\"a b\"", "c", ""}));
  EXPECT_EQ(utlCopyAndQuoteArray({}), std::vector<std::string>{});
  EXPECT_EQ(utlCopyAndQuoteArgvArray({"my prog", "x y", "z"}),
            (std::vector<std::string>{"my prog", "\"x y\"", "z"}));
}
