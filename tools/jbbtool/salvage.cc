// salvage: recovers every entry it can from a damaged database into a new,
// sound one.  The damaged file is only read (under a shared lock, as verify
// reads it), and --out names a new file, or with --force an existing one
// other than the damaged file, which is then held under the exclusive lock
// and kept under a backup name.
//
// How entries are found:
//   1. The record chain is followed from offset 2088.  Where it breaks (a
//      slot shorter than a header or running past the end, or a next
//      header that cannot be one), a scan resynchronises on the next
//      plausible record header, byte by byte, from the end of the last image
//      that could be read.  A header found by the scan is plausible when its
//      reserved field is 0, its state 0 or 1, its subscript positive, and
//      either its node image frames completely (a live record) or another
//      plausible header or the end of the file follows its slot (a free one).
//   2. A node image holds three redundant statements of its extent: the
//      count, nodeSize and the nkl chain of its entries.  The entries are
//      taken when the chain agrees with the count or with nodeSize; when it
//      agrees with neither, the entries framed before the chain broke are
//      taken.  Every entry must hold a terminated key and its data record.
//   3. Free slots hold stale images and are skipped, except one that the
//      tree still refers to (from rootOffset or a live node) while no live
//      record carries its subscript: a node whose state alone is damaged.
//   4. The data size is the stored one unless the entries carry another
//      (the control record then lies about it).  Entries are sorted; of
//      equal keys the first found is kept, live records before free ones.
//   5. They are bulk-loaded into a new database that keeps the old
//      control-record fields (versions, key length, information area).
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "btree/format.h"
#include "btree/frame.h"
#include "jbbtool/session.h"

using namespace jbbformat;
using namespace jbbbuilder;

namespace jbbtool {

namespace {

constexpr size_t kMaxListed = 1000;  // report lines before "... and N more"

struct Header {
  uint32_t nodeSize, reserved, state;
  uint64_t slotLength;
  int32_t diskLoc;
};

Header headerAt(const uint8_t* h) {
  return Header{getU32(h + kNodeSize), getU32(h + kNodeReserved), getU32(h + kNodeRecordState),
                getU64(h + kNodeSlotLength), getI32(h + kNodeDiskLoc)};
}

// An entry found, before the data size is settled; it points into the
// file's image rather than copying the key.
struct Found {
  const uint8_t* key;  // keyUnits little-endian units
  size_t keyUnits;
  const uint8_t* data;  // the data record's first byte
  size_t room;          // bytes from there to the end of its entry
  int64_t offset;
};

// What one record's image gave.
struct ImageRead {
  bool usable = false;   // the header and at least the node base are there
  bool complete = false;  // the chain agreed with the count or nodeSize
  int framed = 0;
  size_t end = 0;          // end of the framed entries, from the record
  std::string why;         // when not complete
  FramedNode node;
};

class Salvager {
 public:
  Salvager(const FileImage& b, FILE* out) : b_(b.data()), size_(b.size()), out_(out) {}

  void run() {
    uint8_t cr[kCtrlRecSize] = {};
    std::memcpy(cr, b_, std::min(size_, kCtrlRecSize));
    if (size_ < kCtrlRecSize) note(0, "the control record is cut short at " + num(size_) + " bytes");
    if (getU16(cr + kCrMagic) != kMagic) note(kCrMagic, "the magic number is damaged; the control record's fields are kept as they are");
    rootOffset_ = getI32(cr + kCrRootOffset);
    storedDataSize_ = getU16(cr + kCrDataSize);
    walkChain();
    takeReferencedFree();
    chooseDataSize();
    jbbbulk::keepControlFields(cr, &spec_);
    spec_.dataSize = uint16_t(dataSize_);
  }

  // Hands every entry found on, in the order found.
  bool feed(jbbbulk::EntrySink* sink) {
    std::vector<uint16_t> key;
    for (const Found& f : found_) {
      key.resize(f.keyUnits);
      jbbformat::getU16s(f.key, key.data(), f.keyUnits);
      if (f.room < dataSize_) {
        note(f.offset, "entry \"" + jbbbulk::keyToUtf8(key.data(), key.size()) +
                           "\" skipped: its data record runs past its entry");
        continue;
      }
      if (!sink->put(jbbbulk::EntryView{key.data(), key.size(), f.data, dataSize_})) return false;
    }
    return true;
  }

  const jbbbulk::BulkSpec& spec() const { return spec_; }
  size_t nodesTaken() const { return nodesTaken_; }
  size_t nodesSkipped() const { return nodesSkipped_; }
  size_t liveRecords() const { return liveRecords_; }
  size_t freeSkipped() const { return freeSkipped_; }

  // "... and N more" once the list is long.
  void finishNotes() {
    if (notes_ > kMaxListed) std::fprintf(out_, "... and %zu more\n", notes_ - kMaxListed);
  }

  // One line of the report; an offset below 0 is about no one place.
  void note(int64_t offset, const std::string& text) {
    if (++notes_ > kMaxListed) return;
    if (offset >= 0)
      std::fprintf(out_, "offset %lld: %s\n", static_cast<long long>(offset), text.c_str());
    else
      std::fprintf(out_, "%s\n", text.c_str());
  }

 private:
  static std::string num(uint64_t v) { return std::to_string(v); }

  // Frames the image of the record at pos; `slotEnd` bounds it.
  ImageRead readImage(size_t pos, const Header& h, size_t slotEnd) {
    ImageRead r;
    size_t limit = slotEnd - pos;
    if (limit < kDiskNodeBaseSize) {
      r.why = "the node image is cut short";
      return r;
    }
    r.usable = true;
    const uint8_t* image = b_ + pos;
    int count = getU16(image + kNodeCount);
    FramedNode byCount, bySize;
    // The chain against the count, bounded by the slot.
    if (count <= kMaxEntries) {
      frameNode(image, limit, count, 0, &byCount);
      if (byCount.framed == count) return finish(r, byCount);
    }
    // The chain against nodeSize.
    if (h.nodeSize >= kDiskNodeBaseSize && h.nodeSize <= limit) {
      frameNode(image, h.nodeSize, kMaxEntries, 0, &bySize);
      if (bySize.end == h.nodeSize) return finish(r, bySize);
    }
    const FramedNode& prefix = count <= kMaxEntries ? byCount : bySize;
    r.node = prefix;
    r.framed = prefix.framed;
    r.end = prefix.end;
    r.why = count > kMaxEntries ? "count " + num(size_t(count)) + " above 10 and nodeSize " + num(h.nodeSize) +
                                      " disagrees with the entries"
                                : "entry " + num(size_t(prefix.framed)) + " cannot be framed (nkl " +
                                      num(prefix.stopNkl) + ")";
    return r;
  }

  static ImageRead finish(ImageRead r, const FramedNode& node) {
    r.complete = true;
    r.node = node;
    r.framed = node.framed;
    r.end = node.end;
    return r;
  }

  // A record found by the chain or the scan: take what its image gives.
  void take(size_t pos, const Header& h, const ImageRead& img) {
    bool free = h.state == kRecordFree;
    if (!free) ++liveRecords_;
    if (!img.usable) {
      if (!free) {
        ++nodesSkipped_;
        note(int64_t(pos), "live record skipped: " + img.why);
      }
      return;
    }
    std::vector<Found> got;
    const uint8_t* image = b_ + pos;
    for (int i = 0; i < img.framed; ++i) {
      const FramedEntry& e = img.node.entries[i];
      if (!e.terminated || e.keyUnits == 0 || !e.dataInside) {  // framed with data size 0
        if (!free) note(int64_t(pos + e.offset), "entry skipped: its key is unterminated, empty or overlaps its data");
        continue;
      }
      got.push_back(Found{image + e.offset + kEntryKey, e.keyUnits, image + e.offset + e.dataAt, e.nkl - e.dataAt,
                          int64_t(pos + e.offset)});
    }
    if (free) {
      if (img.complete && !got.empty()) freeImages_[h.diskLoc].push_back(FreeImage{pos, std::move(got)});
      ++freeSkipped_;
      return;
    }
    if (!img.complete && got.empty()) {
      ++nodesSkipped_;
      note(int64_t(pos), "live record skipped: " + img.why);
      return;
    }
    if (!img.complete)
      note(int64_t(pos), "node image broken: " + img.why + "; " + num(got.size()) + " entries before the break taken");
    bool leaf = img.node.branch[0] == 0;
    if (img.complete && !leaf)
      for (int i = 0; i <= img.framed; ++i) referenced_.insert(img.node.branch[i]);
    liveSubs_.insert(h.diskLoc);
    ++nodesTaken_;
    for (Found& f : got) found_.push_back(std::move(f));
  }

  // A free slot that the tree still refers to, while no live record carries
  // its subscript, is a live node whose state was damaged.
  void takeReferencedFree() {
    referenced_.insert(rootOffset_);
    for (auto& [sub, images] : freeImages_) {
      if (!referenced_.count(sub) || liveSubs_.count(sub) || images.size() != 1) continue;
      FreeImage& f = images.front();
      note(int64_t(f.pos), "free slot taken: the tree refers to its subscript " + num(size_t(sub)) +
                               " and no live record carries it");
      --freeSkipped_;
      ++nodesTaken_;
      for (Found& e : f.entries) found_.push_back(std::move(e));
    }
  }

  // The stored data size, unless the entries carry another one more often.
  void chooseDataSize() {
    dataSize_ = storedDataSize_;
    std::map<size_t, size_t> rooms;
    size_t fitStored = 0;
    for (const Found& f : found_) {
      ++rooms[f.room];
      if (f.room >= storedDataSize_) ++fitStored;
    }
    if (fitStored == found_.size() || rooms.empty()) return;
    auto mode = std::max_element(rooms.begin(), rooms.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    size_t fitMode = 0;
    for (const Found& f : found_) fitMode += f.room >= mode->first ? 1 : 0;
    if (fitMode <= fitStored || mode->first > 0xFFFF) return;
    dataSize_ = mode->first;
    note(kCrDataSize, "dataSize " + num(storedDataSize_) + " does not fit the entries, which carry " + num(dataSize_) +
                          " bytes of data; the new database uses " + num(dataSize_));
  }

  // Whether a record header at q can be believed when nothing leads to it.
  bool plausible(size_t q, bool deep) {
    if (size_ - q < kRecordHeaderSize) return false;
    Header h = headerAt(b_ + q);
    if (h.reserved != 0 || h.state > kRecordFree || h.diskLoc < 1 || h.slotLength < kRecordHeaderSize) return false;
    bool fits = h.slotLength <= size_ - q;
    if (h.state == kRecordFree) {
      if (!fits || h.nodeSize > h.slotLength) return false;
      if (!deep) return true;
      size_t next = q + size_t(h.slotLength);
      return next == size_ || plausible(next, false);
    }
    if (h.nodeSize < kDiskNodeBaseSize || h.nodeSize > h.slotLength || h.nodeSize > size_ - q) return false;
    if (!deep) return true;
    return readImage(q, h, q + h.nodeSize).complete;
  }

  // The first plausible header at or after from, or SIZE_MAX.
  size_t scan(size_t from) {
    for (size_t q = from; q + kRecordHeaderSize <= size_; ++q)
      if (plausible(q, true)) return q;
    return SIZE_MAX;
  }

  // Whether the chain goes on at next: a header whose slot is at least a
  // header long, or, when its slot length is broken, whose image frames.
  bool chainGoesOn(size_t next) {
    if (size_ - next < kRecordHeaderSize) return false;
    Header h = headerAt(b_ + next);
    if (h.slotLength >= kRecordHeaderSize) return true;
    return h.nodeSize >= kDiskNodeBaseSize && h.nodeSize <= size_ - next &&
           readImage(next, h, next + h.nodeSize).complete;
  }

  void walkChain() {
    size_t pos = kCtrlRecSize;
    while (pos < size_) {
      if (size_ - pos < kRecordHeaderSize) {
        note(int64_t(pos), num(size_ - pos) + " bytes after the last record hold no record header");
        return;
      }
      Header h = headerAt(b_ + pos);
      bool slotOk = h.slotLength >= kRecordHeaderSize && h.slotLength <= size_ - pos;
      // A broken slot length still leaves the image, bounded by nodeSize
      // and the file.
      size_t slotEnd = slotOk ? pos + size_t(h.slotLength) : pos + std::min<uint64_t>(h.nodeSize, size_ - pos);
      ImageRead img = readImage(pos, h, slotEnd);
      take(pos, h, img);
      if (slotOk) {
        size_t next = pos + size_t(h.slotLength);
        if (next == size_ || (next < size_ && chainGoesOn(next))) {
          pos = next;
          continue;
        }
      } else {
        note(int64_t(pos + kNodeSlotLength), "slot length " + num(h.slotLength) + " breaks the record chain");
      }
      size_t from = pos + std::max<size_t>(1, img.complete && h.state != kRecordFree ? img.end : 1);
      size_t q = scan(from);
      if (q == SIZE_MAX) {
        size_t covered = std::max(from, slotOk ? pos + size_t(h.slotLength) : pos + img.end);
        if (covered < size_)
          note(int64_t(covered), num(size_ - covered) + " bytes to the end of the file hold no plausible record");
        return;
      }
      size_t expected = slotOk ? pos + size_t(h.slotLength) : from;
      if (q > expected) note(int64_t(expected), num(q - expected) + " bytes without a record header skipped");
      pos = q;
    }
  }

  struct FreeImage {
    size_t pos;
    std::vector<Found> entries;
  };

  const uint8_t* b_;
  size_t size_;
  FILE* out_;
  int32_t rootOffset_ = 0;
  size_t storedDataSize_ = 0, dataSize_ = 0;
  std::vector<Found> found_;
  std::map<int32_t, std::vector<FreeImage>> freeImages_;
  std::set<int32_t> referenced_, liveSubs_;
  size_t nodesTaken_ = 0, nodesSkipped_ = 0, liveRecords_ = 0, freeSkipped_ = 0;
  size_t notes_ = 0;
  jbbbulk::BulkSpec spec_;
};

}  // namespace

int runSalvage(const std::string& file, const OutputOptions& options, const Streams& io) {
  if (options.out.empty()) return message(io, kExitUsage, "salvage needs --out NEW");
  std::string path;
  FileImage db;
  if (int rc = readDatabase(file, io, &path, &db)) return rc;
  HeldDatabase held;
  if (int rc = prepareOutput(options, db.file(), io, &held)) return rc;
  Salvager s(db, io.out);
  s.run();
  NewDatabase target(options, "", io);
  jbbbulk::EntrySorter sorter(target.temporary(), sortOptions(options, true));
  if (!s.feed(&sorter) || !sorter.finish()) return message(io, kExitProblems, sorter.error());
  if (sorter.dropped() > 0)
    s.note(-1, std::to_string(sorter.dropped()) + " duplicate keys dropped (the first found kept)");
  s.finishNotes();
  if (int rc = target.write(sorter.count(), sortedFeed(&sorter, io), s.spec())) return rc;
  std::string backup;
  if (int rc = target.install(&backup)) return rc;
  std::fprintf(io.out,
               "%s: %zu entries recovered from %zu nodes into %s; %zu live records skipped, %zu free slots skipped%s\n",
               path.c_str(), size_t(target.written().entries), s.nodesTaken(), options.out.c_str(), s.nodesSkipped(),
               s.freeSkipped(), keptAs(backup).c_str());
  return kExitOk;
}

}  // namespace jbbtool
