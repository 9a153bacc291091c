// Writing the header of a text dump and reading a whole dump back; the
// format is shown in textdump.h.
#include "jbbtool/textdump.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "btree/format.h"
#include "jbbtool/keytext.h"
#include "jbbtool/textout.h"
#include "viewer/journalinfo.h"

using namespace jbbformat;

namespace jbbtool {

namespace {

constexpr const char* kMagicLine = "jbbdump 1";
constexpr size_t kServerTextMax = jinfo::kServerNodeSize - 1;  // room for the zero byte
constexpr size_t kFsTextMax = jinfo::kFsNameUnits - 1;

size_t serverTextLength(const uint8_t* area) {
  size_t n = 0;
  while (n < kServerTextMax && area[jinfo::kServerNode + n]) ++n;
  return n;
}

size_t fsTextUnits(const uint8_t* area) {
  size_t n = 0;
  while (n < kFsTextMax && getU16(area + jinfo::kFsName + 2 * n)) ++n;
  return n;
}

// Marks the bytes of the area that the named fields hold.
void markFields(const uint8_t* area, bool* held) {
  auto mark = [&](size_t at, size_t n) { std::fill(held + at, held + at + n, true); };
  mark(jinfo::kJournalType, 4);
  mark(jinfo::kActivationTime, 8);
  mark(jinfo::kValidationTime, 8);
  mark(jinfo::kJournalState, 4);
  mark(jinfo::kMaxJournalSize, 8);
  mark(jinfo::kServerNameLen, 1);
  mark(jinfo::kServerNode, serverTextLength(area));
  mark(jinfo::kFsName, 2 * fsTextUnits(area));
}

void appendTime(const char* name, int64_t t, std::string* out) {
  char utc[32];
  formatUtc(t, utc);
  *out += name;
  *out += ' ' + std::to_string(t) + ' ' + utc + '\n';
}

}  // namespace

void appendTextHeader(const uint8_t* cr, std::string* out) {
  const uint8_t* area = cr + kJournalInfoOffset;
  *out += kMagicLine;
  *out += "\nversion " + std::to_string(cr[kCrMajor]) + '.' + std::to_string(cr[kCrMinor]) + '\n';
  *out += "keyLength " + std::to_string(getU16(cr + kCrKeyLength)) + '\n';
  *out += "dataSize " + std::to_string(getU16(cr + kCrDataSize)) + '\n';
  *out += "journalType " + std::to_string(getI32(area + jinfo::kJournalType)) + '\n';
  appendTime("activationTime", getI64(area + jinfo::kActivationTime), out);
  appendTime("validationTime", getI64(area + jinfo::kValidationTime), out);
  *out += "journalState " + std::to_string(getI32(area + jinfo::kJournalState)) + '\n';
  *out += "maxJournalSize " + std::to_string(getU64(area + jinfo::kMaxJournalSize)) + '\n';
  *out += "serverNameLen " + std::to_string(area[jinfo::kServerNameLen]) + '\n';
  *out += "serverNode ";
  appendBytesText(out, area + jinfo::kServerNode, serverTextLength(area));
  *out += "\nfsName ";
  std::u16string fs(fsTextUnits(area), u'\0');
  for (size_t i = 0; i < fs.size(); ++i) fs[i] = char16_t(getU16(area + jinfo::kFsName + 2 * i));
  appendKey(out, fs.data(), fs.size(), KeyStyle::Text);
  *out += '\n';
  bool held[kJournalInfoSize] = {};
  markFields(area, held);
  for (size_t i = 0; i < kJournalInfoSize;) {
    if (held[i] || area[i] == 0) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < kJournalInfoSize && !held[j] && area[j] != 0) ++j;
    static const char kHex[] = "0123456789abcdef";
    *out += "areaBytes " + std::to_string(i) + ' ';
    for (size_t k = i; k < j; ++k) {
      *out += kHex[area[k] >> 4];
      *out += kHex[area[k] & 15];
    }
    *out += '\n';
    i = j;
  }
  *out += "entries\n";
}

namespace {

// The lines of a dump held as one text.
class TextLines {
 public:
  explicit TextLines(const std::string& text) : text_(text) {}
  bool nextLine(std::string* line) {
    if (pos_ >= text_.size()) return false;
    size_t end = text_.find('\n', pos_);
    if (end == std::string::npos) end = text_.size();
    line->assign(text_, pos_, end - pos_);
    pos_ = end + 1;
    return true;
  }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

// Reads a dump line by line from Lines (TextLines or DumpFile); entries go
// to onEntry.
template <class Lines>
class DumpParser {
 public:
  DumpParser(Lines* lines, uint8_t* ctrlRec, const std::function<bool(DumpEntry&)>& onEntry)
      : lines_(*lines), ctrlRec_(ctrlRec), onEntry_(onEntry) {}

  bool parse(std::string* error) {
    bool ok = parseAll();
    if (!ok && error) *error = stopped_ ? std::string() : "line " + std::to_string(lineNo_) + ": " + why_;
    return ok;
  }

 private:
  bool fail(const std::string& why) {
    why_ = why;
    return false;
  }

  bool nextLine() {
    if (!lines_.nextLine(&line_)) return false;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    ++lineNo_;
    return true;
  }

  // An integer within [lo, hi] from the text of a field.
  bool number(const std::string& s, int64_t lo, int64_t hi, int64_t* v) {
    char* end = nullptr;
    errno = 0;
    long long x = std::strtoll(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || x < lo || x > hi) return fail("\"" + s + "\" is not a number in range");
    *v = x;
    return true;
  }
  bool unsignedNumber(const std::string& s, uint64_t* v) {
    char* end = nullptr;
    errno = 0;
    unsigned long long x = std::strtoull(s.c_str(), &end, 10);
    if (s.empty() || s[0] == '-' || *end || errno) return fail("\"" + s + "\" is not an unsigned number");
    *v = x;
    return true;
  }

  bool parseAll() {
    if (!nextLine() || line_ != kMagicLine) return fail(std::string("not a text dump: \"") + kMagicLine + "\" expected");
    ::JournalInfo info{};
    std::vector<std::pair<size_t, std::string>> extra;
    for (;;) {
      if (!nextLine()) return fail("the dump ends before its entries");
      if (line_ == "entries") break;
      size_t blank = line_.find(' ');
      std::string name = line_.substr(0, blank);
      std::string value = blank == std::string::npos ? "" : line_.substr(blank + 1);
      if (!headerField(name, value, &info, &extra)) return false;
    }
    uint8_t* area = ctrlRec_ + kJournalInfoOffset;
    encodeJournalInfo(info, area);
    for (const auto& [at, bytes] : extra) std::memcpy(area + at, bytes.data(), bytes.size());
    return readEntries();
  }

  bool headerField(const std::string& name, const std::string& value, ::JournalInfo* info,
                   std::vector<std::pair<size_t, std::string>>* extra) {
    int64_t v = 0;
    uint8_t* cr = ctrlRec_;
    if (name == "version") {
      size_t dot = value.find('.');
      int64_t major = 0, minor = 0;
      if (dot == std::string::npos) return fail("version MAJOR.MINOR expected");
      if (!number(value.substr(0, dot), 0, 255, &major) || !number(value.substr(dot + 1), 0, 255, &minor)) return false;
      cr[kCrMajor] = uint8_t(major);
      cr[kCrMinor] = uint8_t(minor);
    } else if (name == "keyLength" || name == "dataSize") {
      if (!number(value, 0, 65535, &v)) return false;
      putU16(cr + (name == "keyLength" ? kCrKeyLength : kCrDataSize), uint16_t(v));
    } else if (name == "journalType" || name == "journalState") {
      if (!number(value, INT32_MIN, INT32_MAX, &v)) return false;
      (name == "journalType" ? info->journalType : info->journalState) = int32_t(v);
    } else if (name == "activationTime" || name == "validationTime") {
      if (!number(value.substr(0, value.find(' ')), INT64_MIN, INT64_MAX, &v)) return false;
      (name == "activationTime" ? info->activationTime : info->validationTime) = v;
    } else if (name == "maxJournalSize") {
      return unsignedNumber(value, &info->maxJournalSize);
    } else if (name == "serverNameLen") {
      if (!number(value, 0, 255, &v)) return false;
      info->serverNameLen = uint8_t(v);
    } else if (name == "serverNode") {
      return quotedServer(value, info);
    } else if (name == "fsName") {
      return quotedFs(value, info);
    } else if (name == "areaBytes") {
      return areaBytes(value, extra);
    } else {
      return fail("unknown header line \"" + name + "\"");
    }
    return true;
  }

  bool quotedServer(const std::string& value, ::JournalInfo* info) {
    size_t p = 0;
    std::string server;
    if (!parseBytesText(value, &p, &server, &why_)) return false;
    if (p != value.size()) return fail("text after the server and node names");
    if (server.size() > kServerTextMax || server.find('\0') != std::string::npos)
      return fail("server and node names of more than 128 bytes, or with a zero byte");
    std::memset(info->serverNode, 0, sizeof info->serverNode);
    std::memcpy(info->serverNode, server.data(), server.size());
    return true;
  }

  bool quotedFs(const std::string& value, ::JournalInfo* info) {
    size_t p = 0;
    std::u16string fs;
    if (!parseKeyText(value, &p, &fs, &why_)) return false;
    if (p != value.size()) return fail("text after the file-system name");
    if (fs.size() > kFsTextMax) return fail("a file-system name of more than 938 units");
    std::fill(std::begin(info->fsName), std::end(info->fsName), 0);
    std::copy(fs.begin(), fs.end(), info->fsName);
    return true;
  }

  bool areaBytes(const std::string& value, std::vector<std::pair<size_t, std::string>>* extra) {
    size_t blank = value.find(' ');
    int64_t at = 0;
    if (blank == std::string::npos || !number(value.substr(0, blank), 0, kJournalInfoSize - 1, &at)) return false;
    std::vector<uint8_t> bytes;
    if (!parseHex(value.substr(blank + 1), &bytes) || bytes.size() > kJournalInfoSize - size_t(at))
      return fail("areaBytes: hex bytes within the area expected");
    extra->emplace_back(size_t(at), std::string(bytes.begin(), bytes.end()));
    return true;
  }

  // Entry lines up to "end N", N being their count.
  bool readEntries() {
    size_t dataSize = getU16(ctrlRec_ + kCrDataSize);
    uint64_t entries = 0;
    for (;;) {
      if (!nextLine()) return fail("the dump ends before its \"end\" line");
      if (line_.compare(0, 4, "end ") == 0) break;
      DumpEntry e;
      size_t p = 0;
      if (!parseKeyText(line_, &p, &e.key, &why_)) return false;
      if (e.key.empty()) return fail("an empty key");
      size_t tabs = 0, last = p;
      for (size_t k = p; k < line_.size(); ++k)
        if (line_[k] == '\t') ++tabs, last = k;
      if (p >= line_.size() || line_[p] != '\t' || tabs != 9) return fail("an entry line has ten tab-separated columns");
      if (!parseHex(line_.substr(last + 1), &e.data) || e.data.size() != dataSize)
        return fail("the raw record is not " + std::to_string(dataSize) + " bytes in hex");
      ++entries;
      if (!onEntry_(e)) {
        stopped_ = true;
        return false;
      }
    }
    uint64_t count = 0;
    if (!unsignedNumber(line_.substr(4), &count)) return false;
    if (count != entries)
      return fail("\"end\" counts " + std::to_string(count) + " entries, the dump holds " + std::to_string(entries));
    while (nextLine())
      if (!line_.empty()) return fail("text after \"end\"");
    return true;
  }

  Lines& lines_;
  uint8_t* ctrlRec_;
  const std::function<bool(DumpEntry&)>& onEntry_;
  bool stopped_ = false;
  size_t lineNo_ = 0;
  std::string line_;
  std::string why_;
};

}  // namespace

bool parseTextDump(const std::string& text, TextDump* dump, std::string* error) {
  *dump = TextDump();
  TextLines lines(text);
  std::function<bool(DumpEntry&)> keep = [dump](DumpEntry& e) {
    dump->entries.push_back(std::move(e));
    return true;
  };
  return DumpParser<TextLines>(&lines, dump->ctrlRec, keep).parse(error);
}

namespace {
// ": <what err means>" after a message about a failed call.
std::string reason(int err) { return err != 0 ? std::string(": ") + std::strerror(err) : std::string(); }
}  // namespace

DumpFile::~DumpFile() { osFileClose(file_); }

bool DumpFile::open(const std::string& path, std::string* error) {
  path_ = path;
  errno = 0;
  file_ = osFileOpen(path.c_str(), OsFileMode::kRead);
  if (file_ == nullptr && error) *error = "cannot open " + path + reason(errno);
  return file_ != nullptr;
}

void DumpFile::rewind() {
  buffer_.clear();
  at_ = 0;
  filePos_ = 0;
  ended_ = readFailed_ = false;
  readError_ = 0;
}

// Reads the next piece of the file onto what is left of the buffer.
bool DumpFile::fill() {
  constexpr size_t kPiece = 1 << 20;
  buffer_.erase(0, at_);
  at_ = 0;
  size_t had = buffer_.size();
  buffer_.resize(had + kPiece);
  errno = 0;
  size_t got = osFileRead(file_, &buffer_[had], kPiece, filePos_);
  if (got < kPiece && errno != 0) {
    readFailed_ = true;
    readError_ = errno;
  }
  buffer_.resize(had + got);
  filePos_ += int64_t(got);
  ended_ = got < kPiece;
  return got > 0;
}

bool DumpFile::nextLine(std::string* line) {
  for (;;) {
    size_t end = buffer_.find('\n', at_);
    if (end != std::string::npos) {
      line->assign(buffer_, at_, end - at_);
      at_ = end + 1;
      return true;
    }
    if (readFailed_) return false;
    if (ended_ || !fill()) {
      if (readFailed_ || at_ >= buffer_.size()) return false;
      line->assign(buffer_, at_, std::string::npos);  // a last line without its LF
      at_ = buffer_.size();
      return true;
    }
  }
}

bool parseTextDump(DumpFile* file, uint8_t* ctrlRec, const std::function<bool(DumpEntry&)>& onEntry,
                   std::string* error) {
  file->rewind();
  std::memset(ctrlRec, 0, kCtrlRecSize);
  bool ok = DumpParser<DumpFile>(file, ctrlRec, onEntry).parse(error);
  if (!ok && file->readFailed() && error) *error = "cannot read " + file->path() + reason(file->readError());
  return ok;
}

}  // namespace jbbtool
