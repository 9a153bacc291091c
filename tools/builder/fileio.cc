// Whole-file reads and replacing writes.
#include "builder/fileio.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/osfile.h"
#include "platform/osfs.h"
#include "platform/osmem.h"

namespace jbbbuilder {

namespace {

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// The size f has now, 0 when it cannot be told.
size_t sizeNow(OsFile* f) {
  uint64_t size = 0;
  return osFileSizeOf(f, &size) && size < (uint64_t(1) << 40) ? size_t(size) : 0;
}

// Reads what follows `from` in f (a file that grew after its size was
// taken, or whose size could not be told) onto the end of *rest.
bool readRest(OsFile* f, uint64_t from, Bytes* rest) {
  uint8_t buf[1 << 16];
  for (;;) {
    size_t n = osFileRead(f, buf, sizeof buf, int64_t(from));
    rest->insert(rest->end(), buf, buf + n);
    from += n;
    if (n < sizeof buf) return errno == 0;
  }
}

}  // namespace

bool fileExists(const std::string& path) {
  OsFile* f = osFileOpen(path.c_str(), OsFileMode::kRead);
  osFileClose(f);
  return f != nullptr;
}

bool readFile(const std::string& path, Bytes* bytes, std::string* error) {
  bytes->clear();
  OsFile* f = osFileOpen(path.c_str(), OsFileMode::kRead);
  if (!f) return fail(error, "cannot open " + path);
  // One read of the size the file has now; a file that grows meanwhile is
  // read to its end all the same.
  bytes->resize(sizeNow(f));
  size_t got = bytes->empty() ? 0 : osFileRead(f, bytes->data(), bytes->size(), 0);
  bool ok = got == bytes->size() || errno == 0;
  bytes->resize(got);
  ok = ok && readRest(f, got, bytes);
  osFileClose(f);
  if (!ok) return fail(error, "cannot read " + path);
  return true;
}

void FileImage::release() {
  if (file_ != nullptr) osFileClose(file_);
  file_ = nullptr;
  view_ = nullptr;
  osFreeLarge(data_, capacity_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

bool FileImage::read(const std::string& path, std::string* error) {
  release();
  OsFile* f = osFileOpen(path.c_str(), OsFileMode::kRead);
  if (!f) return fail(error, "cannot open " + path);
  size_t want = sizeNow(f);
  if (want != 0) {
    if (const uint8_t* view = osFileView(f, 0, want)) {
      file_ = f;
      view_ = view;
      size_ = want;
      return true;
    }
  }
  bool ok = true;
  if (want) {
    data_ = static_cast<uint8_t*>(osAllocLarge(want));
    if (!data_) {
      osFileClose(f);
      return fail(error, "not enough memory to read " + path);
    }
    capacity_ = want;
    size_ = osFileRead(f, data_, want, 0);
    ok = size_ == want || errno == 0;
  }
  Bytes rest;
  ok = ok && readRest(f, size_, &rest);
  osFileClose(f);
  if (ok && !rest.empty()) {  // the file grew: take it all
    uint8_t* grown = static_cast<uint8_t*>(osAllocLarge(size_ + rest.size()));
    ok = grown != nullptr;
    if (ok) {
      if (size_) std::memcpy(grown, data_, size_);
      std::memcpy(grown + size_, rest.data(), rest.size());
      size_t total = size_ + rest.size();
      release();
      data_ = grown;
      size_ = capacity_ = total;
    }
  }
  if (!ok) {
    release();
    return fail(error, "cannot read " + path);
  }
  return true;
}

bool writeFile(const std::string& path, const Bytes& bytes, std::string* error,
               const WriteOptions& options) {
  std::string temp = path + ".jbbtmp";
  OsFile* f = osFileOpen(temp.c_str(), OsFileMode::kCreate);
  if (!f) return fail(error, "cannot create " + temp);
  bool ok = bytes.empty() || osFileWrite(f, bytes.data(), bytes.size(), 0) == bytes.size();
  ok = ok && osFileFlush(f) && (!options.toDisk || osFileSyncToDisk(f));
  osFileClose(f);
  if (!ok) {
    std::remove(temp.c_str());
    return fail(error, "cannot write " + temp);
  }
  if (!options.backup.empty() && fileExists(path) && !osReplaceFile(path.c_str(), options.backup.c_str())) {
    std::remove(temp.c_str());
    return fail(error, "cannot rename " + path + " to " + options.backup);
  }
  if (!osReplaceFile(temp.c_str(), path.c_str())) {
    std::remove(temp.c_str());
    return fail(error, "cannot rename " + temp + " to " + path);
  }
  return true;
}

}  // namespace jbbbuilder
