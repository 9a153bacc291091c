// Conversions between multibyte and wide keys, and the key order.
#include "platform/psstr.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

namespace {

std::u16string wide(const char* mb) {
  wchar16 buf[kWideBufUnits];
  mbToWide(buf, mb);
  return std::u16string(buf);
}

// The tests that need non-ASCII text run under a UTF-8 locale when the host
// has one; the Windows C runtime of this build has none.
bool useUtf8Locale() {
  return std::setlocale(LC_ALL, "C.UTF-8") != nullptr || std::setlocale(LC_ALL, "en_US.UTF-8") != nullptr;
}

TEST(WideCompare, OrdersByUnsignedUnits) {
  EXPECT_EQ(wideCompare(u"abc", u"abc"), 0);
  EXPECT_EQ(wideCompare(u"abc", u"abd"), -1);   // smaller last unit
  EXPECT_EQ(wideCompare(u"abd", u"abc"), 1);
  EXPECT_EQ(wideCompare(u"abc", u"abcd"), -1);  // a prefix sorts first
  EXPECT_EQ(wideCompare(u"abcd", u"abc"), 1);
  EXPECT_EQ(wideCompare(u"z", u"\u00e9"), -1);   // 0xE9 after z
  EXPECT_EQ(wideCompare(u"\u8000", u"~"), 1);    // 0x8000 after every ASCII unit
  EXPECT_EQ(wideCompare(u"\uffff", u"\u7fff"), 1);
  EXPECT_EQ(wideCompare(u"ABC", u"abc"), -1);   // no case folding
  EXPECT_EQ(wideCompare(u"", u""), 0);
  EXPECT_EQ(wideCompare(u"", u"a"), -1);
}

TEST(WideCompare, AgainstMultibyte) {
  EXPECT_EQ(wideCompareMb(u"abc", "abc"), 0);
  EXPECT_EQ(wideCompareMb(u"abc", "abd"), -1);
  EXPECT_EQ(wideCompareMb(u"b", "a"), 1);
}

TEST(MbToWide, AsciiRoundTrip) {
  EXPECT_EQ(wide("c:\\zrmjournal\\zrmf__.jdb"), u"c:\\zrmjournal\\zrmf__.jdb");
  char back[MAX_CONV + 1];
  wideToMb(back, u"/tmp/x.jbbdb");
  EXPECT_STREQ(back, "/tmp/x.jbbdb");
}

TEST(MbToWide, InvalidSequenceGivesTheCutErrorText) {
  if (!useUtf8Locale()) GTEST_SKIP() << "no UTF-8 locale on this host";
  EXPECT_EQ(wide("ab\xff\xfe" "c"), u"Conve");  // 5 bytes of source, 5 units
  EXPECT_EQ(wide("\xff"), u"C");
  EXPECT_EQ(wide("\xff" "0123456789012345678901234567890123456789"), u"Conversion error - invalid source!");
  std::setlocale(LC_ALL, "C");
}

TEST(MbToWide, SupplementaryCharactersBecomeSurrogatePairs) {
  if (!useUtf8Locale()) GTEST_SKIP() << "no UTF-8 locale on this host";
  std::u16string w = wide("a\xf0\x9f\x98\x80z");  // U+1F600
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[1], 0xD83D);
  EXPECT_EQ(w[2], 0xDE00);
  char back[MAX_CONV + 1];
  wideToMb(back, w.c_str());
  EXPECT_STREQ(back, "a\xf0\x9f\x98\x80z");
  EXPECT_EQ(wide("\xc3\xa9t\xc3\xa9"), u"\u00e9t\u00e9");
  std::setlocale(LC_ALL, "C");
}

TEST(MbToWide, StopsAtTheLimitWithATerminator) {
  std::string longText(MAX_CONV + 100, 'x');
  static wchar16 buf[kWideBufUnits];
  mbToWide(buf, longText.c_str());
  EXPECT_EQ(wideLen(buf), size_t(MAX_CONV));
  EXPECT_EQ(buf[MAX_CONV], 0);
}

TEST(WideToDisplay, SubstitutesWhatCannotBeShown) {
  char out[64];
  wideToDisplay(out, sizeof out, u"a\xd800z");  // unpaired surrogate
  EXPECT_STREQ(out, "a?z");
  wideToDisplay(out, 4, u"abcdef");
  EXPECT_STREQ(out, "abc");
}

TEST(SafeStrings, NullTolerance) {
  char dst[16] = "keep";
  EXPECT_EQ(safeStrCpy(dst, nullptr), nullptr);
  EXPECT_STREQ(dst, "keep");
  EXPECT_EQ(safeStrLen(nullptr), 0u);
  EXPECT_EQ(safeStrLen("abc"), 3u);
  EXPECT_STREQ(strAppend(dst, "er"), "keeper");
  EXPECT_STREQ(strAppendWide(dst, u"s!"), "keepers!");
  wchar16 w[8];
  wideCopy(w, u"key");
  EXPECT_EQ(std::u16string(w), u"key");
}

TEST(UpperChar, UpperCasesOneCharacter) {
  EXPECT_EQ(upperChar('y'), 'Y');
  EXPECT_EQ(upperChar('Y'), 'Y');
  EXPECT_EQ(upperChar('n'), 'N');
  EXPECT_EQ(upperChar('1'), '1');  // no upper-case form
  EXPECT_EQ(upperChar('\n'), '\n');
}

}  // namespace
