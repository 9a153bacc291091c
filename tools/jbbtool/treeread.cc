// Reading a database through the engine's read-only open (treeread.h).
#include "jbbtool/treeread.h"

#include <cstdio>
#include <cstring>

#include "btree/format.h"
#include "platform/utf8.h"

namespace jbbtool {

std::string notADatabase(const uint8_t* ctrlRec) {
  if (ctrlRec == nullptr) return "it is shorter than a control record";
  uint16_t magic = jbbformat::getU16(ctrlRec + jbbformat::kCrMagic);
  if (magic == jbbformat::kMagic) return std::string();
  char text[80];
  std::snprintf(text, sizeof text, "its magic number is 0x%04X, not 0x%04X", unsigned(magic),
                unsigned(jbbformat::kMagic));
  return text;
}

bool keyArgument(const std::string& text, std::u16string* key, std::string* error) {
  std::string why;
  if (!utf8ToUtf16(text, key, &why)) {
    *error = why;
    return false;
  }
  return true;
}

int compareStored(const uint8_t* le, size_t n, const std::u16string& key) {
  size_t common = n < key.size() ? n : key.size();
  for (size_t i = 0; i < common; ++i) {
    uint16_t u = jbbformat::getU16(le + 2 * i);
    if (u != key[i]) return u < key[i] ? -1 : 1;
  }
  return n < key.size() ? -1 : n > key.size() ? 1 : 0;
}

jbbcheck::Entry entryAt(const bTreeCursor& cursor) {
  jbbcheck::Entry e;
  e.offset = -1;
  e.key = cursor.keyBytes();
  e.keyUnits = cursor.keyUnits();
  e.data = cursor.data();
  e.dataSize = cursor.dataAvailable();
  return e;
}

std::string cursorFailure(const bTree& tree) {
  if (tree.dbErrno == 22) return "a node on the way is damaged";
  if (tree.dbErrno == 12) return "out of memory";
  if (tree.dbErrno == 13) return "a node cannot be read: the file ends before it";
  return std::string("a node cannot be read: ") + std::strerror(tree.dbErrno);
}

TreeReader::~TreeReader() {
  if (tree_) tree_->closeBtDb();
}

int TreeReader::open(const std::string& given, const Streams& io, bool keepDamaged) {
  if (int rc = db_.open(given, io)) return rc;
  const std::string& path = db_.path();
  ctrl_ = db_.ctrlRec();
  std::string why = notADatabase(ctrl_);
  if (!why.empty()) return message(io, kExitUsage, path + " is no journal database: " + why);
  tree_.reset(new bTree(jbbformat::getU16(ctrl_ + jbbformat::kCrDataSize)));
  if (tree_->openReadOnly(path.c_str()) == 0) return kExitOk;
  int err = tree_->dbErrno;
  tree_.reset();
  if (err == kErrnoInUse) return message(io, kExitProblems, path + " is in use by another program");
  if (err != 22 && err != 12)
    return message(io, kExitUsage, "cannot read " + path + becauseEngine(err));
  treeProblem_ = err == 12 ? "out of memory"
                           : "its record chain or its root is damaged; verify lists the problems, salvage "
                             "recovers what can be recovered";
  if (keepDamaged) return kExitOk;
  return message(io, kExitProblems, path + " cannot be read as a tree: " + treeProblem_);
}

}  // namespace jbbtool
