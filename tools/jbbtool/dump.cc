// dump: every entry in key order with its data record decoded, as a text
// dump (textdump.h), CSV or JSON.  The file is only read, in one pass: the
// checker walks the tree and hands each entry to the row writer, which
// formats it straight into the output buffer.
#include <nlohmann/json.hpp>

#include <cstring>

#include "btree/format.h"
#include "jbbtool/keytext.h"
#include "jbbtool/session.h"
#include "jbbtool/textdump.h"
#include "jbbtool/textout.h"
#include "viewer/entrydisplay.h"
#include "viewer/journalinfo.h"

using namespace jbbbuilder;

namespace jbbtool {

namespace {

const char kCsvHeader[] =
    "key,action,action_text,object_type,object_type_text,inserted_utc,inserted,object_time_utc,object_time,raw\n";

// The head of the JSON document: everything but the entries, whose array
// is left open for the rows.
std::string jsonHead(const std::string& path, const uint8_t* cr) {
  using jbbformat::getU16;
  ::JournalInfo info;
  decodeJournalInfo(cr + jbbformat::kJournalInfoOffset, &info);
  char server[jinfo::kServerNodeSize + 1], node[jinfo::kServerNodeSize + 1];
  serverAndNode(info, server, node);
  char activation[32], validation[32];
  formatUtc(info.activationTime, activation);
  formatUtc(info.validationTime, validation);
  nlohmann::ordered_json j;
  j["file"] = path;
  j["version"] = std::to_string(cr[jbbformat::kCrMajor]) + "." + std::to_string(cr[jbbformat::kCrMinor]);
  j["keyLength"] = getU16(cr + jbbformat::kCrKeyLength);
  j["dataSize"] = getU16(cr + jbbformat::kCrDataSize);
  nlohmann::ordered_json& ji = j["journal"];
  ji["type"] = info.journalType;
  ji["activationTime"] = info.activationTime;
  ji["activationUtc"] = activation;
  ji["validationTime"] = info.validationTime;
  ji["validationUtc"] = validation;
  ji["state"] = info.journalState;
  ji["maxJournalSize"] = info.maxJournalSize;
  ji["server"] = server;
  ji["node"] = node;
  ji["fsName"] = keyToUtf8(Key(info.fsName));
  std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  text.pop_back();  // the closing brace: the entries follow
  return text + ",\"entries\":[\n";
}

// The longest row but for its key and raw record: the labels, four
// numbers, two times and the two texts.
constexpr size_t kRowFixedMax = 512;

// Formats one entry as a row of the chosen format, straight into the
// output buffer.
class RowWriter {
 public:
  RowWriter(DumpFormat format, TextOut* out) : format_(format), out_(*out) {
    char buf[32];
    for (int32_t a = 0; a < kKnownActions; ++a) actions_[a] = actionText(a, buf);
  }

  void row(const EntryRef& e) {
    size_t have = e.data ? e.dataSize : 0;
    ::JournalEntry je;
    decodeJournalEntry(e.data, have, &je);
    Row r{e.key, e.keyUnits, je, e.data, have};
    char* p = out_.room(keyTextBound(r.units) + 2 * have + kRowFixedMax);
    out_.commit(format_ == DumpFormat::Json ? jsonRow(p, r) : tabularRow(p, r));
    out_.maybeFlush();
  }

 private:
  struct Row {
    const uint8_t* key;  // as in the file
    size_t units;
    const ::JournalEntry& je;
    const uint8_t* raw;
    size_t rawSize;
  };

  static char* text(char* p, const char* s) { return copyText(p, s, std::strlen(s)); }
  static char* text(char* p, const std::string& s) { return copyText(p, s.data(), s.size()); }

  // The action's text, made once for the usual codes.
  char* action(char* p, int32_t code) {
    if (code >= 0 && code < kKnownActions) return text(p, actions_[code]);
    char buf[32];
    return text(p, actionText(code, buf));
  }

  char* jsonRow(char* p, const Row& r) {
    if (rows_++) p = out_.newline(copyLiteral(p, ","));
    p = copyLiteral(p, "{\"key\":");
    p = writeFileKey(p, r.key, r.units, KeyStyle::Json);
    p = copyLiteral(p, ",\"action\":");
    p = formatInt(p, r.je.action);
    p = copyLiteral(p, ",\"actionText\":\"");
    p = action(p, r.je.action);
    p = copyLiteral(p, "\",\"objectType\":");
    p = formatInt(p, r.je.objectType);
    p = copyLiteral(p, ",\"objectTypeText\":\"");
    p = typeText(p, r.je.objectType);
    p = copyLiteral(p, "\",\"insertedUtc\":\"");
    p = formatUtcAt(p, r.je.insertedTime);
    p = copyLiteral(p, "\",\"inserted\":");
    p = formatInt(p, r.je.insertedTime);
    p = copyLiteral(p, ",\"objectTimeUtc\":\"");
    p = formatUtcAt(p, r.je.objectTime);
    p = copyLiteral(p, "\",\"objectTime\":");
    p = formatInt(p, r.je.objectTime);
    p = copyLiteral(p, ",\"raw\":\"");
    p = formatHex(p, r.raw, r.rawSize);
    return copyLiteral(p, "\"}");
  }

  // The text dump's line (tab-separated) or a CSV line.
  char* tabularRow(char* p, const Row& r) {
    const bool csv = format_ == DumpFormat::Csv;
    const char sep = csv ? ',' : '\t';
    p = writeFileKey(p, r.key, r.units, csv ? KeyStyle::Csv : KeyStyle::Text);
    *p++ = sep;
    p = formatInt(p, r.je.action);
    *p++ = sep;
    p = action(p, r.je.action);
    *p++ = sep;
    p = formatInt(p, r.je.objectType);
    *p++ = sep;
    p = typeText(p, r.je.objectType);
    *p++ = sep;
    p = formatUtcAt(p, r.je.insertedTime);
    *p++ = sep;
    p = formatInt(p, r.je.insertedTime);
    *p++ = sep;
    p = formatUtcAt(p, r.je.objectTime);
    *p++ = sep;
    p = formatInt(p, r.je.objectTime);
    *p++ = sep;
    p = formatHex(p, r.raw, r.rawSize);
    return out_.newline(p);
  }

  static char* typeText(char* p, int32_t objectType) {
    return objectType == 1 ? copyLiteral(p, "File") : copyLiteral(p, "Directory");
  }

  static constexpr int32_t kKnownActions = 16;

  DumpFormat format_;
  TextOut& out_;
  size_t rows_ = 0;
  std::string actions_[kKnownActions];
};

}  // namespace

int runDump(const std::string& file, DumpFormat format, const Streams& io) {
  std::string path;
  FileImage db;
  if (!readDatabase(file, io, &path, &db)) return kExitUsage;
  if (db.size() < jbbformat::kCtrlRecSize)
    return message(io, kExitProblems, path + " is shorter than a control record; verify tells more");
  TextOut out(io.out);
  if (format == DumpFormat::Text) {
    std::string header;
    appendTextHeader(db.data(), &header);
    out.put(header);
  }
  if (format == DumpFormat::Csv) out.put(kCsvHeader);
  if (format == DumpFormat::Json) out.put(jsonHead(path, db.data()));
  Progress progress(io, "dump: entries");
  RowWriter rows(format, &out);
  CheckOptions options;
  options.collect = false;
  options.onEntry = [&](const EntryRef& e) {
    rows.row(e);
    progress.tick();
  };
  CheckResult r = checkImage(db.data(), db.size(), options);
  progress.done();
  if (!r.ok()) {
    out.flush();
    return message(io, kExitProblems, path + " has problems, the dump is incomplete: verify lists them, salvage recovers what can be recovered");
  }
  if (format == DumpFormat::Text) {
    out.put("end ");
    out.putUnsigned(r.entryCount);
    out.put('\n');
  }
  if (format == DumpFormat::Json) out.put("\n]}\n");
  if (!out.flush()) return message(io, kExitProblems, "cannot write the dump");
  return kExitOk;
}

}  // namespace jbbtool
