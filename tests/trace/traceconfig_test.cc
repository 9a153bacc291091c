// Setting classes and test flags by name.
#include <gtest/gtest.h>

#include "trace/traceconfig.h"

namespace {

class TraceClassesTest : public ::testing::Test {
 protected:
  void SetUp() override { trClass = {}; }
  void TearDown() override { trClass = {}; }
};

TEST_F(TraceClassesTest, NamesInAnyCaseAndRemovalLeftToRight) {
  EXPECT_EQ(trSetClasses("btreedb MEMORY nls -memory"), 0);
  EXPECT_EQ(trClass.BTREEDB, 1);
  EXPECT_EQ(trClass.NLS, 1);
  EXPECT_EQ(trClass.MEMORY, 0);
  EXPECT_EQ(trClass.PREFIX, 0);
}

TEST_F(TraceClassesTest, AllTurnsEveryClassOn) {
  EXPECT_EQ(trSetClasses("ALL -PREFIX"), 0);
  for (int i = 0; traceClassTable[i].name != nullptr; ++i)
    EXPECT_EQ(*traceClassTable[i].flag, std::string(traceClassTable[i].name) == "PREFIX" ? 0 : 1)
        << traceClassTable[i].name;
}

TEST_F(TraceClassesTest, GroupsExpandThroughTheirMembers) {
  const TraceGroupRow groups[] = {
      {"STORAGE", "BTREEDB MEMORY"}, {"QUIET", "STORAGE -MEMORY NLS"}, {"LOOP", "LOOP"}, {nullptr, nullptr}};
  EXPECT_EQ(trSetClasses("QUIET", groups), 0);
  EXPECT_EQ(trClass.BTREEDB, 1);
  EXPECT_EQ(trClass.NLS, 1);
  EXPECT_EQ(trClass.MEMORY, 0);
  EXPECT_EQ(trSetClasses("-STORAGE", groups), 0);
  EXPECT_EQ(trClass.BTREEDB, 0);
  EXPECT_EQ(trClass.NLS, 1);
  // A group that names itself ends instead of recursing without end.
  EXPECT_EQ(trSetClasses("LOOP", groups), -1);
}

TEST_F(TraceClassesTest, AnUnknownNameFailsAfterTheNamesBeforeIt) {
  EXPECT_EQ(trSetClasses("GENERAL NOSUCHCLASS EXTRC"), -1);
  EXPECT_EQ(trClass.GENERAL, 1);
  EXPECT_EQ(trClass.EXTRC, 0);
}

TEST_F(TraceClassesTest, ResetKeepsOnlyTheErrorClass) {
  TraceState* ts = trCreateState();
  ASSERT_NE(ts, nullptr);
  EXPECT_EQ(trSetClasses("ALL"), 0);
  trReset(true);
  EXPECT_EQ(trClass.ERROR, 1);
  EXPECT_EQ(trClass.BTREEDB, 0);
  EXPECT_EQ(trClass.EXTRC_DETAIL, 0);
  trDestroyState();
}

TEST(TestFlags, SetByName) {
  EXPECT_EQ(trSetTestFlag("disablediaglogmsgs", true, 3), 0);
  EXPECT_EQ(trTestFlag.DISABLEDIAGLOGMSGS.set, 1);
  EXPECT_EQ(trTestFlag.DISABLEDIAGLOGMSGS.value, 3);
  EXPECT_EQ(trSetTestFlag("DISABLEDIAGLOGMSGS", false), 0);
  EXPECT_EQ(trTestFlag.DISABLEDIAGLOGMSGS.set, 0);
  EXPECT_EQ(trSetTestFlag("NOSUCHFLAG", true), -1);
}

}  // namespace
