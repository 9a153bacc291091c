// Loading the index array of an existing database from its record chain.
//
// No other structure in the file lists the nodes, and the control record
// may lag behind the records, so the open walks every record header from
// 2088 to the end of the file.  Damaged chains are refused before anything
// is written: a slot shorter than its 24-byte header (0 included) would stop
// the walk from moving, a subscript outside the array would index past it,
// and two live records with one subscript cannot both be reached.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "btree/bt_storage.h"
#include "btree/jbbtreev.h"
#include "platform/osfile.h"
#include "trace/trace.h"

using namespace jbbformat;
using jbbstorage::entryAt;

namespace {
constexpr char kSourceName[] = "jbbtreev";

struct ChainEnd {
  int64_t end;      // where the chain ends: the end of data
  int64_t lastPos;  // position of the last slot, -1 when there is none
  int32_t lastLoc;  // its subscript
  int32_t maxLoc;   // the highest subscript met
};

// The chain ends below 2^62.  Nodes are appended at the end of data, which
// may lie past the end of the file (a last slot claimed longer than what
// was written), and a write position is that end plus a 32-bit length: with
// the end bounded so, no position computed from it can overflow.
constexpr int64_t kMaxChainEnd = int64_t(1) << 62;

// Records one record header at pos in the index.  Returns false (dbErrno 22)
// when the header breaks the chain's invariants.
bool indexRecord(bTree& t, const uint8_t* h, int64_t pos, bool* freeRoot) {
  uint64_t slot = getU64(h + kNodeSlotLength);
  int32_t s = getI32(h + kNodeDiskLoc);
  bool isFree = getU32(h + kNodeRecordState) == kRecordFree;
  indexNode* e = entryAt(t, s);
  if (slot < kRecordHeaderSize || slot > uint64_t(kMaxChainEnd - pos) || e == nullptr) {
    trError(kSourceName, __LINE__, trClass.BTREEDB,
            "openBtDb(): damaged record at %lld: slot length %llu, ixaSubscript %d.\n", static_cast<long long>(pos),
            static_cast<unsigned long long>(slot), int(s));
    t.dbErrno = 22;
    return false;
  }
  if (e->state != kStateUnassigned) {
    // Two live records with one subscript cannot both be reached; a free
    // record that repeats a subscript is only lost space and is left out.
    if (!isFree && e->state != kStateAvailable) {
      trError(kSourceName, __LINE__, trClass.BTREEDB,
              "openBtDb(): two records at %lld and %lld carry ixaSubscript %d.\n",
              static_cast<long long>(e->nodePos), static_cast<long long>(pos), int(s));
      t.dbErrno = 22;
      return false;
    }
    if (isFree) return true;
    t.removeFromList(&t.avlList, s);
  }
  e->nodePos = pos;
  e->slotLength = slot;
  e->nodeSize = getU32(h + kNodeSize);
  if (isFree) {
    e->state = kStateAvailable;
    if (t.addToList(&t.avlList, s) != 0) return false;
    if (s == t.cr.rootOffset) *freeRoot = true;
  } else {
    e->state = kStateOnDisk;
    if (s == t.cr.rootOffset) *freeRoot = false;
  }
  trPrint(TR_SITE, trClass.BTREEDB, "openBTDb() node at: %lld, ixaSubscript: %d\n", static_cast<long long>(pos),
          int(s));
  return true;
}

// The record headers of the chain, read ahead in large blocks: one read
// serves every header inside it, and a block read in file order streams
// from memory where a header a slot would wait for it.
// The block is no larger than the file: a small file costs no large
// buffer.
class HeaderReader {
 public:
  explicit HeaderReader(bTree& t) : t_(t), block_(blockSizeFor(t)) {}
  // The header at pos, or null (errno 0 at the end of the file, else the
  // read's error).
  const uint8_t* at(int64_t pos) {
    // A mapped file is read in place: only the headers are touched.
    if (const uint8_t* inPlace = jbbstorage::viewFile(t_, pos, kRecordHeaderSize)) return inPlace;
    // pos may lie anywhere up to INT64_MAX (a slot length leads there):
    // the test never adds to it.
    if (pos < start_ || uint64_t(pos - start_) + kRecordHeaderSize > length_) {
      start_ = pos;
      length_ = jbbstorage::readFile(t_, block_.data(), block_.size(), pos);
      if (length_ < kRecordHeaderSize) {
        length_ = 0;
        return nullptr;
      }
    }
    return block_.data() + (pos - start_);
  }

 private:
  static constexpr size_t kBlockSize = 256 << 10;
  static size_t blockSizeFor(bTree& t) {
    uint64_t size = 0;
    if (!jbbstorage::sizeOfFile(t, &size) || size >= kBlockSize) return kBlockSize;
    return size < kRecordHeaderSize ? kRecordHeaderSize : size_t(size);
  }
  bTree& t_;
  std::vector<uint8_t> block_;
  int64_t start_ = 0;
  size_t length_ = 0;
};

// Walks the records from pos to the end of the file.  Every step advances
// by at least a header's length, so the walk ends.  Returns 0, or 942 with
// the cause in dbErrno.
int walkChain(bTree& t, int64_t pos, bool* freeRoot, ChainEnd* out) {
  *out = ChainEnd{pos, -1, 0, 0};
  HeaderReader headers(t);
  while (t.dbErrno == 0) {
    const uint8_t* h = headers.at(pos);
    if (h == nullptr) {
      if (errno == 0) break;  // the end of the file
      int err = errno;
      t.dbErrno = err;
      trError(kSourceName, __LINE__, trClass.BTREEDB, "openBtDb(): ferror: errno %d: \"%s\".\n", err,
              std::strerror(err));
      return kResultOpenFailed;
    }
    if (!indexRecord(t, h, pos, freeRoot)) return kResultOpenFailed;
    out->lastPos = pos;
    out->lastLoc = getI32(h + kNodeDiskLoc);
    if (out->lastLoc > out->maxLoc) out->maxLoc = out->lastLoc;
    pos += int64_t(getU64(h + kNodeSlotLength));
    out->end = pos;
  }
  return t.dbErrno != 0 ? kResultOpenFailed : 0;
}

// The control record may lag behind the records or be damaged.  Before a
// subscript is handed out the counts must cover every subscript in the
// file, and the last slot must be the one the chain ends with: the last
// record grows in place, so a stale lastNDRec would let a record grow over
// the one after it.
void alignControlRecord(bTree& t, const ChainEnd& chain) {
  // Subscripts are handed out from currentIXCount, so it must stay inside
  // the array; every subscript in the file is below its capacity already.
  if (t.cr.currentIXCount > t.indexCapacity) t.cr.currentIXCount = t.indexCapacity;
  if (t.cr.indexArraySize > 0 && t.cr.currentIXCount <= uint32_t(chain.maxLoc))
    t.cr.currentIXCount = uint32_t(chain.maxLoc) + 1;
  if (t.cr.indexArraySize > 0 && t.cr.currentIXCount == 0) t.cr.currentIXCount = 1;
  if (chain.lastPos >= 0 && t.cr.lastNDRec != chain.lastPos) {
    t.cr.lastNDRec = chain.lastPos;
    t.cr.lastIndex = chain.lastLoc;
  }
}

// The last slot may reach past the end of the file, where a write of its
// record was cut short, but never by more than the longest slot this
// system writes (a node image): appends go after its claimed end, and a
// claim beyond that would have the next write leave a hole of any size in
// the file (on a file system without holes, that many bytes of disk).
bool lastSlotFitsTheFile(bTree& t, const ChainEnd& chain) {
  uint64_t fileSize = 0;
  if (!jbbstorage::sizeOfFile(t, &fileSize) || chain.end <= int64_t(fileSize) ||
      uint64_t(chain.end) - fileSize <= jbbstorage::kMaxImageSize)
    return true;
  trError(kSourceName, __LINE__, trClass.BTREEDB,
          "openBtDb(): the last slot at %lld ends %llu bytes past the end of the file.\n",
          static_cast<long long>(chain.lastPos), static_cast<unsigned long long>(uint64_t(chain.end) - fileSize));
  t.dbErrno = 22;
  return false;
}
}  // namespace

int jbbstorage::loadRecordChain(bTree& t, int64_t pos, bool* freeRoot, int64_t* endOfData) {
  ChainEnd chain{};
  int rc = walkChain(t, pos, freeRoot, &chain);
  if (rc != 0) return rc;
  if (!lastSlotFitsTheFile(t, chain)) return kResultOpenFailed;
  alignControlRecord(t, chain);
  *endOfData = chain.end;
  return 0;
}
