// The rollback file: how one change reaches a database file all or nothing.
//
// A change (a deletion, or a batch of them) is gathered in memory first:
// the writes in the order they are to be made and, when it shortens the
// file, the length it ends with.  commit() then
//   1. writes the rollback file beside the database (the database's name
//      with "-rollback" appended): the database's length, the original
//      bytes of every region the change overwrites or cuts off, and a
//      checksum of the new content of every sector the change writes;
//   2. syncs it and its folder: from now on the change can be taken back;
//   3. makes the writes and the cut, and syncs the database: from now on
//      the change is on the disk, and the next open would find it complete;
//   4. removes the rollback file.
// That is three syncs a change, whatever its size.  The removal needs no
// sync of its own: a rollback file that outlives a power loss finds the
// database holding every new sector, and the change counts as complete.
//
// Whoever opens the database next and finds a rollback file judges it
// (inspect) and, holding the exclusive lock, acts on it (recover):
//   - a file that does not check out (cut short, torn, left from a write
//     that never finished) was never used: the database was not touched
//     after it, and the file is only removed;
//   - a database whose length and written sectors are all the new ones is
//     complete: the file is removed;
//   - otherwise every sector the change touched must still hold its old or
//     its new bytes (a sector is written whole or not at all): the old
//     bytes are written back, the length restored, the database synced,
//     and the file removed;
//   - a sector that holds neither was changed by someone else since: the
//     database is left exactly as it is, and the open refuses it.
//
// Layout of the rollback file (all integers little-endian):
//
// Header (64 bytes)
//   OFFSET  SIZE  FIELD          MEANING
//   0       8     magic          "jbbRBK01"
//   8       8     nonce          differs for every change; seeds checksums
//   16      8     oldLength      the database's length before the change
//   24      8     newLength      its length after the change
//   32      8     highLength     the longest it is while the change is made
//   40      4     regionCount    regions that follow
//   44      4     sectorSize     512: the unit a write is torn at
//   48      8     bodyChecksum   of every byte after the header
//   56      8     headerChecksum of bytes 0..55
//
// Region (one after another, in file order, none overlapping)
//   OFFSET  SIZE        FIELD     MEANING
//   0       8           pos       where the region starts in the database
//   8       8           length    its length; a region lies wholly before
//                                 or wholly after oldLength, and likewise
//                                 newLength
//   16      oldBytes    old       the original bytes: `length` of them when
//                                 the region lies before oldLength, else none
//   ...     8 * pieces  newSums   the checksum of the new content of each
//                                 piece, the region cut at every multiple of
//                                 sectorSize; 0 for a piece past newLength
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/osfile.h"

namespace jbbrollback {

// The rollback file of the database at dbPath.
std::string sideFileOf(const char* dbPath);

// One change to a database file, in memory.
struct Change {
  struct Write {
    int64_t pos;
    std::vector<uint8_t> bytes;
  };
  std::vector<Write> writes;  // in the order they are made
  int64_t cutTo = -1;         // the length the file ends with, -1: no cut

  void write(int64_t pos, const void* bytes, size_t n);
  void cut(int64_t length) { cutTo = length; }
  bool empty() const { return writes.empty() && cutTo < 0; }
};

// Makes one positioned write into the database; false with errno set.
class Writer {
 public:
  virtual ~Writer() = default;
  virtual bool write(OsFile* db, int64_t pos, const uint8_t* bytes, size_t n) = 0;
};

enum class CommitResult {
  kDone,         // every write made and on the disk (or none was needed)
  kNotStarted,   // nothing reached the database (errno says why)
  kRestored,     // a write failed; the database holds what it held before
  kLeftPending,  // a write failed and so did putting the old bytes back:
                 // the rollback file stays, and recover() restores them
};

// Makes `change` to db, which the caller holds under the exclusive lock,
// all or nothing, through `writer`.  Writes that would leave bytes as the
// file already holds them are left out; a change left with nothing to do
// touches nothing.  errno tells why when the result is not kDone.
CommitResult commit(OsFile* db, const Change& change, Writer& writer);

// What a rollback file found beside a database means.
struct Pending {
  enum State {
    kNone,      // no rollback file, or one that was never used
    kComplete,  // the change is whole in the database
    kRollBack,  // the change is partly made: its old bytes go back
    kConflict,  // the database was changed by someone else since
  };
  State state = kNone;
  bool sideFile = false;  // a rollback file is there (to be removed)
  uint64_t oldLength = 0;
  struct Restore {
    int64_t pos;
    std::vector<uint8_t> bytes;
  };
  std::vector<Restore> restores;  // kRollBack: the old bytes
  std::string why;                // kConflict: what differs
};

// Judges the rollback file of db against what db holds now.  Reads only.
Pending inspect(OsFile* db);

// Brings db, held under the exclusive lock, to the state `p` names and
// removes the rollback file.  False with errno set when a write failed
// (the rollback file then stays).  A conflict is not acted on: false with
// errno 0.
bool recover(OsFile* db, const Pending& p);

// The database as it will be after recovery, from its bytes as they are.
void applyTo(const Pending& p, std::vector<uint8_t>* bytes);

}  // namespace jbbrollback
