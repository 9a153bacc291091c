// Failed writes during deletion sessions: a fault is injected at every write
// point of a seeded session in turn, the session goes on as the viewer's
// would (a failed request is reported, the tree is read again, the next
// request runs), and the file is then read back through a clean file layer.
//
//  - A write that would extend the file failing with ENOSPC (once, or from
//    then on, as on a full disk): the file holds exactly the keys left after
//    the deletions that completed, each with its record, and is sound.
//  - Any write failing once with EIO, or cut short, or a failing flush: the
//    failed request is taken back whole, and the file again holds exactly
//    the keys left after the completed deletions.
//  - A device that fails from some write on, with EIO or short writes:
//    every entry that was never asked to be deleted is still in the file
//    with its record (possibly twice), or reading the file fails cleanly.
//
// JBB_FAULT_DELETIONS sets the session length (default 20, the sanitizer
// build 8); JBB_FAULT_STRIDE > 1 tries only every so many points of the
// device that keeps failing (default 4); JBB_FAULT_SMALL sizes the database
// deleted down to nothing (default 60).  The seed is printed and
// --gtest_random_seed replays one.
#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>

#include "tree_fixture.h"

namespace keytest {
namespace {

uint64_t baseSeed() {
  int seed = ::testing::GTEST_FLAG(random_seed);
  return seed != 0 ? uint64_t(seed) : 20261208u;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultDeletions = 8;
#else
constexpr int kDefaultDeletions = 20;
#endif

int envNumber(const char* name, int fallback) {
  const char* env = std::getenv(name);
  int n = env != nullptr ? std::atoi(env) : 0;
  return n > 0 ? n : fallback;
}

int sessionLength() { return envNumber("JBB_FAULT_DELETIONS", kDefaultDeletions); }

struct Outcome {
  std::set<Key> completed;  // reported deleted
  std::set<Key> asked;      // every key a request named
};

// What a clean reader finds in the file.
struct Found {
  bool readable = false;
  std::multimap<Key, Bytes> entries;
};

class FaultTest : public TreeTest {
 protected:
  // A few thousand keys whose nodes hold 5 to 10 entries, with free slots
  // and slack, so that the deletions borrow, merge, move nodes into free
  // slots and to the end of the file.
  void SetUp() override { build(2500, sessionLength()); }

  // n keys and a seeded session of `deletions` requests; with `all`, every
  // key in a seeded order instead, down to the empty database.
  void build(size_t n, int deletions, bool all = false) {
    deletions_.clear();
    uint64_t seed = baseSeed();
    std::printf("fault sessions: seed %llu, %zu keys, %d deletions\n", static_cast<unsigned long long>(seed), n,
                all ? int(n) : deletions);
    jbbbuilder::Layout layout;
    layout.freeSlots = 6;
    layout.freeSlotSize = 400;
    layout.slack = 16;
    std::vector<Key> keys = buildRandomFill(n, seed, true, layout);
    original_ = readBytes(path_);
    jbbbuilder::Rng rng(seed);
    if (all) {
      deletions_ = keys;
      for (size_t i = deletions_.size(); i > 1; --i) std::swap(deletions_[i - 1], deletions_[rng.below(i)]);
    } else {
      for (int i = 0; i < deletions; ++i) deletions_.push_back(keys[rng.below(keys.size())]);
    }
  }

  void TearDown() override {
    osFileTestClearFault();
    TreeTest::TearDown();
  }

  static Bytes readBytes(const std::string& path) {
    Bytes out;
    std::string error;
    EXPECT_TRUE(jbbbuilder::readFile(path, &out, &error)) << error;
    return out;
  }
  void restoreOriginal() {
    std::string error;
    ASSERT_TRUE(jbbbuilder::writeFile(path_, original_, &error)) << error;
  }

  // One session on the original file, under the plan: each request as the
  // viewer makes it (read the tree again if a failure left it stale, Delete,
  // then write the change).
  Outcome runSession(const OsFaultPlan& plan) {
    restoreOriginal();
    Outcome out;
    RecordingTree t(32);
    osFileTestSetFault(plan);
    if (t.openBtDb(path_.c_str(), false) == 0) {
      for (const Key& key : deletions_) {
        out.asked.insert(key);
        if (t.reloadIfStale() != 0) continue;
        int rc = t.Delete(key.c_str());
        if (rc == 0 && t.syncToDisk() != 0) rc = -1;
        if (rc == 0) out.completed.insert(key);
      }
    }
    // The viewer ends without closing; the object must still not write
    // what it could not write before.
    t.closeBtDb();
    counts_ = osFileTestCounts();
    osFileTestClearFault();
    return out;
  }

  Found readBack() {
    Found found;
    RecordingTree t(32);
    if (t.openBtDb(path_.c_str(), false) == 0 && t.dbErrno == 0 && t.walkTree() == 0) {
      found.readable = true;
      for (size_t i = 0; i < t.keys.size(); ++i) found.entries.emplace(t.keys[i], t.records[i]);
    }
    t.closeBtDb();
    return found;
  }

  // Number of calls of a kind that a fault-free session makes.
  uint64_t pointsOf(OsFaultPoint point) {
    runSession(OsFaultPlan{});
    const OsFileCounts& c = counts_;
    return point == OsFaultPoint::kWrite ? c.writes : point == OsFaultPoint::kFlush ? c.flushes : c.extensions;
  }

  // Exactly the model minus the completed deletions, sound.
  void expectExact(const Outcome& o, const std::string& what) {
    jbbbuilder::CheckResult r = checkFile();
    ASSERT_TRUE(r.ok()) << what << "\n" << r.report();
    std::map<Key, Bytes> expected = model_;
    for (const Key& k : o.completed) expected.erase(k);
    ASSERT_EQ(r.entries.size(), expected.size()) << what;
    auto m = expected.begin();
    for (const auto& e : r.entries) {
      ASSERT_EQ(e.key, m->first) << what;
      ASSERT_EQ(e.data, m->second) << what;
      ++m;
    }
  }

  // Every entry never asked for is there with its record; or the file
  // cannot be read (cleanly).  Returns whether it was readable.
  bool expectNothingLost(const Outcome& o, const std::string& what) {
    Found f = readBack();
    if (!f.readable) return false;
    for (const auto& [key, data] : model_) {
      if (o.asked.count(key) != 0) continue;
      auto range = f.entries.equal_range(key);
      EXPECT_NE(range.first, range.second) << what << ": lost an entry";
      for (auto it = range.first; it != range.second; ++it) EXPECT_EQ(it->second, data) << what;
      if (range.first == range.second) return true;
    }
    return true;
  }

  Bytes original_;
  std::vector<Key> deletions_;
  OsFileCounts counts_;
};

TEST_F(FaultTest, WithoutFaultsTheSessionCompletesAndTheFileIsExact) {
  Outcome o = runSession(OsFaultPlan{});
  EXPECT_FALSE(o.completed.empty());
  expectExact(o, "no fault");
  EXPECT_GT(counts_.extensions, 0u) << "the session should move nodes to the end of the file";
}

TEST_F(FaultTest, FullDiskAtAnyExtensionLeavesExactlyTheCompletedDeletions) {
  uint64_t points = pointsOf(OsFaultPoint::kExtend);
  ASSERT_GT(points, 0u);
  for (bool persistent : {false, true}) {
    for (uint64_t n = 1; n <= points; ++n) {
      std::string what = std::string(persistent ? "full from extension " : "extension ") + std::to_string(n);
      Outcome o = runSession({OsFaultPoint::kExtend, n, ENOSPC, persistent});
      expectExact(o, what);
      if (HasFatalFailure()) return;
    }
  }
}

// A write that fails once, anywhere, takes its request back whole: the
// file ends up exactly as if that request had never been made.
TEST_F(FaultTest, FailedOrShortWriteAnywhereTakesItsRequestBack) {
  uint64_t points = pointsOf(OsFaultPoint::kWrite);
  for (int error : {EIO, 0}) {
    for (uint64_t n = 1; n <= points; ++n) {
      std::string what = std::string(error == 0 ? "short write " : "EIO at write ") + std::to_string(n);
      Outcome o = runSession({OsFaultPoint::kWrite, n, error, false});
      expectExact(o, what);
      if (HasFailure()) return;
    }
  }
}

// A device that fails from some write on cannot be repaired: whatever the
// file was left with still holds every entry never asked for, or cannot be
// read at all.
TEST_F(FaultTest, FailingDeviceFromAnyWriteOnNeverLosesAnEntry) {
  uint64_t points = pointsOf(OsFaultPoint::kWrite);
  int unreadable = 0, runs = 0;
  uint64_t stride = uint64_t(envNumber("JBB_FAULT_STRIDE", 4));
  for (int error : {EIO, 0}) {
    for (uint64_t n = 1 + (error == 0 ? stride / 2 : 0); n <= points; n += stride) {
      Outcome o = runSession({OsFaultPoint::kWrite, n, error, true});
      ++runs;
      if (!expectNothingLost(o, (error == 0 ? "short from write " : "EIO from write ") + std::to_string(n)))
        ++unreadable;
      if (HasFailure()) return;
    }
  }
  std::printf("%d runs on a failing device, %d left a file that fails cleanly\n", runs, unreadable);
}

TEST_F(FaultTest, FailedFlushTakesItsRequestBack) {
  uint64_t points = pointsOf(OsFaultPoint::kFlush);
  for (uint64_t n = 1; n <= points; ++n) {
    Outcome o = runSession({OsFaultPoint::kFlush, n, EIO, false});
    expectExact(o, "flush " + std::to_string(n));
    if (HasFailure()) return;
  }
}

// A small database deleted down to nothing, through every root collapse and
// the re-initialisation after the last key, with a fault at every point.
TEST_F(FaultTest, EveryKeyOfASmallDatabaseWithAFaultAnywhere) {
  build(size_t(envNumber("JBB_FAULT_SMALL", 60)), 0, true);
  struct Kind {
    OsFaultPoint point;
    int error;
    bool persistent;
    bool exact;
  };
  for (const Kind& k : {Kind{OsFaultPoint::kExtend, ENOSPC, false, true}, Kind{OsFaultPoint::kExtend, ENOSPC, true, true},
                        Kind{OsFaultPoint::kWrite, EIO, false, true}, Kind{OsFaultPoint::kWrite, 0, false, true},
                        Kind{OsFaultPoint::kWrite, EIO, true, false}}) {
    uint64_t points = pointsOf(k.point);
    for (uint64_t n = 1; n <= points; ++n) {
      std::string what = "point " + std::to_string(int(k.point)) + " error " + std::to_string(k.error) +
                         (k.persistent ? " from " : " at ") + std::to_string(n);
      Outcome o = runSession({k.point, n, k.error, k.persistent});
      if (k.exact) {
        expectExact(o, what);
      } else {
        expectNothingLost(o, what);
      }
      if (HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace keytest
