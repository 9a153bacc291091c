// The program flow up to the open: banner, usage, path, control-record
// pre-check and the "Located Database" block.
#include "viewer/driver.h"

#include <cstring>

#include "btree/jbbtreev.h"
#include "platform/psstr.h"
#include "viewer/output.h"
#include "viewer/report.h"
#include "viewer/session.h"
#include "viewer/textfmt.h"

using namespace jbbformat;

void printBanner() {
  printOut("Vestrel\nJournal Database Viewing Utility\nVersion %d, Release %d, Level %d.%d %s\nLast Update: %s\n\n", 6,
              1, 1, 0, "0514FB", "Jun 18 2009");
}

const char* programBaseName(const char* argv0) {
  const char* cut = std::strrchr(argv0, '\\');
  if (cut == nullptr) cut = std::strrchr(argv0, '/');
  return cut == nullptr ? argv0 : cut + 1;
}

void printUsage(const char* name) {
  std::fprintf(stderr,
               "\n\nView ZRM Journal Database \n\nUsage: %s jdbfile [i]\n\nSpecifiying i parameter will enter "
               "interactive mode.\n\nExamples:\n\n%s c:\\zrmjournal\\zrmf__.jdb \n%s c:\\zrmjournal\\zrmf__.jdb i\n\n",
               name, name, name);
}

bool buildDbPath(const char* arg, char* path) {
  size_t n = std::strlen(arg);
  if (n > kMaxPathArgument) return false;
  std::memcpy(path, arg, n);
  std::memcpy(path + n, kDbExtension, sizeof kDbExtension);
  return true;
}

bool precheckControlRecord(const char* path, uint8_t* ctrlRec) {
  wchar16 widePath[kWideBufUnits];
  mbToWide(widePath, path);
  if (dbReadCtrlRec(widePath, ctrlRec) == 0) {
    printOut("\n\nUnable to read DB Control Record from file '%s'\n\n", path);
    return false;
  }
  if (getU16(ctrlRec + kCrMagic) != kMagic) {
    printOut("\n\nDownlevel or corrupt DB file '%s'\n\n", path);
    return false;
  }
  return true;
}

void printLocatedDatabase(const char* path, const uint8_t* ctrlRec) {
  // This block halves the stored length (bytes to characters); the report
  // shows it as stored.
  char keyText[kSizeTextSize];
  keyLengthText(uint16_t(getU16(ctrlRec + kCrKeyLength) >> 1), keyText);
  printOut(
      "\n\nLocated Database:\n   db  file      = '%s'\n   magic number  = 0x%04X\n   btree version = %d.%d\n   key "
      "length    = %s\n   data length   = %d Bytes\n\n",
      path, unsigned(getU16(ctrlRec + kCrMagic)), ctrlRec[kCrMajor], ctrlRec[kCrMinor], keyText,
      getU16(ctrlRec + kCrDataSize));
  printOut("Opening and Intializing DB ...\n");
}

int runViewer(int argc, char** argv, FILE* in) {
  printBanner();
  if (argc < 2) {
    // The banner goes first even when both streams share one file or pipe.
    std::fflush(stdout);
    printUsage(programBaseName(argc > 0 && argv[0] != nullptr ? argv[0] : ""));
    return kExitFailure;
  }
  bool interactive = argc > 2;
  char path[kPathBufferSize];
  if (!buildDbPath(argv[1], path)) {
    printOut("\n\nDatabase path '%s' is too long: at most %d characters are allowed\n\n", argv[1],
                int(kMaxPathArgument));
    return kExitFailure;
  }
  uint8_t ctrlRec[kCtrlRecSize];
  if (!precheckControlRecord(path, ctrlRec)) return kExitFailure;
  printLocatedDatabase(path, ctrlRec);
  return runSession(argv[1], path, getU16(ctrlRec + kCrDataSize), interactive, in);
}
