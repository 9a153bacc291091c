// What the storage layer writes, seen through its trace lines: the control
// record once per active-list cell at a flush, the second root cell met as
// an invalid entry.
#include <cstdio>
#include <string>
#include <vector>

#include "storage_fixture.h"
#include "trace/traceconfig.h"
#include "trace/tracestate.h"

using namespace storagetest;

namespace {

class StorageTraceTest : public StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    ASSERT_NE(trCreateState(), nullptr);
    ASSERT_EQ(trSetClasses("BTREEDB"), 0);
    tracePath = (dir / "storage.trc").string();
  }
  void TearDown() override {
    trDestroyState();
    StorageTest::TearDown();
  }
  // The trace written while `work` runs.
  template <typename F>
  std::string traced(F work) {
    EXPECT_EQ(trOpen(tracePath.c_str(), false), 0);
    work();
    trClose(false);
    Bytes b = readFile(tracePath);
    return std::string(b.begin(), b.end());
  }
  static int occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  std::string tracePath;
};

// A flush with nothing changed writes nothing, not even the control
// record; the second root cell is still met as an invalid entry.
TEST_F(StorageTraceTest, FlushOfAnUnchangedTreeWritesNothing) {
  Image img;
  img.live(node(1, {u"a", u"b"}));
  ASSERT_EQ(open(img), 0);
  std::string trace = traced([&] { EXPECT_EQ(db->FlushMemNodes(), 0); });
  EXPECT_EQ(occurrences(trace, "Writing control rec"), 0);
  EXPECT_EQ(occurrences(trace, "FlushMemNodes() invalid entry in the  activeNode list: 1\n"), 1);
  EXPECT_EQ(occurrences(trace, "RealWrite() entry"), 0);
}

// A flush that carries a change writes the control record once per cell of
// the active list, as the root's two cells after an open show.
TEST_F(StorageTraceTest, FlushOfAChangeWritesTheControlRecordOncePerCell) {
  Image img;
  img.live(node(1, {u"a", u"b"}));
  ASSERT_EQ(open(img), 0);
  NodeP root = db->rootP;
  db->RemoveDatum(&root, 1);
  ASSERT_EQ(db->writePage(&root), 0);
  std::string trace = traced([&] { EXPECT_EQ(db->FlushMemNodes(), 0); });
  EXPECT_EQ(occurrences(trace, "Writing control rec, currentIXCount: 2, lastIndex: 1\n"), 2);
  EXPECT_EQ(occurrences(trace, "RealWrite() entry: indexArray[1]"), 1);
}

TEST_F(StorageTraceTest, NewDatabaseWritesItsControlRecordTwice) {
  std::string trace = traced([&] { ASSERT_EQ(make().openBtDb(path.c_str(), false), 0); });
  EXPECT_EQ(occurrences(trace, "Writing control rec, currentIXCount: 0, lastIndex: 0\n"), 1);
  EXPECT_EQ(occurrences(trace, "Writing control rec, currentIXCount: 2, lastIndex: 1\n"), 1);
  EXPECT_EQ(occurrences(trace, "openBtDb(): Successfully opened db file '" + path + "' .\n"), 1);
}

std::string pointerText(const void* p) {
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

// dbFree names the index entry and its state for every buffer it is given,
// also one never given a subscript, which it then leaves alone.
TEST_F(StorageTraceTest, ReleasingABufferTracesItsEntryAndState) {
  Image img;
  img.live(node(1, {u"f"}, {2, 3}));
  img.live(node(2, {u"a"}));
  img.live(node(3, {u"g"}));
  ASSERT_EQ(open(img), 0);
  NodeP p = db->fetchPage(2);
  ASSERT_TRUE(isRealNode(p));
  std::string count = std::to_string(db->cr.currentIXCount);
  std::string entry2 = pointerText(&db->indexArray[2]);
  std::string trace = traced([&] { db->dbFree(p, "test", 7); });
  EXPECT_NE(trace.find("currentIXCount: " + count + ", found at: " + entry2 + "\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("indexNode at " + entry2 + " state before free: occupied\n"), std::string::npos) << trace;
  EXPECT_EQ(db->indexArray[2].state, kStateClean);

  std::vector<uint8_t> unassigned(256, 0);
  setDiskLoc(unassigned.data(), 0);
  std::string entry0 = pointerText(&db->indexArray[0]);
  trace = traced([&] { db->dbFree(unassigned.data(), "test", 8); });
  EXPECT_NE(trace.find("disk loc: 0\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("currentIXCount: " + count + ", found at: " + entry0 + "\n"), std::string::npos) << trace;
  EXPECT_NE(trace.find("indexNode at " + entry0 + " state before free: INVALID\n"), std::string::npos) << trace;

  // A subscript past the array has no entry at all.
  setDiskLoc(unassigned.data(), 99999);
  std::string none = pointerText(nullptr);
  trace = traced([&] { db->dbFree(unassigned.data(), "test", 9); });
  EXPECT_NE(trace.find("indexNode at " + none + " state before free: INVALID\n"), std::string::npos) << trace;
  EXPECT_EQ(db->indexArray[2].state, kStateClean);
  EXPECT_EQ(db->indexArray[2].node, p);
}

}  // namespace
