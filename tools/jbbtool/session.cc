// Finding and reading the database, messages, progress, safe writes.
#include "jbbtool/session.h"

#include <cstring>

#include "btree/format.h"

using namespace jbbbuilder;

namespace jbbtool {

bool resolveDatabase(const std::string& given, const Streams& io, std::string* path) {
  for (const std::string& candidate : {given, given + ".jbbdb"}) {
    if (fileExists(candidate)) {
      *path = candidate;
      return true;
    }
  }
  message(io, kExitUsage, "cannot open " + given);
  return false;
}

bool readDatabase(const std::string& given, const Streams& io, std::string* path, FileImage* file) {
  if (!resolveDatabase(given, io, path)) return false;
  std::string error;
  if (file->read(*path, &error)) return true;
  message(io, kExitUsage, error);
  return false;
}

int message(const Streams& io, int code, const std::string& text) {
  std::fprintf(io.err, "jbbtool: %s\n", text.c_str());
  return code;
}

void Progress::show(bool withCount) {
  if (!withCount) done();
  if (withCount)
    std::fprintf(io_.err, "\r%s: %llu", what_, static_cast<unsigned long long>(count_));
  else
    std::fprintf(io_.err, "\r%s", what_);
  std::fflush(io_.err);
  shown_ = true;
}

void Progress::done() {
  if (!shown_) return;
  std::fprintf(io_.err, "\r%*s\r", int(std::strlen(what_)) + 24, "");
  std::fflush(io_.err);
  shown_ = false;
}

DbSpec specKeeping(const uint8_t* ctrlRec) {
  CtrlRec cr;
  decodeCtrlRec(ctrlRec, &cr);
  DbSpec spec;
  spec.dataSize = cr.dataSize;
  spec.keyLength = cr.keyLength;
  spec.rawInfoArea.emplace();
  std::memcpy(spec.rawInfoArea->data(), cr.journalInfoArea, jbbformat::kJournalInfoSize);
  spec.ctrl.majorVersion = cr.majorVersion;
  spec.ctrl.minorVersion = cr.minorVersion;
  std::memcpy(spec.ctrl.pad1.data(), cr.pad1, 4);
  std::memcpy(spec.ctrl.pad2.data(), cr.pad2, 4);
  return spec;
}

int writeNewDatabase(std::vector<Entry> entries, const DbSpec& spec, const OutputOptions& options,
                     const std::string& replacing, const Streams& io, BuiltImage* image) {
  const std::string& target = options.out.empty() ? replacing : options.out;
  if (!options.out.empty() && !options.force && fileExists(options.out))
    return message(io, kExitUsage, options.out + " exists; --force replaces it");
  Progress progress(io, "");
  auto fail = [&](int code, const std::string& text) {
    progress.done();
    return message(io, code, text);
  };
  progress.stage("building the new database");
  BulkOptions bulk;
  bulk.fill = options.fill;
  TreeNode root;
  std::string error;
  if (!bulkLoad(std::move(entries), bulk, &root, &error) || !buildImage(root, spec, image, &error))
    return fail(kExitProblems, error);
  root = TreeNode();  // the image holds everything now
  CheckOptions check(spec.dataSize);
  check.collect = false;
  CheckResult r = checkImage(image->bytes, check);
  if (!r.ok()) return fail(kExitProblems, "the new database fails its check: " + r.problems[0].text);
  progress.stage("writing the new database");
  WriteOptions write;
  write.toDisk = true;
  if (options.out.empty() && options.backup) write.backup = replacing + ".bak";
  if (!writeFile(target, image->bytes, &error, write)) return fail(kExitProblems, error);
  progress.done();
  return kExitOk;
}

}  // namespace jbbtool
