// Makes the database files of the viewer's end-to-end cases, and checks
// files afterwards.
//
//   viewer_fixture short FILE      2087 bytes of a control record
//   viewer_fixture swapped FILE    a control record whose magic bytes are AB CD
//   viewer_fixture same FILE COPY  exit 0 when both files are byte-identical
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "btree/format.h"

namespace {

std::vector<uint8_t> controlRecord(uint16_t dataSize) {
  CtrlRec cr{};
  cr.magic = jbbformat::kMagic;
  cr.majorVersion = jbbformat::kMajorVersion;
  cr.minorVersion = jbbformat::kMinorVersion;
  cr.rootOffset = 1;
  cr.indexArraySize = jbbformat::kIndexGrowth;
  cr.currentIXCount = 2;
  cr.lastIndex = 1;
  cr.lastNDRec = int64_t(jbbformat::kCtrlRecSize);
  cr.dataSize = dataSize;
  std::vector<uint8_t> bytes(jbbformat::kCtrlRecSize);
  encodeCtrlRec(cr, bytes.data());
  return bytes;
}

bool writeFile(const char* name, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(name, "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool readFile(const char* name, std::vector<uint8_t>* bytes) {
  FILE* f = std::fopen(name, "rb");
  if (f == nullptr) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->insert(bytes->end(), buf, buf + n);
  std::fclose(f);
  return true;
}

int usage() {
  std::fprintf(stderr, "usage: viewer_fixture short|swapped FILE | same FILE COPY\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string kind = argv[1];
  if (kind == "short") {
    std::vector<uint8_t> bytes = controlRecord(32);
    bytes.pop_back();
    return writeFile(argv[2], bytes) ? 0 : 1;
  }
  if (kind == "swapped") {
    std::vector<uint8_t> bytes = controlRecord(32);
    bytes[0] = 0xAB;
    bytes[1] = 0xCD;
    return writeFile(argv[2], bytes) ? 0 : 1;
  }
  if (kind == "same" && argc >= 4) {
    std::vector<uint8_t> a, b;
    if (!readFile(argv[2], &a) || !readFile(argv[3], &b)) return 1;
    return a == b ? 0 : 1;
  }
  return usage();
}
