// Case-insensitive comparison, character searches and wide duplication.
#include "platform/strsearch.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "platform/kxmem.h"

namespace {
constexpr char kSourceName[] = "strsearch_test";

// Switches to a locale for one test and back to "C" after it; empty when the
// host has none of the names.
class ScopedLocale {
 public:
  explicit ScopedLocale(std::initializer_list<const char*> names) {
    for (const char* name : names)
      if (std::setlocale(LC_ALL, name) != nullptr) {
        active_ = true;
        return;
      }
  }
  ~ScopedLocale() { std::setlocale(LC_ALL, "C"); }
  bool active() const { return active_; }

 private:
  bool active_ = false;
};

TEST(CompareNoCase, IgnoresLetterCase) {
  EXPECT_EQ(compareNoCase("STDOUT", "stdout"), 0);
  EXPECT_EQ(compareNoCase("Console", "cONSOLE"), 0);
  EXPECT_EQ(compareNoCase("", ""), 0);
  EXPECT_LT(compareNoCase("abc", "ABD"), 0);
  EXPECT_GT(compareNoCase("abd", "ABC"), 0);
  EXPECT_EQ(compareNoCase("a", "B"), 'A' - 'B') << "the difference of the upper-cased units";
  EXPECT_EQ(compareNoCase("abc", "ab"), 1);
  EXPECT_EQ(compareNoCase("ab", "ABC"), -1);
}

TEST(CompareNoCase, NullSortsFirst) {
  EXPECT_EQ(compareNoCase(nullptr, ""), -1);
  EXPECT_EQ(compareNoCase(nullptr, "x"), -1);
  EXPECT_EQ(compareNoCase("", nullptr), 1);
  EXPECT_EQ(compareNoCase(nullptr, nullptr), 0);
}

TEST(SafeStrStr, NullOrEmptyFindsNothing) {
  const char* text = "trace.out";
  EXPECT_EQ(safeStrStr(text, ".out"), text + 5);
  EXPECT_EQ(safeStrStr(text, "t"), text);
  EXPECT_EQ(safeStrStr(text, "x"), nullptr);
  EXPECT_EQ(safeStrStr(text, ""), nullptr);
  EXPECT_EQ(safeStrStr("", "a"), nullptr);
  EXPECT_EQ(safeStrStr(nullptr, "a"), nullptr);
  EXPECT_EQ(safeStrStr(text, nullptr), nullptr);
}

TEST(MbStrChr, FindsFirstAndLast) {
  const char* path = "a\\b\\c";
  int32_t err = -1;
  EXPECT_EQ(mbStrChr(path, '\\'), path + 1);
  EXPECT_EQ(mbStrRChr(path, '\\', err), path + 3);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(mbStrChr(path, 'a'), path);
  EXPECT_EQ(mbStrRChr(path, 'c', err), path + 4);
  EXPECT_EQ(mbStrChr(path, '/'), nullptr);
  EXPECT_EQ(mbStrRChr(path, '/', err), nullptr);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(mbStrChr("", 'a'), nullptr);
  EXPECT_EQ(mbStrRChr("", 'a', err), nullptr);
}

TEST(MbStrChr, PositionsAfterMultibyteCharacters) {
  ScopedLocale utf8({"C.UTF-8", "en_US.UTF-8"});
  if (!utf8.active()) GTEST_SKIP() << "no UTF-8 locale on this host";
  const char* text = "\xc3\xa9t\xc3\xa9/\xe4\xb8\xad/x";  // é t é / 中 / x
  int32_t err = -1;
  EXPECT_EQ(mbStrChr(text, '/'), text + 5);
  EXPECT_EQ(mbStrRChr(text, '/', err), text + 9);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(mbStrChr("\xff/", '/'), nullptr) << "an invalid sequence";
  EXPECT_EQ(mbStrRChr("\xff/", '/', err), nullptr);
  EXPECT_EQ(err, kErrNotConvertible);
}

TEST(MbStrChr, NeverMatchesTheSecondByteOfADoubleByteCharacter) {
  ScopedLocale sjis({".932", "ja_JP.SJIS", "ja_JP.sjis"});
  if (!sjis.active()) GTEST_SKIP() << "no Shift-JIS locale on this host";
  const char* text = "\x95\x5c.txt";  // one kanji whose second byte is a backslash
  int32_t err = -1;
  EXPECT_EQ(mbStrChr(text, '\\'), nullptr);
  EXPECT_EQ(mbStrRChr(text, '\\', err), nullptr);
  const char* path = "\x95\x5c\\x";
  EXPECT_EQ(mbStrRChr(path, '\\', err), path + 2);
}

TEST(MbStrChr, FindsPastTheLengthOfOneConversion) {
  std::string text(MAX_CONV - 2, 'a');
  text += "\\tail";
  int32_t err = -1;
  const char* found = mbStrRChr(text.c_str(), '\\', err);
  EXPECT_EQ(found, text.c_str() + MAX_CONV - 2);
}

TEST(WideDup, CopiesIntoADebugBlock) {
  wchar16* copy = wideDup(u"key\u00e9");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::u16string(copy), u"key\u00e9");
  EXPECT_EQ(KX_CHECK(copy), 0);
  KX_FREE(copy);
  copy = wideDup(u"");
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy[0], 0);
  KX_FREE(copy);
  EXPECT_EQ(wideDup(nullptr), nullptr);
  kxTestSetFailure(0, 1);
  EXPECT_EQ(wideDup(u"x"), nullptr);
  kxTestSetFailure(0, 0);
}

}  // namespace
