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
  if (ownsFile_) osFileClose(file_);
  file_ = nullptr;
  ownsFile_ = false;
  osFreeLarge(buffer_, capacity_);
  buffer_ = nullptr;
  capacity_ = 0;
  assigned_ = Bytes();
  data_ = nullptr;
  size_ = 0;
}

bool FileImage::read(const std::string& path, std::string* error, OsLock lock) {
  release();
  OsFile* f = lock == OsLock::kNone ? osFileOpen(path.c_str(), OsFileMode::kRead)
                                    : osFileOpenLocked(path.c_str(), OsFileMode::kRead, lock);
  if (!f) {
    int err = errno;
    fail(error, err == EAGAIN ? path + " is in use by another program" : "cannot open " + path);
    errno = err;
    return false;
  }
  file_ = f;
  ownsFile_ = true;
  if (readOpen(f, path, error)) return true;
  int err = errno;
  release();
  errno = err;
  return false;
}

bool FileImage::read(OsFile* f, std::string* error) {
  release();
  file_ = f;
  if (readOpen(f, osFilePath(f), error)) return true;
  release();
  return false;
}

void FileImage::assign(Bytes bytes) {
  osFreeLarge(buffer_, capacity_);
  buffer_ = nullptr;
  capacity_ = 0;
  assigned_ = std::move(bytes);
  data_ = assigned_.data();
  size_ = assigned_.size();
}

bool FileImage::readOpen(OsFile* f, const std::string& name, std::string* error) {
  size_t want = sizeNow(f);
  if (want != 0) {
    if (const uint8_t* view = osFileView(f, 0, want)) {
      data_ = view;
      size_ = want;
      return true;
    }
  }
  bool ok = true;
  if (want) {
    buffer_ = static_cast<uint8_t*>(osAllocLarge(want));
    if (!buffer_) return fail(error, "not enough memory to read " + name);
    capacity_ = want;
    size_ = osFileRead(f, buffer_, want, 0);
    ok = size_ == want || errno == 0;
  }
  Bytes rest;
  ok = ok && readRest(f, size_, &rest);
  if (ok && !rest.empty()) {  // the file grew: take it all
    size_t total = size_ + rest.size();
    uint8_t* grown = static_cast<uint8_t*>(osAllocLarge(total));
    ok = grown != nullptr;
    if (ok) {
      if (size_) std::memcpy(grown, buffer_, size_);
      std::memcpy(grown + size_, rest.data(), rest.size());
      osFreeLarge(buffer_, capacity_);
      buffer_ = grown;
      size_ = capacity_ = total;
    }
  }
  data_ = buffer_;
  if (!ok) return fail(error, "cannot read " + name);
  return true;
}

std::string temporaryFileOf(const std::string& path) { return osTemporaryNameOf(path); }

namespace {

// errno as text after a colon, or nothing when there is none.
std::string because(int err) { return err != 0 ? std::string(": ") + std::strerror(err) : std::string(); }

// Writes bytes into a new file at temp and closes it; on the disk too when
// toDisk.  False with errno set.
bool writeTemporary(const std::string& temp, const Bytes& bytes, bool toDisk) {
  OsFile* f = osFileOpen(temp.c_str(), OsFileMode::kCreate);
  if (!f) return false;
  bool ok = bytes.empty() || osFileWrite(f, bytes.data(), bytes.size(), 0) == bytes.size();
  ok = ok && osFileFlush(f) && (!toDisk || osFileSyncToDisk(f));
  int err = errno;
  osFileClose(f);
  errno = ok ? 0 : (err != 0 ? err : EIO);
  return ok;
}

}  // namespace

bool writeFile(const std::string& path, const Bytes& bytes, std::string* error, const WriteOptions& options,
               std::string* backup) {
  if (backup) backup->clear();
  std::string temp = temporaryFileOf(path);
  if (!writeTemporary(temp, bytes, options.toDisk)) {
    int err = errno;
    osRemoveFile(temp.c_str());
    return fail(error, "cannot write " + temp + because(err));
  }
  return installFile(temp, path, error, options, backup);
}

bool installFile(const std::string& temp, const std::string& path, std::string* error, const WriteOptions& options,
                 std::string* backup) {
  OsInstallOptions install;
  install.syncFolder = options.toDisk;
  install.keepBackup = options.keepBackup;
  std::string why;
  if (osInstallFile(temp, path, install, backup, &why)) return true;
  return fail(error, why);
}

}  // namespace jbbbuilder
