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
  printOut(
      "-----------------------------------------\n   Object Name  : %s\n   Action       : %s\n   Object Type  : %s\n"
      "   Inserted     : %s\n   Object Time  : %s\n-----------------------------------------\n\n",
      shown.text(), actionText(entry.action, action), entry.objectType == 1 ? "File" : "Directory", inserted,
      objectTime);
}
