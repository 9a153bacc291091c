// The channels through which the allocator and the mutex wrappers trace and
// report: what reaches a channel, and that an empty one is silent.  Each test
// sets channels of its own and connects the trace facility again after.
#include "platform/tracechannel.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/kxmem.h"
#include "platform/psthread.h"
#include "trace/trace.h"

namespace {
constexpr char kSourceName[] = "tracechannel_test";

struct Received {
  std::string kind;  // "line" or "error"
  std::string source;
  unsigned classFlag;
  std::string text;
};
std::vector<Received> received;

std::string format(const char* fmt, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, args);
  return text;
}
int recordLine(const char* source, int32_t, const char* fmt, va_list args) {
  received.push_back({"line", source, 0, format(fmt, args)});
  return 0;
}
int recordError(const char* source, int32_t, unsigned char classFlag, const char* fmt, va_list args) {
  received.push_back({"error", source, classFlag, format(fmt, args)});
  return 0;
}

class TraceChannelTest : public testing::Test {
 protected:
  void SetUp() override { received.clear(); }
  void TearDown() override {
    kxTestSetFailure(0, 0);
    mutexBypass = 1;
    trStart();
  }
  unsigned char classByte_ = 0;
};

TEST_F(TraceChannelTest, TheAllocatorsLinesFlowOnlyWhileItsClassByteIsSet) {
  kxTrace = TraceChannel{&classByte_, recordLine, recordError};
  void* quiet = KX_MALLOC(4);
  KX_FREE(quiet);
  EXPECT_TRUE(received.empty());

  classByte_ = 1;
  void* p = KX_MALLOC(4);
  ASSERT_NE(p, nullptr);
  KX_FREE(p);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].kind, "line");
  EXPECT_EQ(received[0].source, "kxmem");
  EXPECT_EQ(received[0].text.rfind("KXMEM(+) Addr ", 0), 0u);
  EXPECT_NE(received[0].text.find(" Size 4 File tracechannel_test Line "), std::string::npos);
  EXPECT_EQ(received[1].text.rfind("KXMEM(-) Addr ", 0), 0u);
}

TEST_F(TraceChannelTest, TheAllocatorsReportsCarryTheClassByteAsItIsAtTheCall) {
  kxTrace = TraceChannel{&classByte_, recordLine, recordError};
  KX_FREE(nullptr);
  classByte_ = 1;
  kxTestSetFailure(0, 1);
  EXPECT_EQ(KX_CALLOC(2, 8), nullptr);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].kind, "error");
  EXPECT_EQ(received[0].classFlag, 0u);
  EXPECT_EQ(received[0].text.rfind("Attempt to free NULL pointer. File tracechannel_test Line ", 0), 0u);
  EXPECT_EQ(received[1].kind, "error");
  EXPECT_EQ(received[1].classFlag, 1u);
  EXPECT_EQ(received[1].text.rfind("calloc() failed: Size 8 File tracechannel_test Line ", 0), 0u);
}

TEST_F(TraceChannelTest, AnEmptyChannelLeavesTheAllocatorWorkingAndSilent) {
  kxTrace = TraceChannel{};
  auto* p = static_cast<unsigned char*>(KX_MALLOC(8));
  ASSERT_NE(p, nullptr);
  p[8] ^= 0xFF;
  EXPECT_EQ(KX_CHECK(p), -1);
  p[8] ^= 0xFF;
  KX_FREE(p);
  KX_FREE(nullptr);
  kxTestSetFailure(0, 1);
  EXPECT_EQ(KX_MALLOC(8), nullptr);
  // A class byte without statements behind it is silent too.
  classByte_ = 1;
  kxTrace = TraceChannel{&classByte_, nullptr, nullptr};
  void* q = KX_MALLOC(2);
  KX_FREE(q);
  EXPECT_TRUE(received.empty());
}

TEST_F(TraceChannelTest, MutexFailuresAreReportedThroughTheirOwnChannel) {
  kxTrace = TraceChannel{};
  psMutexTrace = TraceChannel{&classByte_, recordLine, recordError};
  mutexBypass = 0;
  psMutex never = nullptr;
  EXPECT_EQ(psMutexLock(never), -1);
  EXPECT_EQ(psMutexRelease(never), -1);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].kind, "error");
  EXPECT_EQ(received[0].source, "psthread");
  EXPECT_EQ(received[0].text.rfind("Mutex lock failed: ", 0), 0u);
  EXPECT_EQ(received[1].text.rfind("Release mutex failed; reason ", 0), 0u);

  psMutexTrace = TraceChannel{};
  EXPECT_EQ(psMutexLock(never), -1);
  EXPECT_EQ(received.size(), 2u);
}

TEST_F(TraceChannelTest, TheTraceFacilityConnectsBothChannelsToItsClasses) {
  kxTrace = TraceChannel{};
  psMutexTrace = TraceChannel{};
  trStart();
  trClass.MEMORY = 1;
  EXPECT_TRUE(kxTrace.on());
  EXPECT_FALSE(psMutexTrace.on());
  trClass.MEMORY = 0;
  trClass.GENERAL = 1;
  EXPECT_FALSE(kxTrace.on());
  EXPECT_TRUE(psMutexTrace.on());
  trClass.GENERAL = 0;
}

}  // namespace
