// How the viewer shows keys and change-journal entries.
#pragma once

#include <memory>

#include "platform/psstr.h"
#include "viewer/journalinfo.h"

// A key converted for printing: every character the locale cannot show
// becomes '?', so a key always prints whole.  A key may run to about 16,380
// units, longer than one conversion buffer: such a key is converted into a
// block of its own, sized for the locale's longest character per unit.
class DisplayKey {
 public:
  explicit DisplayKey(const wchar16* key);
  const char* text() const { return long_ != nullptr ? long_.get() : text_; }

 private:
  char text_[MAX_CONV + 1];
  std::unique_ptr<char[]> long_;
};

// "Rename Old" ... "Delete Restore", or "Type %d" for an unknown code.
// buf holds at least 32 bytes.
const char* actionText(int32_t action, char* buf);

// One entry block between two rules of 41 hyphens.
void printJournalEntry(const JournalEntry& entry, const wchar16* key);
