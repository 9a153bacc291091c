// Whole files for the builder, the checker and jbbtool, through the
// platform file layer (platform/osfile.h) that the B-tree uses too.
//
// Reading takes a whole file into memory with one large read; the checker
// and the tool then work on the bytes, so no reader seeks per record.
// Writing goes to a temporary file beside the target that is flushed (to
// the disk when asked) and then renamed into place, so a target is never
// left half-written: it either keeps its old bytes or holds all the new.
#pragma once

#include <string>

#include "builder/records.h"
#include "platform/osfile.h"

namespace jbbbuilder {

// True when a file of that name can be opened for reading.
bool fileExists(const std::string& path);
// The whole file.  Opens it for reading only.
bool readFile(const std::string& path, Bytes* bytes, std::string* error);

// A whole file, for files of a hundred megabytes and more.  Opens the file
// for reading only.  Where the platform maps the file, the bytes are the
// mapping itself (no copy, and its pages are the page cache's, not the
// process's) and the file stays open until release; else they are read
// into one large buffer (platform/osmem.h).
class FileImage {
 public:
  FileImage() = default;
  ~FileImage() { release(); }
  FileImage(const FileImage&) = delete;
  FileImage& operator=(const FileImage&) = delete;

  bool read(const std::string& path, std::string* error);
  const uint8_t* data() const { return view_ != nullptr ? view_ : data_; }
  size_t size() const { return size_; }
  void release();

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0, capacity_ = 0;
  OsFile* file_ = nullptr;  // open while view_ is in use
  const uint8_t* view_ = nullptr;
};

struct WriteOptions {
  bool toDisk = false;  // flush the new bytes to the disk before the rename
  // When not empty, the file that stood at the path is kept under this
  // name (an older file of that name is replaced).
  std::string backup;
};

// Writes bytes to path, replacing a file that stands there.
bool writeFile(const std::string& path, const Bytes& bytes, std::string* error,
               const WriteOptions& options = WriteOptions());

}  // namespace jbbbuilder
