// The rows of a dump in each format, and the document around them: what
// dump writes for the whole tree or a range of it, and get for the keys
// asked for.  One writer, so that a row is the same whichever command
// wrote it.
//
//   text  the header lines (textdump.h), one line an entry, "end N"
//   CSV   a header row, one row an entry
//   JSON  {"file":...,"journal":{...},"entries":[ one object an entry ]}
//         and, after "entries", what the command adds: "problems" (a dump
//         of a damaged file), "missing" (keys get did not find)
#pragma once

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "btree/check.h"
#include "jbbtool/jbbtool.h"
#include "jbbtool/textout.h"

namespace jbbtool {

// The journal information area of a control record (2088 bytes) as the
// JSON object that dump and info show.
nlohmann::ordered_json journalJson(const uint8_t* ctrlRec);

// A command that fails before its document could begin (a file that is no
// database, a tree that cannot be opened): in JSON a document all the
// same, {"file":..., "entries":[], ...}, with `why` as its one problem, so
// that what reads it always finds a whole document; nothing in the other
// formats.  Returns rc.
int failedDocument(DumpFormat format, FILE* out, const std::string& path, const std::string& why, int rc);

class DumpWriter {
 public:
  DumpWriter(DumpFormat format, FILE* out);
  ~DumpWriter();
  DumpWriter(const DumpWriter&) = delete;
  DumpWriter& operator=(const DumpWriter&) = delete;

  // What comes before the rows: the text header (when textHeader), the
  // CSV header row, or the JSON document up to the entries' array.
  void begin(const std::string& path, const uint8_t* ctrlRec, bool textHeader = true);
  void row(const jbbcheck::Entry& e);
  // A problem met on the way; the JSON document lists the first kMaxProblems.
  void problem(int64_t offset, const std::string& text);
  // What comes after the rows: "end N" when textEnd (N the rows written),
  // and the end of the JSON document with `members` (JSON text of members,
  // without braces; may be empty) and the problems after the entries.
  void end(bool textEnd = true, const std::string& members = std::string());
  // False when a write failed; *err is its errno.
  bool flush(int* err);
  uint64_t rows() const { return rows_; }

  static constexpr size_t kMaxProblems = 200;

 private:
  class Rows;
  DumpFormat format_;
  TextOut out_;
  Rows* rowWriter_;
  uint64_t rows_ = 0;
  size_t problems_ = 0;
  nlohmann::ordered_json problemList_ = nlohmann::ordered_json::array();
};

}  // namespace jbbtool
