// jbbtool: verify, inspect, dump, load, compact and salvage journal
// databases.  Each subcommand is one function that takes its parsed
// arguments and returns the process's exit code; main.cc only parses the
// command line.  Results go to Streams::out, progress and messages to
// Streams::err.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace jbbtool {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitProblems = 1;  // the file has problems or the operation failed
constexpr int kExitUsage = 2;     // a usage error or an unusable file

struct Streams {
  FILE* in = stdin;
  FILE* out = stdout;
  FILE* err = stderr;
  bool progress = false;  // show progress on err (only when it is a terminal)
};

enum class DumpFormat { Text, Csv, Json };

// What dump writes, and where.  Any of prefix, from and to makes it a dump
// of the keys in [from, to) that start with prefix, in the tree's order
// (16-bit unit by unit), reached through the cursor; all three are UTF-8.
struct DumpOptions {
  DumpFormat format = DumpFormat::Text;
  std::string out;  // a file to write instead of Streams::out
  std::optional<std::string> prefix, from, to;
};

// Where a new database goes and how it is laid out.
struct OutputOptions {
  std::string out;         // empty: replace the input (compact only)
  bool force = false;      // replace an existing out (it is kept under a backup name)
  bool backup = true;      // compact in place: keep the original under a backup name
  int fill = 10;           // entries aimed at in every node, 5..10
  size_t sortRunBytes = 0;  // memory for one run of sorted entries (0: the sorter's own); tests make it small
};

// What delete takes out, and how.  Exactly one of keys, keysFrom and
// byPrefix gives the keys.
struct DeleteOptions {
  std::vector<std::string> keys;  // KEY arguments, UTF-8, deleted in this order
  std::string keysFrom;           // a list, one key a line; "-": `input`
  bool byPrefix = false;          // every key that starts with prefix, in key order
  std::string prefix;
  size_t batch = 1000;            // keys a change (a transaction) holds
  bool dryRun = false;            // only list what would go
  bool backup = false;            // keep a copy of the file first
  FILE* input = stdin;            // standard input, for keysFrom "-"
};

int runVerify(const std::string& file, const Streams& io);
int runStat(const std::string& file, bool json, const Streams& io);
int runDump(const std::string& file, DumpFormat format, const Streams& io);
int runDump(const std::string& file, const DumpOptions& options, const Streams& io);
// Each key's entry (keys in UTF-8) as a row of the dump.
int runGet(const std::string& file, const std::vector<std::string>& keys, DumpFormat format, const Streams& io);
// The control record, the journal information area and the tree's counts.
int runInfo(const std::string& file, bool json, const Streams& io);
// dumpFile "-": the dump comes from standard input (Streams::in).
int runLoad(const std::string& dumpFile, const OutputOptions& options, const Streams& io);
int runCompact(const std::string& file, const OutputOptions& options, const Streams& io);
int runSalvage(const std::string& file, const OutputOptions& options, const Streams& io);
int runDelete(const std::string& file, const DeleteOptions& options, const Streams& io);

}  // namespace jbbtool
