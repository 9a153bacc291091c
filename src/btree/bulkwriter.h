// The bulk writer: a new database file from entries in key order, written
// as they come, in memory bounded by the tree's height.
//
// The file is the one the tree's own layout gives a fresh database: the
// control record, then the nodes breadth first (the root at 2088, then each
// level from the left), each in a slot exactly as long as its node, no free
// slot, and subscripts handed out in file order from 1, so the root's is 1.
// The shape comes from the entry count alone (bulkshape.h), which is why
// the count is needed up front.
//
// Nodes complete level by level as the entries come in, each level in key
// order; every level goes to a temporary file beside the output
// (PATH.levelN), and finish() lays out the file: the control record, then
// the levels from the root down.  Whatever fails, the writer leaves neither
// the output nor a temporary file behind.  It writes through the platform
// file layer only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "btree/bulkshape.h"
#include "btree/entrystream.h"
#include "btree/format.h"
#include "platform/osfile.h"

namespace jbbbulk {

// What the new file holds besides its entries.
struct BulkSpec {
  FillOptions fill;
  uint16_t dataSize = 32;  // every entry's data record; shorter data is zero-padded
  uint16_t keyLength = 0;
  uint8_t majorVersion = jbbformat::kMajorVersion;
  uint8_t minorVersion = jbbformat::kMinorVersion;
  std::array<uint8_t, jbbformat::kJournalInfoSize> journalInfoArea{};
  std::array<uint8_t, 4> pad1{}, pad2{};
  // Sync the file to the disk before finish() returns.
  bool toDisk = false;
};

// The fields a rebuilt database keeps from the control record it replaces
// (2088 bytes): versions, key length, data size, the journal information
// area byte for byte, the padding.
void keepControlFields(const uint8_t* ctrlRec, BulkSpec* spec);

// What finish() wrote.
struct BulkResult {
  uint64_t entries = 0;
  uint64_t nodes = 0;
  uint64_t bytes = 0;  // the file's size
  int height = 0;      // 1 for a lone leaf root
};

class BulkWriter : public EntrySink {
 public:
  BulkWriter();
  ~BulkWriter() override;  // abandons a file that was not finished
  BulkWriter(const BulkWriter&) = delete;
  BulkWriter& operator=(const BulkWriter&) = delete;

  // Creates the file at path (replacing one that stands there) for exactly
  // entryCount entries.  False when the fill is not 5..10 or a file cannot
  // be created.
  bool begin(const std::string& path, uint64_t entryCount, const BulkSpec& spec);
  // The next entry: its key must follow the last one's, hold no zero unit,
  // and make an entry of at most 32767 bytes; its data fits the data size.
  bool put(const EntryView& entry) override;
  // After the last entry: lays the file out and closes it.
  bool finish(BulkResult* result);
  // Removes the output and the temporary files; nothing was written.
  void abandon();

  const std::string& error() const override { return error_; }

 private:
  struct Level;

  bool fail(const std::string& why);
  bool failIo(const std::string& what, const std::string& path);
  bool checkEntry(const EntryView& e);
  void closeNode(const ShapeNode& node);
  bool flushLevel(Level& level);
  bool layOut();
  bool copyLevel(Level& level, int64_t* pos, std::vector<uint8_t>* buffer);
  void writeCtrlRec(uint8_t* bytes) const;
  void release(bool removeOutput);

  std::string path_;
  BulkSpec spec_;
  uint64_t expected_ = 0, written_ = 0;
  OsFile* out_ = nullptr;
  std::vector<std::unique_ptr<Level>> levels_;  // index 0 = leaves
  std::unique_ptr<ShapeCursor> cursor_;
  std::vector<uint16_t> lastKey_;
  bool failed_ = false;
  std::string error_;
  BulkResult result_;
};

}  // namespace jbbbulk
