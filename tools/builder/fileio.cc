// Whole-file reads and replacing writes.
#include "builder/fileio.h"

#include <cstdio>

#include "platform/os.h"
#include "platform/osfs.h"

namespace jbbbuilder {

namespace {

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

// Reads to the end of f into *bytes, which already holds `have` bytes.
bool readRest(FILE* f, size_t have, Bytes* bytes) {
  for (;;) {
    if (bytes->size() - have < (1u << 16)) bytes->resize(bytes->size() + (bytes->size() >> 1) + (1u << 16));
    size_t n = std::fread(bytes->data() + have, 1, bytes->size() - have, f);
    have += n;
    if (n == 0) break;
  }
  bytes->resize(have);
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
  uint64_t size = 0;
  size_t want = osFileSize(path.c_str(), &size) && size < (uint64_t(1) << 40) ? size_t(size) : 0;
  bytes->resize(want);
  size_t got = want ? std::fread(bytes->data(), 1, want, f) : 0;
  bool ok = std::ferror(f) == 0 && readRest(f, got, bytes);
  std::fclose(f);
  if (!ok) return fail(error, "cannot read " + path);
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
