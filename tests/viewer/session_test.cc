// The run after the pre-check, where it cannot be reached from outside.
#include "viewer/session.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/kxmem.h"

namespace {

TEST(Session, DatabaseObjectThatCannotBeAllocatedFailsWithAMessage) {
  kxTestSetFailure(0, 1);
  testing::internal::CaptureStdout();
  int rc = runSession("jdb", "jdb.jbbdb", 32, false, stdin);
  std::fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  kxTestSetFailure(0, 0);
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(out, "\n\nNot enough memory to open Journal Database file 'jdb.jbbdb'\n\n");
}

}  // namespace
