// What the storage layer writes, seen through its trace lines: the control
// record once per active-list cell at a flush, the second root cell met as
// an invalid entry.
#include <string>

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

TEST_F(StorageTraceTest, FlushAfterOpeningWritesTheControlRecordOncePerCell) {
  Image img;
  img.live(node(1, {u"a", u"b"}));
  ASSERT_EQ(open(img), 0);
  std::string trace = traced([&] { EXPECT_EQ(db->FlushMemNodes(), 0); });
  EXPECT_EQ(occurrences(trace, "Writing control rec, currentIXCount: 2, lastIndex: 1\n"), 2);
  EXPECT_EQ(occurrences(trace, "FlushMemNodes() invalid entry in the  activeNode list: 1\n"), 1);
  EXPECT_EQ(occurrences(trace, "RealWrite() entry"), 0);
}

TEST_F(StorageTraceTest, NewDatabaseWritesItsControlRecordTwice) {
  std::string trace = traced([&] { ASSERT_EQ(make().openBtDb(path.c_str(), false), 0); });
  EXPECT_EQ(occurrences(trace, "Writing control rec, currentIXCount: 0, lastIndex: 0\n"), 1);
  EXPECT_EQ(occurrences(trace, "Writing control rec, currentIXCount: 2, lastIndex: 1\n"), 1);
  EXPECT_EQ(occurrences(trace, "openBtDb(): Successfully opened db file '" + path + "' .\n"), 1);
}

}  // namespace
