// The error statements with an error log and a message repository
// configured: the error-log copy behind message 361, and the trace copy.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "messages_fixture.h"
#include "platform/kxmem.h"
#include "platform/psthread.h"
#include "trace/trace.h"
#include "trace/traceconfig.h"

namespace {
constexpr char kSourceName[] = "errorreport_test";
using jbbtest::MessagesTest;
using jbbtest::RepositoryImage;
constexpr size_t kStampLen = 20;

class ErrorReportTest : public MessagesTest {
 protected:
  void SetUp() override {
    MessagesTest::SetUp();
    RepositoryImage image;
    image.add(361, {{2, "\x01" "lead-in: "}});
    openRepository(image);
    ASSERT_TRUE(logOpenFile(errorLog, file("error.log").c_str()));
    errorLogOn = 1;
  }
  void TearDown() override {
    trDestroyState();
    trClass = {};
    trTestFlag = {};
    MessagesTest::TearDown();
  }
  std::string logText() {
    std::fflush(errorLog.stream);
    return jbbtest::readFile(file("error.log"));
  }
  // Opens a trace file with the given class test conditions.
  std::string openTrace() {
    TraceState* ts = trCreateState();
    EXPECT_NE(ts, nullptr);
    std::string path = file("errors.trc");
    EXPECT_EQ(trOpen(path.c_str(), false), 0);
    return path;
  }
};

TEST_F(ErrorReportTest, TheErrorLogGetsTheLeadInAndTheMessage) {
  errno = 2;
  EXPECT_EQ(trError(kSourceName, 10, 1, "fopen: errno: %d, \"%s\".\n", errno, "No such file"), 0);
  EXPECT_EQ(errno, 2);
  std::string log = logText();
  EXPECT_EQ(log.substr(kStampLen), "lead-in: fopen: errno: 2, \"No such file\".\n");
}

TEST_F(ErrorReportTest, TheNoAllocStatementHasNoLeadIn) {
  EXPECT_EQ(trErrorNoAlloc(kSourceName, 10, 1, "heap %d\n", 5), 0);
  EXPECT_EQ(logText().substr(kStampLen), "heap 5\n");
}

TEST_F(ErrorReportTest, DisablingDiagnosticLogMessagesSkipsTheLog) {
  trTestFlag.DISABLEDIAGLOGMSGS.set = 1;
  EXPECT_EQ(trError(kSourceName, 10, 1, "skipped\n"), 0);
  EXPECT_EQ(logText(), "");
}

TEST_F(ErrorReportTest, ClassByteOfTwoReachesOnlyTheLog) {
  std::string trace = openTrace();
  trClass.PREFIX = 1;
  EXPECT_GT(trError(kSourceName, 77, 2, "quiet\n"), 0);
  EXPECT_EQ(jbbtest::readFile(trace).find("quiet"), std::string::npos);
  EXPECT_NE(logText().find("lead-in: errorreport_test    (  77): quiet\n"), std::string::npos);

  int n = trError(kSourceName, 78, 1, "loud\n");
  EXPECT_EQ(n, int(std::string("errorreport_test    (  78): loud\n").size()));
  EXPECT_NE(jbbtest::readFile(trace).find("errorreport_test    (  78): loud\n"), std::string::npos);
}

TEST_F(ErrorReportTest, TheErrorClassSendsEveryReportToTheTrace) {
  std::string trace = openTrace();
  trClass.ERROR = 1;
  EXPECT_GT(trErrorNoAlloc(kSourceName, 5, 2, "all of them\n"), 0);
  EXPECT_NE(jbbtest::readFile(trace).find("all of them\n"), std::string::npos);
}

TEST_F(ErrorReportTest, NoMemoryForTheWorkingBufferGives102) {
  kxTestSetFailure(0, 1);
  errno = 9;
  EXPECT_EQ(trError(kSourceName, 1, 1, "lost\n"), 102);
  kxTestSetFailure(0, 0);
  EXPECT_EQ(errno, 9);
  EXPECT_EQ(logText(), "");
}

// The fixture's lock handle was never created, so with the bypass off every
// take of the message lock fails, and that failure is itself a report.
class FailingLockReportTest : public ErrorReportTest {
 protected:
  void SetUp() override {
    ErrorReportTest::SetUp();
    mutexBypass = 0;
  }
  void TearDown() override {
    mutexBypass = 1;
    ErrorReportTest::TearDown();
  }
};

TEST_F(FailingLockReportTest, AReportWhoseLogWriteFailsEndsAndReachesTheTrace) {
  std::string trace = openTrace();
  trClass.GENERAL = 1;  // the class of the lock's own report
  errno = 4;
  EXPECT_GT(trErrorNoAlloc(kSourceName, 10, 1, "heap %d\n", 5), 0);
  EXPECT_EQ(errno, 4);
  std::string traced = jbbtest::readFile(trace);
  EXPECT_NE(traced.find("Mutex lock failed: "), std::string::npos);
  EXPECT_NE(traced.find("heap 5\n"), std::string::npos);
  // The log could not be locked, so nothing went into it.
  EXPECT_EQ(logText(), "");
}

TEST_F(FailingLockReportTest, TheLeadInLookupAndTheLogWriteBothEnd) {
  std::string trace = openTrace();
  EXPECT_GT(trError(kSourceName, 11, 1, "fopen failed\n"), 0);
  EXPECT_NE(jbbtest::readFile(trace).find("fopen failed\n"), std::string::npos);
  EXPECT_EQ(logText(), "");
}

TEST_F(FailingLockReportTest, WithTracingOffTheReportEndsSilently) {
  EXPECT_EQ(trErrorNoAlloc(kSourceName, 12, 1, "unseen\n"), 0);
  EXPECT_EQ(trError(kSourceName, 13, 1, "unseen\n"), 0);
  EXPECT_EQ(logText(), "");
}

TEST_F(FailingLockReportTest, ALaterReportOnceTheLockWorksIsLoggedInFull) {
  EXPECT_EQ(trErrorNoAlloc(kSourceName, 14, 1, "first\n"), 0);
  mutexBypass = 1;
  EXPECT_EQ(trErrorNoAlloc(kSourceName, 15, 1, "second\n"), 0);
  EXPECT_EQ(logText().substr(kStampLen), "second\n");
}

}  // namespace
