// The database checker.
#include "builder/checker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "btree/check.h"
#include "btree/format.h"
#include "btree/frame.h"
#include "builder/fileio.h"

using namespace jbbformat;

namespace jbbbuilder {

namespace {

constexpr size_t kMaxProblems = 200;
constexpr int kMaxDepth = 64;

Key keyAt(const uint8_t* p, size_t units) {
  Key k(units, u'\0');
  for (size_t i = 0; i < units; ++i) k[i] = char16_t(getU16(p + 2 * i));
  return k;
}

// Keeps what the engine's check reports in a CheckResult.
class Collector : public jbbcheck::Reporter {
 public:
  Collector(const CheckOptions& o, CheckResult* r) : opt_(o), r_(*r) {}

  void problem(int64_t offset, const std::string& text) override {
    if (r_.problems.size() < kMaxProblems) r_.problems.push_back(Problem{offset, text});
  }
  bool wantsSlots() const override { return true; }
  void slot(const jbbcheck::Slot& s) override {
    r_.slots.push_back(SlotInfo{s.position, s.slotLength, s.nodeSize, s.recordState, s.diskLoc});
  }
  void node(const jbbcheck::Node& n) override {
    NodeInfo info{n.subscript, n.position, n.slotLength, n.nodeSize, n.depth, n.framed->framed, {}, {}};
    if (opt_.collect)
      for (int i = 0; i < n.framed->framed; ++i) {
        const FramedEntry& e = n.framed->entries[i];
        info.keys.push_back(keyAt(n.image + e.offset + kEntryKey, e.keyUnits));
      }
    if (!n.leaf) info.children.assign(n.framed->branch, n.framed->branch + n.count + 1);
    r_.nodes.push_back(std::move(info));
  }
  void entry(const jbbcheck::Entry& e) override {
    EntryRef ref{e.offset, e.key, e.keyUnits, e.data, e.dataSize};
    if (opt_.collect) {
      CheckEntry c{ref.toKey(), {}};
      if (ref.data) c.data.assign(ref.data, ref.data + ref.dataSize);
      r_.entries.push_back(std::move(c));
    }
    if (opt_.onEntry) opt_.onEntry(ref);
  }

 private:
  const CheckOptions& opt_;
  CheckResult& r_;
};

// The nodes come in pre-order; grouped by depth, keeping that order within
// a level, they are in breadth-first order.  They are moved in place along
// the cycles of that permutation.
void breadthFirst(std::vector<NodeInfo>* nodes) {
  std::vector<size_t> start(kMaxDepth + 1, 0);
  for (const NodeInfo& n : *nodes) ++start[size_t(n.depth) + 1];
  for (int d = 1; d <= kMaxDepth; ++d) start[d] += start[d - 1];
  std::vector<size_t> to(nodes->size());
  for (size_t i = 0; i < to.size(); ++i) to[i] = start[size_t((*nodes)[i].depth)]++;
  for (size_t i = 0; i < to.size(); ++i) {
    while (to[i] != i) {
      std::swap((*nodes)[i], (*nodes)[to[i]]);
      std::swap(to[i], to[to[i]]);
    }
  }
}

CheckResult run(jbbcheck::Source& source, const CheckOptions& options) {
  CheckResult r;
  Collector collector(options, &r);
  jbbcheck::Options o;
  o.expectedDataSize = options.expectedDataSize;
  if (options.collect) o.shape = &r.dump;
  jbbcheck::Summary s = jbbcheck::check(source, o, collector);
  r.problemCount = s.problems;
  if (s.problems > kMaxProblems)
    r.problems.push_back(Problem{-1, "... and " + std::to_string(s.problems - kMaxProblems) + " more"});
  r.fileSize = s.fileSize;
  if (s.ctrlRead) {
    const CtrlRec& c = s.ctrl;
    r.ctrl = CtrlInfo{c.magic, c.majorVersion, c.minorVersion, c.rootOffset, c.indexArraySize, c.currentIXCount,
                      c.lastIndex, c.lastNDRec, c.keyLength, c.dataSize,
                      Bytes(c.journalInfoArea, c.journalInfoArea + kJournalInfoSize)};
  }
  r.entryCount = s.entries;
  r.height = s.height;
  breadthFirst(&r.nodes);
  return r;
}

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
  jbbcheck::MemorySource source(bytes, size);
  return run(source, options);
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
