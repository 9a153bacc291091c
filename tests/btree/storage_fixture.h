// Test support for the storage layer: database images made byte by byte
// with the helpers of format.h, scratch files, and a bTree fixture.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "btree/format.h"
#include "btree/jbbtreev.h"

namespace storagetest {

using Bytes = std::vector<uint8_t>;
constexpr uint16_t kDataSize = 32;

inline uint16_t u16At(const Bytes& b, size_t off) { return jbbformat::getU16(b.data() + off); }
inline uint32_t u32At(const Bytes& b, size_t off) { return jbbformat::getU32(b.data() + off); }
inline uint64_t u64At(const Bytes& b, size_t off) { return jbbformat::getU64(b.data() + off); }
inline int32_t i32At(const Bytes& b, size_t off) { return jbbformat::getI32(b.data() + off); }

// One entry: nkl, dataOffset, the key's units and terminator, then the data
// record filled with `fill`.
inline Bytes entry(const std::u16string& key, uint8_t fill, uint16_t dataSize = kDataSize) {
  size_t keyBytes = 2 * (key.size() + 1);
  Bytes e(4 + keyBytes + dataSize, 0);
  jbbformat::putU16(e.data(), uint16_t(e.size()));
  jbbformat::putU16(e.data() + 2, uint16_t(2 + keyBytes));
  for (size_t i = 0; i < key.size(); ++i) jbbformat::putU16(e.data() + 4 + 2 * i, key[i]);
  for (size_t i = 0; i < dataSize; ++i) e[4 + keyBytes + i] = fill;
  return e;
}

// A node image with the given keys and child references (all 0 for a leaf).
inline Bytes node(int32_t diskLoc, const std::vector<std::u16string>& keys, const std::vector<int32_t>& branches = {},
                  uint16_t dataSize = kDataSize) {
  Bytes img(jbbformat::kDiskNodeBaseSize, 0);
  jbbformat::putI32(img.data() + jbbformat::kNodeDiskLoc, diskLoc);
  jbbformat::putU16(img.data() + jbbformat::kNodeCount, uint16_t(keys.size()));
  for (size_t i = 0; i < branches.size(); ++i)
    jbbformat::putI32(img.data() + jbbformat::kNodeBranch + 4 * i, branches[i]);
  for (size_t i = 0; i < keys.size(); ++i) {
    Bytes e = entry(keys[i], uint8_t(0x40 + i), dataSize);
    img.insert(img.end(), e.begin(), e.end());
  }
  jbbformat::putU32(img.data(), uint32_t(img.size()));
  return img;
}

// A whole database image: control record, then records appended one by one.
class Image {
 public:
  explicit Image(uint16_t dataSize = kDataSize) {
    std::memset(&cr, 0, sizeof cr);
    cr.magic = jbbformat::kMagic;
    cr.majorVersion = 2;
    cr.minorVersion = 1;
    cr.rootOffset = 1;
    cr.indexArraySize = 500;
    cr.currentIXCount = 1;
    cr.lastIndex = 0;
    cr.lastNDRec = 0;
    cr.dataSize = dataSize;
    for (size_t i = 0; i < sizeof cr.journalInfoArea; ++i) cr.journalInfoArea[i] = uint8_t(i * 7 + 1);
  }

  // Appends a live record in a slot of slotLength bytes (0: the image's
  // size); keeps the control record's counts and last-record fields up to
  // date.  Returns the record's position.
  int64_t live(const Bytes& image, uint64_t slotLength = 0) {
    Bytes rec = image;
    uint64_t slot = slotLength != 0 ? slotLength : rec.size();
    jbbformat::putU64(rec.data() + jbbformat::kNodeSlotLength, slot);
    return place(rec, slot);
  }
  // Appends a free slot of slotLength bytes for subscript diskLoc.
  int64_t freeSlot(int32_t diskLoc, uint64_t slotLength) {
    Bytes rec(jbbformat::kRecordHeaderSize, 0);
    jbbformat::putU32(rec.data(), uint32_t(slotLength));
    jbbformat::putU64(rec.data() + jbbformat::kNodeSlotLength, slotLength);
    jbbformat::putU32(rec.data() + jbbformat::kNodeRecordState, 1);
    jbbformat::putI32(rec.data() + jbbformat::kNodeDiskLoc, diskLoc);
    return place(rec, slotLength);
  }

  Bytes bytes() const {
    Bytes out(jbbformat::kCtrlRecSize);
    encodeCtrlRec(cr, out.data());
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }

  CtrlRec cr;
  Bytes body;  // everything after the control record

 private:
  int64_t place(const Bytes& rec, uint64_t slot) {
    int64_t pos = int64_t(jbbformat::kCtrlRecSize + body.size());
    Bytes padded = rec;
    padded.resize(slot, 0xEE);  // stale bytes past the image
    body.insert(body.end(), padded.begin(), padded.end());
    int32_t loc = jbbformat::getI32(rec.data() + jbbformat::kNodeDiskLoc);
    if (uint32_t(loc) >= cr.currentIXCount) cr.currentIXCount = uint32_t(loc) + 1;
    cr.lastIndex = loc;
    cr.lastNDRec = pos;
    return pos;
  }
};

inline Bytes readFile(const std::string& path) {
  Bytes out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return out;
  uint8_t buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  if (!bytes.empty()) {
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  }
  std::fclose(f);
}

inline bool fileExists(const std::string& path) { return std::filesystem::exists(path); }

inline CtrlRec ctrlOf(const Bytes& file) {
  CtrlRec cr;
  decodeCtrlRec(file.data(), &cr);
  return cr;
}

inline int listLength(const listCell* c) {
  int n = 0;
  for (; c != nullptr; c = c->next) ++n;
  return n;
}
inline std::vector<int32_t> listOf(const listCell* c) {
  std::vector<int32_t> out;
  for (; c != nullptr; c = c->next) out.push_back(c->subscript);
  return out;
}

// A scratch directory per test, and a bTree built with kDataSize.
class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = std::filesystem::temp_directory_path() /
          (std::string("jbbstorage_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    path = (dir / "journal.jbbdb").string();
  }
  void TearDown() override {
    release();
    db = nullptr;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  // Closes and destroys the object under test (the destructor alone leaves
  // the stream open, as the program does at exit).
  void release() {
    if (db != nullptr) db->closeBtDb();
    delete db;
    db = nullptr;
  }
  bTree& make(uint16_t dataSize = kDataSize) {
    release();
    db = new bTree(dataSize);
    return *db;
  }
  int open(const Image& image) {
    release();
    writeFile(path, image.bytes());
    return make(image.cr.dataSize).openBtDb(path.c_str(), false);
  }
  indexNode& entryOf(int32_t s) { return db->indexArray[s]; }

  std::filesystem::path dir;
  std::string path;
  bTree* db = nullptr;
};

}  // namespace storagetest
