// The bulk writer (bulkwriter.h): nodes encoded as they complete, one
// buffer per level, and the file laid out at the end.
#include "btree/bulkwriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/osfs.h"

using namespace jbbformat;

namespace jbbbulk {

namespace {

constexpr size_t kMaxEntryLength = 32767;
// Complete nodes of a level are gathered up to this many bytes before they
// go to the level's file; a level that never reaches it needs no file.
constexpr size_t kLevelBuffer = 256 * 1024;
constexpr size_t kCopyBuffer = 1 << 20;

std::string because(int err) { return err != 0 ? std::string(": ") + std::strerror(err) : std::string(); }

size_t entryLength(size_t keyUnits, size_t dataSize) { return 4 + 2 * (keyUnits + 1) + dataSize; }

}  // namespace

// One level of the tree: the node being filled and the complete nodes
// not yet in the level's file, which is made only when they overflow.
struct BulkWriter::Level {
  std::string path;
  OsFile* file = nullptr;
  int64_t fileSize = 0;
  int32_t firstSubscript = 0;  // of the level's leftmost node
  std::vector<uint8_t> node;   // header room, then the entries so far
  std::vector<uint8_t> pending;
  uint32_t lastNodeSize = 0;
};

void keepControlFields(const uint8_t* ctrlRec, BulkSpec* spec) {
  CtrlRec cr;
  decodeCtrlRec(ctrlRec, &cr);
  spec->majorVersion = cr.majorVersion;
  spec->minorVersion = cr.minorVersion;
  spec->keyLength = cr.keyLength;
  spec->dataSize = cr.dataSize;
  std::memcpy(spec->journalInfoArea.data(), cr.journalInfoArea, kJournalInfoSize);
  std::memcpy(spec->pad1.data(), cr.pad1, 4);
  std::memcpy(spec->pad2.data(), cr.pad2, 4);
}

BulkWriter::BulkWriter() = default;

BulkWriter::~BulkWriter() {
  if (out_ != nullptr) abandon();
}

bool BulkWriter::fail(const std::string& why) {
  if (!failed_) error_ = why;
  failed_ = true;
  return false;
}

bool BulkWriter::failIo(const std::string& what, const std::string& path) {
  int err = errno;
  return fail(what + " " + path + because(err));
}

bool BulkWriter::begin(const std::string& path, uint64_t entryCount, const BulkSpec& spec) {
  if (out_ != nullptr) abandon();
  levels_.clear();
  cursor_.reset();
  lastKey_.clear();
  failed_ = false;
  error_.clear();
  result_ = BulkResult();
  written_ = 0;
  path_ = path;
  spec_ = spec;
  expected_ = entryCount;
  if (spec.fill.fill < kMinFill || spec.fill.fill > kMaxEntries) return fail("fill must be 5..10");
  out_ = osFileOpen(path.c_str(), OsFileMode::kCreate);
  if (out_ == nullptr) return failIo("cannot write", path);
  std::vector<int64_t> sizes = ShapeCursor::levelSizes(entryCount, spec.fill);
  int64_t subscript = 1;  // the root's; each level follows the one above
  levels_.resize(sizes.size());
  for (size_t i = sizes.size(); i-- > 0;) {
    levels_[i].reset(new Level);
    levels_[i]->path = path + ".level" + std::to_string(i);
    levels_[i]->firstSubscript = int32_t(subscript);
    levels_[i]->node.assign(kNodeEntries, 0);
    subscript += sizes[i];
  }
  if (subscript > INT32_MAX) return fail("too many entries for one database");
  cursor_.reset(new ShapeCursor(entryCount, spec.fill, [this](const ShapeNode& n) { closeNode(n); }));
  return !failed_;
}

bool BulkWriter::checkEntry(const EntryView& e) {
  const char* why = nullptr;
  if (written_ > 0 && compareKeys(lastKey_.data(), lastKey_.size(), e.key, e.keyUnits) >= 0)
    why = "keys not strictly ascending at ";
  else if (std::find(e.key, e.key + e.keyUnits, uint16_t(0)) != e.key + e.keyUnits)
    why = "key \x01 holds a zero unit";
  else if (e.dataSize > spec_.dataSize)
    why = "data of \x01 is longer than the data size";
  else if (entryLength(e.keyUnits, spec_.dataSize) > kMaxEntryLength)
    why = "entry \x01 is longer than 32767 bytes";
  if (why == nullptr) return true;
  // The key, quoted, where the text has its mark, else at its end.
  std::string text = why, key = "\"" + keyToUtf8(e.key, e.keyUnits) + "\"";
  size_t mark = text.find('\x01');
  return fail(mark == std::string::npos ? text + key : text.replace(mark, 1, key));
}

bool BulkWriter::put(const EntryView& e) {
  if (failed_) return false;
  if (cursor_ == nullptr || cursor_->level() < 0)
    return fail("more entries than the " + std::to_string(expected_) + " announced");
  if (!checkEntry(e)) return false;
  std::vector<uint8_t>& node = levels_[size_t(cursor_->level())]->node;
  size_t at = node.size(), nkl = entryLength(e.keyUnits, spec_.dataSize);
  node.resize(at + nkl);
  uint8_t* p = node.data() + at;
  putU16(p + kEntryNkl, uint16_t(nkl));
  putU16(p + kEntryDataOffset, uint16_t(2 + 2 * (e.keyUnits + 1)));  // data right after the terminator
  uint8_t* k = p + kEntryKey;
  for (size_t i = 0; i < e.keyUnits; ++i) putU16(k + 2 * i, e.key[i]);
  putU16(k + 2 * e.keyUnits, 0);
  uint8_t* data = k + 2 * (e.keyUnits + 1);
  if (e.dataSize > 0) std::memcpy(data, e.data, e.dataSize);
  std::memset(data + e.dataSize, 0, spec_.dataSize - e.dataSize);
  lastKey_.assign(e.key, e.key + e.keyUnits);
  ++written_;
  cursor_->advance();
  return !failed_;
}

// A node is complete: its header goes in front of its entries, and it
// joins its level's complete nodes.
void BulkWriter::closeNode(const ShapeNode& n) {
  Level& level = *levels_[size_t(n.level)];
  bool isRoot = n.level == int(levels_.size()) - 1;
  if (n.count > kMaxEntries || (!isRoot && n.count < kMinFill)) {
    fail("a node of " + std::to_string(n.count) + " entries was about to be written");
    return;
  }
  uint8_t* p = level.node.data();
  uint32_t nodeSize = uint32_t(level.node.size());
  putU32(p + kNodeSize, nodeSize);
  putU32(p + kNodeReserved, 0);
  putU64(p + kNodeSlotLength, nodeSize);  // no stale bytes
  putU32(p + kNodeRecordState, 0);
  putI32(p + kNodeDiskLoc, level.firstSubscript + int32_t(n.ordinal));
  putU16(p + kNodeCount, uint16_t(n.count));
  putU16(p + kNodeCount + 2, 0);
  for (int i = 0; i < kBranches; ++i) {
    int32_t child = 0;
    if (n.level > 0 && i <= n.count) child = levels_[size_t(n.level - 1)]->firstSubscript + int32_t(n.firstChild + i);
    putI32(p + kNodeBranch + 4 * size_t(i), child);
  }
  level.pending.insert(level.pending.end(), level.node.begin(), level.node.end());
  level.lastNodeSize = nodeSize;
  level.node.resize(kNodeEntries);
  ++result_.nodes;
  if (level.pending.size() >= kLevelBuffer && !flushLevel(level)) return;
}

bool BulkWriter::flushLevel(Level& level) {
  if (level.pending.empty()) return true;
  if (level.file == nullptr) {
    level.file = osFileOpen(level.path.c_str(), OsFileMode::kCreate);
    if (level.file == nullptr) return failIo("cannot write", level.path);
  }
  if (osFileWrite(level.file, level.pending.data(), level.pending.size(), level.fileSize) != level.pending.size())
    return failIo("cannot write", level.path);
  level.fileSize += int64_t(level.pending.size());
  level.pending.clear();
  return true;
}

bool BulkWriter::finish(BulkResult* result) {
  if (failed_) return false;
  if (out_ == nullptr) return fail("nothing to finish");
  if (written_ != expected_)
    return fail("fewer entries than the " + std::to_string(expected_) + " announced");
  if (!layOut()) {
    abandon();
    return false;
  }
  result_.entries = written_;
  result_.height = int(levels_.size());
  release(false);
  if (result) *result = result_;
  return true;
}

// The levels from the root down after the control record, then the
// control record, which describes them.
bool BulkWriter::layOut() {
  int64_t pos = int64_t(kCtrlRecSize);
  std::vector<uint8_t> buffer;
  for (size_t i = levels_.size(); i-- > 0;)
    if (!copyLevel(*levels_[i], &pos, &buffer)) return false;
  result_.bytes = uint64_t(pos);
  uint8_t cr[kCtrlRecSize];
  writeCtrlRec(cr);
  if (osFileWrite(out_, cr, kCtrlRecSize, 0) != kCtrlRecSize) return failIo("cannot write", path_);
  if (!osFileFlush(out_) || (spec_.toDisk && !osFileSyncToDisk(out_))) return failIo("cannot write", path_);
  return true;
}

// The level's file, then what it still holds in memory, at *pos.
bool BulkWriter::copyLevel(Level& level, int64_t* pos, std::vector<uint8_t>* buffer) {
  if (level.file != nullptr) {
    if (!flushLevel(level)) return false;
    buffer->resize(kCopyBuffer);
    for (int64_t from = 0; from < level.fileSize;) {
      size_t n = size_t(std::min<int64_t>(int64_t(buffer->size()), level.fileSize - from));
      if (osFileRead(level.file, buffer->data(), n, from) != n) return failIo("cannot read", level.path);
      if (osFileWrite(out_, buffer->data(), n, *pos) != n) return failIo("cannot write", path_);
      from += int64_t(n);
      *pos += int64_t(n);
    }
  }
  size_t n = level.pending.size();
  if (n > 0 && osFileWrite(out_, level.pending.data(), n, *pos) != n) return failIo("cannot write", path_);
  *pos += int64_t(n);
  return true;
}

void BulkWriter::writeCtrlRec(uint8_t* b) const {
  uint32_t highest = uint32_t(result_.nodes);  // at least the root
  uint32_t ixCount = highest + 1;
  uint32_t ixSize = (ixCount + kIndexGrowth - 1) / kIndexGrowth * kIndexGrowth;
  putU16(b + kCrMagic, kMagic);
  b[kCrMajor] = spec_.majorVersion;
  b[kCrMinor] = spec_.minorVersion;
  putI32(b + kCrRootOffset, 1);
  putU32(b + kCrIndexArraySize, ixSize);
  putU32(b + kCrCurrentIXCount, ixCount);
  putI32(b + kCrLastIndex, int32_t(highest));
  std::memcpy(b + kCrPad1, spec_.pad1.data(), 4);
  putI64(b + kCrLastNDRec, int64_t(result_.bytes) - int64_t(levels_[0]->lastNodeSize));  // the last leaf
  putU16(b + kCrKeyLength, spec_.keyLength);
  putU16(b + kCrDataSize, spec_.dataSize);
  std::memcpy(b + kJournalInfoOffset, spec_.journalInfoArea.data(), kJournalInfoSize);
  std::memcpy(b + kCrPad2, spec_.pad2.data(), 4);
}

void BulkWriter::abandon() { release(true); }

void BulkWriter::release(bool removeOutput) {
  for (auto& level : levels_) {
    if (level->file == nullptr) continue;
    osFileClose(level->file);
    level->file = nullptr;
    osRemoveFile(level->path.c_str());
  }
  levels_.clear();
  cursor_.reset();
  if (out_ != nullptr) {
    osFileClose(out_);
    out_ = nullptr;
    if (removeOutput) osRemoveFile(path_.c_str());
  }
}

}  // namespace jbbbulk
