// The entry block of a change journal.
#include "viewer/entrydisplay.h"

#include <cstdio>

#include "viewer/output.h"
#include "viewer/textfmt.h"

DisplayKey::DisplayKey(const wchar16* key) { wideToDisplay(text_, sizeof text_, key); }

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
