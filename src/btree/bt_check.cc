// The integrity check (check.h): the control record, the record chain, the
// slots, then the tree from its root, then the live records it did not
// reach, in that order.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "btree/bt_storage.h"
#include "btree/check.h"
#include "platform/utf8.h"

using namespace jbbformat;

namespace jbbcheck {

namespace {

constexpr int kMaxDepth = 64;
constexpr int64_t kNoSlot = -1;

std::string num(int64_t v) { return std::to_string(v); }

std::string hex4(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04x", v);
  return buf;
}

std::string keyText(const uint8_t* units, size_t n) {
  std::string out;
  appendStoredUnitsAsUtf8(&out, units, n);
  return out;
}

// Unit order of two keys as they lie in the file: -1, 0 or 1.  Long
// shared prefixes (the folders of paths) are passed over a word at a time.
int compareUnits(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
  size_t n = std::min(na, nb), i = 0;
  if (hostIsLittleEndian()) {
    for (; i + 4 <= n; i += 4) {
      uint64_t x, y;
      std::memcpy(&x, a + 2 * i, 8);
      std::memcpy(&y, b + 2 * i, 8);
      if (x != y) break;  // the unit that differs is among these four
    }
  }
  for (; i < n; ++i) {
    uint16_t x = getU16(a + 2 * i), y = getU16(b + 2 * i);
    if (x != y) return x < y ? -1 : 1;
  }
  return na < nb ? -1 : na > nb ? 1 : 0;
}

// Where the slots of one subscript lie: the first in file order, for the
// duplicate test, and the first live one, the node the tree reaches by it.
struct Carriers {
  int64_t first = kNoSlot;
  int64_t firstLive = kNoSlot;
};

class Checker {
 public:
  Checker(Source& src, const Options& o, Reporter& rep, Summary* s) : src_(src), opt_(o), rep_(rep), sum_(*s) {}

  void run() {
    sum_.fileSize = src_.size();
    if (sum_.fileSize < kCtrlRecSize) {
      problem(0, "file of " + num(int64_t(sum_.fileSize)) + " bytes is shorter than the control record");
      return;
    }
    readCtrlRec();
    readChain();
    checkSlots();
    checkTree();
  }

 private:
  void problem(int64_t offset, const std::string& text) {
    ++sum_.problems;
    rep_.problem(offset, text);
  }

  void readCtrlRec() {
    decodeCtrlRec(src_.bytes(0, kCtrlRecSize), &sum_.ctrl);
    sum_.ctrlRead = true;
    const CtrlRec& c = sum_.ctrl;
    if (c.magic != kMagic) problem(kCrMagic, "magic is " + hex4(c.magic) + ", not 0xabcd");
    if (opt_.expectedDataSize && c.dataSize != opt_.expectedDataSize)
      problem(kCrDataSize, "dataSize is " + num(c.dataSize) + ", expected " + num(opt_.expectedDataSize));
    if (c.indexArraySize % kIndexGrowth != 0)
      problem(kCrIndexArraySize, "indexArraySize " + num(c.indexArraySize) + " is not a multiple of 500");
    if (c.currentIXCount > c.indexArraySize)
      problem(kCrCurrentIXCount,
              "currentIXCount " + num(c.currentIXCount) + " exceeds indexArraySize " + num(c.indexArraySize));
  }

  Slot slotAt(int64_t pos) {
    const uint8_t* h = src_.bytes(uint64_t(pos), kRecordHeaderSize);
    return Slot{pos, getU64(h + kNodeSlotLength), getU32(h + kNodeSize), getU32(h + kNodeRecordState),
                getI32(h + kNodeDiskLoc)};
  }

  // The last slot may be claimed longer than the file: the engine lets the
  // last record claim the length it once had after it shrank, and appends
  // after that claim.  The open accepts a claim up to the longest node
  // image, and so does the check, as long as the node itself is in the file.
  bool lastSlotClaim(const Slot& s, uint64_t left) const {
    return s.slotLength - left <= jbbstorage::kMaxImageSize && (s.free() || s.nodeSize <= left);
  }

  // First pass over the chain: where it ends, and which slots carry which
  // subscript.  Every step moves by at least a header's length.
  void readChain() {
    uint64_t pos = kCtrlRecSize, size = sum_.fileSize;
    tableSize_ = std::min<uint64_t>(sum_.ctrl.indexArraySize, 4 * ((size - pos) / kRecordHeaderSize) + 1024);
    table_.assign(size_t(tableSize_), Carriers{});
    visited_.assign(size_t(tableSize_), false);
    while (size - pos >= kRecordHeaderSize) {
      Slot s = slotAt(int64_t(pos));
      note(s);  // a slot that breaks the chain is still one of its slots
      if (s.slotLength < kRecordHeaderSize) {
        problem(s.position + kNodeSlotLength, "slot at " + num(s.position) + " is " + num(int64_t(s.slotLength)) +
                                                  " bytes long, shorter than a record header; the chain ends there");
        return;
      }
      if (s.slotLength > size - pos && !lastSlotClaim(s, size - pos)) {
        problem(s.position + kNodeSlotLength, "slot at " + num(s.position) + " (" + num(int64_t(s.slotLength)) +
                                                  " bytes) runs past the end of the file at " + num(int64_t(size)));
        return;
      }
      if (s.slotLength > size - pos) return;  // the last slot's claim
      pos += s.slotLength;
    }
    if (pos < size) problem(int64_t(pos), num(int64_t(size - pos)) + " bytes after the last slot hold no record header");
  }

  void note(const Slot& s) {
    ++sum_.slots;
    lastSlot_ = s.position;
    Carriers& c = carriersOf(s.diskLoc);
    if (c.first == kNoSlot) c.first = s.position;
    else slotProblems_ = true;  // a subscript carried twice
    if (!s.free() && c.firstLive == kNoSlot) {
      c.firstLive = s.position;
      ++liveNodes_;
    }
    const CtrlRec& cr = sum_.ctrl;
    if (s.diskLoc < 1 || uint32_t(s.diskLoc) >= cr.indexArraySize || uint32_t(s.diskLoc) >= cr.currentIXCount ||
        (!s.free() && (s.nodeSize < kDiskNodeBaseSize || s.nodeSize > s.slotLength)))
      slotProblems_ = true;
  }

  bool inTable(int32_t sub) const { return sub >= 0 && uint64_t(sub) < tableSize_; }
  Carriers& carriersOf(int32_t sub) { return inTable(sub) ? table_[size_t(sub)] : others_[sub]; }
  int64_t liveSlot(int32_t sub) {
    if (inTable(sub)) return table_[size_t(sub)].firstLive;
    auto it = others_.find(sub);
    return it == others_.end() ? kNoSlot : it->second.firstLive;
  }
  // Visits the chain's slots again, in file order.
  template <class Visit>
  void eachSlot(Visit visit) {
    if (sum_.slots == 0) return;
    int64_t pos = int64_t(kCtrlRecSize);
    for (size_t i = 0; i < sum_.slots; ++i) {
      Slot s = slotAt(pos);
      visit(s);
      pos += int64_t(s.slotLength);
    }
  }

  void checkSlots() {
    const CtrlRec& c = sum_.ctrl;
    if (sum_.slots > 0 && c.indexArraySize == 0 && c.currentIXCount == 0)
      problem(kCrIndexArraySize, "indexArraySize and currentIXCount are 0 while records follow");
    // The first pass saw whether any slot has a problem: a sound chain is
    // read again only for a reporter that wants its slots.
    if (slotProblems_ || rep_.wantsSlots()) eachSlot([&](const Slot& s) {
      rep_.slot(s);
      auto at = [&] { return "record at " + num(s.position); };
      int64_t loc = s.position + kNodeDiskLoc;
      if (s.diskLoc < 1 || uint32_t(s.diskLoc) >= c.indexArraySize)
        problem(loc, at() + ": diskLoc " + num(s.diskLoc) + " outside 1.." + num(int64_t(c.indexArraySize) - 1));
      else if (uint32_t(s.diskLoc) >= c.currentIXCount)
        problem(loc, at() + ": diskLoc " + num(s.diskLoc) + " not below currentIXCount " + num(c.currentIXCount));
      int64_t first = carriersOf(s.diskLoc).first;
      if (first != s.position)
        problem(loc, at() + ": diskLoc " + num(s.diskLoc) + " also carried by the record at " + num(first));
      if (s.free()) return;
      if (s.nodeSize < kDiskNodeBaseSize) problem(s.position, at() + ": nodeSize " + num(s.nodeSize) + " below 72");
      if (s.nodeSize > s.slotLength)
        problem(s.position, at() + ": nodeSize " + num(s.nodeSize) + " beyond its slot of " + num(int64_t(s.slotLength)));
    });
    if (sum_.slots == 0) {
      if (c.lastNDRec != int64_t(kCtrlRecSize))
        problem(kCrLastNDRec, "lastNDRec " + num(c.lastNDRec) + " in a file without records");
    } else if (c.lastNDRec != lastSlot_) {
      problem(kCrLastNDRec, "lastNDRec " + num(c.lastNDRec) + " is not the last slot, at " + num(lastSlot_));
    }
  }

  void checkTree() {
    if (sum_.slots == 0) {
      if (opt_.shape) *opt_.shape = "[]";  // a database whose empty root has not been written yet
      return;
    }
    if (liveSlot(sum_.ctrl.rootOffset) == kNoSlot) {
      problem(kCrRootOffset, "rootOffset " + num(sum_.ctrl.rootOffset) + " names no live record");
      return;
    }
    walk(sum_.ctrl.rootOffset, 0, -1, kCrRootOffset);
    // Every live node reached: no record is left out of the tree.
    if (reached_ == liveNodes_) return;
    eachSlot([&](const Slot& s) {
      if (!s.free() && liveSlot(s.diskLoc) == s.position && !isVisited(s.diskLoc))
        problem(s.position, "live record at " + num(s.position) + " (diskLoc " + num(s.diskLoc) + ") is not in the tree");
    });
  }

  bool isVisited(int32_t sub) const {
    if (inTable(sub)) return visited_[size_t(sub)];
    auto it = othersVisited_.find(sub);
    return it != othersVisited_.end() && it->second;
  }
  void markVisited(int32_t sub) {
    if (inTable(sub)) visited_[size_t(sub)] = true;
    else othersVisited_[sub] = true;
    ++reached_;
  }

  void shape(const std::string& text) {
    if (opt_.shape) *opt_.shape += text;
  }

  // Checks the subtree at `sub`.  `from` is where the reference to sub is
  // stored, in the node `parent` (-1: the control record).
  void walk(int32_t sub, int depth, int32_t parent, int64_t from) {
    auto by = [&] { return parent < 0 ? std::string("rootOffset") : "a child reference of node " + num(parent); };
    int64_t pos = liveSlot(sub);
    if (pos == kNoSlot) {
      problem(from, by() + " names " + num(sub) + ", no live record");
      shape("?");
      return;
    }
    if (isVisited(sub)) {
      problem(from, by() + " reaches node " + num(sub) + " a second time");
      shape("?");
      return;
    }
    markVisited(sub);
    Slot s = slotAt(pos);
    if (depth >= kMaxDepth) {
      problem(s.position, "tree deeper than " + num(kMaxDepth) + " levels at node " + num(sub));
      shape("?");
      return;
    }
    NodeRead n = readNode(s, sub, depth);
    ++sum_.nodes;
    rep_.node(Node{sub, s.position, s.slotLength, s.nodeSize, depth, n.count, n.image, &n.framed, n.leaf});
    shapeOfNode(n);
    if (n.leaf) {
      if (leafDepth_ < 0) leafDepth_ = depth;
      if (depth != leafDepth_)
        problem(s.position, "leaf " + num(sub) + " at depth " + num(depth) + ", other leaves at " + num(leafDepth_));
      sum_.height = std::max(sum_.height, depth + 1);
      for (int i = 0; i < n.framed.framed; ++i) inOrder(sub, n, i);
      return;
    }
    shape(" (");
    for (int i = 0; i <= n.count; ++i) {
      if (i) shape(" ");
      int64_t ref = s.position + int64_t(kNodeBranch) + 4 * i;
      if (n.framed.branch[i]) {
        walk(n.framed.branch[i], depth + 1, sub, ref);
      } else {
        shape("?");
      }
      if (i < n.count && i < n.framed.framed) {
        // The child's walk may have read other nodes through the source.
        if (!src_.stable()) n.image = src_.bytes(uint64_t(s.position), n.length);
        inOrder(sub, n, i);
      }
    }
    shape(")");
  }

  // A node as the walk holds it.
  struct NodeRead {
    int64_t position;
    const uint8_t* image;
    size_t length;  // the bytes of the node that can be read
    jbbformat::FramedNode framed;
    int count = 0;
    bool leaf = true;
  };

  NodeRead readNode(const Slot& s, int32_t sub, int depth) {
    NodeRead n;
    n.position = s.position;
    uint64_t left = sum_.fileSize - uint64_t(s.position);
    n.length = size_t(std::min<uint64_t>({s.nodeSize, s.slotLength, left}));
    n.image = src_.bytes(uint64_t(s.position), std::max<size_t>(n.length, kRecordHeaderSize));
    if (n.length >= kDiskNodeBaseSize) n.count = frame(s, sub, n.image, n.length, &n.framed);
    n.leaf = n.framed.branch[0] == 0;
    checkBranches(s, sub, n.count, n.framed.branch, n.leaf, depth == 0);
    return n;
  }

  void shapeOfNode(const NodeRead& n) {
    if (!opt_.shape) return;
    std::string text = "[";
    for (int i = 0; i < n.framed.framed; ++i) {
      if (i) text += ' ';
      const FramedEntry& e = n.framed.entries[i];
      appendStoredUnitsAsUtf8(&text, n.image + e.offset + kEntryKey, e.keyUnits);
    }
    text += ']';
    shape(text);
  }

  // The next entry of the tree order: its key must follow the one before.
  void inOrder(int32_t sub, const NodeRead& n, int i) {
    const FramedEntry& e = n.framed.entries[i];
    const uint8_t* image = n.image;
    Entry ref{n.position + int64_t(e.offset), image + e.offset + kEntryKey, e.keyUnits,
              e.dataInside ? image + e.offset + e.dataAt : nullptr, sum_.ctrl.dataSize};
    if (sum_.entries > 0 && compareUnits(prevKey(), prevUnits_, ref.key, ref.keyUnits) >= 0)
      problem(ref.offset, "node " + num(sub) + ": key \"" + keyText(ref.key, ref.keyUnits) + "\" does not follow \"" +
                              keyText(prevKey(), prevUnits_) + "\"");
    keepKey(ref.key, ref.keyUnits);
    ++sum_.entries;
    rep_.entry(ref);
  }

  // The key before: in place where the source keeps its bytes, else a copy.
  const uint8_t* prevKey() const { return src_.stable() ? prevAt_ : prevCopy_.data(); }
  void keepKey(const uint8_t* key, size_t units) {
    prevUnits_ = units;
    if (src_.stable()) prevAt_ = key;
    else prevCopy_.assign(key, key + 2 * units);
  }

  void checkBranches(const Slot& s, int32_t sub, int count, const int32_t* branch, bool leaf, bool isRoot) {
    auto at = [&] { return "node " + num(sub); };
    for (int i = 1; i <= count; ++i) {
      int64_t ref = s.position + int64_t(kNodeBranch) + 4 * i;
      if (leaf && branch[i] != 0) problem(ref, at() + ": a leaf with child reference branch[" + num(i) + "]");
      if (!leaf && branch[i] == 0) problem(ref, at() + ": interior node without branch[" + num(i) + "]");
    }
    if (!isRoot && (count < kMinFill || count > kMaxEntries))
      problem(s.position + kNodeCount, at() + ": " + num(count) + " entries, outside 5..10");
    if (isRoot && !leaf && count == 0) problem(s.position + kNodeCount, at() + ": interior root without entries");
  }

  // Frames the entries of a live node, reporting what is out of bounds.
  // Returns the count to use (at most 10).
  int frame(const Slot& s, int32_t sub, const uint8_t* image, size_t limit, FramedNode* node) {
    auto at = [&] { return "node " + num(sub); };
    int count = getU16(image + kNodeCount);
    if (count > kMaxEntries) {
      problem(s.position + kNodeCount, at() + ": count " + num(count) + " above 10");
      count = kMaxEntries;
    }
    frameNode(image, limit, count, sum_.ctrl.dataSize, node);
    for (int i = 0; i < node->framed; ++i) {
      const FramedEntry& e = node->entries[i];
      int64_t where = s.position + int64_t(e.offset);
      auto ea = [&] { return at() + ", entry " + num(i); };
      if (!e.terminated)
        problem(where, ea() + ": key \"" + keyText(image + e.offset + kEntryKey, e.keyUnits) +
                           "\" has no terminator before its data");
      if (!e.dataInside)
        problem(where, ea() + ": data record at entry offset " + num(int64_t(e.dataAt)) + " lies outside its entry");
    }
    if (node->stop != FrameStop::None) {
      int64_t where = s.position + int64_t(node->end);
      std::string ea = at() + ", entry " + num(node->framed);
      std::string nkl = num(int64_t(node->stopNkl));
      if (node->stop == FrameStop::NoRoom)
        problem(where, ea + " starts past the node's " + num(s.nodeSize) + " bytes");
      else if (node->stop == FrameStop::NklTooSmall)
        problem(where, ea + ": nkl " + nkl + " cannot hold a key");
      else
        problem(where, ea + ": nkl " + nkl + " runs past the node's " + num(s.nodeSize) + " bytes");
      return count;
    }
    if (node->end != s.nodeSize)
      problem(s.position, at() + ": nodeSize " + num(s.nodeSize) + " but its entries end at " + num(int64_t(node->end)));
    return count;
  }

  Source& src_;
  const Options& opt_;
  Reporter& rep_;
  Summary& sum_;
  uint64_t tableSize_ = 0;  // subscripts 0 .. tableSize_-1 are in the table
  std::vector<Carriers> table_;
  std::vector<bool> visited_;
  std::unordered_map<int32_t, Carriers> others_;  // damaged subscripts beyond the table
  std::unordered_map<int32_t, bool> othersVisited_;
  int64_t lastSlot_ = kNoSlot;
  bool slotProblems_ = false;  // a slot that checkSlots reports
  size_t liveNodes_ = 0;       // subscripts with a live record
  size_t reached_ = 0;         // of those, reached by the walk
  int leafDepth_ = -1;
  const uint8_t* prevAt_ = nullptr;
  std::vector<uint8_t> prevCopy_;
  size_t prevUnits_ = 0;
};

}  // namespace

Summary check(Source& source, const Options& options, Reporter& reporter) {
  Summary s;
  Checker(source, options, reporter, &s).run();
  return s;
}

// ---------------------------------------------------------------------------

FileSource::FileSource(OsFile* file, const jbbrollback::Pending* pending) : file_(file), pending_(pending) {
  if (pending_ != nullptr && pending_->state != jbbrollback::Pending::kRollBack) pending_ = nullptr;
  if (pending_ != nullptr) {
    size_ = pending_->oldLength;
  } else if (!osFileSizeOf(file_, &size_)) {
    ok_ = false;
  }
  // In place only when the whole file is mapped and nothing lies over it.
  stable_ = pending_ == nullptr && size_ > 0 && osFileView(file_, 0, size_t(size_)) != nullptr;
}

const uint8_t* FileSource::bytes(uint64_t pos, size_t n) {
  if (stable_) return osFileView(file_, int64_t(pos), n);
  buffer_.assign(n, 0);
  uint64_t have = pos < size_ ? std::min<uint64_t>(n, size_ - pos) : 0;
  if (have > 0 && osFileRead(file_, buffer_.data(), size_t(have), int64_t(pos)) != have) {
    // Bytes past the file's end, where a cut-off change made it shorter,
    // are the restored ones below; anything else is a read error.
    if (pending_ == nullptr) ok_ = false;
  }
  if (pending_ != nullptr) {
    for (const jbbrollback::Pending::Restore& r : pending_->restores) {
      uint64_t from = std::max<uint64_t>(pos, uint64_t(r.pos)), to = std::min<uint64_t>(pos + n, r.pos + r.bytes.size());
      if (from < to) std::memcpy(buffer_.data() + (from - pos), r.bytes.data() + (from - uint64_t(r.pos)), size_t(to - from));
    }
  }
  return buffer_.data();
}

}  // namespace jbbcheck
