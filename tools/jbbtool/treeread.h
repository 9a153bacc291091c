// A database read through the engine's read-only open and its cursor, for
// the commands that visit a few entries (get, a dump of a range) or none
// (info), rather than check the whole file as verify and dump do.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "btree/cursor.h"
#include "btree/jbbtreev.h"
#include "jbbtool/session.h"

namespace jbbtool {

// Why a control record (2088 bytes, or null when the file is shorter) is
// not a journal database's, or empty when it is one.
std::string notADatabase(const uint8_t* ctrlRec);

// A key given on the command line in UTF-8, as the tree's units: false with
// *error saying why when it is not valid UTF-8 or holds a zero character.
bool keyArgument(const std::string& text, std::u16string* key, std::string* error);

// Compares the n units stored little-endian at `le` (as in a node) with key,
// in the tree's order (unit by unit, a shorter key first): <0, 0 or >0.
int compareStored(const uint8_t* le, size_t n, const std::u16string& key);

// The cursor's current entry as the check hands entries over, for the
// dump's row writer.
jbbcheck::Entry entryAt(const bTreeCursor& cursor);

class TreeReader {
 public:
  TreeReader() = default;
  ~TreeReader();
  TreeReader(const TreeReader&) = delete;
  TreeReader& operator=(const TreeReader&) = delete;

  // ReadDatabase::open (the lock, and a line about a pending change), then
  // the engine's read-only open of the same file.  Returns kExitOk, or an
  // exit code after a message: kExitUsage for a file that is no database
  // or cannot be read, kExitProblems for one whose tree cannot be opened
  // (damaged) or that another program is changing.  With keepDamaged a
  // tree that cannot be opened is no failure: tree() is then null and
  // treeProblem() says why.
  int open(const std::string& given, const Streams& io, bool keepDamaged = false);
  const std::string& path() const { return db_.path(); }
  ReadDatabase& db() { return db_; }
  // The control record as the file holds it (once a pending change is
  // recovered); a whole one after a successful open.
  const uint8_t* ctrlRec() const { return ctrl_; }
  bTree* tree() { return tree_.get(); }
  const std::string& treeProblem() const { return treeProblem_; }

 private:
  ReadDatabase db_;
  const uint8_t* ctrl_ = nullptr;
  std::unique_ptr<bTree> tree_;
  std::string treeProblem_;
};

// What a failed cursor step or seek of `tree` means, for a message.
std::string cursorFailure(const bTree& tree);

}  // namespace jbbtool
