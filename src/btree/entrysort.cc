// The entry sorter (entrysort.h): runs sorted in memory, written to run
// files, merged.
//
// A record, in memory and in a run file alike:
//   OFFSET    SIZE       FIELD
//   0         4          keyUnits (little-endian)
//   4         4          dataSize (little-endian)
//   8         2 * units  key, each unit big-endian, so that comparing the
//                        bytes compares the units in the tree's order
//   8 + 2n    dataSize   data
// Run files live only as long as the sorter; no other program reads them.
#include "btree/entrysort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "btree/format.h"
#include "platform/osfs.h"

using jbbformat::getU32;
using jbbformat::putU32;

namespace jbbbulk {

namespace {

constexpr size_t kHeader = 8;
constexpr size_t kReadBuffer = 128 * 1024;   // per run being merged
constexpr size_t kWriteBuffer = 1 << 20;
constexpr size_t kPerRecord = 2 * sizeof(size_t);  // its offset, and its place in the sort

size_t keyUnits(const uint8_t* r) { return getU32(r); }
size_t recordSize(const uint8_t* r) { return kHeader + 2 * size_t(getU32(r)) + getU32(r + 4); }

int compareRecords(const uint8_t* a, const uint8_t* b) {
  size_t an = keyUnits(a), bn = keyUnits(b);
  int c = std::memcmp(a + kHeader, b + kHeader, 2 * std::min(an, bn));
  if (c != 0) return c;
  return an < bn ? -1 : an > bn ? 1 : 0;
}

std::vector<uint16_t> keyOf(const uint8_t* r) {
  std::vector<uint16_t> key(keyUnits(r));
  for (size_t i = 0; i < key.size(); ++i) key[i] = uint16_t((r[kHeader + 2 * i] << 8) | r[kHeader + 2 * i + 1]);
  return key;
}

std::string because(int err) { return err != 0 ? std::string(": ") + std::strerror(err) : std::string(); }

// A run file being written, through a buffer.
class RunWriter {
 public:
  explicit RunWriter(const std::string& path) : path_(path) {}
  ~RunWriter() { osFileClose(file_); }
  bool open() {
    file_ = osFileOpen(path_.c_str(), OsFileMode::kCreate);
    buffer_.reserve(kWriteBuffer);
    return file_ != nullptr;
  }
  bool add(const uint8_t* record) {
    size_t n = recordSize(record);
    if (buffer_.size() + n > kWriteBuffer && !flush()) return false;
    buffer_.insert(buffer_.end(), record, record + n);
    return true;
  }
  bool flush() {
    size_t n = buffer_.size();
    if (n > 0 && osFileWrite(file_, buffer_.data(), n, pos_) != n) return false;
    pos_ += int64_t(n);
    buffer_.clear();
    return true;
  }

 private:
  std::string path_;
  OsFile* file_ = nullptr;
  std::vector<uint8_t> buffer_;
  int64_t pos_ = 0;
};

}  // namespace

// A run file being read, one record at a time.
class EntrySorter::RunReader {
 public:
  explicit RunReader(const std::string& path) : path_(path) {}
  ~RunReader() { osFileClose(file_); }
  bool open() {
    file_ = osFileOpen(path_.c_str(), OsFileMode::kRead);
    buffer_.resize(kReadBuffer);
    return file_ != nullptr;
  }
  // Moves to the next record; false at the end of the run or, with
  // failed(), when the file cannot be read.
  bool next() {
    at_ += size_;
    size_ = 0;
    if (!have(kHeader) || !have(recordSize(buffer_.data() + at_))) return false;
    size_ = recordSize(buffer_.data() + at_);
    return true;
  }
  const uint8_t* record() const { return buffer_.data() + at_; }
  bool failed() const { return failed_; }
  const std::string& path() const { return path_; }

 private:
  // Whether n bytes from at_ are in the buffer, reading more when not.
  bool have(size_t n) {
    if (end_ - at_ >= n) return true;
    std::memmove(buffer_.data(), buffer_.data() + at_, end_ - at_);
    end_ -= at_;
    at_ = 0;
    if (buffer_.size() < n) buffer_.resize(n);
    size_t want = buffer_.size() - end_;
    size_t got = osFileRead(file_, buffer_.data() + end_, want, filePos_);
    if (got < want && errno != 0) failed_ = true;
    filePos_ += int64_t(got);
    end_ += got;
    if (end_ >= n) return true;
    if (end_ != 0) failed_ = true;  // a record cut short
    return false;
  }

  std::string path_;
  OsFile* file_ = nullptr;
  std::vector<uint8_t> buffer_;
  size_t at_ = 0, end_ = 0, size_ = 0;
  int64_t filePos_ = 0;
  bool failed_ = false;
};

EntrySorter::EntrySorter(const std::string& near, const SortOptions& options) : near_(near), options_(options) {
  if (options_.fanIn < 2) options_.fanIn = 2;
}

EntrySorter::~EntrySorter() { removeRuns(); }

bool EntrySorter::fail(const std::string& why) {
  if (!failed_) error_ = why;
  failed_ = true;
  return false;
}

bool EntrySorter::failIo(const std::string& what, const std::string& path) {
  int err = errno;
  return fail(what + " " + path + because(err));
}

bool EntrySorter::put(const EntryView& e) {
  if (failed_) return false;
  if (finished_) return fail("an entry after the sort was finished");
  size_t size = kHeader + 2 * e.keyUnits + e.dataSize;
  size_t used = buffer_.size() + kPerRecord * offsets_.size();
  if (!offsets_.empty() && used + size + kPerRecord > options_.runBytes && !spill()) return false;
  if (buffer_.capacity() == 0) buffer_.reserve(std::min<size_t>(options_.runBytes, size_t(64) << 20));
  size_t at = buffer_.size();
  buffer_.resize(at + size);
  uint8_t* r = buffer_.data() + at;
  putU32(r, uint32_t(e.keyUnits));
  putU32(r + 4, uint32_t(e.dataSize));
  for (size_t i = 0; i < e.keyUnits; ++i) {
    r[kHeader + 2 * i] = uint8_t(e.key[i] >> 8);
    r[kHeader + 2 * i + 1] = uint8_t(e.key[i]);
  }
  if (e.dataSize > 0) std::memcpy(r + kHeader + 2 * e.keyUnits, e.data, e.dataSize);
  offsets_.push_back(at);
  ++put_;
  return true;
}

// The records gathered in memory, in key order; equal keys in the order put.
std::vector<const uint8_t*> EntrySorter::sortedRecords() const {
  std::vector<const uint8_t*> records(offsets_.size());
  for (size_t i = 0; i < offsets_.size(); ++i) records[i] = buffer_.data() + offsets_[i];
  std::sort(records.begin(), records.end(), [](const uint8_t* a, const uint8_t* b) {
    int c = compareRecords(a, b);
    return c != 0 ? c < 0 : a < b;  // later records lie further on
  });
  return records;
}

bool EntrySorter::spill() {
  if (!writeRun(sortedRecords(), options_.removeDuplicates)) return false;
  buffer_.clear();
  offsets_.clear();
  return true;
}

// A run file of the records in their order; with dedupe, of each key only
// the first.
bool EntrySorter::writeRun(const std::vector<const uint8_t*>& records, bool dedupe) {
  std::string path = newRunPath();
  runs_.push_back(path);
  RunWriter w(path);
  if (!w.open()) return failIo("cannot write", path);
  for (size_t i = 0; i < records.size(); ++i) {
    if (dedupe && i > 0 && compareRecords(records[i - 1], records[i]) == 0) {
      ++dropped_;
      continue;
    }
    if (!w.add(records[i])) return failIo("cannot write", path);
  }
  if (!w.flush()) return failIo("cannot write", path);
  return true;
}

bool EntrySorter::finish() {
  if (failed_) return false;
  if (finished_) return true;
  finished_ = true;
  if (!runs_.empty()) {
    if (!offsets_.empty() && !spill()) return false;
    std::vector<uint8_t>().swap(buffer_);
    std::vector<size_t>().swap(offsets_);
    if (!mergeDown()) return false;
  } else {
    sorted_ = sortedRecords();
  }
  count_ = 0;
  return walk(
      [this](const uint8_t*) {
        ++count_;
        return true;
      },
      true);
}

// Merges groups of consecutive runs until one is left; runs stay in the
// order of their entries, so equal keys keep theirs.  The entries are then
// read twice (counted, then fed) without a comparison between runs: one
// more file written and read is cheaper than a second merge of many runs.
bool EntrySorter::mergeDown() {
  while (runs_.size() > 1) {
    std::vector<std::string> merged;
    for (size_t first = 0; first < runs_.size(); first += options_.fanIn) {
      size_t end = std::min(runs_.size(), first + options_.fanIn);
      if (!mergeGroup(first, end, &merged)) return false;
    }
    for (const std::string& old : runs_)  // a run alone in its group is kept as it is
      if (std::find(merged.begin(), merged.end(), old) == merged.end()) osRemoveFile(old.c_str());
    runs_ = merged;
  }
  return true;
}

bool EntrySorter::mergeGroup(size_t first, size_t end, std::vector<std::string>* merged) {
  if (end - first == 1) {
    merged->push_back(runs_[first]);
    return true;
  }
  std::string path = newRunPath();
  merged->push_back(path);
  RunWriter w(path);
  if (!w.open()) return failIo("cannot write", path);
  std::vector<uint8_t> lastKey;
  bool ok = merge(first, end, [&](const uint8_t* r) {
    // Dropped here, a duplicate is not seen again; a failing one is left
    // for the last merge, which finds the smallest.
    if (options_.removeDuplicates && !lastKey.empty() && compareRecords(lastKey.data(), r) == 0) {
      ++dropped_;
      return true;
    }
    lastKey.assign(r, r + kHeader + 2 * keyUnits(r));  // the key is all a comparison reads
    return w.add(r) || failIo("cannot write", path);
  });
  return ok && (w.flush() || failIo("cannot write", path));
}

// Calls each(record) for every record in key order, of equal keys the one
// put first, and the others dropped or failing.
template <class Each>
bool EntrySorter::walk(Each each, bool countDropped) {
  std::vector<uint8_t> last;
  auto visit = [&](const uint8_t* r) {
    if (!last.empty() && compareRecords(last.data(), r) == 0) {
      if (!options_.removeDuplicates) {
        std::vector<uint16_t> key = keyOf(r);
        duplicate_ = true;
        return fail("duplicate key \"" + keyToUtf8(key.data(), key.size()) + "\"");
      }
      if (countDropped) ++dropped_;
      return true;
    }
    last.assign(r, r + kHeader + 2 * keyUnits(r));
    return each(r);
  };
  if (runs_.empty()) {
    for (const uint8_t* r : sorted_)
      if (!visit(r)) return false;
    return true;
  }
  return merge(0, runs_.size(), visit);
}

// Merges runs [first, end): each(record) in key order, of equal keys the
// one from the earlier run first.  A tournament of losers: internal node i
// (1 <= i < k) holds the reader that lost the match played there, and
// leaf k + j is reader j, so each record costs about log2(k) comparisons.
template <class Each>
bool EntrySorter::merge(size_t first, size_t end, Each each) {
  std::vector<std::unique_ptr<RunReader>> readers;
  std::vector<char> live;  // whether each reader holds a record
  for (size_t i = first; i < end; ++i) {
    readers.emplace_back(new RunReader(runs_[i]));
    RunReader& r = *readers.back();
    if (!r.open()) return failIo("cannot read", runs_[i]);
    live.push_back(r.next() ? 1 : 0);
    if (!live.back() && r.failed()) return failIo("cannot read", runs_[i]);
  }
  size_t k = readers.size();
  if (k == 0) return true;
  auto before = [&](size_t a, size_t b) -> bool {  // whether a's record goes out first
    if (!live[a] || !live[b]) return live[a];
    int c = compareRecords(readers[a]->record(), readers[b]->record());
    return c != 0 ? c < 0 : a < b;
  };
  std::vector<size_t> loser(k);
  auto play = [&](auto& self, size_t node) -> size_t {
    if (node >= k) return node - k;
    size_t a = self(self, 2 * node), b = self(self, 2 * node + 1);
    bool aWins = before(a, b);
    loser[node] = aWins ? b : a;
    return aWins ? a : b;
  };
  size_t winner = play(play, 1);
  while (live[winner]) {
    RunReader& r = *readers[winner];
    if (!each(r.record())) return false;
    live[winner] = r.next() ? 1 : 0;
    if (!live[winner] && r.failed()) return failIo("cannot read", r.path());
    for (size_t node = (winner + k) / 2; node >= 1; node /= 2)
      if (before(loser[node], winner)) std::swap(loser[node], winner);
  }
  return true;
}

bool EntrySorter::feed(EntrySink* sink) {
  if (failed_) return false;
  if (!finished_) return fail("entries fed before the sort was finished");
  std::vector<uint16_t> key;
  return walk([&](const uint8_t* r) {
    size_t units = keyUnits(r);
    key.resize(units);
    for (size_t i = 0; i < units; ++i) key[i] = uint16_t((r[kHeader + 2 * i] << 8) | r[kHeader + 2 * i + 1]);
    EntryView v{key.data(), units, r + kHeader + 2 * units, getU32(r + 4)};
    return sink->put(v) || fail(sink->error());
  }, false);
}

std::string EntrySorter::newRunPath() {
  created_.push_back(near_ + ".run" + std::to_string(created_.size()));
  return created_.back();
}

// Every run file ever made, merged away or not: a failed merge may leave
// any of them.
void EntrySorter::removeRuns() {
  for (const std::string& path : created_) osRemoveFile(path.c_str());
  created_.clear();
  runs_.clear();
}

}  // namespace jbbbulk
