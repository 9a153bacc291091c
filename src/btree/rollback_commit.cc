// Writing a change through a rollback file (the steps are in rollback.h).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "btree/rollback.h"
#include "btree/rollback_layout.h"
#include "platform/os.h"
#include "platform/osfs.h"

namespace jbbrollback {

namespace {
using Write = Change::Write;

int64_t endOf(const Write& w) { return w.pos + int64_t(w.bytes.size()); }

// A nonce no earlier change of this file has used: the clock, the process
// and a count, stirred.
uint64_t newNonce() {
  static uint64_t count = 0;
  uint64_t t = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  uint64_t w = uint64_t(std::chrono::system_clock::now().time_since_epoch().count());
  uint8_t seed[32];
  std::memcpy(seed, &t, 8);
  std::memcpy(seed + 8, &w, 8);
  uint64_t pid = osProcessId(), n = ++count;
  std::memcpy(seed + 16, &pid, 8);
  std::memcpy(seed + 24, &n, 8);
  return checksum(0x6A09E667F3BCC908ULL, seed, sizeof seed);
}

// The change as it will be made: the writes that alter something, and the
// regions they and the cut touch, with their old bytes and new checksums.
struct Plan {
  std::vector<const Write*> writes;
  Record record;
};

// The bytes [pos, pos + n) as the file will hold them once `done` are made
// (bytes the file does not have read as zero).  False when the file cannot
// be read.
bool contentAfter(OsFile* db, uint64_t oldLength, const std::vector<const Write*>& done, int64_t pos, size_t n,
                  std::vector<uint8_t>* out) {
  out->assign(n, 0);
  if (uint64_t(pos) < oldLength) {
    size_t have = size_t(std::min<uint64_t>(n, oldLength - uint64_t(pos)));
    if (osFileRead(db, out->data(), have, pos) != have) return false;
  }
  for (const Write* w : done) {
    int64_t from = std::max(pos, w->pos), to = std::min(pos + int64_t(n), endOf(*w));
    if (from < to) std::memcpy(out->data() + (from - pos), w->bytes.data() + (from - w->pos), size_t(to - from));
  }
  return true;
}

// Leaves out every write that would find its bytes already there.
bool keepEffectiveWrites(OsFile* db, const Change& c, Plan* plan) {
  uint64_t length = plan->record.oldLength;
  std::vector<uint8_t> now;
  for (const Write& w : c.writes) {
    if (w.bytes.empty()) continue;
    bool same = uint64_t(endOf(w)) <= length;
    if (same) {
      if (!contentAfter(db, plan->record.oldLength, plan->writes, w.pos, w.bytes.size(), &now)) return false;
      same = now == w.bytes;
    }
    if (same) continue;
    plan->writes.push_back(&w);
    length = std::max<uint64_t>(length, uint64_t(endOf(w)));
  }
  plan->record.highLength = length;
  plan->record.newLength = c.cutTo >= 0 ? uint64_t(c.cutTo) : length;
  return true;
}

// The touched intervals, merged, in file order, each cut at the old and the
// new length so that it lies wholly before or after each.
std::vector<std::pair<int64_t, int64_t>> touchedIntervals(const Plan& plan) {
  std::vector<std::pair<int64_t, int64_t>> spans;
  for (const Write* w : plan.writes) spans.emplace_back(w->pos, endOf(*w));
  const Record& r = plan.record;
  int64_t lo = int64_t(std::min(r.newLength, r.highLength)), hi = int64_t(std::max(r.newLength, r.highLength));
  if (lo < hi) spans.emplace_back(lo, hi);
  std::sort(spans.begin(), spans.end());
  std::vector<std::pair<int64_t, int64_t>> merged;
  for (const auto& s : spans) {
    if (!merged.empty() && s.first <= merged.back().second) merged.back().second = std::max(merged.back().second, s.second);
    else merged.push_back(s);
  }
  std::vector<std::pair<int64_t, int64_t>> cut;
  for (auto s : merged) {
    for (int64_t at : {int64_t(r.oldLength), int64_t(r.newLength)}) {
      if (s.first < at && at < s.second) {
        cut.emplace_back(s.first, at);
        s.first = at;
      }
    }
    cut.push_back(s);
  }
  std::sort(cut.begin(), cut.end());
  return cut;
}

bool describeRegions(OsFile* db, Plan* plan) {
  Record& r = plan->record;
  std::vector<uint8_t> content;
  for (const auto& span : touchedIntervals(*plan)) {
    Region g;
    g.pos = span.first;
    g.length = uint64_t(span.second - span.first);
    if (!contentAfter(db, r.oldLength, plan->writes, g.pos, size_t(g.length), &content)) return false;
    if (uint64_t(g.pos) < r.oldLength) {
      g.old.resize(size_t(g.length));
      if (osFileRead(db, g.old.data(), g.old.size(), g.pos) != g.old.size()) return false;
    }
    forEachPiece(g.pos, g.length, [&](int64_t at, size_t n) {
      g.newSums.push_back(uint64_t(at) >= r.newLength ? kAbsent : checksum(r.nonce, content.data() + (at - g.pos), n));
    });
    r.regions.push_back(std::move(g));
  }
  return true;
}

// Step 1 and 2: the rollback file, on the disk with its name.
bool writeSideFile(const std::string& side, const Record& r) {
  std::vector<uint8_t> bytes = encode(r);
  OsFile* f = osFileOpen(side.c_str(), OsFileMode::kCreate);
  if (f == nullptr) return false;
  bool ok = osFileWrite(f, bytes.data(), bytes.size(), 0) == bytes.size() && osFileFlush(f) && osFileSyncToDisk(f);
  int err = errno;
  osFileClose(f);
  ok = ok && osSyncFolderOf(side.c_str());
  if (!ok) {
    if (err == 0) err = errno != 0 ? errno : EIO;
    osRemoveFile(side.c_str());
    errno = err;
  }
  return ok;
}

// Step 3.
bool makeChange(OsFile* db, const Plan& plan, int64_t cutTo, Writer& writer) {
  for (const Write* w : plan.writes)
    if (!writer.write(db, w->pos, w->bytes.data(), w->bytes.size())) return false;
  if (cutTo >= 0 && !osFileTruncate(db, cutTo)) return false;
  return osFileFlush(db) && osFileSyncToDisk(db);
}

// The old bytes and length back, and on the disk.
bool putBack(OsFile* db, const Record& r) {
  for (const Region& g : r.regions)
    if (!g.old.empty() && osFileWrite(db, g.old.data(), g.old.size(), g.pos) != g.old.size()) return false;
  return osFileTruncate(db, int64_t(r.oldLength)) && osFileSyncToDisk(db);
}
}  // namespace

CommitResult commit(OsFile* db, const Change& change, Writer& writer) {
  Plan plan;
  plan.record.nonce = newNonce();
  if (!osFileSizeOf(db, &plan.record.oldLength) || !keepEffectiveWrites(db, change, &plan)) {
    if (errno == 0) errno = EIO;
    return CommitResult::kNotStarted;
  }
  if (plan.writes.empty() && plan.record.newLength == plan.record.oldLength) return CommitResult::kDone;
  if (!describeRegions(db, &plan)) {
    if (errno == 0) errno = EIO;
    return CommitResult::kNotStarted;
  }
  std::string side = sideFileOf(osFilePath(db));
  if (!writeSideFile(side, plan.record)) return CommitResult::kNotStarted;
  if (!makeChange(db, plan, change.cutTo, writer)) {
    int err = errno != 0 ? errno : EIO;
    CommitResult result = CommitResult::kLeftPending;
    if (putBack(db, plan.record)) {
      osRemoveFile(side.c_str());
      result = CommitResult::kRestored;
    }
    errno = err;
    return result;
  }
  // The change is whole on the disk.  A rollback file that outlives a power
  // loss finds it so, and is only removed then.
  osRemoveFile(side.c_str());
  return CommitResult::kDone;
}

}  // namespace jbbrollback
