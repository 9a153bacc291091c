// Encoding a tree into a database image.
#include "builder/writer.h"

#include <cstring>

#include "btree/format.h"

using namespace jbbformat;

namespace jbbbuilder {

// Applies spec.damage to a built image (damage.cc).
bool applyDamage(const DbSpec& spec, BuiltImage* image, std::string* error);

namespace {

constexpr uint8_t kStaleByte = 0x5A;  // fills slack and free slots
constexpr size_t kMaxEntryLength = 32767;

struct NodeRef {
  const TreeNode* node;
  size_t firstChild;  // breadth-first index of children[0]
  uint32_t nodeSize;
};

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

size_t entryLength(const Entry& e, size_t dataSize) { return 4 + 2 * (e.key.size() + 1) + dataSize; }

bool checkNode(const TreeNode& n, size_t dataSize, std::string* error) {
  if (n.entries.size() > size_t(kMaxEntries)) return fail(error, "a node holds more than 10 entries");
  if (!n.children.empty() && n.children.size() != n.entries.size() + 1)
    return fail(error, "an interior node needs one child more than its entries");
  for (const Entry& e : n.entries) {
    if (e.key.find(char16_t(0)) != Key::npos)
      return fail(error, "key \"" + keyToUtf8(e.key) + "\" holds a zero unit");
    if (e.data.size() > dataSize)
      return fail(error, "data of \"" + keyToUtf8(e.key) + "\" is longer than the data size");
    if (entryLength(e, dataSize) > kMaxEntryLength)
      return fail(error, "entry \"" + keyToUtf8(e.key) + "\" is longer than 32767 bytes");
  }
  return true;
}

// Breadth-first list of the nodes: the children of node i are consecutive.
bool listNodes(const TreeNode& root, size_t dataSize, std::vector<NodeRef>* out, std::string* error) {
  out->push_back(NodeRef{&root, 0, 0});
  for (size_t i = 0; i < out->size(); ++i) {
    const TreeNode& n = *(*out)[i].node;
    if (!checkNode(n, dataSize, error)) return false;
    size_t size = kDiskNodeBaseSize;
    for (const Entry& e : n.entries) size += entryLength(e, dataSize);
    (*out)[i].nodeSize = uint32_t(size);
    (*out)[i].firstChild = out->size();
    for (const TreeNode& c : n.children) out->push_back(NodeRef{&c, 0, 0});
  }
  return true;
}

// File order: breadth-first indices, optionally shuffled, with -1 for each
// free slot, spread so that no free slot comes last.
bool orderValid(const std::vector<size_t>& order, size_t liveCount) {
  if (order.size() != liveCount) return false;
  std::vector<bool> seen(liveCount, false);
  for (size_t i : order) {
    if (i >= liveCount || seen[i]) return false;
    seen[i] = true;
  }
  return true;
}

std::vector<long> fileOrder(size_t liveCount, const Layout& layout) {
  std::vector<long> live(liveCount);
  for (size_t i = 0; i < liveCount; ++i) live[i] = long(layout.nodeOrder.empty() ? i : layout.nodeOrder[i]);
  if (layout.shuffle && layout.nodeOrder.empty()) {
    Rng rng(layout.shuffleSeed);
    for (size_t i = liveCount; i > 1; --i) std::swap(live[i - 1], live[rng.below(i)]);
  }
  std::vector<long> order;
  size_t freeCount = size_t(layout.freeSlots > 0 ? layout.freeSlots : 0);
  size_t nextFree = 0;
  for (size_t i = 0; i < liveCount; ++i) {
    // Free slot j goes before live record (j + 1) * live / (free + 1).
    while (nextFree < freeCount && (nextFree + 1) * liveCount / (freeCount + 1) <= i) {
      order.push_back(-1);
      ++nextFree;
    }
    order.push_back(live[i]);
  }
  return order;
}

void putEntry(uint8_t* p, const Entry& e, size_t dataSize) {
  size_t nkl = entryLength(e, dataSize);
  size_t keyBytes = 2 * (e.key.size() + 1);
  putU16(p + kEntryNkl, uint16_t(nkl));
  putU16(p + kEntryDataOffset, uint16_t(2 + keyBytes));  // data right after the terminator
  for (size_t i = 0; i < e.key.size(); ++i) putU16(p + kEntryKey + 2 * i, e.key[i]);
  putU16(p + kEntryKey + 2 * e.key.size(), 0);
  uint8_t* data = p + kEntryKey + keyBytes;
  std::memset(data, 0, dataSize);
  if (!e.data.empty()) std::memcpy(data, e.data.data(), e.data.size());
}

void putHeader(uint8_t* p, uint32_t nodeSize, uint64_t slotLength, uint32_t state, int32_t diskLoc) {
  putU32(p + kNodeSize, nodeSize);
  putU32(p + kNodeReserved, 0);
  putU64(p + kNodeSlotLength, slotLength);
  putU32(p + kNodeRecordState, state);
  putI32(p + kNodeDiskLoc, diskLoc);
}

void putNode(uint8_t* p, const NodeRef& ref, uint64_t slotLength, int32_t diskLoc,
             const std::vector<int32_t>& subscriptOf, size_t dataSize) {
  const TreeNode& n = *ref.node;
  putHeader(p, ref.nodeSize, slotLength, 0, diskLoc);
  putU16(p + kNodeCount, uint16_t(n.entries.size()));
  putU16(p + kNodeCount + 2, 0);
  for (int i = 0; i < kBranches; ++i) {
    int32_t child = size_t(i) < n.children.size() ? subscriptOf[ref.firstChild + i] : 0;
    putI32(p + kNodeBranch + 4 * size_t(i), child);
  }
  uint8_t* at = p + kNodeEntries;
  for (const Entry& e : n.entries) {
    putEntry(at, e, dataSize);
    at += entryLength(e, dataSize);
  }
  std::memset(at, kStaleByte, size_t(slotLength - ref.nodeSize));
}

void putCtrlRec(const DbSpec& spec, const uint8_t* infoArea, int32_t root, uint32_t highest,
                int32_t lastIndex, int64_t lastNDRec, uint8_t* b) {
  const CtrlOverrides& o = spec.ctrl;
  uint32_t ixCount = highest + 1;
  uint32_t ixSize = (ixCount + kIndexGrowth - 1) / kIndexGrowth * kIndexGrowth;
  putU16(b + kCrMagic, o.magic.value_or(kMagic));
  b[kCrMajor] = o.majorVersion.value_or(kMajorVersion);
  b[kCrMinor] = o.minorVersion.value_or(kMinorVersion);
  putI32(b + kCrRootOffset, o.rootOffset.value_or(root));
  putU32(b + kCrIndexArraySize, o.indexArraySize.value_or(ixSize));
  putU32(b + kCrCurrentIXCount, o.currentIXCount.value_or(ixCount));
  putI32(b + kCrLastIndex, o.lastIndex.value_or(lastIndex));
  std::memcpy(b + kCrPad1, o.pad1.data(), 4);
  putI64(b + kCrLastNDRec, o.lastNDRec.value_or(lastNDRec));
  putU16(b + kCrKeyLength, spec.keyLength);
  putU16(b + kCrDataSize, o.dataSize.value_or(spec.dataSize));
  std::memcpy(b + kJournalInfoOffset, infoArea, kJournalInfoSize);
  std::memcpy(b + kCrPad2, o.pad2.data(), 4);
}

}  // namespace

bool buildImage(const TreeNode& root, const DbSpec& spec, BuiltImage* image, std::string* error) {
  const Layout& layout = spec.layout;
  if (layout.freeSlots > 0 && layout.freeSlotSize < kRecordHeaderSize)
    return fail(error, "a free slot needs at least 24 bytes");
  uint8_t infoArea[kJournalInfoSize];
  if (spec.rawInfoArea) {
    std::memcpy(infoArea, spec.rawInfoArea->data(), kJournalInfoSize);
  } else if (!encodeJournalInfo(spec.info, infoArea, error)) {
    return false;
  }
  std::vector<NodeRef> nodes;
  if (!listNodes(root, spec.dataSize, &nodes, error)) return false;
  if (!layout.nodeOrder.empty() && !orderValid(layout.nodeOrder, nodes.size()))
    return fail(error, "the node order must name every node once");
  *image = BuiltImage();
  image->entryCount = entryCountOf(root);
  bool treeless = root.entries.empty() && root.children.empty() && !layout.writeEmptyRoot;
  std::vector<long> order = treeless ? std::vector<long>() : fileOrder(nodes.size(), layout);

  // Subscripts follow file order; positions follow the slot lengths.
  std::vector<int32_t> subscriptOf(nodes.size(), 0);
  int64_t pos = int64_t(kCtrlRecSize);
  for (size_t j = 0; j < order.size(); ++j) {
    Placement pl{int32_t(j + 1), pos, layout.freeSlotSize, layout.freeSlotSize, true, nullptr};
    if (order[j] >= 0) {
      const NodeRef& ref = nodes[size_t(order[j])];
      uint32_t slack = layout.slackOf ? layout.slackOf(pl.subscript) : layout.slack;
      pl.slotLength = uint64_t(ref.nodeSize) + slack;
      pl.nodeSize = ref.nodeSize;
      pl.free = false;
      pl.node = ref.node;
      subscriptOf[size_t(order[j])] = pl.subscript;
    }
    image->slots.push_back(pl);
    pos += int64_t(pl.slotLength);
  }
  image->rootSubscript = treeless ? 1 : subscriptOf[0];

  image->bytes.assign(size_t(pos), 0);
  uint8_t* b = image->bytes.data();
  for (size_t j = 0; j < order.size(); ++j) {
    const Placement& pl = image->slots[j];
    uint8_t* p = b + pl.position;
    if (pl.free) {
      std::memset(p, kStaleByte, pl.slotLength);
      putHeader(p, pl.nodeSize, pl.slotLength, kRecordFree, pl.subscript);
    } else {
      putNode(p, nodes[size_t(order[j])], pl.slotLength, pl.subscript, subscriptOf, spec.dataSize);
    }
  }
  // A database without records reads as just created: the root's subscript
  // 1 handed out, its slot to come at 2088.
  uint32_t highest = order.empty() ? 1 : uint32_t(order.size());
  int64_t lastPos = order.empty() ? int64_t(kCtrlRecSize) : image->slots.back().position;
  putCtrlRec(spec, infoArea, image->rootSubscript, highest, int32_t(highest), lastPos, b);
  return applyDamage(spec, image, error);
}

bool writeShape(const std::string& path, const std::string& shape, const DbSpec& spec,
                std::string* error) {
  TreeNode root;
  return parseShape(shape, spec.dataSize, &root, error) && writeDatabase(path, root, spec, error);
}

bool writeDatabase(const std::string& path, const TreeNode& root, const DbSpec& spec,
                   std::string* error, BuiltImage* image) {
  BuiltImage local;
  BuiltImage* out = image ? image : &local;
  return buildImage(root, spec, out, error) && writeFile(path, out->bytes, error);
}

}  // namespace jbbbuilder
