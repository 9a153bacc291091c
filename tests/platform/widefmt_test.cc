// Wide formats: the rewrite of string conversions and the wide formatter.
#include "platform/widefmt.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "platform/kxmem.h"
#include "platform/osversion.h"

namespace {
constexpr char kSourceName[] = "widefmt_test";

std::u16string fixed(uint32_t mask, const wchar16* format) {
  wchar16* f = fixWideFormat(mask, format);
  if (f == nullptr) return u"<null>";
  EXPECT_EQ(KX_CHECK(f), 0) << "a block of the debug allocator";
  std::u16string s(f);
  KX_FREE(f);
  return s;
}

// The modifier this host inserts for a marked conversion.
std::u16string mod() { return isNtFamily() ? u"h" : u"l"; }

struct Formatted {
  int count;
  std::u16string text;
};

Formatted vformat(uint32_t mask, size_t capacity, const wchar16* format, va_list args) {
  wchar16 buf[512];
  for (wchar16& u : buf) u = u'#';
  int n = portableVswprintf(mask, buf, capacity, format, args);
  return {n, std::u16string(buf, capacity == 0 ? 0 : std::char_traits<char16_t>::length(buf))};
}

int formatRaw(uint32_t mask, wchar16* dst, size_t capacity, const wchar16* format, ...) {
  va_list args;
  va_start(args, format);
  int n = portableVswprintf(mask, dst, capacity, format, args);
  va_end(args);
  return n;
}

Formatted format(uint32_t mask, const wchar16* format, ...) {
  va_list args;
  va_start(args, format);
  Formatted f = vformat(mask, 512, format, args);
  va_end(args);
  return f;
}

Formatted formatIn(size_t capacity, const wchar16* format, ...) {
  va_list args;
  va_start(args, format);
  Formatted f = vformat(~0u, capacity, format, args);
  va_end(args);
  return f;
}

TEST(FixWideFormat, MaskBitsFollowTheConversions) {
  EXPECT_EQ(fixed(2, u"%d %s %s"), u"%d %" + mod() + u"s %s") << "bit 1 is the second conversion";
  EXPECT_EQ(fixed(1, u"%s"), u"%" + mod() + u"s");
  EXPECT_EQ(fixed(3, u"%-10.4s|%c"), u"%-10.4" + mod() + u"s|%" + mod() + u"c");
  EXPECT_EQ(fixed(2, u"%%%s"), u"%%%" + mod() + u"s") << "a doubled percent sign uses a bit";
  EXPECT_EQ(fixed(1, u"%d"), u"%d") << "only string and character conversions change";
  EXPECT_EQ(fixed(0, u"%s %c"), u"%s %c");
  EXPECT_EQ(fixed(~0u, u"no conversions"), u"no conversions");
  EXPECT_EQ(fixed(~0u, u""), u"");
}

TEST(FixWideFormat, TextWithoutAConversionCharacterIsKept) {
  EXPECT_EQ(fixed(~0u, u"100%"), u"100%");
  EXPECT_EQ(fixed(~0u, u"%s and 5%"), u"%" + mod() + u"s and 5%");
  EXPECT_EQ(fixed(~0u, u"%5"), u"%5");
}

TEST(FixWideFormat, ManyConversionsFit) {
  std::u16string many, expected;
  for (int i = 0; i < 32; ++i) {
    many += u"%s";
    expected += u"%" + mod() + u"s";
  }
  EXPECT_EQ(fixed(~0u, many.c_str()), expected);
}

TEST(FixWideFormat, NullWhenTheHeapIsExhausted) {
  kxTestSetFailure(0, 1);
  EXPECT_EQ(fixWideFormat(~0u, u"%s"), nullptr);
  kxTestSetFailure(1, 1);  // the working copy fails; the result is released
  EXPECT_EQ(fixWideFormat(~0u, u"%s"), nullptr);
  kxTestSetFailure(0, 0);
}

TEST(PortableVswprintf, MarkedStringsAreWideOnEveryHost) {
  Formatted f = format(~0u, u"%s=%d [%5s|%-5s|%.2s] %c%c", u"key", 42, u"ab", u"cd", u"xyz", u'\u00e9', u'!');
  EXPECT_EQ(f.text, u"key=42 [   ab|cd   |xy] \u00e9!");
  EXPECT_EQ(f.count, int(f.text.size()));
  EXPECT_EQ(format(~0u, u"%s", static_cast<const wchar16*>(nullptr)).text, u"(null)");
  EXPECT_EQ(format(~0u, u"\u4e2d%s", u"\u6587").text, u"\u4e2d\u6587");
}

TEST(PortableVswprintf, UnmarkedStringsAreNarrowOnEveryHost) {
  EXPECT_EQ(format(0, u"<%s|%c>", "plain", 'c').text, u"<plain|c>");
  EXPECT_EQ(format(2, u"%s%s|%d", "n", u"w", 5).text, u"nw|5");
}

TEST(PortableVswprintf, WithoutARewriteTheHostDecides) {
  // The mask that leaves the format as it is on this host: a plain %s is then
  // read as this host's wide formatter reads it, wide exactly on the NT family.
  const uint32_t asIs = isNtFamily() ? ~0u : 0u;
  Formatted f = isNtFamily() ? format(asIs, u"<%s>", u"plain") : format(asIs, u"<%s>", "plain");
  EXPECT_EQ(f.text, u"<plain>");
  EXPECT_EQ(format(asIs, u"%hs|%ls|%hc|%lc|%ws", "narrow", u"wide", 'n', u'w', u"w2").text,
            u"narrow|wide|n|w|w2");
}

TEST(PortableVswprintf, NumbersAsTheRuntimeFormatsThem) {
  EXPECT_EQ(format(0, u"%05d|%x|%X|%o|%u|%+d|% d|%#x|%-4d|", 42, 255, 255, 8, 7u, 3, 3, 16, 9).text,
            u"00042|ff|FF|10|7|+3| 3|0x10|9   |");
  EXPECT_EQ(format(0, u"%ld|%lld|%llu|%zu|%hd|%hhu|%I64d", -5L, -1234567890123LL, 18446744073709551615ULL,
                   size_t(77), 70000, 300, 5000000000LL)
                .text,
            u"-5|-1234567890123|18446744073709551615|77|4464|44|5000000000");
  EXPECT_EQ(format(0, u"%.3f|%e|%g|%10.1f", 3.14159, 12345.678, 0.5, -2.24).text,
            u"3.142|1.234568e+04|0.5|      -2.2");
  EXPECT_EQ(format(0, u"[%*d|%-*d|%.*d]", 4, 7, 3, 8, 3, 5).text, u"[   7|8  |005]");
  EXPECT_EQ(format(0, u"%d%%", 50).text, u"50%");
  EXPECT_EQ(format(0, u"%p|%p", static_cast<void*>(nullptr), reinterpret_cast<void*>(uintptr_t(0xbeef))).text,
            u"(nil)|0xbeef");
}

TEST(PortableVswprintf, OddFormats) {
  EXPECT_EQ(format(~0u, u"ends in %").text, u"ends in %");
  EXPECT_EQ(format(~0u, u"%y is no conversion %d", 1).text, u"%y is no conversion 1");
  int count = -1;
  EXPECT_EQ(format(0, u"%d%n|%d", 1, &count, 2).text, u"1|2") << "%n stores nothing";
  EXPECT_EQ(count, -1);
  EXPECT_EQ(format(~0u, u"").count, 0);
  Formatted none = format(~0u, nullptr);
  EXPECT_EQ(none.count, -1);
  EXPECT_EQ(none.text, u"");
  EXPECT_EQ(fixWideFormat(~0u, nullptr), nullptr);
}

TEST(PortableVswprintf, OutputThatDoesNotFit) {
  Formatted f = formatIn(6, u"%s-%d", u"abc", 12345);
  EXPECT_EQ(f.count, -1);
  EXPECT_EQ(f.text, u"abc-1") << "what fits, terminated";
  f = formatIn(6, u"%s", u"abcde");
  EXPECT_EQ(f.count, 5);
  EXPECT_EQ(f.text, u"abcde");
}

TEST(PortableVswprintf, NothingWrittenWithoutMemory) {
  wchar16 buf[16] = {u'z', 0};
  kxTestSetFailure(0, 1);
  // A mask that needs a rewrite on this host.
  int n = formatRaw(isNtFamily() ? 0u : ~0u, buf, 16, u"%s", u"x");
  kxTestSetFailure(0, 0);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(buf[0], u'z');
}

}  // namespace
