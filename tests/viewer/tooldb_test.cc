// toolDB's walk callback and the entry display, driven as the walk drives
// them: one call per entry.
#include "viewer/tooldb.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "journalarea.h"
#include "viewer/entrydisplay.h"

namespace {

constexpr int64_t kJun18 = 1245326400;  // Thu Jun 18 12:00:00 2009 UTC

class ToolDbTest : public testing::Test {
 protected:
  void SetUp() override { db_.journalInfo = area_.bytes.data(); }

  // Calls the callback `count` times and returns what it printed.
  std::string walk(int count, const char16_t* key = u"C:\\dir\\file", const uint8_t* data = nullptr) {
    std::vector<uint8_t> record = journalRecord(4, 1, kJun18, kJun18 + 60);
    testing::internal::CaptureStdout();
    for (int i = 0; i < count; ++i) EXPECT_EQ(db_.walkCallback(key, data != nullptr ? data : record.data()), 0);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
  }

  JournalArea area_;
  toolDB db_{32};
};

std::string backspaced(const std::string& digits) { return std::string(digits.size(), '\b') + digits; }

TEST_F(ToolDbTest, CountingShowsTheLabelOnceAndEveryThousandthCountOverTheLast) {
  progressLabelPending = true;  // as at the start of the process
  area_.type(1);  // counting mode hides the stored type
  db_.countingMode = true;
  EXPECT_EQ(walk(999), "DB Entries Processed:        ");
  EXPECT_EQ(walk(1501), backspaced("1000") + backspaced("2000"));
  EXPECT_EQ(db_.entryCount, 2500u);
  EXPECT_FALSE(progressLabelPending);
  // The type stored in the area is untouched by counting.
  EXPECT_EQ(journalTypeOf(area_.bytes.data()), 1);
  db_.entryCount = 0;
  EXPECT_EQ(walk(1000), backspaced("1000"));
}

TEST_F(ToolDbTest, UnformattedJournalCountsToo) {
  area_.type(0);
  progressLabelPending = false;
  EXPECT_EQ(walk(3), "");
  EXPECT_EQ(db_.entryCount, 3u);
}

TEST_F(ToolDbTest, ChangeJournalPrintsEachEntryBlock) {
  area_.type(1);
  EXPECT_EQ(walk(1),
            "-----------------------------------------\n"
            "   Object Name  : C:\\dir\\file\n"
            "   Action       : Create\n"
            "   Object Type  : File\n"
            "   Inserted     : Thu Jun 18 12:00:00 2009\n"
            "   Object Time  : Thu Jun 18 12:01:00 2009\n"
            "-----------------------------------------\n\n");
  EXPECT_EQ(db_.entryCount, 1u);
}

TEST_F(ToolDbTest, IncrementalJournalPrintsKeys) {
  area_.type(2);
  EXPECT_EQ(walk(2, u"/home/a b"), "\t/home/a b\n\t/home/a b\n");
  EXPECT_EQ(db_.entryCount, 2u);
}

TEST_F(ToolDbTest, OtherTypesAreReportedPerEntry) {
  area_.type(5);
  EXPECT_EQ(walk(2), "Unknown database type: 5\nUnknown database type: 5\n");
  area_.type(-3);
  EXPECT_EQ(walk(1), "Unknown database type: -3\n");
}

// A key of up to about 16,380 units prints whole in both forms, past the
// size of one conversion buffer.  The test runs in the C locale, where a CJK
// unit shows as '?'.
TEST_F(ToolDbTest, LongKeysPrintWhole) {
  for (size_t units : {10000u, 16000u, 16380u}) {
    std::u16string key(units, u'k');
    for (size_t i = 0; i < units; i += 997) key[i] = char16_t(u'0' + i % 10);
    key[units / 2] = u'\u4e2d';
    std::string shown(key.begin(), key.end());
    shown[units / 2] = '?';
    area_.type(2);
    EXPECT_EQ(walk(1, key.c_str()), "\t" + shown + "\n") << units;
    area_.type(1);
    std::string block = walk(1, key.c_str());
    EXPECT_NE(block.find("   Object Name  : " + shown + "\n   Action       : Create\n"), std::string::npos) << units;
  }
}

TEST(ToolDbShortRecord, ChangeEntryOfAShortDataRecordShowsZerosBeyondIt) {
  // Exactly the record's bytes on the heap: reading one past them is caught
  // by the address sanitizer.
  JournalArea area;
  area.type(1);
  toolDB db(12);
  db.journalInfo = area.bytes.data();
  std::vector<uint8_t> full = journalRecord(11, 2, kJun18, kJun18);
  std::unique_ptr<uint8_t[]> record(new uint8_t[12]);
  std::memcpy(record.get(), full.data(), 12);
  testing::internal::CaptureStdout();
  db.walkCallback(u"k", record.get());
  std::fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("   Action       : Delete Restore\n   Object Type  : Directory\n"), std::string::npos) << out;
  // insertedTime keeps its low four bytes only; objectTime reads as 0.
  EXPECT_NE(out.find("   Object Time  : Thu Jan "), std::string::npos) << out;
  EXPECT_NE(out.find(" 00:00:00 1970\n"), std::string::npos) << out;
}

TEST(EntryDisplay, ActionAndObjectTypeTexts) {
  const char* expected[] = {"Type 0", "Rename Old", "Rename New", "Delete", "Create", "Change Attribute", "Modify",
                            "Type 7", "Type 8", "Type 9", "Type 10", "Delete Restore", "Type 12"};
  char buf[32];
  for (int a = 0; a <= 12; ++a) EXPECT_STREQ(actionText(a, buf), expected[a]);
  EXPECT_STREQ(actionText(-1, buf), "Type -1");
}

TEST(EntryDisplay, UnusableTimesShowThePlaceholder) {
  JournalEntry e{7, 2, INT64_MAX, INT64_MIN};
  testing::internal::CaptureStdout();
  printJournalEntry(e, u"x");
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "-----------------------------------------\n"
            "   Object Name  : x\n"
            "   Action       : Type 7\n"
            "   Object Type  : Directory\n"
            "   Inserted     : (invalid date)\n"
            "   Object Time  : (invalid date)\n"
            "-----------------------------------------\n\n");
}

}  // namespace
