// The entry sorter puts entries in the order the builder's in-memory sort
// does, stable, with equal keys dropped but for the first or failing with
// the same text, whether the entries fit one run or are merged from many
// (runs forced small, and few merged at once, so that runs are merged into
// runs first).  Its run files are gone afterwards, whatever happened.
#include <cerrno>
#include <map>

#include "btree/entrysort.h"
#include "bulk_fixture.h"
#include "platform/osfile.h"

using namespace bulktest;
using jbbbulk::EntrySorter;
using jbbbulk::EntryView;
using jbbbulk::SortOptions;

namespace {

// Collects what the sorter hands on; fails at entry failAt, when set.
class Collect : public jbbbulk::EntrySink {
 public:
  bool put(const EntryView& e) override {
    if (got.size() == failAt) return false;
    got.push_back(Entry{Key(reinterpret_cast<const char16_t*>(e.key), e.keyUnits), Bytes(e.data, e.data + e.dataSize)});
    return true;
  }
  const std::string& error() const override { return error_; }
  std::vector<Entry> got;
  size_t failAt = SIZE_MAX;
  std::string error_ = "the sink is full";
};

// Entries in a shuffled order, each key `copies` times with data telling
// the copies apart.
std::vector<Entry> unordered(size_t n, int copies, uint64_t seed) {
  std::vector<Key> keys = jbbbuilder::syntheticPaths(n, seed, u"/home", true);
  std::vector<Entry> out;
  for (int c = 0; c < copies; ++c)
    for (const Key& k : keys) out.push_back(Entry{k, Bytes{uint8_t(c), uint8_t(k.size())}});
  jbbbuilder::Rng rng(seed);
  for (size_t i = out.size(); i > 1; --i) std::swap(out[i - 1], out[rng.below(i)]);
  return out;
}

class EntrySortTest : public ::testing::Test {
 protected:
  std::string near() const { return dir_.file("new.jbbdb"); }
  std::string folder() const { return near().substr(0, near().size() - 10); }

  // Sorts through the sorter; the builder's sort of the same entries is
  // what it must give.
  void expectSameAsBuilder(const std::vector<Entry>& entries, const SortOptions& options) {
    std::vector<Entry> want = entries;
    std::string wantError;
    bool wantOk = jbbbuilder::sortEntries(&want, options.removeDuplicates, &wantError);
    EntrySorter sorter(near(), options);
    for (const Entry& e : entries) ASSERT_TRUE(sorter.put(viewOf(e))) << sorter.error();
    bool ok = sorter.finish();
    ASSERT_EQ(wantOk, ok) << sorter.error();
    if (!ok) {
      EXPECT_EQ(wantError, sorter.error());
      return;
    }
    EXPECT_EQ(want.size(), sorter.count());
    EXPECT_EQ(entries.size() - want.size(), sorter.dropped());
    for (int pass = 0; pass < 2; ++pass) {  // fed twice, the same
      Collect sink;
      ASSERT_TRUE(sorter.feed(&sink)) << sorter.error();
      ASSERT_EQ(want.size(), sink.got.size());
      for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_EQ(want[i].key, sink.got[i].key) << i;
        ASSERT_EQ(want[i].data, sink.got[i].data) << i;
      }
    }
  }

  jbbtest::TempDir dir_;
};

TEST_F(EntrySortTest, OneRunInMemoryNeedsNoFile) {
  std::vector<Entry> entries = unordered(500, 1, 4);
  EntrySorter sorter(near(), SortOptions());
  for (const Entry& e : entries) ASSERT_TRUE(sorter.put(viewOf(e)));
  ASSERT_TRUE(sorter.finish());
  EXPECT_TRUE(filesIn(folder()).empty());
  expectSameAsBuilder(entries, SortOptions());
}

TEST_F(EntrySortTest, ManyRunsMergeInTheBuildersOrder) {
  for (size_t fanIn : {2, 3, 64}) {
    for (bool removeDuplicates : {false, true}) {
      SortOptions options;
      options.runBytes = 4096;  // some 30 entries a run
      options.fanIn = fanIn;
      options.removeDuplicates = removeDuplicates;
      SCOPED_TRACE("fan-in " + std::to_string(fanIn));
      expectSameAsBuilder(unordered(3000, 1, 7 + fanIn), options);
      EXPECT_TRUE(filesIn(folder()).empty());
    }
  }
}

TEST_F(EntrySortTest, DuplicatesAreDroppedButForTheFirstPut) {
  for (size_t runBytes : {size_t(1) << 20, size_t(2048)}) {
    SortOptions options;
    options.runBytes = runBytes;
    options.fanIn = 4;
    options.removeDuplicates = true;
    std::vector<Entry> entries = unordered(700, 3, 21);
    expectSameAsBuilder(entries, options);
    // The first copy of every key is the one kept: the builder agrees, and
    // so does a look at the input.
    EntrySorter sorter(near(), options);
    for (const Entry& e : entries) sorter.put(viewOf(e));
    ASSERT_TRUE(sorter.finish());
    EXPECT_EQ(1400u, sorter.dropped());
    Collect sink;
    ASSERT_TRUE(sorter.feed(&sink));
    std::map<Key, Bytes> first;
    for (const Entry& e : entries) first.emplace(e.key, e.data);
    for (const Entry& e : sink.got) EXPECT_EQ(first[e.key], e.data);
  }
}

TEST_F(EntrySortTest, ADuplicateFailsNamingTheSmallestAsTheBuilderDoes) {
  std::vector<Entry> entries = unordered(2000, 1, 33);
  // Two duplicates, the larger put first, in different runs.
  std::vector<Entry> sorted = entries;
  std::string error;
  ASSERT_TRUE(jbbbuilder::sortEntries(&sorted, false, &error));
  entries.insert(entries.begin() + 10, sorted[1500]);
  entries.push_back(sorted[100]);
  for (size_t runBytes : {size_t(1) << 20, size_t(4096)}) {
    SortOptions options;
    options.runBytes = runBytes;
    options.fanIn = 3;
    expectSameAsBuilder(entries, options);
    EntrySorter sorter(near(), options);
    for (const Entry& e : entries) sorter.put(viewOf(e));
    EXPECT_FALSE(sorter.finish());
    EXPECT_EQ("duplicate key \"" + jbbbuilder::keyToUtf8(sorted[100].key) + "\"", sorter.error());
  }
  EXPECT_TRUE(filesIn(folder()).empty());
}

TEST_F(EntrySortTest, RunFilesAreGoneAfterAFailure) {
  std::vector<Entry> entries = unordered(3000, 1, 8);
  SortOptions options;
  options.runBytes = 4096;
  options.fanIn = 3;
  // A run file that cannot be written, at every stage: the first runs, the
  // merges into longer runs.
  uint64_t writes = 0;
  {
    osFileTestSetFault(OsFaultPlan());  // counts only
    EntrySorter sorter(near(), options);
    for (const Entry& e : entries) sorter.put(viewOf(e));
    ASSERT_TRUE(sorter.finish());
    writes = osFileTestCounts().writes;
    ASSERT_GT(writes, 100u);  // some 75 runs, then merged into 25, 9 and 3
  }
  for (uint64_t nth : {uint64_t(1), uint64_t(40), writes - 30, writes - 1, writes}) {
    OsFaultPlan plan;
    plan.point = OsFaultPoint::kWrite;
    plan.nth = nth;
    plan.error = ENOSPC;
    {
      EntrySorter sorter(near(), options);
      osFileTestSetFault(plan);
      bool ok = true;
      for (const Entry& e : entries) ok = ok && sorter.put(viewOf(e));
      ok = ok && sorter.finish();
      uint64_t faults = osFileTestCounts().faults;
      osFileTestClearFault();
      ASSERT_EQ(1u, faults) << "write " << nth;
      EXPECT_FALSE(ok);
      EXPECT_NE(std::string::npos, sorter.error().find("cannot write")) << sorter.error();
    }
    EXPECT_TRUE(filesIn(folder()).empty()) << "write " << nth;
  }
  // A sink that gives up.
  {
    EntrySorter sorter(near(), options);
    for (const Entry& e : entries) sorter.put(viewOf(e));
    ASSERT_TRUE(sorter.finish());
    EXPECT_FALSE(filesIn(folder()).empty());
    Collect sink;
    sink.failAt = 1000;
    EXPECT_FALSE(sorter.feed(&sink));
    EXPECT_EQ("the sink is full", sorter.error());
  }
  EXPECT_TRUE(filesIn(folder()).empty());
}

}  // namespace
