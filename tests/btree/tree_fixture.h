// Fixtures for the key-operation tests: databases made by the test-database
// builder, opened through bTree, and read back by the builder's independent
// checker.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "btree/jbbtreev.h"
#include "builder/checker.h"
#include "builder/keys.h"
#include "builder/tree.h"
#include "builder/writer.h"

namespace keytest {

using jbbbuilder::Bytes;
using jbbbuilder::Key;

// A bTree whose walk callback records what it is given; it stops the walk
// with stopWith on the stopAt-th entry (1-based) when stopAt is set.
class RecordingTree : public bTree {
 public:
  explicit RecordingTree(uint16_t dataSize) : bTree(dataSize) {}
  int32_t walkCallback(const wchar16* key, const uint8_t* data) override {
    keys.emplace_back(key);
    records.emplace_back(data, data + dataSize);
    if (onEntry) onEntry();
    if (stopAt != 0 && keys.size() == stopAt) return stopWith;
    return 0;
  }
  std::vector<Key> keys;
  std::vector<Bytes> records;
  size_t stopAt = 0;
  int32_t stopWith = 0;
  std::function<void()> onEntry;
};

// A tag that differs between processes, so that two runs of one test (two
// builds tested at once) never share a file.
inline const std::string& processTag() {
  static const std::string tag = [] {
    std::random_device device;
    uint64_t bits = (uint64_t(device()) << 32) ^ uint64_t(device()) ^
                    uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(bits));
    return std::string(buf);
  }();
  return tag;
}

inline std::string tempPath(const std::string& name) {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string unique = std::string(info->test_suite_name()) + "_" + info->name() + "_" + name;
  for (char& c : unique) {
    if (c == '/') c = '_';
  }
  return ::testing::TempDir() + "keys_" + processTag() + "_" + unique + ".jbbdb";
}

class TreeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    closeTree();
    std::remove(path_.c_str());
  }

  // Writes the tree of a shape text (every entry carries keyData(key)).
  void buildShape(const std::string& shape, uint16_t dataSize = 32) {
    jbbbuilder::TreeNode root;
    std::string error;
    ASSERT_TRUE(jbbbuilder::parseShape(shape, dataSize, &root, &error)) << error;
    jbbbuilder::DbSpec spec;
    spec.dataSize = dataSize;
    buildTree(root, spec);
  }

  void buildTree(const jbbbuilder::TreeNode& root, const jbbbuilder::DbSpec& spec) {
    if (path_.empty()) path_ = tempPath("db");
    dataSize_ = spec.dataSize;
    std::string error;
    ASSERT_TRUE(jbbbuilder::writeDatabase(path_, root, spec, &error)) << error;
  }

  // Bulk-loads the keys (each with keyData(key)) and remembers them as the
  // model of what the file holds; a damage kind, if given, is applied to the
  // written file.
  void buildKeys(std::vector<Key> keys, int fill, uint16_t dataSize = 32,
                 jbbbuilder::Damage damage = jbbbuilder::Damage::None) {
    std::string error;
    ASSERT_TRUE(jbbbuilder::sortKeys(&keys, true, &error)) << error;
    jbbbuilder::BulkOptions options;
    options.fill = fill;
    jbbbuilder::TreeNode root;
    ASSERT_TRUE(jbbbuilder::bulkLoad(jbbbuilder::entriesFor(keys, dataSize), options, &root, &error)) << error;
    jbbbuilder::DbSpec spec;
    spec.dataSize = dataSize;
    spec.damage = damage;
    buildTree(root, spec);
    model_.clear();
    for (const Key& k : keys) model_[k] = jbbbuilder::keyData(k, dataSize);
  }

  // n synthetic keys bulk-loaded with a fill chosen per node from 5 to 10,
  // so that deletions meet every kind of sibling; the model holds them.
  // Returns the keys in key order.
  std::vector<Key> buildRandomFill(size_t n, uint64_t seed, bool mixedScripts, const jbbbuilder::Layout& layout = {}) {
    std::vector<Key> keys = jbbbuilder::syntheticPaths(n, seed, u"/data", mixedScripts);
    std::string error;
    EXPECT_TRUE(jbbbuilder::sortKeys(&keys, true, &error)) << error;
    jbbbuilder::BulkOptions options;
    options.fillOf = [seed](int level, int ordinal) {
      jbbbuilder::Rng rng(seed * 1000003u + uint64_t(level) * 7919u + uint64_t(ordinal));
      return 5 + int(rng.below(6));
    };
    jbbbuilder::TreeNode root;
    EXPECT_TRUE(jbbbuilder::bulkLoad(jbbbuilder::entriesFor(keys, 32), options, &root, &error)) << error;
    jbbbuilder::DbSpec spec;
    spec.layout = layout;
    buildTree(root, spec);
    model_.clear();
    for (const Key& k : keys) model_[k] = jbbbuilder::keyData(k, 32);
    return keys;
  }

  void openTree() {
    tree_ = std::make_unique<RecordingTree>(dataSize_);
    ASSERT_EQ(tree_->openBtDb(path_.c_str(), false), 0) << "dbErrno " << tree_->dbErrno;
    ASSERT_EQ(tree_->dbErrno, 0);
  }

  void closeTree() {
    if (tree_ == nullptr) return;
    tree_->closeBtDb();
    tree_.reset();
  }

  // The file as it stands (the caller has flushed).
  jbbbuilder::CheckResult checkFile() {
    jbbbuilder::CheckOptions options;
    options.expectedDataSize = dataSize_;
    return jbbbuilder::checkDatabase(path_, options);
  }

  // Flushes the open tree and returns the shape of the file, which must be
  // well-formed.
  std::string syncedShape() {
    EXPECT_EQ(tree_->syncToDisk(), 0);
    jbbbuilder::CheckResult result = checkFile();
    EXPECT_TRUE(result.ok()) << result.report();
    return result.dump;
  }

  uint8_t* find(const Key& key) { return tree_->Search(key.c_str()); }
  int del(const Key& key) { return tree_->Delete(key.c_str()); }

  std::string path_;
  uint16_t dataSize_ = 32;
  std::unique_ptr<RecordingTree> tree_;
  std::map<Key, Bytes> model_;
};

// Two-digit keys "01", "02", ... for shape texts.
inline std::string keyRange(int from, int to) {
  std::string s;
  char buf[8];
  for (int i = from; i <= to; ++i) {
    std::snprintf(buf, sizeof buf, "%02d", i);
    if (!s.empty()) s += ' ';
    s += buf;
  }
  return s;
}

}  // namespace keytest
