// Helpers for the tests of the bulk writer and the entry sorter: entries
// made by the builder, a folder of their own for the files, and the
// builder's in-memory image of the same entries to compare with.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "btree/bulkwriter.h"
#include "builder/builder.h"
#include "trace/tracetest_util.h"

namespace bulktest {

using jbbbuilder::Bytes;
using jbbbuilder::Entry;
using jbbbuilder::Key;

inline jbbbulk::EntryView viewOf(const Entry& e) {
  return jbbbulk::EntryView{reinterpret_cast<const uint16_t*>(e.key.data()), e.key.size(), e.data.data(),
                            e.data.size()};
}

// n distinct entries in key order: synthetic paths (mixed scripts when
// asked), each with its key's data record.
inline std::vector<Entry> sortedEntries(size_t n, uint64_t seed, size_t dataSize, bool mixed = false) {
  std::vector<Key> keys = jbbbuilder::syntheticPaths(n, seed, u"/home", mixed);
  std::string error;
  EXPECT_TRUE(jbbbuilder::sortKeys(&keys, true, &error)) << error;
  return jbbbuilder::entriesFor(keys, dataSize, seed);
}

// The names in the folder.
inline std::set<std::string> filesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

inline Bytes readBytes(const std::string& path) {
  std::string s = jbbtest::readFile(path);
  return Bytes(s.begin(), s.end());
}

// The file the builder makes of the entries with the same options.
inline Bytes builderImage(const std::vector<Entry>& entries, const jbbbulk::BulkSpec& spec) {
  jbbbuilder::BulkOptions bulk;
  bulk.fill = spec.fill.fill;
  bulk.fillOf = spec.fill.fillOf;
  jbbbuilder::TreeNode root;
  std::string error;
  EXPECT_TRUE(jbbbuilder::bulkLoad(entries, bulk, &root, &error)) << error;
  jbbbuilder::DbSpec db;
  db.dataSize = spec.dataSize;
  db.keyLength = spec.keyLength;
  db.rawInfoArea = spec.journalInfoArea;
  db.ctrl.majorVersion = spec.majorVersion;
  db.ctrl.minorVersion = spec.minorVersion;
  db.ctrl.pad1 = spec.pad1;
  db.ctrl.pad2 = spec.pad2;
  jbbbuilder::BuiltImage image;
  EXPECT_TRUE(jbbbuilder::buildImage(root, db, &image, &error)) << error;
  return image.bytes;
}

}  // namespace bulktest
