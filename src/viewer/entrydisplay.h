// How the viewer shows keys and change-journal entries.
#pragma once

#include "platform/psstr.h"
#include "viewer/journalinfo.h"

// A key converted for printing on standard output, in the console's page
// when it is a console: every character that cannot be shown becomes '?'
// (or its look-alike), so a key always prints whole.
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
