// jbbtool's command line: one subcommand per task (jbbtool.h).  Usage
// errors exit with 2, --help and --version with 0.
#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "jbbtool/jbbtool.h"
#include "jbbversion.h"
#include "messages/services.h"
#include "platform/os.h"
#include "platform/osargs.h"

using namespace jbbtool;

namespace {

const char kFileHelp[] = "the database file (a path without .jbbdb is taken as well)";
const char kFormatHelp[] =
    "text (what load reads), csv or json; CSV writes an unpaired surrogate in a key as U+FFFD, so such keys may "
    "read alike (text and JSON escape it as \\uXXXX)";
const char kRangeHelp[] =
    "--prefix, --from and --to (UTF-8) select the keys in [A, B) that start with P, in the tree's order (16-bit "
    "unit by unit); given together, the keys in all of them.  A range is reached through the tree's index: only "
    "the nodes on the way are read, and the rest of the file is not checked (verify checks it).";

void addOutput(CLI::App* cmd, OutputOptions* o) {
  cmd->add_option("--fill", o->fill, "entries aimed at in every node of the new file, 5 to 10")
      ->check(CLI::Range(5, 10))
      ->capture_default_str();
  cmd->add_flag("--force", o->force, "replace an existing --out file, keeping it under a backup name");
}

}  // namespace

int main(int argc, char** argv) {
  startServices();
  CLI::App app{"Verifies, inspects, dumps, loads, compacts and salvages journal databases (.jbbdb).", "jbbtool"};
  app.set_version_flag("--version", std::string("jbbtool ") + JBB_VERSION);
  app.require_subcommand(1);
  // Options are written --name on every system: an argument such as a key
  // "/home/x" is a key on Windows too, not an option.
  app.allow_windows_style_options(false);
  app.footer("Exit codes: 0 success, 1 the file has problems or the operation failed, 2 a usage error or an unusable file.");

  std::string file, dumpFile, format = "text";
  std::vector<std::string> keys;
  DumpOptions dumpOptions;
  bool json = false, noBackup = false;
  OutputOptions output;

  CLI::App* verify = app.add_subcommand("verify", "check every file and tree invariant; the file is only read");
  verify->add_option("FILE", file, kFileHelp)->required();

  CLI::App* stat = app.add_subcommand("stat", "entries, height, nodes per level, fill, free and stale bytes");
  stat->add_option("FILE", file, kFileHelp)->required();
  stat->add_flag("--json", json, "as JSON");

  CLI::App* dump = app.add_subcommand("dump", "every entry in key order, its data record decoded and in hex");
  dump->add_option("FILE", file, kFileHelp)->required();
  dump->add_option("--format", format, kFormatHelp)->check(CLI::IsMember({"text", "csv", "json"}))->capture_default_str();
  CLI::Option* prefix = dump->add_option("--prefix", dumpOptions.prefix.emplace(), "only keys that start with P");
  CLI::Option* from = dump->add_option("--from", dumpOptions.from.emplace(), "only keys at or after A");
  CLI::Option* to = dump->add_option("--to", dumpOptions.to.emplace(), "only keys before B");
  dump->add_option("--out", dumpOptions.out, "write the dump to this file instead of standard output");
  dump->footer(kRangeHelp);

  CLI::App* get = app.add_subcommand("get", "the entries of the keys given, each as the row dump writes for it");
  get->add_option("FILE", file, kFileHelp)->required();
  get->add_option("KEY", keys, "keys, exactly as stored (UTF-8)")->required();
  get->add_option("--format", format, kFormatHelp)->check(CLI::IsMember({"text", "csv", "json"}))->capture_default_str();
  get->footer("Exit 0 when every key is found, 1 when one is missing (each named on standard error).");

  CLI::App* info = app.add_subcommand("info", "the control record, the journal information and the counts");
  info->add_option("FILE", file, kFileHelp)->required();
  info->add_flag("--json", json, "as JSON");

  CLI::App* load = app.add_subcommand("load", "build a fresh database from a text dump");
  load->add_option("DUMP", dumpFile, "a text dump; - reads it from standard input")->required();
  load->add_option("--out", output.out, "the new database file")->required();
  addOutput(load, &output);

  CLI::App* compact = app.add_subcommand("compact", "rewrite a sound database compactly, with the same entries and fields");
  compact->add_option("FILE", file, kFileHelp)->required();
  compact->add_option("--out", output.out, "write the new database here instead of replacing FILE");
  compact->add_flag("--no-backup", noBackup, "when replacing FILE, keep no backup of it");
  addOutput(compact, &output);

  CLI::App* salvage = app.add_subcommand("salvage", "recover what can be recovered from a damaged database into a new one");
  salvage->add_option("FILE", file, kFileHelp)->required();
  salvage->add_option("--out", output.out, "the new database file; an existing one only with --force")->required();
  addOutput(salvage, &output);

  DeleteOptions del;
  CLI::App* deleteCmd = app.add_subcommand("delete", "delete keys, as the viewer's Del does, in transactions of --batch keys");
  deleteCmd->add_option("FILE", file, kFileHelp)->required();
  deleteCmd->add_option("KEY", del.keys, "keys to delete, UTF-8, in this order (after -- when one starts with -)");
  deleteCmd->add_option("--keys-from", del.keysFrom, "the keys, one a line (UTF-8, LF or CR LF); - reads standard input");
  CLI::Option* deletePrefix = deleteCmd->add_option("--prefix", del.prefix, "every key that starts with P, in key order");
  deleteCmd->add_option("--batch", del.batch, "keys deleted in one transaction (all or nothing; each costs three syncs)")->check(CLI::Range(size_t(1), size_t(100000000)))->capture_default_str();
  deleteCmd->add_flag("--dry-run", del.dryRun, "only list the keys that would be deleted; the file is only read");
  deleteCmd->add_flag("--backup", del.backup, "first keep a copy of FILE as FILE.bak (FILE.1.bak, ... when taken)");

  // Keys come as UTF-8 on every host, from the wide command line on
  // Windows; paths go back to what the file services open.
  std::vector<std::string> args = osArgumentsUtf8(argc, argv);
  std::vector<char*> utf8Argv;
  for (std::string& a : args) utf8Argv.push_back(&a[0]);
  try {
    app.parse(int(utf8Argv.size()), utf8Argv.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }
  for (std::string* path : {&file, &dumpFile, &output.out, &dumpOptions.out, &del.keysFrom}) *path = osNativePath(*path);
  output.backup = !noBackup;
  Streams io;
  io.progress = osIsTerminal(stderr);
  if (verify->parsed()) return runVerify(file, io);
  if (stat->parsed()) return runStat(file, json, io);
  DumpFormat dumpFormat = format == "csv" ? DumpFormat::Csv : format == "json" ? DumpFormat::Json : DumpFormat::Text;
  if (dump->parsed()) {
    dumpOptions.format = dumpFormat;
    if (!prefix->count()) dumpOptions.prefix.reset();
    if (!from->count()) dumpOptions.from.reset();
    if (!to->count()) dumpOptions.to.reset();
    return runDump(file, dumpOptions, io);
  }
  if (get->parsed()) return runGet(file, keys, dumpFormat, io);
  if (info->parsed()) return runInfo(file, json, io);
  if (load->parsed()) return runLoad(dumpFile, output, io);
  if (compact->parsed()) return runCompact(file, output, io);
  if (deleteCmd->parsed()) {
    del.byPrefix = deletePrefix->count() > 0;
    return runDelete(file, del, io);
  }
  return runSalvage(file, output, io);
}
