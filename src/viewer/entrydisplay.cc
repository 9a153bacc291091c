// The entry block of a change journal.
#include "viewer/entrydisplay.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "viewer/output.h"
#include "viewer/textfmt.h"

DisplayKey::DisplayKey(const wchar16* key) {
  // One unit becomes at most MB_CUR_MAX bytes, or the one byte of '?'; a
  // surrogate pair becomes one character of at most twice that.
  size_t need = wideLen(key) * std::max<size_t>(MB_CUR_MAX, 1) + 1;
  if (need > sizeof text_) long_.reset(new (std::nothrow) char[need]);
  // Without memory for a long key it is shown as far as the buffer goes.
  if (long_ == nullptr) need = sizeof text_;
  wideToDisplay(long_ != nullptr ? long_.get() : text_, need, key);
}

const char* actionText(int32_t action, char* buf) {
  switch (action) {
    case 1: return "Rename Old";
    case 2: return "Rename New";
    case 3: return "Delete";
    case 4: return "Create";
    case 5: return "Change Attribute";
    case 6: return "Modify";
    case 11: return "Delete Restore";
    default: std::snprintf(buf, 32, "Type %d", action); return buf;
  }
}

void printJournalEntry(const JournalEntry& entry, const wchar16* key) {
  char inserted[kDateTextSize], objectTime[kDateTextSize], action[32];
  dateTextLine(entry.insertedTime, inserted);
  dateTextLine(entry.objectTime, objectTime);
  DisplayKey shown(key);
  printPieces({"-----------------------------------------\n   Object Name  : ", shown.text(),
               "\n   Action       : ", actionText(entry.action, action),
               "\n   Object Type  : ", entry.objectType == 1 ? "File" : "Directory",
               "\n   Inserted     : ", inserted, "\n   Object Time  : ", objectTime,
               "\n-----------------------------------------\n\n"});
}
