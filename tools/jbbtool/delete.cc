// delete: keys taken out of a journal with the engine's own Delete, the
// algorithm of the viewer's Del request, so that the tree afterwards is the
// one the viewer leaves after deleting the same keys one by one in the same
// order.
//
// The file is checked first, as verify checks it, under the exclusive lock
// (taken at once or not at all), and a damaged one is refused untouched.
// The keys then go in batches: each batch is one change of the engine
// (beginUpdate ... Delete ... syncToDisk), made all or nothing by its
// rollback file and on the disk before the next begins.  The engine never
// writes a node between two flushes (its cache drops only unchanged nodes),
// so a batch is never half written, whatever it touches; its changed nodes
// stay in memory until its flush.  A batch costs three syncs: 1000 keys by
// default.  The lock is held from the check to the end, so no other
// program sees or makes a change in between.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

#include "btree/cursor.h"
#include "btree/format.h"
#include "btree/jbbtreev.h"
#include "btree/rollback.h"
#include "jbbtool/keytext.h"
#include "jbbtool/session.h"
#include "platform/osfs.h"
#include "platform/utf8.h"

namespace jbbtool {

namespace {

std::string keyText(const std::u16string& key) {
  std::string text;
  appendKey(&text, key.data(), key.size(), KeyStyle::Text);
  return text;
}

// A key as given: UTF-8, not empty, no zero character.  *error names the
// problem.
bool decodeKey(const std::string& text, std::u16string* key, std::string* error) {
  if (text.empty()) {
    *error = "an empty key";
    return false;
  }
  return utf8ToUtf16(text, key, error);
}

bool readAll(FILE* f, std::string* text) {
  char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text->append(buffer, n);
  return !std::ferror(f);
}

// The keys of a list: one a line, LF or CR LF, a UTF-8 byte order mark at
// the start skipped, and blank lines too (no key is empty; a list that
// ends with an empty line is common).  Every line is checked before
// anything is deleted.
int readKeyList(const DeleteOptions& options, const Streams& io, std::vector<std::u16string>* keys) {
  const std::string& name = options.keysFrom;
  const bool standardInput = name == "-";
  FILE* f = standardInput ? options.input : std::fopen(name.c_str(), "rb");
  if (f == nullptr) return message(io, kExitUsage, "cannot open " + name + because(errno));
  std::string text;
  bool ok = readAll(f, &text);
  int err = errno;
  if (!standardInput) std::fclose(f);
  const std::string shown = standardInput ? "standard input" : name;
  if (!ok) return message(io, kExitUsage, "cannot read " + shown + because(err));
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (size_t line = 1; pos < text.size(); ++line) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    size_t stop = end > pos && text[end - 1] == '\r' ? end - 1 : end;
    std::u16string key;
    std::string error;
    if (stop == pos) {
      pos = end + 1;
      continue;
    }
    if (!decodeKey(text.substr(pos, stop - pos), &key, &error))
      return message(io, kExitUsage, shown + ", line " + std::to_string(line) + ": " + error);
    keys->push_back(std::move(key));
    pos = end + 1;
  }
  return kExitOk;
}

// The keys to delete, in the order given; for --prefix only the prefix.
int gatherKeys(const DeleteOptions& options, const Streams& io, std::vector<std::u16string>* keys,
               std::u16string* prefix) {
  int sources = !options.keys.empty() + !options.keysFrom.empty() + options.byPrefix;
  if (sources != 1)
    return message(io, kExitUsage, "give the keys to delete one way: as KEY arguments, --keys-from LIST or --prefix P");
  if (options.batch < 1) return message(io, kExitUsage, "--batch must be at least 1");
  std::string error;
  if (options.byPrefix) {
    if (!decodeKey(options.prefix, prefix, &error)) return message(io, kExitUsage, "--prefix: " + error);
    return kExitOk;
  }
  if (!options.keysFrom.empty()) return readKeyList(options, io, keys);
  for (size_t i = 0; i < options.keys.size(); ++i) {
    std::u16string key;
    if (!decodeKey(options.keys[i], &key, &error))
      return message(io, kExitUsage, "KEY " + std::to_string(i + 1) + ": " + error);
    keys->push_back(std::move(key));
  }
  return kExitOk;
}

bool startsWith(const bTreeCursor& c, const std::u16string& prefix) {
  if (c.keyUnits() < prefix.size()) return false;
  const uint8_t* k = c.keyBytes();
  for (size_t i = 0; i < prefix.size(); ++i)
    if (jbbformat::getU16(k + 2 * i) != uint16_t(prefix[i])) return false;
  return true;
}

std::u16string cursorKey(const bTreeCursor& c) {
  std::u16string key(c.keyUnits(), u'\0');
  jbbformat::getU16s(c.keyBytes(), reinterpret_cast<uint16_t*>(&key[0]), key.size());
  return key;
}

// The next keys that start with the prefix, from `from` on (the first at or
// after it), at most `limit` of them.  False after a failed read.
bool nextWithPrefix(bTree& tree, const std::u16string& prefix, const std::u16string& from, size_t limit,
                    std::vector<std::u16string>* keys) {
  keys->clear();
  bTreeCursor cursor(tree);
  bool more = cursor.seek(from.c_str());
  while (more && keys->size() < limit && startsWith(cursor, prefix)) {
    keys->push_back(cursorKey(cursor));
    more = cursor.next();
  }
  return more || tree.dbErrno == 0;
}

struct Tally {
  uint64_t deleted = 0, notFound = 0, failed = 0;
};

void notFound(const Streams& io, const std::u16string& key) {
  std::fprintf(io.err, "jbbtool: key not found: %s\n", keyText(key).c_str());
}

int exitFor(const Tally& t) { return t.notFound == 0 && t.failed == 0 ? kExitOk : kExitProblems; }

std::string tallyText(const Tally& t, const char* deleted) {
  return std::to_string(t.deleted) + " " + deleted + ", " + std::to_string(t.notFound) + " not found, " +
         std::to_string(t.failed) + " failed";
}

// --dry-run: what would go, read through a read-only open.  A key met again
// in the list would not be found the second time, as a deletion would not.
int dryRun(const std::string& path, uint16_t dataSize, const std::vector<std::u16string>& keys,
           const std::u16string& prefix, bool byPrefix, const Streams& io) {
  bTree tree(dataSize);
  if (tree.openReadOnly(path.c_str()) != 0) {
    if (tree.dbErrno == kErrnoInUse) return message(io, kExitProblems, path + " is in use by another program");
    return message(io, kExitUsage, "cannot open " + path + becauseEngine(tree.dbErrno));
  }
  Tally t;
  Progress progress(io, "delete (dry run): keys");
  auto listed = [&](const std::u16string& key) {
    progress.tick();
    std::fprintf(io.out, "%s\n", keyText(key).c_str());
    ++t.deleted;
  };
  if (byPrefix) {
    bTreeCursor cursor(tree);
    for (bool more = cursor.seek(prefix.c_str()); more && startsWith(cursor, prefix); more = cursor.next())
      listed(cursorKey(cursor));
    if (tree.dbErrno != 0) {
      progress.done();
      message(io, kExitProblems, "cannot read " + path + becauseEngine(tree.dbErrno));
      t.failed = 1;
    }
  } else {
    std::set<std::u16string> seen;
    for (const std::u16string& key : keys) {
      if (tree.Search(key.c_str()) != nullptr && seen.insert(key).second) {
        listed(key);
        continue;
      }
      progress.done();
      if (tree.dbErrno != 0) {
        message(io, kExitProblems, "cannot read " + path + " looking for " + keyText(key) + becauseEngine(tree.dbErrno));
        ++t.failed;
      } else {
        notFound(io, key);
        ++t.notFound;
      }
    }
  }
  progress.done();
  tree.closeBtDb();
  std::fprintf(io.out, "%s: %s (dry run: nothing was changed)\n", path.c_str(), tallyText(t, "would be deleted").c_str());
  if (int rc = outputWritten(io)) return rc;
  return exitFor(t);
}

// The deletions, batch after batch, under the exclusive lock.
class Deleter {
 public:
  Deleter(bTree& tree, const std::string& path, size_t batch, const Streams& io)
      : tree_(tree), path_(path), batch_(batch), io_(io), progress_(io, "delete: keys") {}

  // One batch: every key of it deleted in memory, then written as one
  // change.  False when the batch failed: nothing of it is in the file,
  // and the caller stops.
  bool run(const std::vector<std::u16string>& keys, size_t from, size_t to) {
    uint64_t done = 0;
    for (size_t i = from; i < to; ++i) {
      int rc = tree_.Delete(keys[i].c_str());
      if (rc == 0) {
        ++done;
      } else if (rc == 1) {
        progress_.done();
        notFound(io_, keys[i]);
        ++tally.notFound;
      } else {
        // The engine drops what the batch changed in memory and reads the
        // tree again from the file: none of the batch is deleted.
        return stopped("deleting " + keyText(keys[i]) + " failed" + becauseEngine(tree_.dbErrno), done, to - i);
      }
    }
    if (done != 0 && tree_.syncToDisk() != 0)
      return stopped("writing the change failed" + becauseEngine(tree_.dbErrno), done, 0);
    tally.deleted += done;
    progress_.add(to - from);
    return true;
  }

  // Keys never tried after the run stopped.
  void untried(uint64_t n) { tally.failed += n; }
  void done() { progress_.done(); }

  Tally tally;

 private:
  bool stopped(const std::string& why, uint64_t takenBack, uint64_t left) {
    progress_.done();
    message(io_, kExitProblems,
            path_ + ": " + why + "; the " + std::to_string(takenBack) +
                " deletions of its batch were taken back and the rest of the keys were not tried");
    tally.failed += takenBack + left;
    return false;
  }

  bTree& tree_;
  const std::string& path_;
  size_t batch_;
  const Streams& io_;
  Progress progress_;
};

int deleteKeys(bTree& tree, const std::string& path, const DeleteOptions& options,
               const std::vector<std::u16string>& keys, const std::u16string& prefix, const Streams& io) {
  Deleter deleter(tree, path, options.batch, io);
  if (options.byPrefix) {
    // Each batch is the next keys with the prefix, read just before it is
    // deleted; so memory holds one batch of keys, not all of them.
    std::vector<std::u16string> batch;
    std::u16string from = prefix;
    for (;;) {
      if (!nextWithPrefix(tree, prefix, from, options.batch, &batch)) {
        deleter.done();
        message(io, kExitProblems, "cannot read " + path + becauseEngine(tree.dbErrno));
        ++deleter.tally.failed;
        break;
      }
      if (batch.empty() || !deleter.run(batch, 0, batch.size())) break;
      from = batch.back();
    }
  } else {
    for (size_t at = 0; at < keys.size(); at += options.batch) {
      size_t to = std::min(keys.size(), at + options.batch);
      if (!deleter.run(keys, at, to)) {
        deleter.untried(keys.size() - to);
        break;
      }
    }
  }
  deleter.done();
  std::fprintf(io.out, "%s: %s\n", path.c_str(), tallyText(deleter.tally, "deleted").c_str());
  if (int rc = outputWritten(io)) return rc;
  return exitFor(deleter.tally);
}

int inUse(const Streams& io, const std::string& path) {
  return message(io, kExitProblems, path + " is in use by another program");
}

// The file as checked, held until the engine's open holds it too.  For a
// deletion it is opened for writing (the exclusive lock needs that) and
// locked at once; the dry run reads it as verify does.
struct Checked {
  std::unique_ptr<ReadDatabase> reader;  // --dry-run
  OsFile* file = nullptr;                // a deletion: the exclusive lock
  jbbrollback::Pending pending;
  std::string path;
  CtrlRec cr{};
  ~Checked() { release(); }
  void release() {
    reader.reset();
    osFileClose(file);
    file = nullptr;
  }
};

// Opens and checks the file; returns kExitOk or an exit code after a
// message.  A damaged file is refused as it is.
int openChecked(const std::string& given, bool exclusive, const Streams& io, Checked* c) {
  std::unique_ptr<jbbcheck::FileSource> heldSource;
  jbbcheck::FileSource* source;
  if (!exclusive) {
    c->reader = std::make_unique<ReadDatabase>();
    if (int rc = c->reader->open(given, io)) return rc;
    c->path = c->reader->path();
    source = &c->reader->source();
  } else {
    if (!resolveDatabase(given, io, &c->path)) return kExitUsage;
    // A deletion wants the file to itself: refused at once, before the
    // check, when another program has it open.
    c->file = osFileOpenLocked(c->path.c_str(), OsFileMode::kUpdate, OsLock::kExclusive);
    if (c->file == nullptr) {
      if (errno == EAGAIN) return inUse(io, c->path);
      return message(io, kExitProblems, "cannot open " + c->path + " for a change" + because(errno));
    }
    c->pending = jbbrollback::inspect(c->file);
    if (c->pending.state == jbbrollback::Pending::kConflict)
      return message(io, kExitProblems,
                     c->path + " holds an interrupted change that cannot be taken back because the file was changed "
                               "since (" + c->pending.why + "); nothing was deleted, and jbbtool salvage " + c->path +
                               " --out NEW recovers its entries into a new file");
    // Judged as the engine's open will leave it once it has recovered an
    // interrupted change.
    heldSource = std::make_unique<jbbcheck::FileSource>(c->file, &c->pending);
    source = heldSource.get();
  }
  Progress progress(io, "");
  progress.stage("delete: checking the database");
  ProblemCount problems;
  jbbcheck::Summary r = jbbcheck::check(*source, jbbcheck::Options(), problems);
  progress.done();
  if (!source->ok()) return message(io, kExitUsage, "cannot read " + c->path);
  if (!r.ok())
    return message(io, kExitProblems,
                   c->path + " has problems (verify lists them); nothing was deleted, and salvage --out NEW recovers "
                             "what can be recovered");
  decodeCtrlRec(source->bytes(0, jbbformat::kCtrlRecSize), &c->cr);  // a sound file has one
  return kExitOk;
}

}  // namespace

int runDelete(const std::string& file, const DeleteOptions& options, const Streams& io) {
  std::vector<std::u16string> keys;
  std::u16string prefix;
  if (int rc = gatherKeys(options, io, &keys, &prefix)) return rc;
  Checked checked;
  if (int rc = openChecked(file, !options.dryRun, io, &checked)) return rc;
  const std::string path = checked.path;
  if (options.dryRun) return dryRun(path, checked.cr.dataSize, keys, prefix, options.byPrefix, io);

  // The engine's open shares the file with the checked handle, which keeps
  // it as checked meanwhile; an interrupted change that the open must
  // recover first needs the file alone, and the check has judged the file
  // as that recovery leaves it.
  osFileLock(checked.file, OsLock::kShared);
  if (checked.pending.sideFile) checked.release();
  bTree tree(checked.cr.dataSize);
  if (tree.openBtDb(path.c_str(), false) != 0) {
    if (tree.dbErrno == kErrnoInUse) return inUse(io, path);
    if (tree.dbErrno == kErrnoPendingConflict)
      return message(io, kExitProblems,
                     path + " holds an interrupted change that cannot be taken back because the file was changed "
                            "since (" + std::string(tree.pendingWhy()) + "); nothing was deleted");
    return message(io, kExitProblems, "cannot open " + path + becauseEngine(tree.dbErrno));
  }
  if (checked.pending.state == jbbrollback::Pending::kRollBack)
    message(io, kExitOk, path + ": an interrupted change was taken back");
  if (checked.pending.state == jbbrollback::Pending::kComplete)
    message(io, kExitOk, path + ": an interrupted change was completed");
  checked.release();
  if (tree.beginUpdate() != 0) {
    tree.closeBtDb();
    if (tree.dbErrno == kErrnoInUse) return inUse(io, path);
    return message(io, kExitProblems, "cannot lock " + path + becauseEngine(tree.dbErrno));
  }
  if (options.backup) {
    std::string backup, error;
    if (!osKeepCopy(tree.dbHandle, path, &backup, &error)) {
      tree.endUpdate();
      tree.closeBtDb();
      return message(io, kExitProblems, error + "; nothing was deleted");
    }
    std::fprintf(io.out, "%s: a copy is kept as %s\n", path.c_str(), backup.c_str());
    std::fflush(io.out);
  }
  int rc = deleteKeys(tree, path, options, keys, prefix, io);
  tree.endUpdate();
  if (tree.settleChanges() != 0) {
    message(io, kExitProblems, "cannot sync the folder of " + path + because(errno));
    rc = kExitProblems;
  }
  tree.closeBtDb();
  return rc;
}

}  // namespace jbbtool
