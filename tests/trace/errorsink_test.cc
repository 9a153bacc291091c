// The error sink: where the error statements' error-log copies go.  These
// tests set a sink of their own and put the services' one back after.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "messages/services.h"
#include "platform/kxmem.h"
#include "trace/trace.h"

namespace {
constexpr char kSourceName[] = "errorsink_test";

std::vector<std::string> written;
int leadInCalls = 0;
bool reportFromWrite = false;

int recordText(const char* text) {
  written.emplace_back(text);
  // A log whose own write fails reports that failure, as the real one's
  // lock does.
  if (reportFromWrite) trErrorNoAlloc(kSourceName, 1, 1, "inner report\n");
  return 0;
}

char* leadInBlock() {
  ++leadInCalls;
  auto* text = static_cast<char*>(KX_MALLOC(8));
  if (text != nullptr) std::memcpy(text, "LEAD: ", 7);
  return text;
}

class ErrorSinkTest : public testing::Test {
 protected:
  void SetUp() override {
    written.clear();
    leadInCalls = 0;
    reportFromWrite = false;
    trSetErrorSink(TraceErrorSink{recordText, leadInBlock});
  }
  void TearDown() override {
    trTestFlag = {};
    startServices();
  }
};

TEST_F(ErrorSinkTest, TrErrorHandsTheLeadInAndTheTextOverAndReleasesTheLeadIn) {
  uint64_t before = kxTestLiveBytes();
  errno = 7;
  EXPECT_EQ(trError(kSourceName, 3, 1, "open failed: %d\n", 2), 0);
  EXPECT_EQ(errno, 7);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0], "LEAD: open failed: 2\n");
  EXPECT_EQ(leadInCalls, 1);
  EXPECT_EQ(kxTestLiveBytes(), before);
}

TEST_F(ErrorSinkTest, TheNoAllocStatementAsksForNoLeadIn) {
  EXPECT_EQ(trErrorNoAlloc(kSourceName, 4, 1, "heap %d\n", 5), 0);
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0], "heap 5\n");
  EXPECT_EQ(leadInCalls, 0);
}

TEST_F(ErrorSinkTest, ASinkWithoutALeadInGetsTheTextAlone) {
  trSetErrorSink(TraceErrorSink{recordText, nullptr});
  trError(kSourceName, 5, 1, "alone\n");
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0], "alone\n");
}

TEST_F(ErrorSinkTest, DisablingDiagnosticLogMessagesLeavesTheSinkAlone) {
  trTestFlag.DISABLEDIAGLOGMSGS.set = 1;
  EXPECT_EQ(trError(kSourceName, 6, 1, "skipped\n"), 0);
  EXPECT_TRUE(written.empty());
  EXPECT_EQ(leadInCalls, 0);
}

TEST_F(ErrorSinkTest, AReportRaisedWhileTheSinkWritesDoesNotComeBackToIt) {
  reportFromWrite = true;
  trErrorNoAlloc(kSourceName, 7, 1, "outer\n");
  trError(kSourceName, 8, 1, "outer too\n");
  ASSERT_EQ(written.size(), 2u);
  EXPECT_EQ(written[0], "outer\n");
  EXPECT_EQ(written[1], "LEAD: outer too\n");
}

TEST_F(ErrorSinkTest, WithoutASinkTheStatementsEndQuietly) {
  trSetErrorSink(TraceErrorSink{});
  uint64_t before = kxTestLiveBytes();
  errno = 3;
  EXPECT_EQ(trError(kSourceName, 9, 1, "nowhere\n"), 0);
  EXPECT_EQ(trErrorNoAlloc(kSourceName, 10, 1, "nowhere\n"), 0);
  EXPECT_EQ(errno, 3);
  EXPECT_EQ(kxTestLiveBytes(), before);
  EXPECT_TRUE(written.empty());
}

}  // namespace
