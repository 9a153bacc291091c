// The journal information report, checked as printed on standard output.
#include "viewer/report.h"

#include <gtest/gtest.h>

#include <string>

#include "journalarea.h"
#include "viewer/journalinfo.h"

namespace {

constexpr int64_t kJun18 = 1245326400;  // Thu Jun 18 12:00:00 2009 UTC
constexpr int64_t kJun19 = kJun18 + 86400;

std::string report(const JournalArea& a, uint32_t count = 3, uint16_t keyLength = 0, uint16_t dataLength = 32,
                   uint64_t fileSize = 2160) {
  testing::internal::CaptureStdout();
  printDbInformation(2, 1, a.bytes.data(), count, keyLength, dataLength, "c:\\j\\jdb", fileSize);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

// The value printed after a line's label, up to the end of the line.
std::string line(const std::string& text, const std::string& label) {
  size_t at = text.find("     " + label);
  if (at == std::string::npos) return "<missing " + label + ">";
  at += 5 + label.size();
  while (text[at] == ' ') ++at;
  return text.substr(at, text.find('\n', at) - at);
}

TEST(JournalReport, ValidChangeJournalPrintsEveryLine) {
  JournalArea a;
  a.type(1).state(2).activation(kJun18).validation(kJun19).maxSize(uint64_t(5) << 30).serverNode(6, "SERVERNODE1")
      .fsName(u"C:");
  EXPECT_EQ(report(a, 2500, 0, 32, 1024),
            "\n\nJournal Database Information:\n\n"
            "     Btree Database Version  2.1\n"
            "     Database File           c:\\j\\jdb.jbbdb\n"
            "     Database File Disk Size 1 KB (1024 Bytes)\n"
            "     Journal  File System    C:\n"
            "     Journal  Key length     Variable Length\n"
            "     Journal  Data length    32 Bytes\n"
            "     Journal Activation Date Thu Jun 18 12:00:00 2009\n"
            "     Journal Validation Date Fri Jun 19 12:00:00 2009\n"
            "     Maximum Journal Size    5 GB (5368709120 Bytes)\n"
            "     Journal Type            Change Journal\n"
            "     Journal State           Valid\n"
            "     Valid for Server        SERVER\n"
            "     Valid for Node          NODE1\n"
            "     Number of DB Entries    2500\n\n");
}

TEST(JournalReport, JustCreatedDatabaseShowsNotApplicable) {
  JournalArea a;
  a.type(0).state(2).activation(kJun18).serverNode(6, "SERVERNODE1");
  std::string r = report(a);
  EXPECT_EQ(line(r, "Journal Type"), "Unformatted");
  EXPECT_EQ(line(r, "Journal State"), "N/A");
  EXPECT_EQ(line(r, "Valid for Server"), "N/A");
  EXPECT_EQ(line(r, "Valid for Node"), "N/A");
  EXPECT_EQ(line(r, "Journal Validation Date"), "N/A");
  EXPECT_EQ(line(r, "Journal Activation Date"), "Thu Jun 18 12:00:00 2009");
  EXPECT_EQ(line(r, "Maximum Journal Size"), "Unlimited");
}

TEST(JournalReport, StatesOfAChangeJournal) {
  JournalArea a;
  a.type(1).state(1).validation(kJun19);
  std::string r = report(a);
  EXPECT_EQ(line(r, "Journal State"), "Incremental in Progress");
  EXPECT_EQ(line(r, "Journal Validation Date"), "(not set)");
  a.state(7);
  EXPECT_EQ(line(report(a), "Journal State"), "Not Valid");
}

TEST(JournalReport, OtherJournalTypesAreIncrementalNeeded) {
  JournalArea a;
  EXPECT_EQ(line(report(a.type(2)), "Journal Type"), "Incremental Needed");
  EXPECT_EQ(line(report(a.type(3)), "Journal Type"), "Incremental Needed");
  EXPECT_EQ(line(report(a.type(-1)), "Journal State"), "N/A");
}

TEST(JournalReport, ServerAndNodeNotSet) {
  JournalArea a;
  a.type(1).serverNode(6, "");
  std::string r = report(a);
  EXPECT_EQ(line(r, "Valid for Server"), "(not set)");
  EXPECT_EQ(line(r, "Valid for Node"), "(not set)");
}

TEST(JournalReport, KeyLengthIsShownAsStored) {
  JournalArea a;
  EXPECT_EQ(line(report(a, 0, 1), "Journal  Key length"), "1 Byte  Characters");
  EXPECT_EQ(line(report(a, 0, 10), "Journal  Key length"), "10 Bytes Characters");
  EXPECT_NE(report(a, 0, 0).find("     Number of DB Entries    0\n\n"), std::string::npos);
}

TEST(JournalReport, UnusableStoredTimesShowThePlaceholder) {
  JournalArea a;
  a.type(1).state(2).activation(INT64_MAX).validation(INT64_MIN);
  std::string r = report(a);
  EXPECT_EQ(line(r, "Journal Activation Date"), "(invalid date)");
  EXPECT_EQ(line(r, "Journal Validation Date"), "(invalid date)");
}

TEST(JournalReport, FileSystemNameFillingTheAreaEndsWithIt) {
  JournalArea a;
  a.fsName(std::u16string(jinfo::kFsNameUnits, u'x'));
  EXPECT_EQ(line(report(a), "Journal  File System"), std::string(jinfo::kFsNameUnits, 'x'));
}

// Server and node texts never come from outside the serverNode field.
TEST(ServerAndNode, LengthsAndTerminatorsAtTheFieldsEdges) {
  auto names = [](uint8_t len, const std::string& text) {
    JournalArea a;
    a.serverNode(len, text);
    // A byte right after the field that must never show up.
    a.bytes[jinfo::kServerNode + jinfo::kServerNodeSize] = 'Z';
    JournalInfo info;
    decodeJournalInfo(a.bytes.data(), &info);
    char server[jinfo::kServerNodeSize + 1], node[jinfo::kServerNodeSize + 1];
    serverAndNode(info, server, node);
    return std::string(server) + "|" + node;
  };
  EXPECT_EQ(names(6, "SERVERNODE1"), "SERVER|NODE1");
  EXPECT_EQ(names(0, "NODEONLY"), "|NODEONLY");
  // A length beyond the server text: the server stops at its terminator and
  // the node is whatever follows at the stated length (here nothing).
  EXPECT_EQ(names(20, "SRV"), "SRV|");
  EXPECT_EQ(names(255, "SERVERNODE1"), "SERVERNODE1|");
  // No terminator anywhere in the field.
  std::string full(jinfo::kServerNodeSize, 'n');
  EXPECT_EQ(names(4, full), "nnnn|" + std::string(jinfo::kServerNodeSize - 4, 'n'));
  EXPECT_EQ(names(200, full), full + "|");
}

TEST(JournalEntryRecord, ShortRecordsReadAsZeroBeyondTheirBytes) {
  std::vector<uint8_t> r = journalRecord(6, 1, -5, 0x1122334455667788LL);
  JournalEntry e;
  decodeJournalEntry(r.data(), r.size(), &e);
  EXPECT_EQ(e.action, 6);
  EXPECT_EQ(e.objectType, 1);
  EXPECT_EQ(e.insertedTime, -5);
  EXPECT_EQ(e.objectTime, 0x1122334455667788LL);
  decodeJournalEntry(r.data(), 12, &e);
  EXPECT_EQ(e.action, 6);
  EXPECT_EQ(e.insertedTime, 0xFFFFFFFBLL);  // the low half only
  EXPECT_EQ(e.objectTime, 0);
  decodeJournalEntry(r.data(), 0, &e);
  EXPECT_EQ(e.action, 0);
}

}  // namespace
