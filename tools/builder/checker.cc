// The database checker.
#include "builder/checker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "btree/format.h"
#include "builder/fileio.h"
#include "builder/nodeimage.h"

using namespace jbbformat;

namespace jbbbuilder {

namespace {

constexpr int kMaxDepth = 64;
constexpr size_t kMaxProblems = 200;
constexpr size_t kNoSlot = SIZE_MAX;
constexpr uint32_t kNone32 = UINT32_MAX;

std::string num(int64_t v) { return std::to_string(v); }

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

Key keyAt(const uint8_t* p, size_t units) {
  Key k(units, u'\0');
  for (size_t i = 0; i < units; ++i) k[i] = char16_t(getU16(p + 2 * i));
  return k;
}

class Checker {
 public:
  Checker(const uint8_t* b, size_t size, const CheckOptions& o, CheckResult* r)
      : b_(b), size_(size), opt_(o), r_(*r) {}

  void run() {
    r_.fileSize = size_;
    if (size_ < kCtrlRecSize) {
      problem(0, "file of " + num(int64_t(size_)) + " bytes is shorter than the control record");
      return;
    }
    readCtrlRec();
    readChain();
    indexSlots();
    checkSlots();
    checkTree();
    finishProblems();
  }

 private:
  void problem(int64_t offset, std::string text) {
    r_.problemCount = ++problemCount_;
    if (r_.problems.size() < kMaxProblems) r_.problems.push_back(Problem{offset, std::move(text)});
  }
  void finishProblems() {
    if (problemCount_ > kMaxProblems)
      r_.problems.push_back(Problem{-1, "... and " + num(int64_t(problemCount_ - kMaxProblems)) + " more"});
  }

  void readCtrlRec() {
    CtrlInfo& c = r_.ctrl;
    c.magic = getU16(b_ + kCrMagic);
    c.majorVersion = b_[kCrMajor];
    c.minorVersion = b_[kCrMinor];
    c.rootOffset = getI32(b_ + kCrRootOffset);
    c.indexArraySize = getU32(b_ + kCrIndexArraySize);
    c.currentIXCount = getU32(b_ + kCrCurrentIXCount);
    c.lastIndex = getI32(b_ + kCrLastIndex);
    c.lastNDRec = getI64(b_ + kCrLastNDRec);
    c.keyLength = getU16(b_ + kCrKeyLength);
    c.dataSize = getU16(b_ + kCrDataSize);
    c.journalInfoArea.assign(b_ + kJournalInfoOffset, b_ + kJournalInfoOffset + kJournalInfoSize);
    if (c.magic != kMagic) problem(kCrMagic, "magic is " + hex(c.magic) + ", not 0xabcd");
    if (opt_.expectedDataSize && c.dataSize != opt_.expectedDataSize)
      problem(kCrDataSize, "dataSize is " + num(c.dataSize) + ", expected " + num(opt_.expectedDataSize));
    if (c.indexArraySize % kIndexGrowth != 0)
      problem(kCrIndexArraySize, "indexArraySize " + num(c.indexArraySize) + " is not a multiple of 500");
    if (c.currentIXCount > c.indexArraySize)
      problem(kCrCurrentIXCount,
              "currentIXCount " + num(c.currentIXCount) + " exceeds indexArraySize " + num(c.indexArraySize));
  }

  static std::string hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04x", v);
    return buf;
  }

  void readChain() {
    uint64_t pos = kCtrlRecSize, size = size_;
    // Room for slots of 512 bytes on average, up to a million: growing
    // copies the whole list, and what is reserved but never touched costs
    // no page on Linux (Windows commits it).
    r_.slots.reserve(size_t(std::min<uint64_t>((size - pos) / 512 + 16, 1 << 20)));
    while (size - pos >= kRecordHeaderSize) {
      const uint8_t* h = b_ + pos;
      SlotInfo s{int64_t(pos), getU64(h + kNodeSlotLength), getU32(h + kNodeSize),
                 getU32(h + kNodeRecordState), getI32(h + kNodeDiskLoc)};
      r_.slots.push_back(s);
      if (s.slotLength < kRecordHeaderSize) {
        problem(s.position + kNodeSlotLength, "slot at " + num(s.position) + " is " + num(int64_t(s.slotLength)) +
                                                  " bytes long, shorter than a record header; the chain ends there");
        return;
      }
      if (s.slotLength > size - pos) {
        problem(s.position + kNodeSlotLength, "slot at " + num(s.position) + " (" + num(int64_t(s.slotLength)) +
                                                  " bytes) runs past the end of the file at " + num(int64_t(size)));
        return;
      }
      pos += s.slotLength;
    }
    if (pos < size) problem(int64_t(pos), num(int64_t(size - pos)) + " bytes after the last slot hold no record header");
  }

  // Per subscript: the first slot (in file order) that carries it, for the
  // duplicate test, and the first live one, for finding a node.  The
  // subscripts up to indexArraySize (at most 4 per slot) are looked up in
  // a table; any other (a damaged diskLoc, or a sparse index) among the
  // rest of the slots ordered by diskLoc.
  void indexSlots() {
    const size_t n = r_.slots.size();
    tableSize_ = n < kNone32 / 4 ? std::min<uint64_t>(r_.ctrl.indexArraySize, 4 * uint64_t(n) + 1024) : 0;
    firstAny_.assign(tableSize_, kNone32);
    firstLive_.assign(tableSize_, kNone32);
    firstOfSub_.assign(n, kNoSlot);
    for (size_t i = 0; i < n; ++i) {
      const SlotInfo& s = r_.slots[i];
      if (!inTable(s.diskLoc)) {
        others_.push_back(i);
        continue;
      }
      uint32_t& any = firstAny_[size_t(s.diskLoc)];
      if (any == kNone32)
        any = uint32_t(i);
      else
        firstOfSub_[i] = any;
      uint32_t& live = firstLive_[size_t(s.diskLoc)];
      if (!s.free() && live == kNone32) live = uint32_t(i);
    }
    std::stable_sort(others_.begin(), others_.end(),
                     [&](size_t a, size_t b) { return r_.slots[a].diskLoc < r_.slots[b].diskLoc; });
    for (size_t k = 1; k < others_.size(); ++k) {
      size_t prev = others_[k - 1], cur = others_[k];
      if (r_.slots[prev].diskLoc == r_.slots[cur].diskLoc)
        firstOfSub_[cur] = firstOfSub_[prev] == kNoSlot ? prev : firstOfSub_[prev];
    }
    visited_.assign(n, 0);
  }

  bool inTable(int32_t sub) const { return sub >= 0 && uint64_t(sub) < tableSize_; }

  // The first live slot that carries sub, or kNoSlot.
  size_t liveSlot(int32_t sub) const {
    if (inTable(sub)) return firstLive_[size_t(sub)] == kNone32 ? kNoSlot : firstLive_[size_t(sub)];
    auto it = std::lower_bound(others_.begin(), others_.end(), sub,
                               [&](size_t i, int32_t v) { return r_.slots[i].diskLoc < v; });
    for (; it != others_.end() && r_.slots[*it].diskLoc == sub; ++it)
      if (!r_.slots[*it].free()) return *it;
    return kNoSlot;
  }

  void checkSlots() {
    const CtrlInfo& c = r_.ctrl;
    if (!r_.slots.empty() && c.indexArraySize == 0 && c.currentIXCount == 0)
      problem(kCrIndexArraySize, "indexArraySize and currentIXCount are 0 while records follow");
    for (size_t i = 0; i < r_.slots.size(); ++i) {
      const SlotInfo& s = r_.slots[i];
      auto at = [&] { return "record at " + num(s.position); };
      int64_t loc = s.position + kNodeDiskLoc;
      if (s.diskLoc < 1 || uint32_t(s.diskLoc) >= c.indexArraySize)
        problem(loc, at() + ": diskLoc " + num(s.diskLoc) + " outside 1.." + num(int64_t(c.indexArraySize) - 1));
      else if (uint32_t(s.diskLoc) >= c.currentIXCount)
        problem(loc, at() + ": diskLoc " + num(s.diskLoc) + " not below currentIXCount " + num(c.currentIXCount));
      if (firstOfSub_[i] != kNoSlot)
        problem(loc, at() + ": diskLoc " + num(s.diskLoc) + " also carried by the record at " +
                         num(r_.slots[firstOfSub_[i]].position));
      if (s.free()) continue;
      if (s.nodeSize < kDiskNodeBaseSize) problem(s.position, at() + ": nodeSize " + num(s.nodeSize) + " below 72");
      if (s.nodeSize > s.slotLength)
        problem(s.position, at() + ": nodeSize " + num(s.nodeSize) + " beyond its slot of " + num(int64_t(s.slotLength)));
    }
    if (r_.slots.empty()) {
      if (c.lastNDRec != int64_t(kCtrlRecSize))
        problem(kCrLastNDRec, "lastNDRec " + num(c.lastNDRec) + " in a file without records");
    } else if (c.lastNDRec != r_.slots.back().position) {
      problem(kCrLastNDRec,
              "lastNDRec " + num(c.lastNDRec) + " is not the last slot, at " + num(r_.slots.back().position));
    }
  }

  void checkTree() {
    if (r_.slots.empty()) {
      r_.dump = "[]";  // a database whose empty root has not been written yet
      return;
    }
    if (liveSlot(r_.ctrl.rootOffset) == kNoSlot) {
      problem(kCrRootOffset, "rootOffset " + num(r_.ctrl.rootOffset) + " names no live record");
      return;
    }
    r_.nodes.reserve(r_.slots.size());
    walk(r_.ctrl.rootOffset, 0, -1, opt_.collect ? &r_.dump : nullptr);
    breadthFirst();
    for (size_t i = 0; i < r_.slots.size(); ++i) {
      const SlotInfo& s = r_.slots[i];
      if (!s.free() && !visited_[i] && liveSlot(s.diskLoc) == i)
        problem(s.position, "live record at " + num(s.position) + " (diskLoc " + num(s.diskLoc) + ") is not in the tree");
    }
  }

  // The nodes were listed in pre-order; grouped by depth, keeping that
  // order within a level, they are in breadth-first order.  The nodes are
  // moved in place along the cycles of that permutation.
  void breadthFirst() {
    std::vector<size_t> start(kMaxDepth + 1, 0);
    for (const NodeInfo& n : r_.nodes) ++start[size_t(n.depth) + 1];
    for (int d = 1; d <= kMaxDepth; ++d) start[d] += start[d - 1];
    std::vector<size_t> to(r_.nodes.size());
    for (size_t i = 0; i < to.size(); ++i) to[i] = start[size_t(r_.nodes[i].depth)]++;
    for (size_t i = 0; i < to.size(); ++i) {
      while (to[i] != i) {
        std::swap(r_.nodes[i], r_.nodes[to[i]]);
        std::swap(to[i], to[to[i]]);
      }
    }
  }

  // Checks the subtree at `sub`, appending its shape text to *shape when
  // that is set.  `from` is where the reference to sub is stored.
  void walk(int32_t sub, int depth, int32_t parent, std::string* shape, int64_t from = kCrRootOffset) {
    auto by = [&] { return parent < 0 ? std::string("rootOffset") : "a child reference of node " + num(parent); };
    size_t slot = liveSlot(sub);
    if (slot == kNoSlot) {
      problem(from, by() + " names " + num(sub) + ", no live record");
      if (shape) *shape += "?";
      return;
    }
    if (visited_[slot]) {
      problem(from, by() + " reaches node " + num(sub) + " a second time");
      if (shape) *shape += "?";
      return;
    }
    visited_[slot] = 1;
    const SlotInfo& s = r_.slots[slot];
    if (depth >= kMaxDepth) {
      problem(s.position, "tree deeper than " + num(kMaxDepth) + " levels at node " + num(sub));
      if (shape) *shape += "?";
      return;
    }
    FramedNode node;
    int count = readNode(s, sub, &node);
    const uint8_t* image = b_ + s.position;
    bool leaf = node.branch[0] == 0;
    checkBranches(s, sub, count, node.branch, leaf, parent < 0);
    size_t index = r_.nodes.size();
    r_.nodes.push_back(NodeInfo{sub, s.position, s.slotLength, s.nodeSize, depth, node.framed, {}, {}});
    if (opt_.collect)
      for (int i = 0; i < node.framed; ++i) r_.nodes[index].keys.push_back(keyOf(image, node.entries[i]));
    if (!leaf) r_.nodes[index].children.assign(node.branch, node.branch + count + 1);
    if (shape) {
      *shape += '[';
      for (int i = 0; i < node.framed; ++i) *shape += (i ? " " : "") + keyToUtf8(keyOf(image, node.entries[i]));
      *shape += ']';
    }
    if (leaf) {
      if (leafDepth_ < 0) leafDepth_ = depth;
      if (depth != leafDepth_)
        problem(s.position, "leaf " + num(sub) + " at depth " + num(depth) + ", other leaves at " + num(leafDepth_));
      r_.height = std::max(r_.height, depth + 1);
      for (int i = 0; i < node.framed; ++i) inOrder(sub, s, node.entries[i]);
      return;
    }
    if (shape) *shape += " (";
    for (int i = 0; i <= count; ++i) {
      if (shape && i) *shape += ' ';
      int64_t ref = s.position + int64_t(kNodeBranch) + 4 * i;
      if (node.branch[i]) {
        walk(node.branch[i], depth + 1, sub, shape, ref);
      } else if (shape) {
        *shape += '?';
      }
      if (i < count && i < node.framed) inOrder(sub, s, node.entries[i]);
    }
    if (shape) *shape += ')';
  }

  Key keyOf(const uint8_t* image, const FramedEntry& e) const {
    return keyAt(image + e.offset + kEntryKey, e.keyUnits);
  }

  // The next entry of the tree order: its key must follow the one before.
  void inOrder(int32_t sub, const SlotInfo& s, const FramedEntry& e) {
    const uint8_t* image = b_ + s.position;
    EntryRef ref{s.position + int64_t(e.offset), image + e.offset + kEntryKey, e.keyUnits,
                 e.dataInside ? image + e.offset + e.dataAt : nullptr, r_.ctrl.dataSize};
    if (r_.entryCount > 0 && compareUnits(prevKey_, prevUnits_, ref.key, ref.keyUnits) >= 0)
      problem(ref.offset, "node " + num(sub) + ": key \"" + keyToUtf8(ref.toKey()) + "\" does not follow \"" +
                              keyToUtf8(keyAt(prevKey_, prevUnits_)) + "\"");
    prevKey_ = ref.key;
    prevUnits_ = ref.keyUnits;
    ++r_.entryCount;
    if (opt_.collect) {
      CheckEntry c{ref.toKey(), {}};
      if (ref.data) c.data.assign(ref.data, ref.data + ref.dataSize);
      r_.entries.push_back(std::move(c));
    }
    if (opt_.onEntry) opt_.onEntry(ref);
  }

  void checkBranches(const SlotInfo& s, int32_t sub, int count, const int32_t* branch, bool leaf, bool isRoot) {
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
  int readNode(const SlotInfo& s, int32_t sub, FramedNode* node) {
    size_t begin = size_t(s.position);
    size_t limit = size_t(std::min<uint64_t>({s.nodeSize, s.slotLength, size_ - begin}));
    if (limit < kDiskNodeBaseSize) return 0;  // reported with the slot
    auto at = [&] { return "node " + num(sub); };
    int count = getU16(b_ + begin + kNodeCount);
    if (count > kMaxEntries) {
      problem(s.position + kNodeCount, at() + ": count " + num(count) + " above 10");
      count = kMaxEntries;
    }
    frameNode(b_ + begin, limit, count, r_.ctrl.dataSize, node);
    for (int i = 0; i < node->framed; ++i) {
      const FramedEntry& e = node->entries[i];
      int64_t where = s.position + int64_t(e.offset);
      auto ea = [&] { return at() + ", entry " + num(i); };
      if (!e.terminated)
        problem(where, ea() + ": key \"" + keyToUtf8(keyOf(b_ + begin, e)) + "\" has no terminator before its data");
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

  const uint8_t* b_;
  size_t size_;
  const CheckOptions& opt_;
  CheckResult& r_;
  size_t problemCount_ = 0;
  uint64_t tableSize_ = 0;            // subscripts 0 .. tableSize_-1 are in the tables
  std::vector<uint32_t> firstAny_;    // per subscript: its first slot, or kNone32
  std::vector<uint32_t> firstLive_;   // per subscript: its first live slot, or kNone32
  std::vector<size_t> others_;        // the slots of other subscripts, ordered by diskLoc
  std::vector<size_t> firstOfSub_;    // per slot: an earlier slot of its diskLoc, or kNoSlot
  std::vector<uint8_t> visited_;      // per slot
  int leafDepth_ = -1;
  const uint8_t* prevKey_ = nullptr;  // the last key of the tree order so far
  size_t prevUnits_ = 0;
};

}  // namespace

Key EntryRef::toKey() const { return keyAt(key, keyUnits); }

const NodeInfo* CheckResult::node(int32_t subscript) const {
  for (const NodeInfo& n : nodes)
    if (n.subscript == subscript) return &n;
  return nullptr;
}

std::string CheckResult::report() const {
  std::string out;
  for (const Problem& p : problems) out += p.text + "\n";
  return out;
}

CheckResult checkImage(const uint8_t* bytes, size_t size, const CheckOptions& options) {
  CheckResult r;
  Checker(bytes, size, options, &r).run();
  return r;
}

CheckResult checkImage(const Bytes& bytes, const CheckOptions& options) {
  return checkImage(bytes.data(), bytes.size(), options);
}

CheckResult checkDatabase(const std::string& path, const CheckOptions& options) {
  FileImage file;
  std::string error;
  if (!file.read(path, &error)) {
    CheckResult r;
    r.problems.push_back(Problem{-1, error});
    r.problemCount = 1;
    return r;
  }
  return checkImage(file.data(), file.size(), options);
}

}  // namespace jbbbuilder
