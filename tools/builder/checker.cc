// The database checker.
#include "builder/checker.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "btree/format.h"
#include "builder/writer.h"

using namespace jbbformat;

namespace jbbbuilder {

namespace {

constexpr int kMaxDepth = 64;
constexpr size_t kMaxProblems = 200;

std::string num(int64_t v) { return std::to_string(v); }

class Checker {
 public:
  Checker(const Bytes& b, const CheckOptions& o, CheckResult* r) : b_(b), opt_(o), r_(*r) {}

  void run() {
    r_.fileSize = b_.size();
    if (b_.size() < kCtrlRecSize) {
      problem("file of " + num(int64_t(b_.size())) + " bytes is shorter than the control record");
      return;
    }
    readCtrlRec();
    readChain();
    checkSlots();
    checkTree();
    finishProblems();
  }

 private:
  void problem(const std::string& text) {
    ++problemCount_;
    if (r_.problems.size() < kMaxProblems) r_.problems.push_back(text);
  }
  void finishProblems() {
    if (problemCount_ > kMaxProblems)
      r_.problems.push_back("... and " + num(int64_t(problemCount_ - kMaxProblems)) + " more");
  }

  void readCtrlRec() {
    const uint8_t* b = b_.data();
    CtrlInfo& c = r_.ctrl;
    c.magic = getU16(b + kCrMagic);
    c.majorVersion = b[kCrMajor];
    c.minorVersion = b[kCrMinor];
    c.rootOffset = getI32(b + kCrRootOffset);
    c.indexArraySize = getU32(b + kCrIndexArraySize);
    c.currentIXCount = getU32(b + kCrCurrentIXCount);
    c.lastIndex = getI32(b + kCrLastIndex);
    c.lastNDRec = getI64(b + kCrLastNDRec);
    c.keyLength = getU16(b + kCrKeyLength);
    c.dataSize = getU16(b + kCrDataSize);
    c.journalInfoArea.assign(b + kJournalInfoOffset, b + kJournalInfoOffset + kJournalInfoSize);
    if (c.magic != kMagic) problem("magic is " + hex(c.magic) + ", not 0xabcd");
    if (opt_.expectedDataSize && c.dataSize != opt_.expectedDataSize)
      problem("dataSize is " + num(c.dataSize) + ", expected " + num(opt_.expectedDataSize));
    if (c.indexArraySize % kIndexGrowth != 0)
      problem("indexArraySize " + num(c.indexArraySize) + " is not a multiple of 500");
    if (c.currentIXCount > c.indexArraySize)
      problem("currentIXCount " + num(c.currentIXCount) + " exceeds indexArraySize " + num(c.indexArraySize));
  }

  static std::string hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04x", v);
    return buf;
  }

  void readChain() {
    uint64_t pos = kCtrlRecSize, size = b_.size();
    while (size - pos >= kRecordHeaderSize) {
      const uint8_t* h = b_.data() + pos;
      SlotInfo s{int64_t(pos), getU64(h + kNodeSlotLength), getU32(h + kNodeSize),
                 getU32(h + kNodeRecordState), getI32(h + kNodeDiskLoc)};
      r_.slots.push_back(s);
      if (s.slotLength < kRecordHeaderSize) {
        problem("slot at " + num(s.position) + " is " + num(int64_t(s.slotLength)) +
                " bytes long, shorter than a record header; the chain ends there");
        return;
      }
      if (s.slotLength > size - pos) {
        problem("slot at " + num(s.position) + " (" + num(int64_t(s.slotLength)) +
                " bytes) runs past the end of the file at " + num(int64_t(size)));
        return;
      }
      pos += s.slotLength;
    }
    if (pos < size)
      problem(num(int64_t(size - pos)) + " bytes after the last slot hold no record header");
  }

  void checkSlots() {
    const CtrlInfo& c = r_.ctrl;
    if (!r_.slots.empty() && c.indexArraySize == 0 && c.currentIXCount == 0)
      problem("indexArraySize and currentIXCount are 0 while records follow");
    std::map<int32_t, int64_t> seen;
    for (const SlotInfo& s : r_.slots) {
      std::string at = "record at " + num(s.position);
      if (s.diskLoc < 1 || uint32_t(s.diskLoc) >= c.indexArraySize)
        problem(at + ": diskLoc " + num(s.diskLoc) + " outside 1.." + num(int64_t(c.indexArraySize) - 1));
      else if (uint32_t(s.diskLoc) >= c.currentIXCount)
        problem(at + ": diskLoc " + num(s.diskLoc) + " not below currentIXCount " + num(c.currentIXCount));
      auto dup = seen.find(s.diskLoc);
      if (dup != seen.end())
        problem(at + ": diskLoc " + num(s.diskLoc) + " also carried by the record at " + num(dup->second));
      else
        seen[s.diskLoc] = s.position;
      if (s.free()) continue;
      if (s.nodeSize < kDiskNodeBaseSize) problem(at + ": nodeSize " + num(s.nodeSize) + " below 72");
      if (s.nodeSize > s.slotLength)
        problem(at + ": nodeSize " + num(s.nodeSize) + " beyond its slot of " + num(int64_t(s.slotLength)));
      if (!liveBySub_.count(s.diskLoc)) liveBySub_[s.diskLoc] = &s;
    }
    if (r_.slots.empty()) {
      if (c.lastNDRec != int64_t(kCtrlRecSize))
        problem("lastNDRec " + num(c.lastNDRec) + " in a file without records");
    } else if (c.lastNDRec != r_.slots.back().position) {
      problem("lastNDRec " + num(c.lastNDRec) + " is not the last slot, at " + num(r_.slots.back().position));
    }
  }

  void checkTree() {
    if (r_.slots.empty()) {
      r_.dump = "[]";  // a database whose empty root has not been written yet
      return;
    }
    auto root = liveBySub_.find(r_.ctrl.rootOffset);
    if (root == liveBySub_.end()) {
      problem("rootOffset " + num(r_.ctrl.rootOffset) + " names no live record");
      return;
    }
    r_.dump = walk(r_.ctrl.rootOffset, 0, -1);
    // Pre-order sorted stably by depth is breadth-first order.
    std::stable_sort(r_.nodes.begin(), r_.nodes.end(),
                     [](const NodeInfo& a, const NodeInfo& b) { return a.depth < b.depth; });
    for (const auto& [sub, slot] : liveBySub_)
      if (!visited_.count(sub))
        problem("live record at " + num(slot->position) + " (diskLoc " + num(sub) + ") is not in the tree");
  }

  // Checks the subtree at `sub`; returns its shape text.
  std::string walk(int32_t sub, int depth, int32_t parent) {
    std::string from = parent < 0 ? "rootOffset" : "a child reference of node " + num(parent);
    auto it = liveBySub_.find(sub);
    if (it == liveBySub_.end()) {
      problem(from + " names " + num(sub) + ", no live record");
      return "?";
    }
    if (!visited_.insert(sub).second) {
      problem(from + " reaches node " + num(sub) + " a second time");
      return "?";
    }
    if (depth >= kMaxDepth) {
      problem("tree deeper than " + num(kMaxDepth) + " levels at node " + num(sub));
      return "?";
    }
    const SlotInfo& s = *it->second;
    NodeInfo info{sub, s.position, s.slotLength, s.nodeSize, depth, {}, {}};
    std::vector<CheckEntry> entries;
    int32_t branch[kBranches];
    int count = readNode(s, sub, &entries, branch);
    bool leaf = branch[0] == 0;
    checkBranches(sub, count, branch, leaf, parent < 0);
    for (const CheckEntry& e : entries) info.keys.push_back(e.key);
    if (!leaf) info.children.assign(branch, branch + count + 1);
    r_.nodes.push_back(info);

    std::string text = "[";
    for (size_t i = 0; i < entries.size(); ++i) text += (i ? " " : "") + keyToUtf8(entries[i].key);
    text += "]";
    if (leaf) {
      if (leafDepth_ < 0) leafDepth_ = depth;
      if (depth != leafDepth_)
        problem("leaf " + num(sub) + " at depth " + num(depth) + ", other leaves at " + num(leafDepth_));
      r_.height = std::max(r_.height, depth + 1);
      for (CheckEntry& e : entries) inOrder(sub, std::move(e));
      return text;
    }
    text += " (";
    for (int i = 0; i <= count; ++i) {
      if (i) text += " ";
      text += branch[i] ? walk(branch[i], depth + 1, sub) : "?";
      if (i < count && size_t(i) < entries.size()) inOrder(sub, std::move(entries[i]));
    }
    return text + ")";
  }

  void inOrder(int32_t sub, CheckEntry&& e) {
    if (!r_.entries.empty() && !(r_.entries.back().key < e.key))
      problem("node " + num(sub) + ": key \"" + keyToUtf8(e.key) + "\" does not follow \"" +
              keyToUtf8(r_.entries.back().key) + "\"");
    r_.entries.push_back(std::move(e));
  }

  void checkBranches(int32_t sub, int count, const int32_t* branch, bool leaf, bool isRoot) {
    std::string at = "node " + num(sub);
    for (int i = 1; i <= count; ++i) {
      if (leaf && branch[i] != 0) problem(at + ": a leaf with child reference branch[" + num(i) + "]");
      if (!leaf && branch[i] == 0) problem(at + ": interior node without branch[" + num(i) + "]");
    }
    if (!isRoot && (count < kMinFill || count > kMaxEntries))
      problem(at + ": " + num(count) + " entries, outside 5..10");
    if (isRoot && !leaf && count == 0) problem(at + ": interior root without entries");
  }

  // Reads the count, branches and entries of a live node, reporting what
  // is out of bounds.  Returns the count to use (at most 10).
  int readNode(const SlotInfo& s, int32_t sub, std::vector<CheckEntry>* entries, int32_t* branch) {
    std::string at = "node " + num(sub);
    std::fill(branch, branch + kBranches, 0);
    size_t begin = size_t(s.position);
    size_t end = begin + std::min<uint64_t>({s.nodeSize, s.slotLength, b_.size() - begin});
    if (end - begin < kDiskNodeBaseSize) return 0;  // reported with the slot
    const uint8_t* p = b_.data() + begin;
    int count = getU16(p + kNodeCount);
    if (count > kMaxEntries) {
      problem(at + ": count " + num(count) + " above 10");
      count = kMaxEntries;
    }
    for (int i = 0; i < kBranches; ++i) branch[i] = getI32(p + kNodeBranch + 4 * size_t(i));
    size_t off = begin + kNodeEntries;
    for (int i = 0; i < count; ++i) {
      std::string ea = at + ", entry " + num(i);
      if (end - off < 4) {
        problem(ea + " starts past the node's " + num(s.nodeSize) + " bytes");
        return count;
      }
      size_t nkl = getU16(b_.data() + off + kEntryNkl);
      size_t dataAt = 2 + getU16(b_.data() + off + kEntryDataOffset);
      if (nkl < kEntryKey + 2) {
        problem(ea + ": nkl " + num(int64_t(nkl)) + " cannot hold a key");
        return count;
      }
      if (nkl > end - off) {
        problem(ea + ": nkl " + num(int64_t(nkl)) + " runs past the node's " + num(s.nodeSize) + " bytes");
        return count;
      }
      CheckEntry e;
      readEntry(ea, off, nkl, dataAt, &e);
      entries->push_back(std::move(e));
      off += nkl;
    }
    if (off != begin + s.nodeSize)
      problem(at + ": nodeSize " + num(s.nodeSize) + " but its entries end at " + num(int64_t(off - begin)));
    return count;
  }

  void readEntry(const std::string& ea, size_t off, size_t nkl, size_t dataAt, CheckEntry* e) {
    const uint8_t* p = b_.data() + off;
    size_t keyEnd = std::min(dataAt, nkl);  // the key must end before its data
    bool terminated = false;
    for (size_t k = kEntryKey; k + 2 <= keyEnd; k += 2) {
      uint16_t u = getU16(p + k);
      if (u == 0) {
        terminated = true;
        break;
      }
      e->key.push_back(char16_t(u));
    }
    if (!terminated) problem(ea + ": key \"" + keyToUtf8(e->key) + "\" has no terminator before its data");
    size_t dataSize = r_.ctrl.dataSize;
    if (dataAt < kEntryKey + 2 * (e->key.size() + 1) || dataAt + dataSize > nkl) {
      problem(ea + ": data record at entry offset " + num(int64_t(dataAt)) + " lies outside its entry");
      return;
    }
    e->data.assign(p + dataAt, p + dataAt + dataSize);
  }

  const Bytes& b_;
  const CheckOptions& opt_;
  CheckResult& r_;
  size_t problemCount_ = 0;
  std::map<int32_t, const SlotInfo*> liveBySub_;  // first live record per diskLoc
  std::set<int32_t> visited_;
  int leafDepth_ = -1;
};

}  // namespace

const NodeInfo* CheckResult::node(int32_t subscript) const {
  for (const NodeInfo& n : nodes)
    if (n.subscript == subscript) return &n;
  return nullptr;
}

std::string CheckResult::report() const {
  std::string out;
  for (const std::string& p : problems) out += p + "\n";
  return out;
}

CheckResult checkImage(const Bytes& bytes, const CheckOptions& options) {
  CheckResult r;
  Checker(bytes, options, &r).run();
  return r;
}

CheckResult checkDatabase(const std::string& path, const CheckOptions& options) {
  Bytes bytes;
  std::string error;
  if (!readFile(path, &bytes, &error)) {
    CheckResult r;
    r.problems.push_back(error);
    return r;
  }
  return checkImage(bytes, options);
}

}  // namespace jbbbuilder
