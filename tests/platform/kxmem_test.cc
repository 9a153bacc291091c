// The debug allocator: guards, damaged blocks, failed requests.
#include "platform/kxmem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "trace/trace.h"
#include "trace/traceconfig.h"
#include "trace/tracestate.h"
#include "../trace/tracetest_util.h"

namespace {
constexpr char kSourceName[] = "kxmem_test";

uint32_t trailerOf(const void* p, size_t size) {
  uint32_t v;
  std::memcpy(&v, static_cast<const unsigned char*>(p) + size, sizeof v);
  return v;
}

TEST(KxMalloc, FramesTheBlock) {
  auto* p = static_cast<unsigned char*>(KX_MALLOC(10));
  ASSERT_NE(p, nullptr);
  uint32_t guard;
  uint64_t total;
  std::memcpy(&guard, p - 16, 4);
  std::memcpy(&total, p - 8, 8);
  EXPECT_EQ(guard, BLOCK_GUARD);
  EXPECT_EQ(total, 30u);
  EXPECT_EQ(trailerOf(p, 10), BLOCK_GUARD);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
  EXPECT_EQ(KX_CHECK(p), 0);
  KX_FREE(p);
}

TEST(KxMalloc, SizeZeroHasItsTrailerAtThePointer) {
  void* p = KX_MALLOC(0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(trailerOf(p, 0), BLOCK_GUARD);
  EXPECT_EQ(KX_CHECK(p), 0);
  KX_FREE(p);
}

TEST(KxCalloc, ZeroesCountTimesSize) {
  auto* p = static_cast<unsigned char*>(KX_CALLOC(7, 9));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 63; ++i) EXPECT_EQ(p[i], 0);
  EXPECT_EQ(trailerOf(p, 63), BLOCK_GUARD);
  KX_FREE(p);
}

TEST(KxCheckBlock, NullIsSound) { EXPECT_EQ(KX_CHECK(nullptr), 0); }

TEST(KxCheckBlock, DamagedTrailerIsReportedAndTheBlockIsKept) {
  auto* p = static_cast<unsigned char*>(KX_MALLOC(8));
  ASSERT_NE(p, nullptr);
  unsigned char saved = p[8];
  p[8] ^= 0xFF;  // one byte past the request
  EXPECT_EQ(KX_CHECK(p), -1);
  KX_FREE(p);                        // refused: the block stays allocated
  EXPECT_EQ(KX_REALLOC(p, 16), nullptr);
  p[8] = saved;                      // mended, it can be released once
  EXPECT_EQ(KX_CHECK(p), 0);
  KX_FREE(p);
}

TEST(KxCheckBlock, HeaderGuardIsComparedButNotTheBytesAfterIt) {
  auto* p = static_cast<unsigned char*>(KX_MALLOC(4));
  ASSERT_NE(p, nullptr);
  std::memset(p - 12, 0x55, 4);  // the unset word before the length
  EXPECT_EQ(KX_CHECK(p), 0);
  unsigned char saved = p[-16];
  p[-16] ^= 0xFF;
  EXPECT_EQ(KX_CHECK(p), -1);
  KX_FREE(p);  // refused
  p[-16] = saved;
  KX_FREE(p);
}

TEST(KxReAlloc, NullBehavesLikeMalloc) {
  auto* p = static_cast<unsigned char*>(KX_REALLOC(nullptr, 12));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(trailerOf(p, 12), BLOCK_GUARD);
  KX_FREE(p);
}

TEST(KxReAlloc, GrowsAndKeepsTheContents) {
  auto* p = static_cast<unsigned char*>(KX_MALLOC(4));
  std::memcpy(p, "abc", 4);
  p = static_cast<unsigned char*>(KX_REALLOC(p, 4000));
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(p), "abc");
  EXPECT_EQ(trailerOf(p, 4000), BLOCK_GUARD);
  KX_FREE(p);
}

TEST(KxReAlloc, FailureLeavesTheOldBlockValid) {
  auto* p = static_cast<unsigned char*>(KX_MALLOC(6));
  std::memcpy(p, "hello", 6);
  kxTestSetFailure(0, 1);
  EXPECT_EQ(KX_REALLOC(p, 100), nullptr);
  kxTestSetFailure(0, 0);
  EXPECT_STREQ(reinterpret_cast<char*>(p), "hello");
  EXPECT_EQ(KX_CHECK(p), 0);
  // A request the heap cannot hold fails the same way.
  EXPECT_EQ(KX_REALLOC(p, UINT64_MAX - 8), nullptr);
  EXPECT_STREQ(reinterpret_cast<char*>(p), "hello");
  KX_FREE(p);
}

int handlerCalls = 0;
int fatalCalls = 0;
int countingHandler() {
  ++handlerCalls;
  return 2;
}
void countingFatal() { ++fatalCalls; }

TEST(KxMalloc, FailureCallsTheHandlersButNotForSizeZero) {
  allocFailHandler = countingHandler;
  allocFailFatal = countingFatal;
  kxTestSetFailure(1, 2);
  void* first = KX_MALLOC(8);  // the one allowed through
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(KX_MALLOC(8), nullptr);
  EXPECT_EQ(handlerCalls, 1);
  EXPECT_EQ(fatalCalls, 1);
  EXPECT_EQ(KX_CALLOC(3, 0), nullptr);  // element size 0: no handler
  EXPECT_EQ(handlerCalls, 1);
  kxTestSetFailure(0, 0);
  allocFailHandler = nullptr;
  allocFailFatal = nullptr;
  KX_FREE(first);
}

TEST(KxFree, NullIsReportedNotFatal) { KX_FREE(nullptr); }

// The allocator's reports and its MEMORY lines, read back from a trace file.
class KxTraceTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(trCreateState(), nullptr);
    path_ = dir_.file("kxmem.trc");
    ASSERT_EQ(trOpen(path_.c_str(), false), 0);
    trClass = {};
    trClass.MEMORY = 1;
  }
  void TearDown() override {
    trClass = {};
    trDestroyState();
    kxTestSetFailure(0, 0);
  }
  // Whether the trace holds text exactly, with each %p and %d filled in.
  bool traced(const char* format, const void* p, int line) {
    char text[256];
    if (p != nullptr)
      std::snprintf(text, sizeof text, format, p, kSourceName, line);
    else
      std::snprintf(text, sizeof text, format, kSourceName, line);
    return jbbtest::readFile(path_).find(text) != std::string::npos;
  }
  jbbtest::TempDir dir_;
  std::string path_;
};

TEST_F(KxTraceTest, DamagedBlocksAreReportedWithTheCallersPlace) {
  auto* p = static_cast<unsigned char*>(KX_MALLOC(8));
  ASSERT_NE(p, nullptr);
  p[8] ^= 0xFF;
  int line = __LINE__ + 1;
  EXPECT_EQ(KX_CHECK(p), -1);
  EXPECT_TRUE(traced("Block trailer invalid, possible memory overwrite. Addr %p, File %s, Line %d\n", p, line));
  p[8] ^= 0xFF;
  p[-16] ^= 0xFF;
  line = __LINE__ + 1;
  KX_FREE(p);
  EXPECT_TRUE(traced("Block header invalid, possible memory overwrite. Addr %p, File %s, Line %d\n", p, line));
  p[-16] ^= 0xFF;
  line = __LINE__ + 1;
  KX_FREE(p);
  EXPECT_TRUE(traced("KXMEM(-) Addr %p File %s Line %d\n", p, line));
  line = __LINE__ + 1;
  KX_FREE(nullptr);
  EXPECT_TRUE(traced("Attempt to free NULL pointer. File %s Line %d\n", nullptr, line));
}

TEST_F(KxTraceTest, FailedRequestsAndGrantedBlocksAreTraced) {
  int line = __LINE__ + 1;
  void* p = KX_MALLOC(10);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(traced("KXMEM(+) Addr %p Size 10 File %s Line %d\n", p, line));
  kxTestSetFailure(0, 3);
  line = __LINE__ + 1;
  EXPECT_EQ(KX_MALLOC(8), nullptr);
  EXPECT_TRUE(traced("Alloc failed: Size 8 File %s Line %d\n", nullptr, line));
  line = __LINE__ + 1;
  EXPECT_EQ(KX_CALLOC(3, 9), nullptr);
  EXPECT_TRUE(traced("calloc() failed: Size 9 File %s Line %d\n", nullptr, line));
  line = __LINE__ + 1;
  EXPECT_EQ(KX_REALLOC(p, 100), nullptr);
  EXPECT_TRUE(traced("Realloc failed: Old addr %p New Size 100 File %s Line %d\n", p, line));
  kxTestSetFailure(0, 0);
  KX_FREE(p);
}

}  // namespace
