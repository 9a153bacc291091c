// toolDB's walk callback: the count with its progress display, and the
// per-entry output of a listing.
#include "viewer/tooldb.h"

#include <cstdio>
#include <cstring>

#include "viewer/entrydisplay.h"
#include "viewer/journalinfo.h"
#include "viewer/output.h"

bool progressLabelPending = true;

namespace {

// Prints the count over the previous one: as many backspaces as it has
// digits, then the digits, so that every number ends in the column where
// the label's blanks end.
void showProgress(uint32_t count) {
  char digits[16];
  int n = std::snprintf(digits, sizeof digits, "%d", int(count));
  for (int i = 0; i < n; ++i) std::fputc('\b', stdout);
  std::fputs(digits, stdout);
}

}  // namespace

toolDB::toolDB(uint16_t dataSize) : bTree(dataSize), journalInfo(nullptr), entryCount(0), countingMode(false) {}

toolDB::~toolDB() = default;

int32_t toolDB::effectiveJournalType() const {
  if (countingMode || journalInfo == nullptr) return kJournalUnformatted;
  return journalTypeOf(journalInfo);
}

int32_t toolDB::walkCallback(const wchar16* key, const uint8_t* data) {
  ++entryCount;
  int32_t type = effectiveJournalType();
  if (type == kJournalChange) {
    JournalEntry entry;
    decodeJournalEntry(data, dataSize, &entry);
    printJournalEntry(entry, key);
  } else if (type == kJournalIncremental) {
    DisplayKey shown(key);
    printOut("\t%s\n", shown.text());
  } else if (type != kJournalUnformatted) {
    printOut("Unknown database type: %d\n", type);
  } else {
    if (progressLabelPending) {
      printOut("DB Entries Processed:        ");
      progressLabelPending = false;
    }
    if (entryCount % 1000u == 0) showProgress(entryCount);
  }
  return 0;
}
