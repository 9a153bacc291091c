// The entry sorter: entries in any order in, the same entries in key order
// out, in memory bounded by the size of one run whatever their number.
//
// Entries are gathered in memory up to SortOptions::runBytes, sorted, and
// written as a run file beside the output (NEAR.runN); at the end the runs
// are merged into one, at most fanIn at a time (into longer runs first when
// there are more).  A sort that fits one run needs no file.  The sort
// is stable: of equal keys the one put first comes first.  Equal keys are
// either dropped but for the first put, or a failure that names the
// smallest such key, before any entry has been handed on.  Every run file
// is removed when the sorter goes, whatever happened.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "btree/entrystream.h"
#include "platform/osfile.h"

namespace jbbbulk {

struct SortOptions {
  bool removeDuplicates = false;
  size_t runBytes = size_t(32) << 20;  // entries held in memory at once
  size_t fanIn = 64;                   // runs read at once
};

class EntrySorter : public EntrySink {
 public:
  // Run files are named after `near`, a file in the folder that gets them.
  EntrySorter(const std::string& near, const SortOptions& options);
  ~EntrySorter() override;
  EntrySorter(const EntrySorter&) = delete;
  EntrySorter& operator=(const EntrySorter&) = delete;

  bool put(const EntryView& entry) override;
  // No more entries: sorts, merges and counts.  False, with error(), for
  // "duplicate key \"K\"" without removeDuplicates, or a run file that
  // cannot be written or read.
  bool finish();
  // After finish: the entries that feed() hands on, and the ones dropped.
  uint64_t count() const { return count_; }
  uint64_t dropped() const { return dropped_; }
  // Whether finish() failed on equal keys.
  bool foundDuplicate() const { return duplicate_; }
  // Hands every entry on in key order (after finish; again if called
  // again).  False when the sink or a run file fails.
  bool feed(EntrySink* sink);

  const std::string& error() const override { return error_; }

 private:
  class RunReader;

  bool fail(const std::string& why);
  bool failIo(const std::string& what, const std::string& path);
  bool spill();
  bool writeRun(const std::vector<const uint8_t*>& records, bool dedupe);
  bool mergeDown();
  bool mergeGroup(size_t first, size_t end, std::vector<std::string>* merged);
  template <class Each>
  bool walk(Each each, bool countDropped);
  template <class Each>
  bool merge(size_t first, size_t end, Each each);
  std::vector<const uint8_t*> sortedRecords() const;
  std::string newRunPath();
  void removeRuns();

  std::string near_;
  SortOptions options_;
  std::vector<uint8_t> buffer_;    // records of the run being gathered
  std::vector<size_t> offsets_;    // where each starts, in the order put
  std::vector<const uint8_t*> sorted_;  // the records in key order, when one run holds all
  std::vector<std::string> runs_;     // run files, oldest entries first
  std::vector<std::string> created_;  // every run file made, to be removed
  bool finished_ = false, failed_ = false, duplicate_ = false;
  uint64_t put_ = 0, count_ = 0, dropped_ = 0;
  std::string error_;
};

}  // namespace jbbbulk
