// Replaying recorded file-system calls as a crash or a power loss leaves
// them (crashstate.h).
#include "crashstate.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "platform/osfs.h"

namespace crashtest {

namespace {
constexpr size_t kSector = 512;

void applyData(Bytes& b, const OsFileEvent& e) {
  if (e.kind == OsFileEvent::kTruncate) {
    b.resize(size_t(e.pos));
    return;
  }
  size_t end = size_t(e.pos) + e.bytes.size();
  if (b.size() < end) b.resize(end);
  std::copy(e.bytes.begin(), e.bytes.end(), b.begin() + e.pos);
}
}  // namespace

Bytes readWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The files after n calls, and for each file what a power loss may drop.
struct Recording::Replay {
  struct Inode {
    Bytes cur, durable;
    std::vector<size_t> pending;  // data calls since the last sync
  };
  std::vector<Inode> inodes;
  std::map<std::string, size_t> names, durableNames;
  std::vector<size_t> pendingNames;     // name calls since the last folder sync
  std::map<size_t, size_t> createdBy;   // a create call -> the inode it made

  Files files(const std::map<std::string, size_t>& which, bool durable) const {
    Files out;
    for (const auto& [name, ino] : which) out[name] = durable ? inodes[ino].durable : inodes[ino].cur;
    return out;
  }
};

void Recording::start(const std::vector<std::string>& names) {
  stop();
  start_.clear();
  for (const std::string& n : names)
    if (std::filesystem::exists(n)) start_[n] = readWhole(n);
  events_.clear();
  osFileTestRecord(&events_);
  recording_ = true;
}

void Recording::stop() {
  if (recording_) osFileTestRecord(nullptr);
  recording_ = false;
}

Recording::Replay Recording::replay(size_t n) const {
  Replay r;
  for (const auto& [name, bytes] : start_) {
    r.names[name] = r.inodes.size();
    r.inodes.push_back({bytes, bytes, {}});
  }
  r.durableNames = r.names;
  for (size_t k = 0; k < n && k < events_.size(); ++k) {
    const OsFileEvent& e = events_[k];
    auto named = r.names.find(e.path);
    switch (e.kind) {
      case OsFileEvent::kCreate:
        if (named != r.names.end()) {  // an existing file emptied
          r.inodes[named->second].cur.clear();
          r.inodes[named->second].pending.push_back(k);
        } else {
          r.createdBy[k] = r.inodes.size();
          r.names[e.path] = r.inodes.size();
          r.inodes.push_back({});
          r.pendingNames.push_back(k);
        }
        break;
      case OsFileEvent::kWrite:
      case OsFileEvent::kTruncate:
        if (named == r.names.end()) break;  // a file the test does not follow
        applyData(r.inodes[named->second].cur, e);
        r.inodes[named->second].pending.push_back(k);
        break;
      case OsFileEvent::kSync:
        if (named == r.names.end()) break;
        r.inodes[named->second].durable = r.inodes[named->second].cur;
        r.inodes[named->second].pending.clear();
        break;
      case OsFileEvent::kSyncFolder:
        // Every followed file lives in the test's one folder.
        r.durableNames = r.names;
        r.pendingNames.clear();
        break;
      case OsFileEvent::kRename:
      case OsFileEvent::kLink:
        if (named == r.names.end()) break;
        r.names[e.to] = named->second;
        if (e.kind == OsFileEvent::kRename) r.names.erase(e.path);
        r.pendingNames.push_back(k);
        break;
      case OsFileEvent::kRemove:
        if (named == r.names.end()) break;
        r.names.erase(named);
        r.pendingNames.push_back(k);
        break;
    }
  }
  return r;
}

Files Recording::crashAfter(size_t n) const {
  Replay r = replay(n);
  return r.files(r.names, false);
}

std::vector<size_t> Recording::syncEpochEnds() const {
  std::vector<size_t> ends;
  for (size_t k = 0; k < events_.size(); ++k)
    if (events_[k].kind == OsFileEvent::kSync || events_[k].kind == OsFileEvent::kSyncFolder) ends.push_back(k);
  ends.push_back(events_.size());
  return ends;
}

namespace {
// The files a power loss leaves when it keeps the pending data calls in
// `keep` and the first `names` pending name calls.
Files lossState(const std::vector<OsFileEvent>& events, const std::map<size_t, size_t>& createdBy,
                const std::vector<Bytes>& durable, const std::vector<std::vector<size_t>>& pending,
                const std::map<std::string, size_t>& durableNames, const std::vector<size_t>& pendingNames,
                const std::set<size_t>& keep, size_t names) {
  std::vector<Bytes> content = durable;
  for (size_t ino = 0; ino < content.size(); ++ino)
    for (size_t k : pending[ino])
      if (keep.count(k) != 0) {
        if (events[k].kind == OsFileEvent::kCreate) content[ino].clear();
        else applyData(content[ino], events[k]);
      }
  std::map<std::string, size_t> m = durableNames;
  for (size_t j = 0; j < names && j < pendingNames.size(); ++j) {
    const OsFileEvent& e = events[pendingNames[j]];
    auto named = m.find(e.path);
    if (e.kind == OsFileEvent::kCreate) {
      m[e.path] = createdBy.at(pendingNames[j]);
    } else if (named != m.end()) {
      size_t ino = named->second;
      if (e.kind != OsFileEvent::kLink) m.erase(named);
      if (e.kind != OsFileEvent::kRemove) m[e.to] = ino;
    }
  }
  Files out;
  for (const auto& [name, ino] : m) out[name] = content[ino];
  return out;
}
}  // namespace

std::vector<Files> Recording::powerLossesAfter(size_t n, uint64_t seed) const {
  Replay r = replay(n);
  std::vector<Bytes> durable;
  std::vector<std::vector<size_t>> pending;
  std::vector<size_t> all;
  for (const Replay::Inode& ino : r.inodes) {
    durable.push_back(ino.durable);
    pending.push_back(ino.pending);
    all.insert(all.end(), ino.pending.begin(), ino.pending.end());
  }
  std::sort(all.begin(), all.end());
  std::vector<std::set<size_t>> keeps;
  keeps.emplace_back();
  for (size_t i = 1; i <= all.size(); ++i) keeps.emplace_back(all.begin(), all.begin() + long(i));
  for (size_t i = 0; i < all.size(); ++i) {
    std::set<size_t> s(all.begin(), all.end());
    s.erase(all[i]);
    keeps.push_back(s);
  }
  std::mt19937_64 rng(seed ^ (uint64_t(n) * 0x9E3779B97F4A7C15ULL));
  for (int i = 0; i < 4 && all.size() > 2; ++i) {
    std::set<size_t> s;
    for (size_t k : all)
      if (rng() & 1) s.insert(k);
    keeps.push_back(s);
  }
  std::vector<Files> out;
  std::set<Files> seen;
  auto add = [&](const std::set<size_t>& keep, size_t names) {
    Files f = lossState(events_, r.createdBy, durable, pending, r.durableNames, r.pendingNames, keep, names);
    if (seen.insert(f).second) out.push_back(std::move(f));
  };
  for (const auto& keep : keeps) add(keep, r.pendingNames.size());
  for (size_t names = 0; names < r.pendingNames.size(); ++names) {
    add({}, names);
    add(std::set<size_t>(all.begin(), all.end()), names);
  }
  return out;
}

std::vector<Files> Recording::tornAt(size_t n) const {
  std::vector<Files> out;
  if (n == 0 || n > events_.size() || events_[n - 1].kind != OsFileEvent::kWrite) return out;
  const OsFileEvent& w = events_[n - 1];
  Replay before = replay(n - 1);
  auto named = before.names.find(w.path);
  if (named == before.names.end()) return out;
  // The write's bytes cut at the file's sector boundaries.
  std::vector<std::pair<size_t, size_t>> pieces;
  size_t at = size_t(w.pos), end = at + w.bytes.size();
  while (at < end) {
    size_t next = std::min(end, (at / kSector + 1) * kSector);
    pieces.emplace_back(at, next);
    at = next;
  }
  auto withPieces = [&](size_t from, size_t to) {
    Files f = before.files(before.names, false);
    Bytes& b = f[w.path];
    for (size_t i = from; i < to; ++i) {
      size_t a = pieces[i].first, z = pieces[i].second;
      if (b.size() < z) b.resize(z);
      std::copy(w.bytes.begin() + long(a - size_t(w.pos)), w.bytes.begin() + long(z - size_t(w.pos)), b.begin() + long(a));
    }
    out.push_back(std::move(f));
  };
  for (size_t k = 1; k < pieces.size(); ++k) {
    withPieces(0, k);
    withPieces(k, pieces.size());
  }
  return out;
}

void putFiles(const Files& files, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    auto f = files.find(name);
    if (f == files.end()) {
      std::error_code ignored;
      std::filesystem::remove(name, ignored);
      continue;
    }
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(f->second.data()), std::streamsize(f->second.size()));
  }
}

}  // namespace crashtest
