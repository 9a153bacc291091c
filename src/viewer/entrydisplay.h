// How the viewer shows keys and change-journal entries.
#pragma once

#include "platform/psstr.h"
#include "viewer/journalinfo.h"

// A key converted for printing: every character the locale cannot show
// becomes '?', so a key always prints whole.
class DisplayKey {
 public:
  explicit DisplayKey(const wchar16* key);
  const char* text() const { return text_; }

 private:
  char text_[MAX_CONV + 1];
};

// "Rename Old" ... "Delete Restore", or "Type %d" for an unknown code.
// buf holds at least 32 bytes.
const char* actionText(int32_t action, char* buf);

// One entry block between two rules of 41 hyphens.
void printJournalEntry(const JournalEntry& entry, const wchar16* key);
