// The operating-system version and the NT-family test.
#include "platform/osversion.h"

#include <gtest/gtest.h>

#include "platform/os.h"

namespace {

TEST(OsVersion, NtFamilyExactlyOnWindows) {
  // Asked before getOsVersion, so isNtFamily fills the cache itself.
  const int nt = isNtFamily();
  EXPECT_EQ(nt, osPathSeparator() == '\\' ? 1 : 0);
  uint16_t major = 0xFFFF, minor = 0xFFFF;
  EXPECT_EQ(getOsVersion(major, minor), nt ? 0 : -1);
  if (nt) {
    EXPECT_GE(major, 4);
  }
  EXPECT_LT(major, 256);
  EXPECT_EQ(isNtFamily(), nt) << "the cache is not refreshed";
}

}  // namespace
