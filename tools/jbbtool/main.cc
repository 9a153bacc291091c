// jbbtool's command line: one subcommand per task (jbbtool.h).  Usage
// errors exit with 2, --help and --version with 0.
#include <CLI/CLI.hpp>

#include "jbbtool/jbbtool.h"
#include "jbbversion.h"
#include "messages/services.h"
#include "platform/os.h"
#include "platform/osargs.h"

using namespace jbbtool;

namespace {

const char kFileHelp[] = "the database file (a path without .jbbdb is taken as well)";

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
  // "/dir/file" is a path on Windows too, never an option.
  app.allow_windows_style_options(false);
  app.footer("Exit codes: 0 success, 1 the file has problems or the operation failed, 2 a usage error or an unusable file.");

  std::string file, dumpFile, format = "text";
  bool json = false, noBackup = false;
  OutputOptions output;

  CLI::App* verify = app.add_subcommand("verify", "check every file and tree invariant; the file is only read");
  verify->add_option("FILE", file, kFileHelp)->required();

  CLI::App* stat = app.add_subcommand("stat", "entries, height, nodes per level, fill, free and stale bytes");
  stat->add_option("FILE", file, kFileHelp)->required();
  stat->add_flag("--json", json, "as JSON");

  CLI::App* dump = app.add_subcommand("dump", "every entry in key order, its data record decoded and in hex");
  dump->add_option("FILE", file, kFileHelp)->required();
  dump->add_option("--format", format, "text (what load reads), csv or json")
      ->check(CLI::IsMember({"text", "csv", "json"}))
      ->capture_default_str();

  CLI::App* load = app.add_subcommand("load", "build a fresh database from a text dump");
  load->add_option("DUMP", dumpFile, "a text dump")->required();
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
  for (std::string* path : {&file, &dumpFile, &output.out}) *path = osNativePath(*path);
  output.backup = !noBackup;
  Streams io;
  io.progress = osIsTerminal(stderr);
  if (verify->parsed()) return runVerify(file, io);
  if (stat->parsed()) return runStat(file, json, io);
  if (dump->parsed())
    return runDump(file, format == "csv" ? DumpFormat::Csv : format == "json" ? DumpFormat::Json : DumpFormat::Text, io);
  if (load->parsed()) return runLoad(dumpFile, output, io);
  if (compact->parsed()) return runCompact(file, output, io);
  return runSalvage(file, output, io);
}
