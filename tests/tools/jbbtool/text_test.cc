// The texts of dumps: UTC times, keys in the three styles, 8-bit names, and
// the text dump's header read back.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "btree/format.h"
#include "builder/builder.h"
#include "jbbtool/keytext.h"
#include "jbbtool/textdump.h"
#include "jbbtool/textout.h"

using jbbbuilder::Key;
using jbbbuilder::keyToUtf8;
using jbbtool::KeyStyle;

namespace {

std::string utc(int64_t t) {
  char buf[32];
  jbbtool::formatUtc(t, buf);
  return buf;
}

std::string keyText(const Key& k, KeyStyle style) {
  std::string out;
  jbbtool::appendKey(&out, k.data(), k.size(), style);
  return out;
}

TEST(UtcTime, CalendarEdges) {
  EXPECT_EQ("1970-01-01T00:00:00Z", utc(0));
  EXPECT_EQ("1969-12-31T23:59:59Z", utc(-1));
  EXPECT_EQ("2000-02-29T12:00:00Z", utc(951825600));
  EXPECT_EQ("2023-11-14T22:13:20Z", utc(1700000000));
  EXPECT_EQ("2038-01-19T03:14:08Z", utc(int64_t(1) << 31));
  EXPECT_EQ("1900-03-01T00:00:00Z", utc(-2203891200));
  EXPECT_EQ("9999-12-31T23:59:59Z", utc(253402300799));
  EXPECT_EQ("+10000-01-01T00:00:00Z", utc(253402300800));
  EXPECT_EQ("-0001-12-31T23:59:59Z", utc(-62167219201));
  // The extremes of the stored field still give a date.
  EXPECT_EQ('Z', utc(INT64_MAX).back());
  EXPECT_EQ('Z', utc(INT64_MIN).back());
}

// Numbers at every change of digit count, both sides of 2^32, and the
// ends of the 64-bit ranges, against the C library's own text.
TEST(Numbers, AsTheLibraryWritesThem) {
  std::vector<uint64_t> values = {0, UINT32_MAX, uint64_t(UINT32_MAX) + 1, UINT64_MAX};
  for (uint64_t p = 1; p <= UINT64_MAX / 10; p *= 10)
    for (uint64_t v : {p - 1, p, p + 1, p * 10 - 1}) values.push_back(v);
  for (uint64_t v : values) {
    char got[32], want[32];
    *jbbtool::formatUnsigned(got, v) = '\0';
    std::snprintf(want, sizeof want, "%llu", static_cast<unsigned long long>(v));
    EXPECT_STREQ(want, got);
    int64_t s = int64_t(v);
    *jbbtool::formatInt(got, s) = '\0';
    std::snprintf(want, sizeof want, "%lld", static_cast<long long>(s));
    EXPECT_STREQ(want, got);
  }
  char got[32];
  *jbbtool::formatInt(got, INT64_MIN) = '\0';
  EXPECT_STREQ("-9223372036854775808", got);
  const uint8_t bytes[] = {0x00, 0x09, 0x0a, 0x7f, 0x80, 0xa5, 0xff, 0x10, 0x3c};
  *jbbtool::formatHex(got, bytes, sizeof bytes) = '\0';
  EXPECT_STREQ("00090a7f80a5ff103c", got);
}

// Every day of years 0 to 9999 against a calendar counted day by day, at
// a different time of day each day, and the days just outside them.
TEST(UtcTime, EveryDayOfFourDigitYears) {
  auto leap = [](int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int64_t days = -719528;  // 0000-01-01
  char want[32], got[32];
  for (int y = 0; y <= 9999; ++y) {
    for (int m = 1; m <= 12; ++m) {
      int n = monthDays[m - 1] + (m == 2 && leap(y) ? 1 : 0);
      for (int d = 1; d <= n; ++d, ++days) {
        int64_t second = (days * 7919) % 86400;
        if (second < 0) second += 86400;
        std::snprintf(want, sizeof want, "%04d-%02d-%02dT%02d:%02d:%02dZ", y, m, d, int(second / 3600),
                      int(second / 60 % 60), int(second % 60));
        jbbtool::formatUtc(days * 86400 + second, got);
        ASSERT_STREQ(want, got);
      }
    }
  }
  EXPECT_EQ(2932897, days);
  EXPECT_EQ("+10000-01-01T00:00:00Z", utc(days * 86400));
  EXPECT_EQ("-0001-12-31T23:59:59Z", utc(-719528 * int64_t(86400) - 1));
}

std::string fileBytes(const std::string& path) {
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
  }
  return bytes;
}

// Dumps go out in large raw writes with their line ends made in the
// buffer: the file must get what the stream's own writes would give it, in
// text mode (CR LF on Windows) and in binary mode, after what the stream
// held before; a line feed inside a CSV key too.
TEST(TextOut, WritesWhatTheStreamWould) {
  const std::string text = "jbbdump 1\nline \"two\"\n\n";
  for (const char* mode : {"w", "wb"}) {
    std::string expected = testing::TempDir() + "textout_expected.txt", got = testing::TempDir() + "textout_got.txt";
    FILE* f = std::fopen(expected.c_str(), mode);
    ASSERT_NE(nullptr, f);
    std::fputs("before\n", f);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fputs("row\n,\n\"line\nfeed\"\n", f);
    std::fclose(f);

    f = std::fopen(got.c_str(), mode);
    ASSERT_NE(nullptr, f);
    std::fputs("before\n", f);
    {
      jbbtool::TextOut out(f);
      out.put(text);
      char* p = out.room(16);
      p = out.newline(jbbtool::copyLiteral(p, "row"));
      p = out.newline(jbbtool::copyLiteral(p, ","));
      out.commit(p);
      const uint8_t key[] = {'l', 0, 'i', 0, 'n', 0, 'e', 0, '\n', 0, 'f', 0, 'e', 0, 'e', 0, 'd', 0};
      p = out.room(jbbtool::keyTextBound(9) + 2);
      out.commit(out.newline(jbbtool::writeFileKey(p, key, 9, KeyStyle::Csv, out.crlf())));
      EXPECT_TRUE(out.flush());
    }
    std::fclose(f);
    EXPECT_EQ(fileBytes(expected), fileBytes(got)) << mode;
    std::remove(expected.c_str());
    std::remove(got.c_str());
  }
}

TEST(KeyText, TextStyleReadsBackUnitForUnit) {
  const Key keys[] = {
      u"/plain/path.txt",
      u"quote\" and back\\slash",
      u"tab\tnew\nline\x7f",
      u"r\u00e9sum\u00e9 \u65e5\u672c\u8a9e \uff21",   // units of 0x8000 and above
      u"clef\U0001D11E",                              // a surrogate pair
      Key(u"lone high \xD834 end"), Key(u"lone low \xDD1E"), Key(u"swapped \xDD1E\xD834"),
  };
  for (const Key& k : keys) {
    std::string text = keyText(k, KeyStyle::Text);
    Key back;
    size_t pos = 0;
    std::string error;
    ASSERT_TRUE(jbbtool::parseKeyText(text, &pos, &back, &error)) << text << ": " << error;
    EXPECT_EQ(k, back) << text;
    EXPECT_EQ(text.size(), pos);
  }
  EXPECT_EQ("\"clef\xF0\x9D\x84\x9E\"", keyText(u"clef\U0001D11E", KeyStyle::Text));
  EXPECT_EQ("\"a\\uD834b\"", keyText(Key(u"a\xD834" u"b"), KeyStyle::Text));
  EXPECT_EQ("\"t\\u0009\"", keyText(u"t\t", KeyStyle::Text));
}

// Long keys go eight units at a time: a unit that needs an escape, at any
// place in a long plain key, is written as it is on its own.
TEST(KeyText, EscapesAnywhereInALongKey) {
  const char16_t specials[] = {u'"', u'\\', u'\t', u'\x01', u'\x7f', u'\u00e9', u'\u65e5', char16_t(0xD834)};
  const Key plain = u"/home/user/archive/data/file_0123456789.log";
  for (KeyStyle style : {KeyStyle::Text, KeyStyle::Csv, KeyStyle::Json}) {
    for (char16_t special : specials) {
      std::string alone = keyText(Key(1, special), style);
      alone = alone.substr(1, alone.size() - 2);
      for (size_t at = 0; at <= plain.size(); ++at) {
        Key k = plain.substr(0, at) + special + plain.substr(at);
        std::string want = '"' + keyToUtf8(plain.substr(0, at)) + alone + keyToUtf8(plain.substr(at)) + '"';
        ASSERT_EQ(want, keyText(k, style)) << int(style) << " " << int(special) << " at " << at;
      }
    }
  }
}

// CSV has no escapes: an unpaired surrogate is U+FFFD there.  JSON writes
// it as \uXXXX, so that keys differing only there stay distinct; the rest
// of the key is the same JSON string as without it.
TEST(KeyText, CsvAndJsonAreValidUtf8) {
  Key k = Key(u"a\"b,c\\d \u65e5 \xD800 \U0001D11E\n");
  EXPECT_EQ("\"a\"\"b,c\\d \xE6\x97\xA5 \xEF\xBF\xBD \xF0\x9D\x84\x9E\n\"", keyText(k, KeyStyle::Csv));
  EXPECT_EQ("\"a\\\"b,c\\\\d \xE6\x97\xA5 \\uD800 \xF0\x9D\x84\x9E\\u000A\"", keyText(k, KeyStyle::Json));
  Key paired = Key(u"a\"b,c\\d \u65e5 x \U0001D11E\n");
  std::string json = keyText(paired, KeyStyle::Json);
  nlohmann::json parsed = nlohmann::json::parse(json);
  EXPECT_EQ("a\"b,c\\d \xE6\x97\xA5 x \xF0\x9D\x84\x9E\n", parsed.get<std::string>());
  // Two lone surrogates, a high and a low one, and a pair split by another unit.
  for (const Key& other : {Key(u"a\xDC00"), Key(u"a\xD800"), Key(u"a\xD800" u"b\xDC00")}) {
    std::string text = keyText(other, KeyStyle::Json);
    EXPECT_EQ(std::string::npos, text.find("\xEF\xBF\xBD")) << text;
    EXPECT_NE(std::string::npos, text.find("\\u")) << text;
  }
  EXPECT_NE(keyText(Key(u"a\xDC00"), KeyStyle::Json), keyText(Key(u"a\xD800"), KeyStyle::Json));
  EXPECT_EQ(keyText(Key(u"a\xDC00"), KeyStyle::Csv), keyText(Key(u"a\xD800"), KeyStyle::Csv));
}

TEST(KeyText, MalformedTextIsRefused) {
  for (const char* bad : {"no quote", "\"unclosed", "\"bad \\q\"", "\"\\u12\"", "\"\\u0000\"", "\"\xC3\x28\""}) {
    Key k;
    size_t pos = 0;
    std::string error;
    EXPECT_FALSE(jbbtool::parseKeyText(bad, &pos, &k, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(BytesText, EveryByteReadsBack) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += char(b);
  std::string text;
  jbbtool::appendBytesText(&text, reinterpret_cast<const uint8_t*>(all.data()), all.size());
  for (char c : text) EXPECT_TRUE(c >= 0x20 && c < 0x7F);
  std::string back, error;
  size_t pos = 0;
  ASSERT_TRUE(jbbtool::parseBytesText(text, &pos, &back, &error)) << error;
  EXPECT_EQ(all, back);
}

// The header of a control record, parsed back into the same record fields.
TEST(TextDump, HeaderKeepsEveryAreaByte) {
  uint8_t cr[jbbformat::kCtrlRecSize] = {};
  cr[jbbformat::kCrMajor] = 1;
  cr[jbbformat::kCrMinor] = 7;
  jbbformat::putU16(cr + jbbformat::kCrKeyLength, 9);
  jbbformat::putU16(cr + jbbformat::kCrDataSize, 3);
  uint8_t* area = cr + jbbformat::kJournalInfoOffset;
  for (size_t i = 0; i < jbbformat::kJournalInfoSize; ++i) area[i] = uint8_t(i * 7 + 1);  // reserved bytes too
  std::string text;
  jbbtool::appendTextHeader(cr, &text);
  text += "\"k\"\t0\tType 0\t0\tDirectory\t1970-01-01T00:00:00Z\t0\t1970-01-01T00:00:00Z\t0\tabcdef\nend 1\n";
  jbbtool::TextDump dump;
  std::string error;
  ASSERT_TRUE(jbbtool::parseTextDump(text, &dump, &error)) << error << "\n" << text;
  EXPECT_EQ(0, std::memcmp(cr + 2, dump.ctrlRec + 2, 34));
  EXPECT_EQ(0, std::memcmp(area, dump.ctrlRec + jbbformat::kJournalInfoOffset, jbbformat::kJournalInfoSize));
  ASSERT_EQ(1u, dump.entries.size());
  EXPECT_EQ(jbbbuilder::Bytes({0xab, 0xcd, 0xef}), dump.entries[0].data);
}

TEST(TextDump, FaultsNameTheirLine) {
  uint8_t cr[jbbformat::kCtrlRecSize] = {};
  jbbformat::putU16(cr + jbbformat::kCrDataSize, 1);
  std::string head;
  jbbtool::appendTextHeader(cr, &head);
  size_t headLines = size_t(std::count(head.begin(), head.end(), '\n'));
  const std::string row = "\"k\"\t0\tType 0\t0\tDirectory\t1970-01-01T00:00:00Z\t0\t1970-01-01T00:00:00Z\t0\t00\n";
  struct Case {
    std::string text;
    size_t line;
    const char* says;
  } cases[] = {
      {"something else\n", 1, "not a text dump"},
      {head.substr(0, head.size() - 8) + "colour blue\nentries\nend 0\n", headLines, "unknown header line"},
      {head + row + "\"k2\"\t1\n" + "end 2\n", headLines + 2, "ten tab-separated columns"},
      {head + "\"k\"" + row.substr(3, row.size() - 6) + "\n" + "end 1\n", headLines + 1, "not 1 bytes"},
      {head + row + "end 5\n", headLines + 2, "counts 5 entries"},
      {head + row, headLines + 1, "before its \"end\" line"},
      {head + row + "end 1\nmore\n", headLines + 3, "text after"},
  };
  for (const Case& c : cases) {
    jbbtool::TextDump dump;
    std::string error;
    EXPECT_FALSE(jbbtool::parseTextDump(c.text, &dump, &error)) << c.text;
    EXPECT_NE(std::string::npos, error.find("line " + std::to_string(c.line) + ":")) << error;
    EXPECT_NE(std::string::npos, error.find(c.says)) << error;
  }
}

}  // namespace
