// The salvage of a damaged database: every entry that can be found, read
// with the engine's decoders (format.h, frame.h) under rules of its own,
// which trust as little as the check and give up nothing it need not.
//
// How entries are found:
//   1. The record chain is followed from offset 2088.  Where it breaks (a
//      slot shorter than a header or running past the end, or a next
//      header that cannot be one), a scan resynchronises on the next
//      plausible record header, byte by byte, from the end of the last image
//      that could be read.  A header found by the scan is plausible when its
//      reserved field is 0, its state 0 or 1, its subscript positive, and
//      either its node image frames completely (a live record) or another
//      plausible header or the end of the file follows its slot (a free one).
//   2. A node image holds three redundant statements of its extent: the
//      count, nodeSize and the nkl chain of its entries.  The entries are
//      taken when the chain agrees with the count or with nodeSize; when it
//      agrees with neither, the entries framed before the chain broke are
//      taken.  Every entry must hold a terminated key and its data record.
//   3. Free slots hold stale images and are skipped, except one that the
//      tree still refers to (from rootOffset or a live node) while no live
//      record carries its subscript: a node whose state alone is damaged.
//   4. The data size is the stored one unless the entries carry another
//      (the control record then lies about it).
//
// It reads the file twice: the first pass finds and judges (every note but
// the entries dropped for their data size), the second hands the entries on
// in the order found.  Between the two it keeps a few bytes a node, never
// an entry, so a file of any size is salvaged in bounded memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "btree/check.h"
#include "btree/entrystream.h"
#include "btree/format.h"

namespace jbbsalvage {

// What the salvage tells as it goes: offset -1 is about no one place.
class Notes {
 public:
  virtual ~Notes() = default;
  virtual void note(int64_t offset, const std::string& text) = 0;
};

struct Counts {
  size_t nodesTaken = 0;
  size_t nodesSkipped = 0;
  size_t liveRecords = 0;
  size_t freeSkipped = 0;
  size_t found = 0;  // entries found, before the data size drops any
  // What could not be recovered (all 0 when nothing was lost but free
  // slots): a control record cut short (its missing fields read as 0),
  // images broken part way (the entries after the break are lost),
  // entries of taken images left out (a damaged key, or a data record
  // shorter than the data size; counted by feed), and bytes that hold no
  // record the salvage could read.
  size_t nodesBroken = 0;
  size_t entriesSkipped = 0;
  uint64_t bytesSkipped = 0;
  bool ctrlRecShort = false;
  bool lost() const { return ctrlRecShort || nodesSkipped || nodesBroken || entriesSkipped || bytesSkipped; }
};

class Salvager {
 public:
  Salvager(jbbcheck::Source& source, Notes& notes);
  ~Salvager();
  Salvager(const Salvager&) = delete;
  Salvager& operator=(const Salvager&) = delete;

  // The first pass.
  void scan();
  // The second: every entry found, in the order found, to the sink, but
  // those whose data record is shorter than the data size (each noted).
  // False when the sink refuses one.
  bool feed(jbbbulk::EntrySink* sink);

  // The control record (2088 bytes; what the file lacks reads as zero).
  const uint8_t* ctrlRec() const;
  uint16_t dataSize() const;
  const Counts& counts() const;

 private:
  struct State;
  State* state_;
};

}  // namespace jbbsalvage
