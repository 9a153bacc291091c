// The process-wide return code.
#include <gtest/gtest.h>

#include "messages/GlobalRC.h"
#include "messages_fixture.h"

namespace {
using jbbtest::MessagesTest;
using jbbtest::RepositoryImage;

TEST_F(MessagesTest, TheReturnCodeOnlyRises) {
  RepositoryImage image;
  image.add(77, {{5, " \x01" "warning\n"}});
  image.add(78, {{2, "\x01" "reply\n"}});
  openRepository(image);
  GlobalrC g;
  EXPECT_TRUE(g.set(1228));
  EXPECT_EQ(g.rc, 4);
  EXPECT_TRUE(g.set(9999));
  EXPECT_EQ(g.rc, 12);
  EXPECT_FALSE(g.set(77));
  EXPECT_FALSE(g.set(78));
  EXPECT_EQ(g.rc, 12);
  EXPECT_EQ(g.rcMacroMax, 12);
  EXPECT_EQ(g.rcMax, 12);
}

TEST_F(MessagesTest, ALockThatFailsLeavesTheValuesAndIsReportedOnce) {
  RepositoryImage image;
  image.add(9999, {{6, " \x01" "internal error in %s at line %d: %s"}});
  openRepository(image);
  GlobalrC g;
  globalRC = &g;
  g.lock = nullptr;  // never created: every lock of it fails
  mutexBypass = 0;
  ASSERT_EQ(psMutexCreate(lock_), 0);  // the NLS lock works
  bool raised = g.set(1228);
  psMutexDestroy(lock_);
  mutexBypass = 1;
  EXPECT_FALSE(raised);
  EXPECT_EQ(g.rc, 0);
  ASSERT_EQ(jbbtest::shownTexts().size(), 1u);
  const std::string& shown = jbbtest::shownTexts()[0].second;
  std::string head = "KVE9999E internal error in GlobalRC at line ";
  std::string tail = ": Unable to acquire global rc mutex\n";
  EXPECT_EQ(shown.substr(0, head.size()), head);
  ASSERT_GT(shown.size(), tail.size());
  EXPECT_EQ(shown.substr(shown.size() - tail.size()), tail);
}

TEST(ReturnCodes, ByNumberThenBySeverity) {
  EXPECT_EQ(messageReturnCode(326, 0), 4);
  EXPECT_EQ(messageReturnCode(14987, 6), 4);
  EXPECT_EQ(messageReturnCode(9999, 0), 12);
  EXPECT_EQ(messageReturnCode(100, 3), 12);
  EXPECT_EQ(messageReturnCode(100, 7), 12);
  EXPECT_EQ(messageReturnCode(100, 5), 8);
  EXPECT_EQ(messageReturnCode(100, 4), 0);
  EXPECT_EQ(messageReturnCode(100, 255), 0);
}

TEST(ReturnCodes, Message2046FollowsItsOverride) {
  EXPECT_EQ(messageReturnCode(2046, 0), 12);
  rcOverride2046On = 1;
  EXPECT_EQ(messageReturnCode(2046, 0), 8);
  rcOverride2046Value = 3;
  EXPECT_EQ(messageReturnCode(2046, 0), 3);
  rcOverride2046On = 0;
  rcOverride2046Value = 0;
}

TEST(ReturnCodes, WithoutMessageStateASeverityCountsAsAnError) {
  // The severity query answers 6 when the NLS lock cannot be taken.
  GlobalrC g;
  EXPECT_TRUE(g.set(1086));
  EXPECT_EQ(g.rc, 4);
  EXPECT_TRUE(g.set(100));
  EXPECT_EQ(g.rc, 12);
}

}  // namespace
