// The bulk writer writes, entry by entry, exactly the file the builder
// makes in memory of the same entries: over every small count and many
// larger ones, every fill, per-node fills, data sizes and kept control
// fields.  Input it cannot take, and a write that fails, leave neither the
// output nor a temporary file.
#include <cerrno>

#include "bulk_fixture.h"
#include "platform/osfile.h"

using namespace bulktest;
using jbbbulk::BulkResult;
using jbbbulk::BulkSpec;
using jbbbulk::BulkWriter;

namespace {

class BulkWriterTest : public ::testing::Test {
 protected:
  std::string out() const { return dir_.file("new.jbbdb"); }

  // Writes the entries; false with *error when the writer refuses them.
  bool write(const std::vector<Entry>& entries, const BulkSpec& spec, BulkResult* result, std::string* error,
             uint64_t announced = UINT64_MAX) {
    BulkWriter w;
    bool ok = w.begin(out(), announced == UINT64_MAX ? entries.size() : announced, spec);
    for (size_t i = 0; ok && i < entries.size(); ++i) ok = w.put(viewOf(entries[i]));
    ok = ok && w.finish(result);
    if (!ok) *error = w.error();
    return ok;
  }

  void expectSameAsBuilder(const std::vector<Entry>& entries, const BulkSpec& spec) {
    BulkResult r;
    std::string error;
    ASSERT_TRUE(write(entries, spec, &r, &error)) << error;
    Bytes got = readBytes(out());
    Bytes want = builderImage(entries, spec);
    ASSERT_EQ(want.size(), got.size()) << entries.size() << " entries, fill " << spec.fill.fill;
    ASSERT_TRUE(want == got) << entries.size() << " entries, fill " << spec.fill.fill;
    EXPECT_EQ(entries.size(), r.entries);
    EXPECT_EQ(got.size(), r.bytes);
    EXPECT_EQ(std::set<std::string>{"new.jbbdb"}, filesIn(dirPath()));
  }

  std::string dirPath() const {
    std::string f = out();
    return f.substr(0, f.size() - std::string("new.jbbdb").size() - 1);
  }

  jbbtest::TempDir dir_;
};

TEST_F(BulkWriterTest, SameBytesAsTheBuilderForEveryCountAndFill) {
  std::vector<Entry> all = sortedEntries(3000, 11, 32);
  for (int fill = 5; fill <= 10; ++fill) {
    BulkSpec spec;
    spec.fill.fill = fill;
    for (size_t n = 0; n <= 400; n += (n < 150 ? 1 : 7)) {
      std::vector<Entry> entries(all.begin(), all.begin() + long(n));
      expectSameAsBuilder(entries, spec);
    }
    for (size_t n : {1330, 1331, 2000, 2999, 3000}) {
      std::vector<Entry> entries(all.begin(), all.begin() + long(n));
      expectSameAsBuilder(entries, spec);
    }
  }
}

TEST_F(BulkWriterTest, SameBytesWithPerNodeFills) {
  std::vector<Entry> all = sortedEntries(2500, 3, 32, true);
  std::vector<std::function<int(int, int)>> fills = {
      [](int level, int ordinal) { return 5 + (level * 7 + ordinal * 3) % 6; },
      [](int level, int ordinal) { return ordinal % 3 == 0 ? 0 : 10; },  // 0: the plain fill
      [](int level, int) { return level == 0 ? 5 : 10; },
      [](int level, int ordinal) { return level > 0 && ordinal == 0 ? 1 : 0; },  // below the minimum
  };
  for (size_t f = 0; f < fills.size(); ++f) {
    BulkSpec spec;
    spec.fill.fill = 7;
    spec.fill.fillOf = fills[f];
    for (size_t n : {0, 1, 9, 10, 11, 60, 61, 66, 67, 121, 500, 1331, 2500}) {
      SCOPED_TRACE("fillOf " + std::to_string(f));
      expectSameAsBuilder(std::vector<Entry>(all.begin(), all.begin() + long(n)), spec);
    }
  }
}

TEST_F(BulkWriterTest, SameBytesForDataSizesAndKeptControlFields) {
  for (size_t dataSize : {0, 1, 31, 32, 200}) {
    BulkSpec spec;
    spec.dataSize = uint16_t(dataSize);
    spec.keyLength = 7;
    spec.majorVersion = 3;
    spec.minorVersion = 9;
    for (size_t i = 0; i < spec.journalInfoArea.size(); ++i) spec.journalInfoArea[i] = uint8_t(i * 31);
    spec.pad1 = {1, 2, 3, 4};
    spec.pad2 = {5, 6, 7, 8};
    std::vector<Entry> entries = sortedEntries(777, dataSize, dataSize);
    // Data shorter than the data size is zero-padded, as the builder does.
    if (dataSize > 1) entries[5].data.resize(1);
    expectSameAsBuilder(entries, spec);
  }
}

TEST_F(BulkWriterTest, EmptyTreeIsARootWithoutEntries) {
  BulkSpec spec;
  expectSameAsBuilder({}, spec);
  EXPECT_EQ(2160u, readBytes(out()).size());
}

TEST_F(BulkWriterTest, LevelsLargerThanTheirBuffersGoThroughFilesAndAreRemoved) {
  // 6000 entries with 400-byte records: over 2 MB of leaves.
  BulkSpec spec;
  spec.dataSize = 400;
  spec.fill.fill = 6;
  expectSameAsBuilder(sortedEntries(6000, 5, 400), spec);
  BulkResult r;
  std::string error;
  ASSERT_TRUE(write(sortedEntries(6000, 5, 400), spec, &r, &error)) << error;
  jbbbuilder::CheckResult check = jbbbuilder::checkDatabase(out());
  EXPECT_TRUE(check.ok()) << check.report();
  EXPECT_EQ(uint64_t(check.nodes.size()), r.nodes);
  EXPECT_EQ(check.height, r.height);
}

TEST_F(BulkWriterTest, RefusesWhatTheBuilderRefusesAndLeavesNothing) {
  std::vector<Entry> good = sortedEntries(100, 2, 32);
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    uint64_t announced;
    std::string error;
  };
  std::vector<Entry> unordered = good, duplicate = good, zero = good, longData = good, longKey = good;
  std::swap(unordered[40], unordered[41]);
  duplicate[41].key = duplicate[40].key;
  zero[10].key.push_back(u'\0');  // still in order
  longData[20].data.resize(33);
  longKey[30].key.append(16370, u'x');
  std::vector<Case> cases = {
      {"unordered", unordered, 100, "keys not strictly ascending at \"" + jbbbuilder::keyToUtf8(unordered[41].key) + "\""},
      {"duplicate", duplicate, 100, "keys not strictly ascending at \"" + jbbbuilder::keyToUtf8(duplicate[41].key) + "\""},
      {"zero unit", zero, 100, "key \"" + jbbbuilder::keyToUtf8(zero[10].key) + "\" holds a zero unit"},
      {"long data", longData, 100, "data of \"" + jbbbuilder::keyToUtf8(longData[20].key) + "\" is longer than the data size"},
      {"long entry", longKey, 100, "entry \"" + jbbbuilder::keyToUtf8(longKey[30].key) + "\" is longer than 32767 bytes"},
      {"too many", good, 99, "more entries than the 99 announced"},
      {"too few", good, 101, "fewer entries than the 101 announced"},
  };
  for (const Case& c : cases) {
    BulkResult r;
    std::string error;
    EXPECT_FALSE(write(c.entries, BulkSpec(), &r, &error, c.announced)) << c.name;
    EXPECT_EQ(c.error, error) << c.name;
    EXPECT_TRUE(filesIn(dirPath()).empty()) << c.name;
  }
  BulkSpec badFill;
  badFill.fill.fill = 11;
  BulkResult r;
  std::string error;
  EXPECT_FALSE(write(good, badFill, &r, &error));
  EXPECT_EQ("fill must be 5..10", error);
  EXPECT_TRUE(filesIn(dirPath()).empty());
}

TEST_F(BulkWriterTest, AFailedWriteLeavesNoFile) {
  // Large enough that every level but the root spills to its file.
  std::vector<Entry> entries = sortedEntries(20000, 9, 300);
  BulkSpec spec;
  spec.dataSize = 300;
  for (int error : {EIO, ENOSPC, 0}) {
    for (uint64_t nth : {1, 2, 5, 20, 40}) {
      OsFaultPlan plan;
      plan.point = OsFaultPoint::kWrite;
      plan.nth = nth;
      plan.error = error;
      plan.persistent = error == ENOSPC;
      osFileTestSetFault(plan);
      BulkResult r;
      std::string why;
      bool ok = write(entries, spec, &r, &why);
      uint64_t faults = osFileTestCounts().faults;
      osFileTestClearFault();
      if (faults == 0) continue;  // fewer writes than nth
      EXPECT_FALSE(ok) << "write " << nth << " failing";
      EXPECT_NE(std::string::npos, why.find("cannot write")) << why;
      EXPECT_TRUE(filesIn(dirPath()).empty()) << "write " << nth << " failing";
    }
  }
}

}  // namespace
