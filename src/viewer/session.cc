// The run after the pre-check: open, counting walk, report, then the
// just-created prompt, the request loop or the end.
#include "viewer/session.h"

#include <cctype>
#include <cstring>
#include <new>

#include "platform/kxmem.h"
#include "platform/os.h"
#include "viewer/journalinfo.h"
#include "viewer/output.h"
#include "viewer/report.h"
#include "viewer/requests.h"
#include "viewer/textfmt.h"
#include "viewer/tooldb.h"

namespace {
constexpr char kSourceName[] = "viewer";

// The one database object of the run.  It is never destroyed: the file
// stays open until the process ends, and this reference keeps it reachable.
toolDB* theDb = nullptr;

toolDB* createToolDB(uint16_t dataSize) {
  void* memory = KX_MALLOC(sizeof(toolDB));
  if (memory == nullptr) return nullptr;
  return new (memory) toolDB(dataSize);
}

// Counts every entry; the walk's timing goes to start and end.  Returns
// false, having printed why, when the walk fails.
bool countEntries(toolDB& db, int32_t* start, int32_t* end) {
  printOut("\nCounting Database Entries (walking thru entire db) ...\n\n");
  db.countingMode = true;
  db.entryCount = 0;
  *start = osClockMs();
  int result = db.walkTree();
  *end = osClockMs();
  db.countingMode = false;
  if (result != 0) {
    printOut("Initial database scan failed: errno = %d, \"%s\"\n", db.dbErrno, std::strerror(db.dbErrno));
    return false;
  }
  return true;
}

// Why the open failed.  A file in use, or one whose cut-off change cannot
// be taken back, is not damaged, and the user can do something about it.
void printOpenFailure(const toolDB& db, const char* path) {
  if (db.dbErrno == kErrnoInUse) {
    printOut("\n\nJournal Database file '%s' is in use by another program\n\n", path);
  } else if (db.dbErrno == kErrnoPendingConflict) {
    printOut(
        "\n\nJournal Database file '%s' holds a change that was cut off, and the file was changed since (%s).\n"
        "It was left as it is; jbbtool salvage recovers its entries into a new file.\n\n",
        path, db.pendingWhy());
  } else {
    printOut("\n\nUnable to open Journal Database file '%s'\n\n", path);
  }
}

// Closes the database and removes it unless the answer starts with y or
// Y.  No answer at all (the end of the input) keeps the file: nothing was
// refused.
void justCreatedPrompt(toolDB& db, const char* path, FILE* in) {
  db.closeBtDb();
  printOut("This database is in \"just-created\" state, do you want to keep it (Y/N)? ");
  std::fflush(stdout);
  char answer[1024];
  if (std::fgets(answer, sizeof answer, in) == nullptr) return;
  if (std::toupper(static_cast<unsigned char>(answer[0])) != 'Y') std::remove(path);
}

}  // namespace

int runSession(const char* arg, const char* path, uint16_t dataSize, bool interactive, FILE* in) {
  theDb = createToolDB(dataSize);
  if (theDb == nullptr) {
    printOut("\n\nNot enough memory to open Journal Database file '%s'\n\n", path);
    return -1;
  }
  toolDB& db = *theDb;
  if (db.openBtDb(path, false) != 0) {
    printOpenFailure(db, path);
    return -1;
  }
  db.journalInfo = db.cr.journalInfoArea;

  int32_t start = 0, end = 0;
  if (!countEntries(db, &start, &end)) return -1;

  printDbInformation(db.cr.majorVersion, db.cr.minorVersion, db.journalInfo, db.entryCount, db.cr.keyLength,
                     db.cr.dataSize, arg, db.dbFileSize());
  char elapsed[kElapsedTextSize];
  printOut("\nTotal DB Walk Time   : %s\n\n", formatElapsed(elapsed, start, end));

  if (journalTypeOf(db.journalInfo) == kJournalUnformatted) {
    justCreatedPrompt(db, path, in);
  } else if (interactive) {
    runRequestLoop(db, in);
    // The file stays open until the process ends; what the session changed
    // is settled on the disk now.
    db.settleChanges();
  }
  return 0;
}
