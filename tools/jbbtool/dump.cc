// dump: every entry in key order with its data record decoded, as a text
// dump (textdump.h), CSV or JSON.  The file is only read, in one pass: the
// checker walks the tree and hands each entry to the row writer, which
// formats it straight into the output buffer.
#include <nlohmann/json.hpp>

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

// Formats one entry as a row of the chosen format.
class RowWriter {
 public:
  RowWriter(DumpFormat format, TextOut* out) : format_(format), out_(*out) {}

  void row(const EntryRef& e) {
    key_.resize(e.keyUnits);
    for (size_t i = 0; i < e.keyUnits; ++i) key_[i] = char16_t(jbbformat::getU16(e.key + 2 * i));
    size_t have = e.data ? e.dataSize : 0;
    ::JournalEntry je;
    decodeJournalEntry(e.data, have, &je);
    char actionBuf[32];
    const char* action = actionText(je.action, actionBuf);
    const char* type = je.objectType == 1 ? "File" : "Directory";
    std::string& b = out_.buffer();
    if (format_ == DumpFormat::Json) {
      if (rows_++) b += ",\n";
      b += "{\"key\":";
      appendKey(&b, key_.data(), key_.size(), KeyStyle::Json);
      b += ",\"action\":";
      out_.putInt(je.action);
      b += ",\"actionText\":\"";
      b += action;
      b += "\",\"objectType\":";
      out_.putInt(je.objectType);
      b += ",\"objectTypeText\":\"";
      b += type;
      b += "\",\"insertedUtc\":\"";
      out_.putUtc(je.insertedTime);
      b += "\",\"inserted\":";
      out_.putInt(je.insertedTime);
      b += ",\"objectTimeUtc\":\"";
      out_.putUtc(je.objectTime);
      b += "\",\"objectTime\":";
      out_.putInt(je.objectTime);
      b += ",\"raw\":\"";
      if (have) out_.putHex(e.data, have);
      b += "\"}";
    } else {
      char sep = format_ == DumpFormat::Csv ? ',' : '\t';
      appendKey(&b, key_.data(), key_.size(), format_ == DumpFormat::Csv ? KeyStyle::Csv : KeyStyle::Text);
      b += sep;
      out_.putInt(je.action);
      b += sep;
      b += action;
      b += sep;
      out_.putInt(je.objectType);
      b += sep;
      b += type;
      b += sep;
      out_.putUtc(je.insertedTime);
      b += sep;
      out_.putInt(je.insertedTime);
      b += sep;
      out_.putUtc(je.objectTime);
      b += sep;
      out_.putInt(je.objectTime);
      b += sep;
      if (have) out_.putHex(e.data, have);
      b += '\n';
    }
    out_.maybeFlush();
  }

 private:
  DumpFormat format_;
  TextOut& out_;
  std::u16string key_;  // the current key, reused
  size_t rows_ = 0;
};

}  // namespace

int runDump(const std::string& file, DumpFormat format, const Streams& io) {
  std::string path;
  FileImage db;
  if (!readDatabase(file, io, &path, &db)) return kExitUsage;
  if (db.size() < jbbformat::kCtrlRecSize)
    return message(io, kExitProblems, path + " is shorter than a control record; verify tells more");
  TextOut out(io.out);
  if (format == DumpFormat::Text) appendTextHeader(db.data(), &out.buffer());
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
