// get: the entries of the keys asked for, each as the row the dump writes
// for it, in the order asked: text lines without the dump's header and
// end, CSV with its header row, or the dump's JSON document holding just
// those entries and, when some were not found, their keys in "missing".
// Each key is one seek of the engine's cursor on a read-only open: the
// nodes of one path from the root.
#include <string>
#include <vector>

#include "jbbtool/dumprows.h"
#include "jbbtool/keytext.h"
#include "jbbtool/session.h"
#include "jbbtool/treeread.h"

namespace jbbtool {

int runGet(const std::string& file, const std::vector<std::string>& args, DumpFormat format, const Streams& io) {
  std::vector<std::u16string> keys(args.size());
  for (size_t i = 0; i < args.size(); ++i) {
    std::string error;
    if (args[i].empty()) return message(io, kExitUsage, "a key cannot be empty");
    if (!keyArgument(args[i], &keys[i], &error))
      return message(io, kExitUsage, "key " + std::to_string(i + 1) + " is not a valid key: " + error);
  }
  TreeReader reader;
  if (int rc = reader.open(file, io)) return failedDocument(format, io.out, file, lastMessage(), rc);
  bTree& tree = *reader.tree();
  DumpWriter rows(format, io.out);
  rows.begin(reader.path(), reader.ctrlRec(), false);
  std::vector<std::string> missing;  // as the text dump writes keys
  std::string missingJson;           // the JSON member's elements
  std::string failure;
  {
    bTreeCursor cursor(tree);
    for (const std::u16string& key : keys) {
      if (cursor.seek(key.c_str()) && compareStored(cursor.keyBytes(), cursor.keyUnits(), key) == 0) {
        rows.row(entryAt(cursor));
        continue;
      }
      if (tree.dbErrno != 0) {
        failure = cursorFailure(tree);
        rows.problem(-1, failure);
        break;
      }
      missing.emplace_back();
      appendKey(&missing.back(), key.data(), key.size(), KeyStyle::Text);
      if (!missingJson.empty()) missingJson += ',';
      appendKey(&missingJson, key.data(), key.size(), KeyStyle::Json);
    }
  }
  rows.end(false, missing.empty() ? std::string() : "\"missing\":[" + missingJson + "]");
  int err = 0;
  if (!rows.flush(&err)) return message(io, kExitProblems, "cannot write the entries" + because(err));
  for (const std::string& m : missing) message(io, kExitOk, "key not found: " + m);
  if (!failure.empty())
    return message(io, kExitProblems, reader.path() + ": " + failure + "; verify lists the problems");
  return missing.empty() ? kExitOk : kExitProblems;
}

}  // namespace jbbtool
