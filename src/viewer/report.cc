// The journal information report.
#include "viewer/report.h"

#include <cstdio>
#include <cstring>

#include "platform/psstr.h"
#include "viewer/journalinfo.h"
#include "viewer/output.h"
#include "viewer/textfmt.h"

const char* journalStateText(int32_t state) {
  if (state == kStateValid) return "Valid";
  if (state == kStateInProgress) return "Incremental in Progress";
  return "Not Valid";
}

const char* journalTypeText(int32_t type) {
  if (type == kJournalUnformatted) return "Unformatted";
  if (type == kJournalChange) return "Change Journal";
  return "Incremental Needed";
}

char* keyLengthText(uint16_t length, char* buf) {
  if (length == 0) {
    std::strcpy(buf, "Variable Length");
    return buf;
  }
  formatSize(length, buf);
  std::strcat(buf, " Characters");
  return buf;
}

void printDbInformation(uint8_t majorVersion, uint8_t minorVersion, const uint8_t* area, uint32_t entryCount,
                        uint16_t keyLength, uint16_t dataLength, const char* path, uint64_t fileSize) {
  JournalInfo info;
  decodeJournalInfo(area, &info);

  char maxSize[kSizeTextSize];
  if (info.maxJournalSize == 0) {
    std::strcpy(maxSize, "Unlimited");
  } else {
    formatSize(info.maxJournalSize, maxSize);
  }
  char activation[kDateTextSize];
  dateText(info.activationTime, activation);

  char server[1024], node[1024], state[256], validation[kDateTextSize];
  if (info.journalType == kJournalChange) {
    serverAndNode(info, server, node);
    std::strcpy(state, journalStateText(info.journalState));
    if (info.journalState == kStateValid) {
      dateText(info.validationTime, validation);
    } else {
      std::strcpy(validation, "(not set)\n");
    }
  } else {
    std::strcpy(server, "N/A");
    std::strcpy(node, "N/A");
    std::strcpy(state, "N/A");
    std::strcpy(validation, "N/A\n");
  }

  char keyText[kSizeTextSize], diskSize[kSizeTextSize];
  keyLengthText(keyLength, keyText);
  formatSize(fileSize, diskSize);
  char fsName[MAX_CONV + 1];
  wideToDisplay(fsName, sizeof fsName, info.fsName);

  printOut(
      "\n\nJournal Database Information:\n\n     Btree Database Version  %d.%d\n     Database File           "
      "%s.jbbdb\n     Database File Disk Size %s\n     Journal  File System    %s\n     Journal  Key length     %s\n"
      "     Journal  Data length    %d Bytes\n     Journal Activation Date %s     Journal Validation Date %s     "
      "Maximum Journal Size    %s\n     Journal Type            %s\n     Journal State           %s\n     Valid for "
      "Server        %s\n     Valid for Node          %s\n     Number of DB Entries    %d\n\n",
      majorVersion, minorVersion, path, diskSize, fsName, keyText, dataLength, activation, validation, maxSize,
      journalTypeText(info.journalType), state, server, node, int(entryCount));
}
