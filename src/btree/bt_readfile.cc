// Reads of the database file, with the overlay of a read-only object
// (bt_storage.h): the old bytes of a change that a crash cut off, laid over
// what the file holds, so that a reader sees the file as recovery will
// leave it without writing anything.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "btree/bt_storage.h"
#include "btree/jbbtreev.h"

namespace jbbstorage {

namespace {
bool overlaps(const jbbrollback::Pending& p, uint64_t pos, size_t n) {
  if (pos + n > p.oldLength) return true;
  for (const jbbrollback::Pending::Restore& r : p.restores)
    if (pos < uint64_t(r.pos) + r.bytes.size() && uint64_t(r.pos) < pos + n) return true;
  return false;
}
}  // namespace

size_t readFile(bTree& t, void* buf, size_t n, int64_t pos) {
  if (t.overlay == nullptr) return osFileRead(t.dbHandle, buf, n, pos);
  const jbbrollback::Pending& p = *t.overlay;
  if (pos < 0 || uint64_t(pos) >= p.oldLength) {
    errno = 0;
    return 0;
  }
  size_t want = size_t(std::min<uint64_t>(n, p.oldLength - uint64_t(pos)));
  auto* out = static_cast<uint8_t*>(buf);
  // Bytes the change cut off are among the restored ones.
  size_t got = osFileRead(t.dbHandle, out, want, pos);
  if (got < want) {
    if (errno != 0) return got;
    std::memset(out + got, 0, want - got);
  }
  for (const jbbrollback::Pending::Restore& r : p.restores) {
    uint64_t from = std::max<uint64_t>(uint64_t(pos), uint64_t(r.pos));
    uint64_t to = std::min<uint64_t>(uint64_t(pos) + want, uint64_t(r.pos) + r.bytes.size());
    if (from < to) std::memcpy(out + (from - uint64_t(pos)), r.bytes.data() + (from - uint64_t(r.pos)), size_t(to - from));
  }
  errno = 0;
  return want;
}

const uint8_t* viewFile(bTree& t, int64_t pos, size_t n) {
  if (t.overlay != nullptr && (pos < 0 || overlaps(*t.overlay, uint64_t(pos), n))) return nullptr;
  return osFileView(t.dbHandle, pos, n);
}

bool sizeOfFile(bTree& t, uint64_t* size) {
  if (t.overlay == nullptr) return osFileSizeOf(t.dbHandle, size);
  *size = t.overlay->oldLength;
  return true;
}

}  // namespace jbbstorage
