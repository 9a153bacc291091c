// The request loop: Del, Find, List and Quit.
#include "viewer/requests.h"

#include <cstring>

#include "platform/os.h"
#include "platform/psstr.h"
#include "platform/stdpage.h"
#include "viewer/entrydisplay.h"
#include "viewer/journalinfo.h"
#include "viewer/output.h"
#include "viewer/textfmt.h"
#include "viewer/tooldb.h"

namespace {

void printStartText() {
  printOut("Enter request on a single line, in the following format:\n\n");
  printOut("\t\tReq-Type [Entry-key]\n\n");
  printOut(
      "Req-type may be one of the following:\n\tDel\tDelete a row from the database. The fully-qualified\n\t\tcase "
      "sensitive file name is required.\n\tFind\tFind the entry whose key is the argument\n\tList\tPrint all the "
      "entries to stdout. No arguments\n\t\tare required.\n\tQuit\n");
}

// A prompt is flushed for whoever reads the output as it comes (a terminal,
// a pipe to a driving program); into a file or the null device nobody
// waits for it, and the output goes out in large blocks.
void flushPrompt() {
  static const bool live = osHasLiveReader(stdout);
  if (live) std::fflush(stdout);
}

void printElapsed(const char* format, int32_t start, int32_t end) {
  char text[kElapsedTextSize];
  printOut(format, formatElapsed(text, start, end));
}

// Asks whether to go on; only the answer's first character is read, the
// rest of its line stays in the input as the next request line.  The end
// of the input is no answer, and so not a yes.
bool confirmDelete(FILE* in) {
  printOut(
      "This operation can lead to a corrupted database if the journal daemon service is also running.\n\nAre you "
      "sure you want to delete this record?(y/n): ");
  flushPrompt();
  int c = std::fgetc(in);
  return c != EOF && upperChar(static_cast<char>(c)) == 'Y';
}

void deleteRequest(toolDB& db, const wchar16* key, FILE* in) {
  if (!confirmDelete(in)) return;
  DisplayKey shown(key);
  // After a failed write the tree is read again from the file before it is
  // changed; when that is impossible, nothing is changed.
  if (db.reloadIfStale() != 0) {
    printOut(
        "Deletion of key \"%s\" not attempted: the database file could not be read again after an earlier "
        "failure.\nerrno = %d, %s.\n\n",
        shown.text(), db.dbErrno, std::strerror(db.dbErrno));
    return;
  }
  int32_t start = osClockMs();
  // The deletion is one change under the exclusive lock: no other program
  // has the file open while it is made, and none sees it half made.
  if (db.beginUpdate() != 0) {
    if (db.dbErrno == kErrnoInUse) {
      printOut("Deletion of key \"%s\" not attempted: the journal database is in use by another program.\n",
               shown.text());
    } else {
      printOut("Deletion of key \"%s\" failed.\nerrno = %d, %s.\n", shown.text(), db.dbErrno,
               std::strerror(db.dbErrno));
    }
    printElapsed("\nTotal Delete Time: %s\n\n", start, osClockMs());
    return;
  }
  int result = db.Delete(key);
  // A deletion is complete only once it is on the disk: written and synced
  // now, it survives a Quit, the end of the input, a killed process or a
  // power loss before the next request.  A failed Delete is not written at
  // all, and its own cause is the one reported.
  if (result == 0 && db.syncToDisk() != 0) result = -1;
  db.endUpdate();
  int32_t end = osClockMs();
  if (result == -1) {
    printOut("Deletion of key \"%s\" failed.\nerrno = %d, %s.\n", shown.text(), db.dbErrno,
                std::strerror(db.dbErrno));
  } else if (result == 1) {
    printOut("Key %s not found in the database.\n", shown.text());
  } else {
    printOut("Deletion of key \"%s\" completed.\n", shown.text());
  }
  printElapsed("\nTotal Delete Time: %s\n\n", start, end);
}

void findRequest(toolDB& db, const wchar16* key) {
  int32_t start = osClockMs();
  const uint8_t* record = db.Search(key);
  int32_t end = osClockMs();
  if (record != nullptr) {
    JournalEntry entry;
    decodeJournalEntry(record, db.dataSize, &entry);
    printOut("\n\nLocated Journal Database Record:\n\n");
    printJournalEntry(entry, key);
  } else {
    DisplayKey shown(key);
    if (db.dbErrno != 0) {
      printOut("Error searching the database for %s\nerrno = %d, \"%s\"\n", shown.text(), db.dbErrno,
                  std::strerror(db.dbErrno));
    } else {
      printOut("Your key \"%s\" was not found in the database\n", shown.text());
    }
  }
  printElapsed("\nTotal Query Time: %s\n\n", start, end);
}

void listRequest(toolDB& db) {
  if (db.entryCount == 0) {
    printOut("There are no entries in the database\n");
    return;
  }
  if (db.effectiveJournalType() == kJournalChange) {
    printOut("\nList of Change Journal Entries:\n\n");
  } else {
    printOut("\nList of Incremental Needed Directories:\n\n");
  }
  db.walkTree();  // the entries print from the walk callback
  printOut("\n");
}

}  // namespace

void runRequestLoop(toolDB& db, FILE* in) {
  printStartText();
  for (;;) {
    printOut("Please enter your request: ");
    flushPrompt();
    char line[kRequestLineSize];
    // The end of the input leaves no request to run: it ends like Quit.
    if (std::fgets(line, sizeof line, in) == nullptr) return;
    char argument[kRequestLineSize];
    int code = parseRequest(line, argument);
    if (code == kRequestQuit) return;
    if (code == kRequestNone) continue;
    wchar16 key[kWideBufUnits];
    // The key is in the bytes of standard input: the console's page when
    // typed at one.
    if (code == kRequestDel || code == kRequestFind) typedToWide(key, argument);
    if (code == kRequestDel) deleteRequest(db, key, in);
    if (code == kRequestFind) findRequest(db, key);
    if (code == kRequestList) listRequest(db);
  }
}
