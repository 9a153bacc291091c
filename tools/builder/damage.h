// Damage for failure tests: each kind is one well-defined change to the
// image of a database that was first built well-formed.  "The target" is the
// record named by DbSpec::damageTarget (a subscript; 0 = the root's record).
// A kind that does not apply to the tree (for instance a cycle in a tree of
// one node) fails the build with a message instead of writing a file.
#pragma once

#include <string>
#include <vector>

namespace jbbbuilder {

enum class Damage {
  None,
  TruncatedFile,       // the file ends halfway through the last slot: its 24-byte
                       // header stays, half of the rest is cut off
  ShortControlRecord,  // the file is cut to 2087 bytes
  BadMagic,            // magic reads 0x1234 (bytes 34 12)
  SwappedMagic,        // magic stored with its bytes swapped (bytes AB CD)
  OtherDataSize,       // the stored dataSize is one more than the records carry
  SlotTooShort,        // the target's slotLength is 16
  SlotZero,            // the target's slotLength is 0
  DiskLocZero,         // the target's diskLoc is 0
  DiskLocTooLarge,     // the target's diskLoc equals indexArraySize
  DuplicateDiskLoc,    // the last record in the file carries the diskLoc of the
                       // first (needs two records)
  ChildCycle,          // the root's first child has branch[0] = the root's
                       // subscript (needs two levels)
  ChildZero,           // the root's last child reference, branch[count], is 0
                       // (needs two levels)
  NodeSizeTooSmall,    // the target's nodeSize is 71
  NodeSizeBeyondSlot,  // the target's nodeSize is its slotLength + 1
  CountTooLarge,       // the target's count is 11
  NklBeyondNode,       // the target's first entry has nkl 0x7FF0 (needs an entry)
  NklZero,             // the target's first entry has nkl 0 (needs an entry)
  KeyUnterminated,     // in the target's last entry the key's terminator and every
                       // byte after it up to the entry's end are 0x41 (needs an entry)
  KeysOutOfOrder,      // the target's first two entries trade places (needs two)
  CountsZero,          // indexArraySize and currentIXCount are both 0 while the
                       // records still follow
  LastSlotBeyondFile,  // the last slot's slotLength is 4096 more than the file holds
  CountsTooSmall,      // currentIXCount is the highest subscript in use, one too small
  RootFree,            // the root's record is marked free (recordState 1)
  RootMissing,         // rootOffset names a subscript that no record carries
  TrailingBytes,       // 10 bytes of 0x5A follow the last slot: too few for a
                       // record header
};

// Names as the command line spells them ("truncated-file", "bad-magic", ...).
const char* damageName(Damage d);
bool damageFromName(const std::string& name, Damage* d);
std::vector<Damage> allDamageKinds();  // every kind but None

}  // namespace jbbbuilder
