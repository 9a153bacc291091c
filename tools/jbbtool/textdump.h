// The text dump: what a database holds, not how its file is laid out.
// dump writes it and load reads it; dump, load and dump again give the same
// text.  Lines end with LF (CR LF is read as well).
//
//   jbbdump 1                                   format version, first line
//   version 2.1                                 the B-tree format version
//   keyLength 0                                 the stored key length
//   dataSize 32                                 bytes of every data record
//   journalType 1                               the journal information area:
//   activationTime 1700000000 2023-11-14T22:13:20Z   (times: seconds since
//   validationTime 1700086400 2023-11-15T22:13:20Z    1970, then UTC)
//   journalState 2
//   maxJournalSize 5368709120
//   serverNameLen 6
//   serverNode "SERVERNODE1"                    8-bit text up to its zero byte
//   fsName "/home"                              up to its zero unit
//   areaBytes 4 0a0b                            zero or more: a run of non-zero
//                                               bytes the fields above do not
//                                               hold (area offset, hex)
//   entries                                     the entry lines follow
//   "KEY"<TAB>4<TAB>Create<TAB>1<TAB>File<TAB>2021-03-04T05:06:07Z<TAB>1614834367
//        <TAB>2021-02-20T01:02:03Z<TAB>1613782923<TAB>04000000...   one per entry
//   end 2500                                    how many entry lines there were
//
// An entry line holds the key (keytext.h), the action code and text, the
// object type code and text, the inserted time and the object time (each
// in UTC and as a number), then the raw data record in hex.  load takes the
// key and the raw record; the decoded columns are there to be read.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/osfile.h"

namespace jbbtool {

// The header lines, from the control record (2088 bytes), up to and
// including "entries".
void appendTextHeader(const uint8_t* ctrlRec, std::string* out);

// One entry line: its key and its raw data record.
struct DumpEntry {
  std::u16string key;
  std::vector<uint8_t> data;
};

struct TextDump {
  uint8_t ctrlRec[2088] = {};  // versions, key length, data size, information area
  std::vector<DumpEntry> entries;  // in the dump's order
};

// Parses a whole dump; *error names the line of the first fault.
bool parseTextDump(const std::string& text, TextDump* dump, std::string* error);

// A dump file read line by line through a buffer, for dumps larger than
// memory.  Each parse reads it from its start again.
class DumpFile {
 public:
  DumpFile() = default;
  ~DumpFile();
  DumpFile(const DumpFile&) = delete;
  DumpFile& operator=(const DumpFile&) = delete;

  // False with *error "cannot open PATH: <the system's reason>".
  bool open(const std::string& path, std::string* error);
  // After a parse that failed: whether the file could not be read (the
  // error is then "cannot read PATH") rather than holding a fault.
  bool readFailed() const { return readFailed_; }
  int readError() const { return readError_; }
  const std::string& path() const { return path_; }

  // The next line without its LF; false at the end or when a read fails.
  bool nextLine(std::string* line);
  void rewind();

 private:
  bool fill();

  std::string path_;
  OsFile* file_ = nullptr;
  std::string buffer_;
  size_t at_ = 0;
  int64_t filePos_ = 0;
  bool ended_ = false, readFailed_ = false;
  int readError_ = 0;
};

// Parses the dump in file from its start: the header into ctrlRec (2088
// bytes), then each entry, in the dump's order, to onEntry, whose false
// stops the parse (false with *error empty).  Faults as parseTextDump's.
bool parseTextDump(DumpFile* file, uint8_t* ctrlRec, const std::function<bool(DumpEntry&)>& onEntry,
                   std::string* error);

}  // namespace jbbtool
