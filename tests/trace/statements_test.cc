// The diagnostic statements as the utility runs them: no trace output, no
// class turned on, no error log.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "trace/trace.h"

namespace {
constexpr char kSourceName[] = "statements_test";

TEST(TrPrint, ClassOffTouchesNeitherArgumentsNorErrno) {
  errno = 34;
  // A format whose argument would fault if it were read.
  trPrint(TR_SITE, 0, "%s", reinterpret_cast<const char*>(uintptr_t{1}));
  trPrintW(TR_SITE, 0, u"%s", reinterpret_cast<const wchar16*>(uintptr_t{1}));
  EXPECT_EQ(errno, 34);
}

TEST(TrPrint, ClassOnWithoutOutputWritesNothingAndKeepsErrno) {
  errno = 2;
  trPrint(TR_SITE, 1, "line %d\n", 7);
  trPrintW(TR_SITE, 1, u"key %s\n", u"abc");
  EXPECT_EQ(errno, 2);
  EXPECT_FALSE(trIsActive());
  EXPECT_EQ(trPrintf(kSourceName, __LINE__, "x %d\n", 1), 0);
}

TEST(TrError, KeepsTheCallersErrnoAndTracesNothing) {
  FILE* f = std::fopen("/nonexistent-dir/none/x", "rb+");
  ASSERT_EQ(f, nullptr);
  int saved = errno;
  EXPECT_EQ(trError(kSourceName, __LINE__, 1, "dbReadCtrlRec(): fopen: errno: %d, \"%s\".\n", errno, "text"), 0);
  EXPECT_EQ(errno, saved);
  EXPECT_EQ(trErrorNoAlloc(kSourceName, __LINE__, 1, "report %d\n", 5), 0);
  EXPECT_EQ(errno, saved);
}

}  // namespace
