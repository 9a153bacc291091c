// Entries on their way into a new database file, one at a time.
//
// A reader of a source (a text dump, a database, a salvage scan) hands each
// entry to a sink as a view that is good only for the duration of the call;
// the sorter (entrysort.h) and the bulk writer (bulkwriter.h) are sinks.
// Keys are 16-bit code units in host order, without the terminator the file
// stores; they order by unsigned unit, a prefix first, as the tree's keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace jbbbulk {

struct EntryView {
  const uint16_t* key;
  size_t keyUnits;
  const uint8_t* data;  // the data record; may be shorter than the data size
  size_t dataSize;
};

class EntrySink {
 public:
  virtual ~EntrySink() = default;
  // Takes one entry.  False when the sink cannot go on; error() says why.
  virtual bool put(const EntryView& entry) = 0;
  virtual const std::string& error() const = 0;
};

// -1, 0 or 1: the tree's order of two keys.
int compareKeys(const uint16_t* a, size_t aUnits, const uint16_t* b, size_t bUnits);

// The key as UTF-8 for messages; an unpaired surrogate shows as U+FFFD.
std::string keyToUtf8(const uint16_t* units, size_t n);

}  // namespace jbbbulk
