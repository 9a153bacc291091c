// The rows of a dump and the document around them (dumprows.h).
//
// A row is formatted straight into the output buffer: every field's
// literal is copied whole, and the row goes on after its size.
#include "jbbtool/dumprows.h"

#include <cerrno>
#include <cstring>

#include "btree/format.h"
#include "jbbtool/keytext.h"
#include "jbbtool/textdump.h"
#include "platform/psstr.h"
#include "platform/utf8.h"
#include "viewer/entrydisplay.h"
#include "viewer/journalinfo.h"

namespace jbbtool {

namespace {

const char kCsvHeader[] =
    "key,action,action_text,object_type,object_type_text,inserted_utc,inserted,object_time_utc,object_time,raw\n";

// A row's ten fields, in order: key, action, action text, object type, its
// text, inserted time in UTC, the same as a number, object time in UTC, the
// same as a number, raw record.  What goes before each field (labels,
// quotes, separators) and after the last differs by format; the fields
// themselves do not.  Each of those literals is copied whole, kLiteralRoom
// bytes (a fixed-size copy is a few moves), and the row goes on after its
// size.
constexpr size_t kFields = 10, kLiteralRoom = 24;

// The room a row takes but for its key and raw record: every literal's
// whole copy, a comma and a line end before a JSON row, four numbers, two
// times, the action's text (at most 31 bytes) and "Directory".
constexpr size_t kRowFixedMax = 512;
static_assert(kRowFixedMax >= (kFields + 1) * kLiteralRoom + 3 + 4 * 20 + 2 * kUtcTextMax + 31 + 9,
              "a row's fixed parts outgrow the room taken for them");

struct Literal {
  char text[kLiteralRoom];
  size_t size;
};
template <size_t N>
constexpr Literal lit(const char (&s)[N]) {
  static_assert(N <= kLiteralRoom, "a row literal longer than its room");
  Literal l{};
  for (size_t i = 0; i + 1 < N; ++i) l.text[i] = s[i];
  l.size = N - 1;
  return l;
}
struct RowShape {
  Literal before[kFields];
  Literal after;  // then the line end
};
constexpr RowShape kTextRow = {{lit(""), lit("\t"), lit("\t"), lit("\t"), lit("\t"), lit("\t"), lit("\t"), lit("\t"),
                                lit("\t"), lit("\t")},
                               lit("")};
constexpr RowShape kCsvRow = {{lit(""), lit(","), lit(","), lit(","), lit(","), lit(","), lit(","), lit(","), lit(","),
                               lit(",")},
                              lit("")};
constexpr RowShape kJsonRow = {{lit("{\"key\":"), lit(",\"action\":"), lit(",\"actionText\":\""),
                                lit("\",\"objectType\":"), lit(",\"objectTypeText\":\""), lit("\",\"insertedUtc\":\""),
                                lit("\",\"inserted\":"), lit(",\"objectTimeUtc\":\""), lit("\",\"objectTime\":"),
                                lit(",\"raw\":\"")},
                               lit("\"}")};


}  // namespace

nlohmann::ordered_json journalJson(const uint8_t* cr) {
  ::JournalInfo info;
  decodeJournalInfo(cr + jbbformat::kJournalInfoOffset, &info);
  char server[jinfo::kServerNodeSize + 1], node[jinfo::kServerNodeSize + 1];
  serverAndNode(info, server, node);
  char activation[32], validation[32];
  formatUtc(info.activationTime, activation);
  formatUtc(info.validationTime, validation);
  nlohmann::ordered_json ji;
  ji["type"] = info.journalType;
  ji["activationTime"] = info.activationTime;
  ji["activationUtc"] = activation;
  ji["validationTime"] = info.validationTime;
  ji["validationUtc"] = validation;
  ji["state"] = info.journalState;
  ji["maxJournalSize"] = info.maxJournalSize;
  ji["server"] = server;
  ji["node"] = node;
  std::string fsName;
  appendUtf16AsUtf8(&fsName, info.fsName, wideLen(info.fsName));
  ji["fsName"] = fsName;
  return ji;
}

// Formats one entry as a row of the chosen format, straight into the
// output buffer.  JSON rows are elements of an array: a comma ends every
// row but the last, at the start of the next.
class DumpWriter::Rows {
 public:
  Rows(DumpFormat format, TextOut* out)
      : shape_(format == DumpFormat::Json ? kJsonRow : format == DumpFormat::Csv ? kCsvRow : kTextRow),
        style_(format == DumpFormat::Json ? KeyStyle::Json : format == DumpFormat::Csv ? KeyStyle::Csv : KeyStyle::Text),
        json_(format == DumpFormat::Json),
        out_(*out) {
    char buf[32];
    for (int32_t a = 0; a < kKnownActions; ++a) actions_[a] = actionText(a, buf);
  }

  void row(const jbbcheck::Entry& e) {
    size_t have = e.data ? e.dataSize : 0;
    ::JournalEntry je;
    decodeJournalEntry(e.data, have, &je);
    char* p = out_.room(keyTextBound(e.keyUnits) + 2 * have + kRowFixedMax);
    if (json_ && rows_++) p = out_.newline(copyLiteral(p, ","));
    p = writeFileKey(put(p, 0), e.key, e.keyUnits, style_, out_.crlf());
    p = formatInt(put(p, 1), je.action);
    p = action(put(p, 2), je.action);
    p = formatInt(put(p, 3), je.objectType);
    p = typeText(put(p, 4), je.objectType);
    p = formatUtcAt(put(p, 5), je.insertedTime);
    p = formatInt(put(p, 6), je.insertedTime);
    p = formatUtcAt(put(p, 7), je.objectTime);
    p = formatInt(put(p, 8), je.objectTime);
    p = formatHex(put(p, 9), e.data, have);
    p = literal(p, shape_.after);
    out_.commit(json_ ? p : out_.newline(p));
    out_.maybeFlush();
  }

 private:
  // What goes before field i.
  char* put(char* p, size_t i) const { return literal(p, shape_.before[i]); }
  static char* literal(char* p, const Literal& l) {
    std::memcpy(p, l.text, kLiteralRoom);
    return p + l.size;
  }

  static char* text(char* p, const char* s) { return copyText(p, s, std::strlen(s)); }
  static char* text(char* p, const std::string& s) { return copyText(p, s.data(), s.size()); }

  // The action's text, made once for the usual codes.
  char* action(char* p, int32_t code) {
    if (code >= 0 && code < kKnownActions) return text(p, actions_[code]);
    char buf[32];
    return text(p, actionText(code, buf));
  }

  static char* typeText(char* p, int32_t objectType) {
    return objectType == 1 ? copyLiteral(p, "File") : copyLiteral(p, "Directory");
  }

  static constexpr int32_t kKnownActions = 16;

  const RowShape& shape_;
  KeyStyle style_;
  bool json_;
  TextOut& out_;
  size_t rows_ = 0;
  std::string actions_[kKnownActions];
};


DumpWriter::DumpWriter(DumpFormat format, FILE* out)
    : format_(format), out_(out), rowWriter_(new Rows(format, &out_)) {}

DumpWriter::~DumpWriter() { delete rowWriter_; }

void DumpWriter::begin(const std::string& path, const uint8_t* cr, bool textHeader) {
  if (format_ == DumpFormat::Text && textHeader) {
    std::string header;
    appendTextHeader(cr, &header);
    out_.put(header);
  }
  if (format_ == DumpFormat::Csv) out_.put(kCsvHeader);
  if (format_ == DumpFormat::Json) {
    // Everything but the entries, whose array is left open for the rows.
    nlohmann::ordered_json j;
    j["file"] = path;
    j["version"] = std::to_string(cr[jbbformat::kCrMajor]) + "." + std::to_string(cr[jbbformat::kCrMinor]);
    j["keyLength"] = jbbformat::getU16(cr + jbbformat::kCrKeyLength);
    j["dataSize"] = jbbformat::getU16(cr + jbbformat::kCrDataSize);
    j["journal"] = journalJson(cr);
    std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text.pop_back();  // the closing brace: the entries follow
    out_.put(text + ",\"entries\":[\n");
  }
}

void DumpWriter::row(const jbbcheck::Entry& e) {
  rowWriter_->row(e);
  ++rows_;
}

void DumpWriter::problem(int64_t offset, const std::string& text) {
  if (++problems_ > kMaxProblems) return;
  nlohmann::ordered_json p;
  if (offset >= 0) p["offset"] = offset;
  p["text"] = text;
  problemList_.push_back(p);
}

void DumpWriter::end(bool textEnd, const std::string& members) {
  if (format_ == DumpFormat::Text && textEnd) {
    out_.put("end ");
    out_.putUnsigned(rows_);
    out_.put('\n');
  }
  if (format_ != DumpFormat::Json) return;
  out_.put("\n]");
  if (!members.empty()) {
    out_.put(',');
    out_.put(members);
  }
  if (problems_ > 0) {
    out_.put(",\"problemCount\":");
    out_.putUnsigned(problems_);
    out_.put(",\"problems\":");
    out_.put(problemList_.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  }
  out_.put("}\n");
}

int failedDocument(DumpFormat format, FILE* out, const std::string& path, const std::string& why, int rc) {
  if (format != DumpFormat::Json) return rc;
  nlohmann::ordered_json j;
  j["file"] = path;
  j["entries"] = nlohmann::ordered_json::array();
  j["problemCount"] = 1;
  j["problems"] = nlohmann::ordered_json::array({nlohmann::ordered_json{{"text", why}}});
  std::fprintf(out, "%s\n", j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  std::fflush(out);
  return rc;
}

bool DumpWriter::flush(int* err) {
  if (out_.flush()) return true;
  *err = out_.error();
  return false;
}

}  // namespace jbbtool
