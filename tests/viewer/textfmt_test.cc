// Byte counts, intervals and dates as the viewer prints them.
#include "viewer/textfmt.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

std::string size(uint64_t v) {
  char buf[kSizeTextSize];
  return formatSize(v, buf);
}

std::string elapsed(int32_t start, int32_t end) {
  char buf[kElapsedTextSize];
  return formatElapsed(buf, start, end);
}

TEST(FormatSize, BytesBelowOneKilobyte) {
  EXPECT_EQ(size(0), "0 Byte ");
  EXPECT_EQ(size(1), "1 Byte ");
  EXPECT_EQ(size(2), "2 Bytes");
  EXPECT_EQ(size(1023), "1023 Bytes");
}

TEST(FormatSize, LargerUnitsTruncateAndShowTheExactCount) {
  EXPECT_EQ(size(1024), "1 KB (1024 Bytes)");
  EXPECT_EQ(size(1536), "1 KB (1536 Bytes)");
  EXPECT_EQ(size(1048575), "1023 KB (1048575 Bytes)");
  EXPECT_EQ(size(1048576), "1 MB (1048576 Bytes)");
  EXPECT_EQ(size(uint64_t(5) << 30), "5 GB (5368709120 Bytes)");
  EXPECT_EQ(size(uint64_t(1) << 40), "1 TB (1099511627776 Bytes)");
  EXPECT_EQ(size(uint64_t(1) << 50), "1 PB (1125899906842624 Bytes)");
  EXPECT_EQ(size(UINT64_MAX), "16383 PB (18446744073709551615 Bytes)");
}

TEST(FormatElapsed, IntervalsInMinutesSecondsMilliseconds) {
  EXPECT_EQ(elapsed(500, 500), "< 1 ms");
  EXPECT_EQ(elapsed(0, 1), "00:00:001");
  EXPECT_EQ(elapsed(1, 1000), "00:00:999");
  EXPECT_EQ(elapsed(0, 1000), "00:01:000");
  EXPECT_EQ(elapsed(0, 59999), "00:59:999");
  EXPECT_EQ(elapsed(0, 60000), "01:00:000");
  EXPECT_EQ(elapsed(0, 61234), "01:01:234");
  EXPECT_EQ(elapsed(0, 3600000), "60:00:000");
}

TEST(FormatElapsed, ReadingsAcrossTheClockWrap) {
  EXPECT_EQ(elapsed(INT32_MAX - 4, INT32_MIN + 5), "00:00:010");
}

// These expect TZ=UTC, which the test's environment sets.
TEST(DateText, CtimeTextOfAStoredTime) {
  char buf[kDateTextSize];
  // The day of the month is blank-padded by one runtime, zero-padded by the
  // other; both are the runtime's own text.
  std::string epoch = dateText(0, buf);
  EXPECT_TRUE(epoch == "Thu Jan  1 00:00:00 1970\n" || epoch == "Thu Jan 01 00:00:00 1970\n") << epoch;
  EXPECT_STREQ(dateText(1245326400, buf), "Thu Jun 18 12:00:00 2009\n");
  EXPECT_STREQ(dateTextLine(1245326400, buf), "Thu Jun 18 12:00:00 2009");
}

TEST(DateText, TimeWithoutADateShowsThePlaceholder) {
  char buf[kDateTextSize];
  EXPECT_STREQ(dateText(INT64_MAX, buf), "(invalid date)\n");
  EXPECT_STREQ(dateTextLine(INT64_MIN, buf), "(invalid date)");
}

}  // namespace
