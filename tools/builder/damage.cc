// The damage kinds of damage.h, applied to a built image.
#include "builder/damage.h"

#include <cstring>

#include "btree/format.h"
#include "builder/writer.h"

using namespace jbbformat;

namespace jbbbuilder {

namespace {

struct Named {
  Damage kind;
  const char* name;
};

const Named kNames[] = {
    {Damage::None, "none"},
    {Damage::TruncatedFile, "truncated-file"},
    {Damage::ShortControlRecord, "short-control-record"},
    {Damage::BadMagic, "bad-magic"},
    {Damage::SwappedMagic, "swapped-magic"},
    {Damage::OtherDataSize, "other-data-size"},
    {Damage::SlotTooShort, "slot-too-short"},
    {Damage::SlotZero, "slot-zero"},
    {Damage::DiskLocZero, "diskloc-zero"},
    {Damage::DiskLocTooLarge, "diskloc-too-large"},
    {Damage::DuplicateDiskLoc, "duplicate-diskloc"},
    {Damage::ChildCycle, "child-cycle"},
    {Damage::ChildZero, "child-zero"},
    {Damage::NodeSizeTooSmall, "nodesize-too-small"},
    {Damage::NodeSizeBeyondSlot, "nodesize-beyond-slot"},
    {Damage::CountTooLarge, "count-too-large"},
    {Damage::NklBeyondNode, "nkl-beyond-node"},
    {Damage::NklZero, "nkl-zero"},
    {Damage::KeyUnterminated, "key-unterminated"},
    {Damage::KeysOutOfOrder, "keys-out-of-order"},
    {Damage::CountsZero, "counts-zero"},
    {Damage::LastSlotBeyondFile, "last-slot-beyond-file"},
    {Damage::CountsTooSmall, "counts-too-small"},
    {Damage::RootFree, "root-free"},
    {Damage::RootMissing, "root-missing"},
    {Damage::TrailingBytes, "trailing-bytes"},
};

// The damage functions return 1 when done, 0 when the kind is not theirs,
// -1 when it does not apply to this image.
int fail(std::string* error, const std::string& why) {
  if (error) *error = std::string("damage ") + why;
  return -1;
}

const Placement* findSlot(const BuiltImage& im, int32_t subscript) {
  for (const Placement& p : im.slots)
    if (p.subscript == subscript) return &p;
  return nullptr;
}

// Position of entry i of the live record at p (entries as written).
uint8_t* entryAt(uint8_t* rec, int i) {
  uint8_t* e = rec + kNodeEntries;
  while (i-- > 0) e += getU16(e + kEntryNkl);
  return e;
}

// Kinds that change the control record or the file's length.
int damageFile(Damage kind, BuiltImage* im, std::string* error) {
  uint8_t* b = im->bytes.data();
  switch (kind) {
    case Damage::TruncatedFile: {
      if (im->slots.empty()) return fail(error, "truncated-file needs a record");
      const Placement& last = im->slots.back();
      im->bytes.resize(size_t(last.position) + kRecordHeaderSize + (last.slotLength - kRecordHeaderSize) / 2);
      return 1;
    }
    case Damage::TrailingBytes:
      im->bytes.insert(im->bytes.end(), 10, 0x5A);
      return 1;
    case Damage::ShortControlRecord:
      im->bytes.resize(kCtrlRecSize - 1);
      return 1;
    case Damage::BadMagic:
      putU16(b + kCrMagic, 0x1234);
      return 1;
    case Damage::SwappedMagic:
      putU16(b + kCrMagic, 0xCDAB);
      return 1;
    case Damage::OtherDataSize:
      putU16(b + kCrDataSize, uint16_t(getU16(b + kCrDataSize) + 1));
      return 1;
    case Damage::CountsZero:
      putU32(b + kCrIndexArraySize, 0);
      putU32(b + kCrCurrentIXCount, 0);
      return 1;
    case Damage::CountsTooSmall:
      putU32(b + kCrCurrentIXCount, getU32(b + kCrCurrentIXCount) - 1);
      return 1;
    case Damage::RootMissing:
      putI32(b + kCrRootOffset, int32_t(im->slots.size() + 1));
      return 1;
    case Damage::LastSlotBeyondFile: {
      if (im->slots.empty()) return fail(error, "last-slot-beyond-file needs a record");
      uint8_t* rec = b + im->slots.back().position;
      putU64(rec + kNodeSlotLength, getU64(rec + kNodeSlotLength) + 4096);
      return 1;
    }
    case Damage::DuplicateDiskLoc: {
      if (im->slots.size() < 2) return fail(error, "duplicate-diskloc needs two records");
      putI32(b + im->slots.back().position + kNodeDiskLoc, im->slots.front().subscript);
      return 1;
    }
    default:
      return 0;
  }
}

int damageTree(Damage kind, BuiltImage* im, std::string* error) {
  const Placement* root = findSlot(*im, im->rootSubscript);
  if (!root || root->free) return fail(error, std::string(damageName(kind)) + " needs a root record");
  uint8_t* rec = im->bytes.data() + root->position;
  switch (kind) {
    case Damage::RootFree:
      putU32(rec + kNodeRecordState, kRecordFree);
      return 1;
    case Damage::ChildCycle: {
      if (root->node->isLeaf()) return fail(error, "child-cycle needs two levels");
      const Placement* child = findSlot(*im, getI32(rec + kNodeBranch));
      putI32(im->bytes.data() + child->position + kNodeBranch, im->rootSubscript);
      return 1;
    }
    case Damage::ChildZero: {
      if (root->node->isLeaf()) return fail(error, "child-zero needs two levels");
      putI32(rec + kNodeBranch + 4 * root->node->entries.size(), 0);
      return 1;
    }
    default:
      return 0;
  }
}

// Kinds that change the target record.
int damageRecord(Damage kind, const Placement& t, BuiltImage* im, std::string* error) {
  uint8_t* rec = im->bytes.data() + t.position;
  size_t count = t.node ? t.node->entries.size() : 0;
  switch (kind) {
    case Damage::SlotTooShort: putU64(rec + kNodeSlotLength, 16); return 1;
    case Damage::SlotZero: putU64(rec + kNodeSlotLength, 0); return 1;
    case Damage::DiskLocZero: putI32(rec + kNodeDiskLoc, 0); return 1;
    case Damage::DiskLocTooLarge:
      putI32(rec + kNodeDiskLoc, getI32(im->bytes.data() + kCrIndexArraySize));
      return 1;
    case Damage::NodeSizeTooSmall: putU32(rec + kNodeSize, 71); return 1;
    case Damage::NodeSizeBeyondSlot: putU32(rec + kNodeSize, uint32_t(t.slotLength + 1)); return 1;
    case Damage::CountTooLarge: putU16(rec + kNodeCount, 11); return 1;
    default: break;
  }
  if (t.free || count == 0) return fail(error, std::string(damageName(kind)) + " needs an entry");
  switch (kind) {
    case Damage::NklBeyondNode: putU16(entryAt(rec, 0) + kEntryNkl, 0x7FF0); return 1;
    case Damage::NklZero: putU16(entryAt(rec, 0) + kEntryNkl, 0); return 1;
    case Damage::KeyUnterminated: {
      uint8_t* e = entryAt(rec, int(count) - 1);
      size_t term = kEntryKey + 2 * t.node->entries[count - 1].key.size();
      std::memset(e + term, 0x41, getU16(e + kEntryNkl) - term);
      return 1;
    }
    case Damage::KeysOutOfOrder: {
      if (count < 2) return fail(error, "keys-out-of-order needs two entries");
      uint8_t* e0 = entryAt(rec, 0);
      size_t n0 = getU16(e0 + kEntryNkl), n1 = getU16(e0 + n0 + kEntryNkl);
      Bytes both(e0, e0 + n0 + n1);
      std::memcpy(e0, both.data() + n0, n1);
      std::memcpy(e0 + n1, both.data(), n0);
      return 1;
    }
    default:
      return fail(error, "kind unknown");
  }
}

}  // namespace

const char* damageName(Damage d) {
  for (const Named& n : kNames)
    if (n.kind == d) return n.name;
  return "?";
}

bool damageFromName(const std::string& name, Damage* d) {
  for (const Named& n : kNames) {
    if (name == n.name) {
      *d = n.kind;
      return true;
    }
  }
  return false;
}

std::vector<Damage> allDamageKinds() {
  std::vector<Damage> out;
  for (const Named& n : kNames)
    if (n.kind != Damage::None) out.push_back(n.kind);
  return out;
}

bool applyDamage(const DbSpec& spec, BuiltImage* im, std::string* error) {
  if (spec.damage == Damage::None) return true;
  int done = damageFile(spec.damage, im, error);
  if (done == 0) done = damageTree(spec.damage, im, error);
  if (done != 0) return done > 0;
  int32_t target = spec.damageTarget ? spec.damageTarget : im->rootSubscript;
  const Placement* t = findSlot(*im, target);
  if (!t) {
    fail(error, "target " + std::to_string(target) + " is no record");
    return false;
  }
  return damageRecord(spec.damage, *t, im, error) > 0;
}

}  // namespace jbbbuilder
