// Long seeded sequences of deletions against a model of the database: after
// every step the file holds exactly the remaining keys with their records
// and is a well-formed tree; reopening it counts the same.
//
// The seed is printed; rerun with --gtest_random_seed=N to replay one.
#include <cstdio>
#include <vector>

#include "tree_fixture.h"

namespace keytest {
namespace {

// A fixed seed unless one is given on the command line.
uint64_t baseSeed() {
  int seed = ::testing::GTEST_FLAG(random_seed);
  return seed != 0 ? uint64_t(seed) : 20261208u;
}

class RandomDeleteTest : public TreeTest {
 protected:
  // Keys bulk-loaded with a fill chosen per node from 5 to 10, so the
  // deletions meet every kind of sibling.
  void buildRandom(size_t n, uint64_t seed, bool mixedScripts) {
    buildRandomFill(n, seed, mixedScripts);
    expectFileMatchesModel("as built");
  }

  // The file must be a sound tree holding exactly the model.
  void expectFileMatchesModel(const std::string& when) {
    jbbbuilder::CheckResult r = checkFile();
    ASSERT_TRUE(r.ok()) << when << "\n" << r.report();
    ASSERT_EQ(r.entries.size(), model_.size()) << when;
    auto m = model_.begin();
    for (const auto& e : r.entries) {
      ASSERT_EQ(e.key, m->first) << when;
      ASSERT_EQ(e.data, m->second) << when;
      ++m;
    }
  }

  void expectReopenedCount(const std::string& when) {
    closeTree();
    openTree();
    ASSERT_EQ(tree_->walkTree(), 0) << when;
    ASSERT_EQ(tree_->keys.size(), model_.size()) << when;
    tree_->keys.clear();
    tree_->records.clear();
  }

  std::vector<Key> shuffledModelKeys(jbbbuilder::Rng& rng) {
    std::vector<Key> order;
    for (const auto& [key, data] : model_) order.push_back(key);
    for (size_t i = order.size(); i > 1; --i) std::swap(order[i - 1], order[rng.below(i)]);
    return order;
  }
};

// The sanitizer build checks a smaller database after every step.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kEveryStepKeys = 1200;
#else
constexpr size_t kEveryStepKeys = 3000;
#endif

TEST_F(RandomDeleteTest, EveryKeyInRandomOrderDownToEmpty) {
  uint64_t seed = baseSeed();
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
  buildRandom(kEveryStepKeys, seed, false);
  openTree();
  jbbbuilder::Rng rng(seed);
  std::vector<Key> order = shuffledModelKeys(rng);
  for (size_t step = 0; step < order.size(); ++step) {
    const Key& key = order[step];
    std::string when = "seed " + std::to_string(seed) + ", step " + std::to_string(step) + ", key " +
                       jbbbuilder::keyToUtf8(key);
    ASSERT_EQ(del(key), 0) << when << ", dbErrno " << tree_->dbErrno;
    model_.erase(key);
    ASSERT_EQ(tree_->syncToDisk(), 0) << when;
    expectFileMatchesModel(when);
    if (step % 500 == 499) expectReopenedCount(when);
  }
  EXPECT_EQ(tree_->walkTree(), 0);
  EXPECT_TRUE(tree_->keys.empty());
  expectReopenedCount("at the end");
}

// Deletions and searches run against the cache for many steps before a
// flush: deferred writes, evictions and released slots meet each other.
TEST_F(RandomDeleteTest, ManyDeletionsBetweenFlushes) {
  uint64_t seed = baseSeed() + 1;
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
  buildRandom(5000, seed, true);
  openTree();
  jbbbuilder::Rng rng(seed);
  std::vector<Key> order = shuffledModelKeys(rng);
  order.resize(3500);
  size_t step = 0;
  for (const Key& key : order) {
    std::string when = "seed " + std::to_string(seed) + ", step " + std::to_string(step) + ", key " +
                       jbbbuilder::keyToUtf8(key);
    // Now and then a key that is not there: nothing changes.
    if (rng.below(8) == 0) {
      Key absent = key + u"~absent";
      ASSERT_EQ(del(absent), 1) << when;
      ASSERT_EQ(tree_->dbErrno, 0) << when;
    }
    ASSERT_EQ(del(key), 0) << when << ", dbErrno " << tree_->dbErrno;
    model_.erase(key);
    ASSERT_EQ(find(key), nullptr) << when;
    // A few remaining keys still find their records.
    for (int probe = 0; probe < 3 && !model_.empty(); ++probe) {
      auto it = model_.lower_bound(order[rng.below(order.size())]);
      if (it == model_.end()) it = model_.begin();
      uint8_t* data = find(it->first);
      ASSERT_NE(data, nullptr) << when << ", probe " << jbbbuilder::keyToUtf8(it->first);
      ASSERT_EQ(Bytes(data, data + 32), it->second) << when;
    }
    if (++step % 97 == 0) {
      ASSERT_EQ(tree_->syncToDisk(), 0) << when;
      expectFileMatchesModel(when);
    }
  }
  ASSERT_EQ(tree_->syncToDisk(), 0);
  expectFileMatchesModel("after the last step");
  expectReopenedCount("after the last step");
}

}  // namespace
}  // namespace keytest
