// Reading rollback files: their encoding and checksums, and what one found
// beside a database means (inspect, recover, applyTo).
#include "btree/rollback.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "btree/format.h"
#include "btree/rollback_layout.h"
#include "platform/osfs.h"

using namespace jbbformat;

namespace jbbrollback {

namespace {
constexpr char kMagic[8] = {'j', 'b', 'b', 'R', 'B', 'K', '0', '1'};

uint64_t mix(uint64_t h) {
  h ^= h >> 31;
  h *= 0x7FB5D329728EA185ULL;
  h ^= h >> 27;
  h *= 0x81DADEF4BC2DD44DULL;
  h ^= h >> 33;
  return h;
}
}  // namespace

uint64_t checksum(uint64_t seed, const uint8_t* bytes, size_t n) {
  // Two lanes over 8-byte words, each word stirred in with a multiply, so
  // that a change of any bit, or of a word's place, changes the result.
  uint64_t a = mix(seed ^ 0x243F6A8885A308D3ULL ^ n), b = mix(seed + 0x13198A2E03707344ULL);
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    a = (a ^ getU64(bytes + i)) * 0x9E3779B97F4A7C15ULL;
    b = (b ^ getU64(bytes + i + 8)) * 0xC2B2AE3D27D4EB4FULL;
    a = (a << 29) | (a >> 35);
    b = (b << 31) | (b >> 33);
  }
  for (; i < n; ++i) a = (a ^ bytes[i]) * 0x100000001B3ULL;
  uint64_t h = mix(a ^ mix(b));
  return h == kAbsent ? 1 : h;
}

std::vector<uint8_t> encode(const Record& r) {
  std::vector<uint8_t> out(kHeaderSize);
  for (const Region& g : r.regions) {
    size_t at = out.size();
    out.resize(at + 16 + g.old.size() + 8 * g.newSums.size());
    putI64(&out[at], g.pos);
    putU64(&out[at + 8], g.length);
    if (!g.old.empty()) std::memcpy(&out[at + 16], g.old.data(), g.old.size());
    at += 16 + g.old.size();
    for (uint64_t sum : g.newSums) {
      putU64(&out[at], sum);
      at += 8;
    }
  }
  uint8_t* h = out.data();
  std::memcpy(h, kMagic, 8);
  putU64(h + 8, r.nonce);
  putU64(h + 16, r.oldLength);
  putU64(h + 24, r.newLength);
  putU64(h + 32, r.highLength);
  putU32(h + 40, uint32_t(r.regions.size()));
  putU32(h + 44, kSectorSize);
  putU64(h + 48, checksum(r.nonce, h + kHeaderSize, out.size() - kHeaderSize));
  putU64(h + 56, checksum(r.nonce, h, 56));
  return out;
}

namespace {
size_t pieceCount(int64_t pos, uint64_t length) {
  size_t n = 0;
  forEachPiece(pos, length, [&](int64_t, size_t) { ++n; });
  return n;
}

// Reads the regions of a body whose checksum was found right.
bool decodeRegions(const uint8_t* p, size_t n, uint32_t count, Record* r) {
  size_t at = 0;
  int64_t lastEnd = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (n - at < 16) return false;
    Region g;
    g.pos = getI64(p + at);
    g.length = getU64(p + at + 8);
    at += 16;
    if (g.pos < lastEnd || g.length == 0 || g.length > (uint64_t(1) << 40)) return false;
    lastEnd = g.pos + int64_t(g.length);
    if (uint64_t(g.pos) < r->oldLength) {
      if (n - at < g.length) return false;
      g.old.assign(p + at, p + at + g.length);
      at += g.length;
    }
    size_t pieces = pieceCount(g.pos, g.length);
    if ((n - at) / 8 < pieces) return false;
    for (size_t k = 0; k < pieces; ++k, at += 8) g.newSums.push_back(getU64(p + at));
    r->regions.push_back(std::move(g));
  }
  return at == n;
}
}  // namespace

bool decode(const uint8_t* bytes, size_t n, Record* r) {
  if (n < kHeaderSize || std::memcmp(bytes, kMagic, 8) != 0) return false;
  uint64_t nonce = getU64(bytes + 8);
  if (getU64(bytes + 56) != checksum(nonce, bytes, 56)) return false;
  if (getU32(bytes + 44) != kSectorSize) return false;
  if (getU64(bytes + 48) != checksum(nonce, bytes + kHeaderSize, n - kHeaderSize)) return false;
  *r = Record();
  r->nonce = nonce;
  r->oldLength = getU64(bytes + 16);
  r->newLength = getU64(bytes + 24);
  r->highLength = getU64(bytes + 32);
  return decodeRegions(bytes + kHeaderSize, n - kHeaderSize, getU32(bytes + 40), r);
}

std::string sideFileOf(const char* dbPath) { return std::string(dbPath) + "-rollback"; }

void Change::write(int64_t pos, const void* bytes, size_t n) {
  const auto* b = static_cast<const uint8_t*>(bytes);
  writes.push_back(Write{pos, std::vector<uint8_t>(b, b + n)});
}

// ---------------------------------------------------------------------------
// Judging a rollback file.

namespace {
// The whole rollback file; false when there is none (errno ENOENT) or it
// cannot be read.
bool readSideFile(const std::string& path, std::vector<uint8_t>* bytes) {
  OsFile* f = osFileOpen(path.c_str(), OsFileMode::kRead);
  if (f == nullptr) return false;
  uint64_t size = 0;
  bool ok = osFileSizeOf(f, &size) && size < (uint64_t(1) << 40);
  if (ok) {
    bytes->resize(size_t(size));
    ok = osFileRead(f, bytes->data(), bytes->size(), 0) == bytes->size();
  }
  int err = errno;
  osFileClose(f);
  errno = ok ? 0 : (err != 0 ? err : EIO);
  return ok;
}

std::string where(int64_t pos) { return "the bytes at " + std::to_string(pos); }

// Whether every piece the change wrote holds its new content.
bool holdsNew(OsFile* db, const Record& r, uint64_t length) {
  if (length != r.newLength) return false;
  std::vector<uint8_t> now;
  for (const Region& g : r.regions) {
    if (uint64_t(g.pos) >= r.newLength) continue;
    size_t k = 0;
    bool same = true;
    forEachPiece(g.pos, g.length, [&](int64_t at, size_t n) {
      now.resize(n);
      if (same && (osFileRead(db, now.data(), n, at) != n || checksum(r.nonce, now.data(), n) != g.newSums[k]))
        same = false;
      ++k;
    });
    if (!same) return false;
  }
  return true;
}

// Checks that every piece before the old length holds its old or its new
// content, or is missing because the change cut the file there.  Empty
// when so, else what differs.
std::string checkOldOrNew(OsFile* db, const Record& r, uint64_t length) {
  std::string why;
  std::vector<uint8_t> now;
  for (const Region& g : r.regions) {
    if (uint64_t(g.pos) >= r.oldLength) continue;
    size_t k = 0;
    forEachPiece(g.pos, g.length, [&](int64_t at, size_t n) {
      uint64_t sum = g.newSums[k++];
      if (!why.empty()) return;
      if (uint64_t(at) + n > length) {
        if (r.newLength > uint64_t(at)) why = where(at) + " are missing";
        return;
      }
      now.resize(n);
      if (osFileRead(db, now.data(), n, at) != n) {
        why = where(at) + " cannot be read";
        return;
      }
      bool old = std::memcmp(now.data(), g.old.data() + (at - g.pos), n) == 0;
      if (!old && (sum == kAbsent || checksum(r.nonce, now.data(), n) != sum)) why = where(at) + " were changed since";
    });
    if (!why.empty()) return why;
  }
  return why;
}
}  // namespace

Pending inspect(OsFile* db) {
  Pending p;
  std::vector<uint8_t> bytes;
  if (!readSideFile(sideFileOf(osFilePath(db)), &bytes)) {
    if (errno == ENOENT) return p;
    p.sideFile = true;
    p.state = Pending::kConflict;
    p.why = std::string("the rollback file cannot be read: ") + std::strerror(errno);
    return p;
  }
  p.sideFile = true;
  Record r;
  if (!decode(bytes.data(), bytes.size(), &r)) return p;  // never used
  uint64_t length = 0;
  if (!osFileSizeOf(db, &length)) {
    p.state = Pending::kConflict;
    p.why = std::string("the database's length cannot be read: ") + std::strerror(errno);
    return p;
  }
  if (holdsNew(db, r, length)) {
    p.state = Pending::kComplete;
    return p;
  }
  p.why = length > r.highLength ? "the database is longer than the change could have made it"
                                : checkOldOrNew(db, r, length);
  if (!p.why.empty()) {
    p.state = Pending::kConflict;
    return p;
  }
  p.state = Pending::kRollBack;
  p.oldLength = r.oldLength;
  for (Region& g : r.regions)
    if (uint64_t(g.pos) < r.oldLength) p.restores.push_back(Pending::Restore{g.pos, std::move(g.old)});
  return p;
}

bool recover(OsFile* db, const Pending& p) {
  if (p.state == Pending::kConflict) {
    errno = 0;
    return false;
  }
  if (p.state == Pending::kRollBack) {
    for (const Pending::Restore& r : p.restores)
      if (osFileWrite(db, r.bytes.data(), r.bytes.size(), r.pos) != r.bytes.size()) return false;
    if (!osFileTruncate(db, int64_t(p.oldLength)) || !osFileSyncToDisk(db)) return false;
  }
  if (!p.sideFile) return true;
  std::string side = sideFileOf(osFilePath(db));
  if (!osRemoveFile(side.c_str()) && errno != ENOENT) return false;
  // Gone for good before anyone changes the database again: a rollback
  // file that came back after a later change would not fit it.
  return osSyncFolderOf(side.c_str());
}

void applyTo(const Pending& p, std::vector<uint8_t>* bytes) {
  if (p.state != Pending::kRollBack) return;
  for (const Pending::Restore& r : p.restores) {
    size_t end = size_t(r.pos) + r.bytes.size();
    if (bytes->size() < end) bytes->resize(end);
    std::memcpy(bytes->data() + r.pos, r.bytes.data(), r.bytes.size());
  }
  bytes->resize(size_t(p.oldLength));
}

}  // namespace jbbrollback
