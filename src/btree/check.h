// The integrity check of a database file: every invariant format.h states,
// each problem with the file offset of the bytes it is about.
//
// It reads the file as the engine writes it and accepts every state the
// engine leaves (a last slot claimed longer than the file, as the open
// accepts it, among them), and it decodes records, nodes and entries with
// the engine's own decoders (format.h, frame.h).  Its rules are its own:
// where the open refuses a file at the first fault, the check lists them
// all and goes on wherever it can.
//
// It never trusts a field: every length, count and subscript is bounded
// before it is followed, the tree walk stops at a node reached a second
// time and below 64 levels, so any file, however damaged, gives a list of
// problems and no crash.  Its memory is bounded by the index: 16 bytes and
// a bit for every subscript the control record provides (at most four for
// every slot of the file), the path of the walk, and what a Reporter keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "btree/format.h"
#include "btree/frame.h"
#include "btree/rollback.h"
#include "platform/osfile.h"

namespace jbbcheck {

// The bytes the check reads.  bytes(pos, n) gives n bytes at pos, all
// inside size(); the pointer is good until the next call, or for as long as
// the source lives when stable() says so.
class Source {
 public:
  virtual ~Source() = default;
  virtual uint64_t size() const = 0;
  virtual bool stable() const = 0;
  virtual const uint8_t* bytes(uint64_t pos, size_t n) = 0;
};

// A whole image in memory.
class MemorySource : public Source {
 public:
  MemorySource(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  uint64_t size() const override { return size_; }
  bool stable() const override { return true; }
  const uint8_t* bytes(uint64_t pos, size_t) override { return bytes_ + pos; }

 private:
  const uint8_t* bytes_;
  size_t size_;
};

// An open file, read in place where it is mapped, else through a buffer,
// as it will be once a change cut off by a crash is recovered (`pending`,
// judged by jbbrollback::inspect; nothing is written).
class FileSource : public Source {
 public:
  explicit FileSource(OsFile* file, const jbbrollback::Pending* pending = nullptr);
  uint64_t size() const override { return size_; }
  bool stable() const override { return stable_; }
  const uint8_t* bytes(uint64_t pos, size_t n) override;
  // False when the file could not be read (errno set); what could not be
  // read reads as zero.
  bool ok() const { return ok_; }

 private:
  OsFile* file_;
  const jbbrollback::Pending* pending_;
  uint64_t size_ = 0;
  bool stable_ = false;
  bool ok_ = true;
  std::vector<uint8_t> buffer_;
};

// One record of the chain, in file order.
struct Slot {
  int64_t position;
  uint64_t slotLength;
  uint32_t nodeSize;
  uint32_t recordState;
  int32_t diskLoc;
  bool free() const { return recordState == jbbformat::kRecordFree; }
};

// One node of the tree, as the walk reaches it (pre-order).
struct Node {
  int32_t subscript;
  int64_t position;
  uint64_t slotLength;
  uint32_t nodeSize;
  int depth;                     // 0 for the root
  int count;                     // the entry count used (at most 10)
  const uint8_t* image;          // the node's bytes, framed in `framed`
  const jbbformat::FramedNode* framed;
  bool leaf;
};

// An entry reached from the root, in tree order.
struct Entry {
  int64_t offset;       // of the entry in the file
  const uint8_t* key;   // keyUnits little-endian 16-bit units, no terminator
  size_t keyUnits;
  const uint8_t* data;  // dataSize bytes; null when the record lies outside its entry
  size_t dataSize;
};

// What the check tells as it goes.  The pointers in what it hands over are
// good during the call only.
class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void problem(int64_t offset, const std::string& text) = 0;
  // Whether slot() is to be called: the check then reads every record
  // header once more, in file order.
  virtual bool wantsSlots() const { return false; }
  virtual void slot(const Slot&) {}
  virtual void node(const Node&) {}
  virtual void entry(const Entry&) {}
};

struct Options {
  // When non-zero, the stored dataSize must equal it.
  uint16_t expectedDataSize = 0;
  // When set, the tree's shape text, e.g. "[d h] ([a b] [e f] [k])".
  std::string* shape = nullptr;
};

struct Summary {
  uint64_t fileSize = 0;
  CtrlRec ctrl{};
  bool ctrlRead = false;   // the file holds a whole control record
  size_t problems = 0;
  size_t slots = 0;        // records of the chain
  size_t nodes = 0;        // nodes reached from the root
  size_t entries = 0;      // entries reached from the root
  int height = 0;          // levels; 1 for a lone leaf root
  bool ok() const { return problems == 0; }
};

Summary check(Source& source, const Options& options, Reporter& reporter);

}  // namespace jbbcheck
