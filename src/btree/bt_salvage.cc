// The salvage's two passes over a damaged file (salvage.h).
#include "btree/salvage.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "btree/frame.h"
#include "platform/utf8.h"

using namespace jbbformat;

namespace jbbsalvage {

namespace {

constexpr int64_t kNowhere = -1;
// Ten entries of the longest nkl, and the next nkl field: no framing reads
// further into an image.
constexpr size_t kMaxFramed = kDiskNodeBaseSize + 10 * 65535 + kEntryKey;

std::string num(uint64_t v) { return std::to_string(v); }

struct Header {
  uint32_t nodeSize, reserved, state;
  uint64_t slotLength;
  int32_t diskLoc;
};

Header headerAt(const uint8_t* h) {
  return Header{getU32(h + kNodeSize), getU32(h + kNodeReserved), getU32(h + kNodeRecordState),
                getU64(h + kNodeSlotLength), getI32(h + kNodeDiskLoc)};
}

// What one record's image gave.
struct ImageRead {
  bool usable = false;    // the header and at least the node base are there
  bool complete = false;  // the chain agreed with the count or nodeSize
  size_t end = 0;         // end of the framed entries, from the record
  std::string why;        // when not complete
  const uint8_t* image = nullptr;  // good until the source's next read
  FramedNode node;
};

bool goodEntry(const FramedEntry& e) { return e.terminated && e.keyUnits > 0 && e.dataInside; }

bool slotFits(const Header& h, uint64_t pos, uint64_t size) {
  return h.slotLength >= kRecordHeaderSize && h.slotLength <= size - pos;
}

// Where a record's image must end: its slot, or where the slot length is
// broken, its nodeSize within the file.
uint64_t slotEndOf(const Header& h, uint64_t pos, uint64_t size) {
  return slotFits(h, pos, size) ? pos + h.slotLength : pos + std::min<uint64_t>(h.nodeSize, size - pos);
}

// Reads record images and finds plausible headers: the rules by which the
// salvage believes what it reads.
class Reader {
 public:
  explicit Reader(jbbcheck::Source& src) : src_(src), size_(src.size()) {}
  uint64_t size() const { return size_; }
  Header header(uint64_t pos) { return headerAt(src_.bytes(pos, kRecordHeaderSize)); }

  // Frames the image of the record at pos; `slotEnd` bounds it.
  ImageRead image(uint64_t pos, const Header& h, uint64_t slotEnd) {
    ImageRead r;
    uint64_t limit = std::min<uint64_t>(slotEnd - pos, kMaxFramed);
    if (limit < kDiskNodeBaseSize) {
      r.why = "the node image is cut short";
      return r;
    }
    r.usable = true;
    r.image = src_.bytes(pos, size_t(limit));
    int count = getU16(r.image + kNodeCount);
    FramedNode byCount, bySize;
    // The chain against the count, bounded by the slot.
    if (count <= kMaxEntries) {
      frameNode(r.image, size_t(limit), count, 0, &byCount);
      if (byCount.framed == count) return finish(r, byCount);
    }
    // The chain against nodeSize.
    if (h.nodeSize >= kDiskNodeBaseSize && h.nodeSize <= limit) {
      frameNode(r.image, h.nodeSize, kMaxEntries, 0, &bySize);
      if (bySize.end == h.nodeSize) return finish(r, bySize);
    }
    const FramedNode& prefix = count <= kMaxEntries ? byCount : bySize;
    r.node = prefix;
    r.end = prefix.end;
    r.why = count > kMaxEntries ? "count " + num(size_t(count)) + " above 10 and nodeSize " + num(h.nodeSize) +
                                      " disagrees with the entries"
                                : "entry " + num(size_t(prefix.framed)) + " cannot be framed (nkl " +
                                      num(prefix.stopNkl) + ")";
    return r;
  }

  // Whether a record header at q can be believed when nothing leads to it.
  bool plausible(uint64_t q, bool deep) {
    if (size_ - q < kRecordHeaderSize) return false;
    Header h = header(q);
    if (h.reserved != 0 || h.state > kRecordFree || h.diskLoc < 1 || h.slotLength < kRecordHeaderSize) return false;
    bool fits = h.slotLength <= size_ - q;
    if (h.state == kRecordFree) {
      if (!fits || h.nodeSize > h.slotLength) return false;
      if (!deep) return true;
      uint64_t next = q + h.slotLength;
      return next == size_ || plausible(next, false);
    }
    if (h.nodeSize < kDiskNodeBaseSize || h.nodeSize > h.slotLength || h.nodeSize > size_ - q) return false;
    if (!deep) return true;
    return image(q, h, q + h.nodeSize).complete;
  }

  // The first plausible header at or after from, or kNowhere.
  int64_t scan(uint64_t from) {
    for (uint64_t q = from; q + kRecordHeaderSize <= size_; ++q)
      if (plausible(q, true)) return int64_t(q);
    return kNowhere;
  }

  // Whether the chain goes on at next: a header whose slot is at least a
  // header long, or, when its slot length is broken, whose image frames.
  bool chainGoesOn(uint64_t next) {
    if (size_ - next < kRecordHeaderSize) return false;
    Header h = header(next);
    if (h.slotLength >= kRecordHeaderSize) return true;
    return h.nodeSize >= kDiskNodeBaseSize && h.nodeSize <= size_ - next && image(next, h, next + h.nodeSize).complete;
  }

 private:
  static ImageRead finish(ImageRead r, const FramedNode& node) {
    r.complete = true;
    r.node = node;
    r.end = node.end;
    return r;
  }

  jbbcheck::Source& src_;
  uint64_t size_;
};

// What the first pass leaves for the second: a few bytes a node.
struct Judged {
  std::vector<int32_t> referenced;                  // by rootOffset and by live nodes
  std::vector<int32_t> liveSubs;                    // carried by live records taken
  std::vector<std::pair<int32_t, int64_t>> frees;   // whole free images with entries
  std::vector<int64_t> takenFree;                   // the free images taken, in order
  std::map<size_t, size_t> rooms;                   // entries by the bytes their data may take
  size_t fitStored = 0;                             // entries whose data fits the stored size
};

// One pass over the chain.
struct Pass {
  Pass(bool judging, jbbbulk::EntrySink* sink) : judging(judging), sink(sink) {}
  bool judging;  // the first pass: notes and judgement; the second: entries
  jbbbulk::EntrySink* sink;
  bool ok = true;
  std::vector<uint16_t> key;
};

void sortUnique(std::vector<int32_t>* v) {
  std::sort(v->begin(), v->end());
  v->erase(std::unique(v->begin(), v->end()), v->end());
}

bool contains(const std::vector<int32_t>& v, int32_t x) { return std::binary_search(v.begin(), v.end(), x); }

}  // namespace

struct Salvager::State {
  State(jbbcheck::Source& source, Notes& notes) : src(source), notes(notes) {}

  jbbcheck::Source& src;
  Notes& notes;
  uint8_t ctrl[kCtrlRecSize] = {};
  size_t dataSize = 0;
  Counts counts;
  Judged judged;

  void scan();
  bool feed(jbbbulk::EntrySink* sink);
  void emit(Pass& pass, const ImageRead& img, uint64_t pos);
  void take(Pass& pass, uint64_t pos, const Header& h, const ImageRead& img);
  void countEntries(const ImageRead& img);
  void takeReferencedFree();
  void chooseDataSize();
  void walkChain(Pass& pass);
};

Salvager::Salvager(jbbcheck::Source& source, Notes& notes) : state_(new State(source, notes)) {}
Salvager::~Salvager() { delete state_; }
void Salvager::scan() { state_->scan(); }
bool Salvager::feed(jbbbulk::EntrySink* sink) { return state_->feed(sink); }
const uint8_t* Salvager::ctrlRec() const { return state_->ctrl; }
uint16_t Salvager::dataSize() const { return uint16_t(state_->dataSize); }
const Counts& Salvager::counts() const { return state_->counts; }

void Salvager::State::scan() {
  uint64_t size = src.size();
  if (size > 0) std::memcpy(ctrl, src.bytes(0, size_t(std::min<uint64_t>(size, kCtrlRecSize))),
                            size_t(std::min<uint64_t>(size, kCtrlRecSize)));
  counts.ctrlRecShort = size < kCtrlRecSize;
  if (size < kCtrlRecSize) notes.note(0, "the control record is cut short at " + num(size) + " bytes");
  if (getU16(ctrl + kCrMagic) != kMagic)
    notes.note(kCrMagic, "the magic number is damaged; the control record's fields are kept as they are");
  Pass pass(true, nullptr);
  walkChain(pass);
  takeReferencedFree();
  chooseDataSize();
}

bool Salvager::State::feed(jbbbulk::EntrySink* sink) {
  Pass pass(false, sink);
  walkChain(pass);
  Reader reader(src);
  for (int64_t pos : judged.takenFree) {
    if (!pass.ok) break;
    Header h = reader.header(uint64_t(pos));
    ImageRead img = reader.image(uint64_t(pos), h, slotEndOf(h, uint64_t(pos), reader.size()));
    emit(pass, img, uint64_t(pos));
  }
  return pass.ok;
}

// The good entries of a taken image to the sink, but those whose data
// record does not hold the data size.
void Salvager::State::emit(Pass& pass, const ImageRead& img, uint64_t pos) {
  for (int i = 0; i < img.node.framed && pass.ok; ++i) {
    const FramedEntry& e = img.node.entries[i];
    if (!goodEntry(e)) continue;
    pass.key.resize(e.keyUnits);
    getU16s(img.image + e.offset + kEntryKey, pass.key.data(), e.keyUnits);
    if (e.nkl - e.dataAt < dataSize) {
      ++counts.entriesSkipped;
      notes.note(int64_t(pos + e.offset), "entry \"" + jbbbulk::keyToUtf8(pass.key.data(), pass.key.size()) +
                                               "\" skipped: its data record runs past its entry");
      continue;
    }
    pass.ok = pass.sink->put(jbbbulk::EntryView{pass.key.data(), pass.key.size(), img.image + e.offset + e.dataAt,
                                                dataSize});
  }
}

// A record found by the chain or the scan: take what its image gives.
void Salvager::State::take(Pass& pass, uint64_t pos, const Header& h, const ImageRead& img) {
  bool free = h.state == kRecordFree;
  auto note = [&](int64_t offset, const std::string& text) {
    if (pass.judging) notes.note(offset, text);
  };
  if (!free && pass.judging) ++counts.liveRecords;
  if (!img.usable) {
    if (!free && pass.judging) ++counts.nodesSkipped;
    if (!free) note(int64_t(pos), "live record skipped: " + img.why);
    return;
  }
  int good = 0;
  for (int i = 0; i < img.node.framed; ++i) {
    const FramedEntry& e = img.node.entries[i];
    if (goodEntry(e)) ++good;
    else if (!free) {
      if (pass.judging) ++counts.entriesSkipped;
      note(int64_t(pos + e.offset), "entry skipped: its key is unterminated, empty or overlaps its data");
    }
  }
  if (free) {
    if (!pass.judging) return;
    if (img.complete && good > 0) judged.frees.emplace_back(h.diskLoc, int64_t(pos));
    ++counts.freeSkipped;
    return;
  }
  if (!img.complete && good == 0) {
    if (pass.judging) ++counts.nodesSkipped;
    note(int64_t(pos), "live record skipped: " + img.why);
    return;
  }
  if (!img.complete && pass.judging) ++counts.nodesBroken;
  if (!img.complete)
    note(int64_t(pos), "node image broken: " + img.why + "; " + num(size_t(good)) + " entries before the break taken");
  if (!pass.judging) {
    emit(pass, img, pos);
    return;
  }
  bool leaf = img.node.branch[0] == 0;
  if (img.complete && !leaf)
    for (int i = 0; i <= img.node.framed; ++i) judged.referenced.push_back(img.node.branch[i]);
  judged.liveSubs.push_back(h.diskLoc);
  ++counts.nodesTaken;
  countEntries(img);
}

void Salvager::State::countEntries(const ImageRead& img) {
  size_t stored = getU16(ctrl + kCrDataSize);
  for (int i = 0; i < img.node.framed; ++i) {
    const FramedEntry& e = img.node.entries[i];
    if (!goodEntry(e)) continue;
    size_t room = e.nkl - e.dataAt;
    ++judged.rooms[room];
    if (room >= stored) ++judged.fitStored;
    ++counts.found;
  }
}

// A free slot that the tree still refers to, while no live record carries
// its subscript, is a live node whose state was damaged.
void Salvager::State::takeReferencedFree() {
  Judged& j = judged;
  j.referenced.push_back(getI32(ctrl + kCrRootOffset));
  sortUnique(&j.referenced);
  sortUnique(&j.liveSubs);
  std::stable_sort(j.frees.begin(), j.frees.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  Reader reader(src);
  for (size_t i = 0; i < j.frees.size();) {
    size_t end = i;
    while (end < j.frees.size() && j.frees[end].first == j.frees[i].first) ++end;
    int32_t sub = j.frees[i].first;
    if (end - i == 1 && contains(j.referenced, sub) && !contains(j.liveSubs, sub)) {
      int64_t pos = j.frees[i].second;
      notes.note(pos, "free slot taken: the tree refers to its subscript " + num(size_t(sub)) +
                           " and no live record carries it");
      --counts.freeSkipped;
      ++counts.nodesTaken;
      j.takenFree.push_back(pos);
      Header h = reader.header(uint64_t(pos));
      countEntries(reader.image(uint64_t(pos), h, slotEndOf(h, uint64_t(pos), reader.size())));
    }
    i = end;
  }
}

// The stored data size, unless the entries carry another one more often.
void Salvager::State::chooseDataSize() {
  size_t stored = getU16(ctrl + kCrDataSize);
  dataSize = stored;
  const Judged& j = judged;
  if (j.fitStored == counts.found || j.rooms.empty()) return;
  auto mode = std::max_element(j.rooms.begin(), j.rooms.end(),
                               [](const auto& a, const auto& b) { return a.second < b.second; });
  size_t fitMode = 0;
  for (const auto& [room, n] : j.rooms) fitMode += room >= mode->first ? n : 0;
  if (fitMode <= j.fitStored || mode->first > 0xFFFF) return;
  dataSize = mode->first;
  notes.note(kCrDataSize, "dataSize " + num(stored) + " does not fit the entries, which carry " + num(dataSize) +
                               " bytes of data; the new database uses " + num(dataSize));
}

void Salvager::State::walkChain(Pass& pass) {
  Reader r(src);
  uint64_t size = r.size(), pos = kCtrlRecSize;
  auto note = [&](int64_t offset, const std::string& text) {
    if (pass.judging) notes.note(offset, text);
  };
  while (pos < size && pass.ok) {
    if (size - pos < kRecordHeaderSize) {
      if (pass.judging) counts.bytesSkipped += size - pos;
      note(int64_t(pos), num(size - pos) + " bytes after the last record hold no record header");
      return;
    }
    Header h = r.header(pos);
    bool slotOk = slotFits(h, pos, size);
    ImageRead img = r.image(pos, h, slotEndOf(h, pos, size));
    take(pass, pos, h, img);
    if (slotOk) {
      uint64_t next = pos + h.slotLength;
      if (next == size || (next < size && r.chainGoesOn(next))) {
        pos = next;
        continue;
      }
    } else {
      note(int64_t(pos + kNodeSlotLength), "slot length " + num(h.slotLength) + " breaks the record chain");
    }
    uint64_t from = pos + std::max<uint64_t>(1, img.complete && h.state != kRecordFree ? img.end : 1);
    int64_t q = r.scan(from);
    if (q == kNowhere) {
      uint64_t covered = std::max(from, slotOk ? pos + h.slotLength : pos + img.end);
      if (covered < size && pass.judging) counts.bytesSkipped += size - covered;
      if (covered < size) note(int64_t(covered), num(size - covered) + " bytes to the end of the file hold no plausible record");
      return;
    }
    uint64_t expected = slotOk ? pos + h.slotLength : from;
    if (uint64_t(q) > expected && pass.judging) counts.bytesSkipped += uint64_t(q) - expected;
    if (uint64_t(q) > expected) note(int64_t(expected), num(uint64_t(q) - expected) + " bytes without a record header skipped");
    pos = uint64_t(q);
  }
}

}  // namespace jbbsalvage
