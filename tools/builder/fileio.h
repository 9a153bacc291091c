// Whole files for the builder, the checker and jbbtool, through the
// platform file layer (platform/osfile.h) that the B-tree uses too.
//
// Reading takes a whole file into memory with one large read; the checker
// and the tool then work on the bytes, so no reader seeks per record.
// Writing goes to a temporary file beside the target, which is put in the
// target's place in one rename once it is complete: at every moment the
// target's name names either the old file or all of the new one, never a
// part of it, and never nothing.
#pragma once

#include <string>

#include "builder/records.h"
#include "platform/osfile.h"

namespace jbbbuilder {

// True when a file of that name can be opened for reading.
bool fileExists(const std::string& path);
// The whole file.  Opens it for reading only.
bool readFile(const std::string& path, Bytes* bytes, std::string* error);

// A whole file, for files of a hundred megabytes and more.  Where the
// platform maps the file, the bytes are the mapping itself (no copy, and
// its pages are the page cache's, not the process's); else they are read
// into one large buffer (platform/osmem.h).  The file it read stays open
// until release, and with it any lock it was read under.
class FileImage {
 public:
  FileImage() = default;
  ~FileImage() { release(); }
  FileImage(const FileImage&) = delete;
  FileImage& operator=(const FileImage&) = delete;

  // Opens path for reading only and reads it.  With `lock` the lock is
  // taken at once or not at all (no waiting) and held until release.
  // False with *error set, and errno EAGAIN when another program's lock
  // stands in the way.
  bool read(const std::string& path, std::string* error, OsLock lock = OsLock::kNone);
  // Reads the file f has open; f stays the caller's, to be closed only
  // after release (the bytes may be f's own mapping).
  bool read(OsFile* f, std::string* error);
  // Puts `bytes` in the place of what was read; the file stays held.
  void assign(Bytes bytes);

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // The file read, while it is held; null after release.
  OsFile* file() const { return file_; }
  void release();

 private:
  bool readOpen(OsFile* f, const std::string& name, std::string* error);

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  uint8_t* buffer_ = nullptr;  // the large buffer, where the file is not mapped
  size_t capacity_ = 0;
  Bytes assigned_;
  OsFile* file_ = nullptr;
  bool ownsFile_ = false;
};

struct WriteOptions {
  // Sync the new file to the disk before it goes in place, and the
  // target's folder after, so that a power loss keeps it under its name.
  bool toDisk = false;
  // Keep the file that is replaced, under the first free name of PATH.bak,
  // PATH.1.bak, PATH.2.bak, ...: an older backup is never replaced.
  bool keepBackup = false;
};

// Writes bytes to path, replacing a file that stands there.  *backup is
// the backup's name when one was kept, else empty.  On failure the target
// is as it was and the temporary file is gone, except when only the
// folder's sync failed: the new file is then in place (and *backup names
// the old one), and *error says so.
bool writeFile(const std::string& path, const Bytes& bytes, std::string* error,
               const WriteOptions& options = WriteOptions(), std::string* backup = nullptr);

// The second half of writeFile, for a file written by other means (the bulk
// writer): puts the complete file at temp, already on the disk when
// options.toDisk asks for that, in the place of path.  Failures as
// writeFile's; temp is gone after a failure.
bool installFile(const std::string& temp, const std::string& path, std::string* error,
                 const WriteOptions& options = WriteOptions(), std::string* backup = nullptr);

// The name of the temporary file writeFile writes before it puts it at path.
std::string temporaryFileOf(const std::string& path);

}  // namespace jbbbuilder
