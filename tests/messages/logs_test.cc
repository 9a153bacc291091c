// The error log, the second log and their wrapping within a fixed size.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "messages/logutils.h"
#include "messages_fixture.h"

namespace {
using jbbtest::MessagesTest;
using jbbtest::readFile;

// Records start with "mm/dd/yyyy hh:mm:ss ".
constexpr size_t kStampLen = 20;

class LogsTest : public MessagesTest {
 protected:
  void openErrorLog(uint32_t maxSize) {
    errorLog.wrapping = maxSize != 0;
    errorLog.maxSize = maxSize;
    ASSERT_TRUE(logOpenFile(errorLog, file("error.log").c_str()));
    errorLogOn = 1;
  }
  std::string errorLogText() {
    std::fflush(errorLog.stream);
    return readFile(file("error.log"));
  }
};

TEST_F(LogsTest, AnErrorLogThatIsOffIsNotTouched) {
  openErrorLog(0);
  errorLogOn = 0;
  EXPECT_EQ(errorLogWrite("nothing\n"), 0);
  EXPECT_EQ(errorLogText(), "");
}

TEST_F(LogsTest, EveryRecordEndsInOneNewline) {
  openErrorLog(0);
  EXPECT_GT(errorLogWrite("without"), 0);
  EXPECT_GT(errorLogWrite("with\n"), 0);
  std::string log = errorLogText();
  ASSERT_EQ(log.size(), 2 * kStampLen + 8 + 5);
  EXPECT_EQ(log.substr(kStampLen, 8), "without\n");
  EXPECT_EQ(log.substr(2 * kStampLen + 8), "with\n");
  EXPECT_EQ(log[2], '/');
  EXPECT_EQ(log[13], ':');
}

TEST_F(LogsTest, AWrappingLogKeepsItsHeaderAndMarker) {
  logEndMarker = "<<end>>";
  openErrorLog(4000);
  EXPECT_EQ(errorLogText(), "LOGHEADERREC 26          \n<<end>>\n");
  errorLogWrite("first\n");
  std::string log = errorLogText();
  size_t marker = 26 + kStampLen + 6;
  EXPECT_EQ(log.substr(0, 26), "LOGHEADERREC " + std::to_string(marker) + std::string(12 - 2, ' ') + "\n");
  EXPECT_EQ(log.substr(marker), "<<end>>\n");
  errorLogWrite("second\n");
  log = errorLogText();
  EXPECT_EQ(log.substr(marker + kStampLen, 7), "second\n");
  EXPECT_EQ(log.substr(marker + kStampLen + 7), "<<end>>\n");
}

TEST_F(LogsTest, AFullLogIsPaddedToExactlyItsMaximumSize) {
  logEndMarker = "END";
  logWrapText = "WRAP";
  errorLog.wrapping = 1;
  errorLog.maxSize = 1000;
  std::string path = file("wrap.log");
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::string image = "LOGHEADERREC 950         \n";
    image += std::string(950 - image.size(), 'o') + "END\n";
    std::fwrite(image.data(), 1, image.size(), f);
    std::fclose(f);
  }
  ASSERT_TRUE(logOpenFile(errorLog, path.c_str()));
  std::string record(99, 'r');
  logMakeRoom(errorLog, 100);
  std::fprintf(errorLog.stream, "%s\n", record.c_str());
  utSetNextWrite(errorLog);
  std::fflush(errorLog.stream);
  std::string log = readFile(path);
  ASSERT_EQ(log.size(), 1000u);
  EXPECT_EQ(log.substr(950, 4), "WRAP");
  EXPECT_EQ(log.substr(954, 44), std::string(44, ' '));
  EXPECT_EQ(log.substr(998), "*\n");
  EXPECT_EQ(log.substr(26, 100), record + "\n");
  EXPECT_EQ(log.substr(126, 4), "END\n");
  EXPECT_EQ(log.substr(0, 26), "LOGHEADERREC 126         \n");
}

// A damaged header whose position lies past the maximum size, or past the
// end of the file, is rewritten as an unreadable one is: the log stays
// within its size and has no gap.
TEST_F(LogsTest, AHeaderPointingOutsideTheFileIsRepaired) {
  logEndMarker = "END";
  logWrapText = "WRAP";
  for (const char* header : {"LOGHEADERREC 5000        \n", "LOGHEADERREC 997         \n",
                             "LOGHEADERREC 600         \n"}) {
    errorLog.wrapping = 1;
    errorLog.maxSize = 1000;
    std::string path = file("damaged.log");
    {
      FILE* f = std::fopen(path.c_str(), "wb");
      std::string image = header + std::string(200, 'o') + "END\n";
      std::fwrite(image.data(), 1, image.size(), f);
      std::fclose(f);
    }
    ASSERT_TRUE(logOpenFile(errorLog, path.c_str()));
    errorLogOn = 1;
    EXPECT_GT(errorLogWrite("rec\n"), 0);
    std::fflush(errorLog.stream);
    std::string log = readFile(path);
    EXPECT_LE(log.size(), 1000u) << header;
    EXPECT_EQ(log.find('\0'), std::string::npos) << header;
    EXPECT_EQ(log.substr(26 + kStampLen, 8), "rec\nEND\n") << header;
    EXPECT_EQ(log.substr(0, 26), "LOGHEADERREC " + std::to_string(26 + kStampLen + 4) + "          \n");
    std::fclose(errorLog.stream);
    errorLog = LogState{};
  }
}

TEST_F(LogsTest, AHeaderlessLogGetsAHeaderBeforeItsFirstRecord) {
  errorLog.wrapping = 1;
  errorLog.maxSize = 4000;
  std::string path = file("bare.log");
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fputs("garbage that is no header\n", f);
    std::fclose(f);
  }
  ASSERT_TRUE(logOpenFile(errorLog, path.c_str()));
  errorLogOn = 1;
  errorLogWrite("rec\n");
  std::fflush(errorLog.stream);
  std::string log = readFile(path);
  EXPECT_EQ(log.substr(0, 13), "LOGHEADERREC ");
  EXPECT_EQ(log.substr(26 + kStampLen, 4), "rec\n");
}

TEST_F(LogsTest, TheSecondLogContinuesALineWithoutAStamp) {
  secondLog.wrapping = 0;
  ASSERT_TRUE(logOpenFile(secondLog, file("second.log").c_str()));
  secondLogOn = 1;
  EXPECT_EQ(secondLogWrite("part one, "), 0);
  secondLogSelected = 1;
  EXPECT_EQ(secondLogWrite("part one, "), 0);
  EXPECT_EQ(secondLogWrite("part two\n"), 0);
  EXPECT_EQ(secondLogWrite("next\n"), 0);
  std::fflush(secondLog.stream);
  std::string log = readFile(file("second.log"));
  ASSERT_EQ(log.size(), 2 * kStampLen + 19 + 5);
  EXPECT_EQ(log.substr(kStampLen, 19), "part one, part two\n");
  EXPECT_EQ(log.substr(2 * kStampLen + 19), "next\n");
}

}  // namespace
