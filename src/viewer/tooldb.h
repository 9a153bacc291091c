// toolDB: the viewer's database object.  Its walk callback counts the
// entries (with a progress display) or prints each one, by journal type.
#pragma once

#include <cstdint>

#include "btree/jbbtreev.h"

// Set until the progress label has been printed once in this process.
extern bool progressLabelPending;

class toolDB : public bTree {
 public:
  explicit toolDB(uint16_t dataSize);
  int32_t walkCallback(const wchar16* key, const uint8_t* data) override;
  ~toolDB() override;

  // The journal information area inside the open object's control record
  // (cr.journalInfoArea); set by the driver right after the open.
  uint8_t* journalInfo;
  // walkCallback calls so far; never lowered.
  uint32_t entryCount;
  // While set, walkCallback counts as for an unformatted journal, whatever
  // the stored journal type.  The mode lives here and never in cr, so a
  // flush during the count cannot write it into the file.
  bool countingMode;

  // The journal type as stored, or 0 in counting mode.
  int32_t effectiveJournalType() const;
};
