// Deletions cut off by a crash, a power loss or a torn write.  Seeded
// sessions of deletions run as the viewer makes them (one update per
// request: the exclusive lock, Delete, the flush, back to the shared lock)
// while every file-system call is recorded.  Then every state a crash can
// leave is put on the disk in turn, and opened: the open must succeed, take
// back or complete the change in flight, leave no rollback file, and give
// the database byte for byte as it was before that request or as it was
// after it, and after it whenever the request had reported success.
//
//  - a process crash after every call;
//  - a power loss at the end of every sync epoch, keeping a spread of
//    subsets of the calls not yet synced (crashstate.h);
//  - every write torn at each of its sector boundaries.
//
// JBB_CRASH_DELETIONS sets the requests of each session (default 24; the
// sanitizer build 6, under wine 4); JBB_CRASH_KEYS the keys of each database
// (default 240).  The seed is printed, and --gtest_random_seed replays one.
#include <cstdlib>
#include <filesystem>
#include <set>

#include "btree/rollback.h"
#include "crashstate.h"
#include "tree_fixture.h"

namespace keytest {
namespace {

using crashtest::Files;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultDeletions = 6;
#elif defined(_WIN32)
constexpr int kDefaultDeletions = 4;
#else
constexpr int kDefaultDeletions = 24;
#endif

int envNumber(const char* name, int fallback) {
  const char* env = std::getenv(name);
  int n = env != nullptr ? std::atoi(env) : 0;
  return n > 0 ? n : fallback;
}

uint64_t baseSeed() {
  int seed = ::testing::GTEST_FLAG(random_seed);
  return seed != 0 ? uint64_t(seed) : 20261208u;
}

// One request of a session: the calls it made, and whether it reported
// the deletion done.
struct Request {
  size_t start = 0, end = 0;
  bool completed = false;
};

class CrashTest : public TreeTest {
 protected:
  void TearDown() override {
    TreeTest::TearDown();
    std::remove(side().c_str());
  }
  std::string side() const { return jbbrollback::sideFileOf(path_.c_str()); }
  std::vector<std::string> names() const { return {path_, side()}; }

  // Runs the deletions as the viewer does, recording every call.
  void runSession(const std::vector<Key>& deletions) {
    requests_.clear();
    RecordingTree t(32);
    rec_.start(names());
    ASSERT_EQ(t.openBtDb(path_.c_str(), false), 0);
    for (const Key& key : deletions) {
      Request r;
      r.start = rec_.size();
      int rc = t.beginUpdate();
      if (rc == 0) {
        rc = t.Delete(key.c_str());
        if (rc == 0 && t.syncToDisk() != 0) rc = -1;
        t.endUpdate();
      }
      r.end = rec_.size();
      r.completed = rc == 0;
      requests_.push_back(r);
    }
    t.closeBtDb();
    rec_.stop();
  }

  // The database before and after each request, as the recording has it.
  void takeSnapshots() {
    snapshots_.clear();
    for (const Request& r : requests_) {
      snapshots_.push_back(rec_.crashAfter(r.start)[path_]);
      snapshots_.push_back(rec_.crashAfter(r.end)[path_]);
    }
  }

  // The request in flight after n calls (the last that had started), and
  // whether it had finished.
  size_t requestAt(size_t n, bool* finished) const {
    size_t r = 0;
    while (r + 1 < requests_.size() && requests_[r + 1].start < n) ++r;
    *finished = n >= requests_[r].end;
    return r;
  }

  // Puts one crash state on the disk, opens it, and checks what the open
  // made of it.
  void checkState(const Files& files, size_t n, const std::string& what) {
    bool finished = false;
    size_t r = requestAt(n, &finished);
    const Bytes& before = snapshots_[2 * r];
    const Bytes& after = snapshots_[2 * r + 1];
    crashtest::putFiles(files, names());
    {
      RecordingTree t(32);
      int rc = t.openBtDb(path_.c_str(), false);
      ASSERT_EQ(rc, 0) << what << " after call " << n << ": dbErrno " << t.dbErrno << " " << t.pendingWhy();
      t.closeBtDb();
    }
    ++checked_;
    EXPECT_FALSE(std::filesystem::exists(side())) << what << " after call " << n;
    Bytes now = crashtest::readWhole(path_);
    bool isBefore = now == before, isAfter = now == after;
    if (finished) {
      EXPECT_TRUE(isAfter) << what << " after call " << n << ": request " << r << " had finished";
    } else {
      EXPECT_TRUE(isBefore || isAfter) << what << " after call " << n << ": neither before nor after request "
                                       << r;
    }
  }

  void crashEverywhere(uint64_t seed) {
    takeSnapshots();
    size_t failures = 0;
    auto check = [&](const Files& f, size_t n, const char* what) {
      checkState(f, n, what);
      if (::testing::Test::HasFailure() && ++failures > 5) FAIL() << "stopping after the first failures";
    };
    for (size_t n = 0; n <= rec_.size(); ++n) {
      check(rec_.crashAfter(n), n, "crash");
      for (const Files& f : rec_.tornAt(n)) check(f, n, "torn write");
      if (failures > 5) return;
    }
    for (size_t n : rec_.syncEpochEnds())
      for (const Files& f : rec_.powerLossesAfter(n, seed)) check(f, n, "power loss");
  }

  // Every state the session passed through between requests verifies
  // sound, and the last holds the model minus the deletions reported done.
  void expectSnapshotsFollowTheModel(const std::vector<Key>& deletions) {
    std::map<Key, Bytes> model = model_;
    for (size_t i = 0; i < requests_.size(); ++i) {
      if (requests_[i].completed) model.erase(deletions[i]);
    }
    for (size_t i = 1; i < snapshots_.size(); i += 2) {
      jbbbuilder::CheckOptions options(32);
      options.collect = false;
      jbbbuilder::CheckResult r = jbbbuilder::checkImage(snapshots_[i], options);
      EXPECT_TRUE(r.ok()) << "after request " << i / 2 << ":\n" << r.report();
    }
    crashtest::putFiles({{path_, snapshots_.back()}}, names());
    openTree();
    ASSERT_EQ(tree_->walkTree(), 0);
    EXPECT_EQ(tree_->keys.size(), model.size());
    closeTree();
    jbbbuilder::CheckResult result = checkFile();
    EXPECT_TRUE(result.ok()) << result.report();
  }

  std::vector<Key> pick(const std::vector<Key>& keys, int n, uint64_t seed) {
    jbbbuilder::Rng rng(seed);
    std::vector<Key> out;
    for (int i = 0; i < n; ++i) out.push_back(keys[rng.below(keys.size())]);
    return out;
  }

  void session(const jbbbuilder::Layout& layout, bool mixed, bool everyKey, uint64_t seed) {
    size_t n = size_t(envNumber("JBB_CRASH_KEYS", 240));
    std::vector<Key> keys = buildRandomFill(everyKey ? n / 8 : n, seed, mixed, layout);
    std::vector<Key> deletions = keys;
    if (everyKey) {
      jbbbuilder::Rng rng(seed);
      for (size_t i = deletions.size(); i > 1; --i) std::swap(deletions[i - 1], deletions[rng.below(i)]);
    } else {
      deletions = pick(keys, envNumber("JBB_CRASH_DELETIONS", kDefaultDeletions), seed);
    }
    std::printf("crash session: seed %llu, %zu keys, %zu deletions\n", static_cast<unsigned long long>(seed),
                keys.size(), deletions.size());
    runSession(deletions);
    crashEverywhere(seed);
    expectSnapshotsFollowTheModel(deletions);
    std::printf("  %zu calls recorded, %zu states checked\n", rec_.size(), checked_);
  }

  crashtest::Recording rec_;
  std::vector<Request> requests_;
  std::vector<Bytes> snapshots_;
  size_t checked_ = 0;
};

// Free slots between the nodes, so that grown nodes move into them.
TEST_F(CrashTest, DeletionsInAFileWithFreeSlots) {
  jbbbuilder::Layout layout;
  layout.freeSlots = 6;
  layout.freeSlotSize = 400;
  session(layout, true, false, baseSeed());
}

// No slack and mixed-length keys: merged nodes outgrow their slots and move
// to the end of the file.
TEST_F(CrashTest, DeletionsWhoseNodesGrowAndMove) {
  session(jbbbuilder::Layout(), true, false, baseSeed() + 1);
}

// Stale bytes past every node, nodes in a shuffled order.
TEST_F(CrashTest, DeletionsInAShuffledFileWithSlack) {
  jbbbuilder::Layout layout;
  layout.slack = 16;
  layout.shuffle = true;
  layout.shuffleSeed = baseSeed();
  session(layout, false, false, baseSeed() + 2);
}

// Every key deleted, down to the empty tree and the file cut short.
TEST_F(CrashTest, DeletingEveryKey) {
  jbbbuilder::Layout layout;
  layout.freeSlots = 2;
  session(layout, true, true, baseSeed() + 3);
}

}  // namespace
}  // namespace keytest
