// Date-time records and their texts.
#include "platform/datetime.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

namespace {

DateTime7 record(int year, int month, int day, int hour, int minute, int second) {
  DateTime7 dt{};
  setDateTimeYear(dt, year);
  dt.month = uint8_t(month);
  dt.day = uint8_t(day);
  dt.hour = uint8_t(hour);
  dt.minute = uint8_t(minute);
  dt.second = uint8_t(second);
  return dt;
}

std::string dateText(const DateTime7& dt) {
  char date[32];
  std::memset(date, 'x', sizeof date);
  formatDateTime(dt, date, nullptr);
  return date;
}

std::string timeText(const DateTime7& dt) {
  char time[32];
  std::memset(time, 'x', sizeof time);
  formatDateTime(dt, nullptr, time);
  return time;
}

struct tm brokenDown(int year, int monthIndex, int day, int hour, int minute, int second) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = monthIndex;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

TEST(DateTime7, StoresTheYearBigEndian) {
  DateTime7 dt = record(2026, 12, 7, 10, 42, 59);
  const unsigned char expected[7] = {0x07, 0xEA, 0x0C, 0x07, 0x0A, 0x2A, 0x3B};
  EXPECT_EQ(std::memcmp(&dt, expected, 7), 0);
  EXPECT_EQ(dateTimeYear(dt), 2026);
}

TEST(FormatDateTime, InRangeRecord) {
  DateTime7 dt = record(2026, 12, 7, 10, 42, 59);
  EXPECT_EQ(dateText(dt), "12/07/2026");
  EXPECT_EQ(timeText(dt), "10:42:59");
  char date[16], time[16];
  formatDateTime(dt, date, time);
  EXPECT_STREQ(date, "12/07/2026");
  EXPECT_STREQ(time, "10:42:59");
}

TEST(FormatDateTime, OutOfRangeFieldsPrintAsTheyAre) {
  EXPECT_EQ(dateText(record(2026, 13, 7, 10, 42, 59)), "13/07/2026");
  EXPECT_EQ(dateText(record(2026, 0, 7, 10, 42, 59)), "00/07/2026");
  EXPECT_EQ(dateText(record(2026, 12, 0, 10, 42, 59)), "12/00/2026");
  EXPECT_EQ(dateText(record(2026, 12, 32, 10, 42, 59)), "12/32/2026");
  EXPECT_EQ(dateText(record(10000, 12, 7, 0, 0, 0)), "12/07/0000") << "year mod 10000";
  EXPECT_EQ(dateText(record(65535, 255, 255, 0, 0, 0)), "55/55/5535");
  EXPECT_EQ(timeText(record(2026, 12, 7, 24, 42, 59)), "24:42:59");
  EXPECT_EQ(timeText(record(2026, 12, 7, 10, 60, 59)), "10:60:59");
  EXPECT_EQ(timeText(record(2026, 12, 7, 10, 42, 60)), "10:42:60");
  EXPECT_EQ(timeText(record(2026, 12, 7, 255, 255, 255)), "55:55:55") << "mod 100";
}

TEST(FormatByPattern, ReplacesEveryDirective) {
  char out[128];
  struct tm t = brokenDown(2026, 13, 7, 10, 42, 59);
  EXPECT_EQ(formatByPattern(out, "%m/%d/%Y", &t), 10);
  EXPECT_STREQ(out, "14/07/2026") << "a month index of 13 gives 14";

  t = brokenDown(2026, 11, 7, 15, 4, 5);
  formatByPattern(out, "%Y %y %m %d %H %I %p %M %S %Y", &t);
  EXPECT_STREQ(out, "2026 26 12 07 15 03 P.M. 04 05 2026");
  t.tm_hour = 0;
  formatByPattern(out, "%I%p", &t);
  EXPECT_STREQ(out, "12A.M.");
  t.tm_hour = 12;
  formatByPattern(out, "%I%p", &t);
  EXPECT_STREQ(out, "12P.M.");
}

TEST(FormatByPattern, LeavesOtherTextAlone) {
  char out[128];
  struct tm t = brokenDown(2026, 11, 7, 10, 42, 59);
  formatByPattern(out, "", &t);
  EXPECT_STREQ(out, "");
  formatByPattern(out, "100% %x %", &t);
  EXPECT_STREQ(out, "100% %x %");
  // A long tail after a directive is kept whole.
  const char* pattern = "%d then a tail that is far longer than thirty-two bytes";
  EXPECT_EQ(formatByPattern(out, pattern, &t), int(std::strlen(pattern)));
  EXPECT_STREQ(out, "07 then a tail that is far longer than thirty-two bytes");
}

TEST(CurrentDateTime, MatchesTheClock) {
  DateTime7 dt{};
  uint32_t micros = 1;
  std::time_t before = std::time(nullptr);
  currentDateTimeUs(dt, micros);
  struct tm local = *std::localtime(&before);
  EXPECT_EQ(dateTimeYear(dt), local.tm_year + 1900);
  EXPECT_EQ(dt.month, local.tm_mon + 1);
  EXPECT_GE(dt.month, 1);
  EXPECT_LE(dt.month, 12);
  EXPECT_LE(dt.hour, 23);
  EXPECT_LE(dt.minute, 59);
  EXPECT_LE(dt.second, 60);
  EXPECT_LT(micros, 1000000u);
  EXPECT_EQ(micros % 1000, 0u) << "milliseconds x 1000";

  DateTime7 plain{};
  currentDateTime(plain);
  EXPECT_GE(dateTimeYear(plain), dateTimeYear(dt));
}

}  // namespace
