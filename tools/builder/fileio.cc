// Whole-file reads and replacing writes.
#include "builder/fileio.h"

#include <cstdio>

#include <cstring>

#include "platform/os.h"
#include "platform/osfs.h"
#include "platform/osmem.h"

namespace jbbbuilder {

namespace {

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// The size the file has now, 0 when it cannot be told.
size_t sizeNow(const std::string& path) {
  uint64_t size = 0;
  return osFileSize(path.c_str(), &size) && size < (uint64_t(1) << 40) ? size_t(size) : 0;
}

// Reads what follows in f (a file that grew after its size was taken, or
// whose size could not be told) onto the end of *rest.
bool readRest(FILE* f, Bytes* rest) {
  uint8_t buf[1 << 16];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) rest->insert(rest->end(), buf, buf + n);
  return std::ferror(f) == 0;
}

}  // namespace

bool fileExists(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

bool readFile(const std::string& path, Bytes* bytes, std::string* error) {
  bytes->clear();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return fail(error, "cannot open " + path);
  // One read of the size the file has now; a file that grows meanwhile is
  // read to its end all the same.
  bytes->resize(sizeNow(path));
  size_t got = bytes->empty() ? 0 : std::fread(bytes->data(), 1, bytes->size(), f);
  bytes->resize(got);
  bool ok = std::ferror(f) == 0 && readRest(f, bytes);
  std::fclose(f);
  if (!ok) return fail(error, "cannot read " + path);
  return true;
}

void FileImage::release() {
  osFreeLarge(data_, capacity_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

bool FileImage::read(const std::string& path, std::string* error) {
  release();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return fail(error, "cannot open " + path);
  size_t want = sizeNow(path);
  if (want) {
    data_ = static_cast<uint8_t*>(osAllocLarge(want));
    if (!data_) {
      std::fclose(f);
      return fail(error, "not enough memory to read " + path);
    }
    capacity_ = want;
    size_ = std::fread(data_, 1, want, f);
  }
  Bytes rest;
  bool ok = std::ferror(f) == 0 && readRest(f, &rest);
  std::fclose(f);
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
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) return fail(error, "cannot create " + temp);
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = ok && std::fflush(f) == 0 && (!options.toDisk || osSyncToDisk(f));
  ok = (std::fclose(f) == 0) && ok;
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
