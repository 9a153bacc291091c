// The bTree object: construction, destruction and the default per-entry
// callback of the walk.
#include <cstdio>
#include <cstring>

#include "btree/bt_storage.h"
#include "btree/jbbtreev.h"
#include "platform/kxmem.h"
#include "trace/trace.h"

namespace {
constexpr char kSourceName[] = "jbbtreev";
}

bTree::bTree(uint16_t size) {
  trPrint(TR_SITE, trClass.BTREEDB, "btree::btree(): entry, specified data size = %d.\n", int(size));
  std::memset(&cr, 0, sizeof cr);
  rootP = nullptr;
  indexArray = nullptr;
  actList = nullptr;
  avlList = nullptr;
  newNDLast = 0;
  dbHandle = nullptr;
  path = nullptr;
  freeOnRelease = 0;
  dbErrno = 0;
  mustReload = false;
  indexCapacity = 0;
  cr.magic = jbbformat::kMagic;
  cr.majorVersion = jbbformat::kMajorVersion;
  cr.minorVersion = jbbformat::kMinorVersion;
  diskNodeBaseSize = jbbformat::kDiskNodeBaseSize;
  dataSize = size;
  trPrint(TR_SITE, trClass.BTREEDB,
          "btree::btree(): btree database configuration:\n    Key length:            variable\n"
          "    data size            = %d bytes\n    # slots per disknode = %d\n    diskNodeBaseSize     = %d\n"
          "    sizeof(ctrlInfo)     = %d\n",
          int(dataSize), jbbformat::kMaxEntries, int(diskNodeBaseSize), int(jbbformat::kRecordHeaderSize));
  resultBuffer = static_cast<uint8_t*>(KX_CALLOC(1, dataSize));
  trPrint(TR_SITE, trClass.BTREEDB, "btree::btree(): Exit.\n");
}

// Writes back the cache and closes a file still open: nothing could reach
// the file afterwards, and its lock would keep every other program out
// until the process ends.
bTree::~bTree() {
  trPrint(TR_SITE, trClass.BTREEDB, "btree::~btree(): Entry.\n");
  FlushMemNodes();
  if (dbHandle != nullptr) osFileClose(dbHandle);
  dbHandle = nullptr;
  dropOverlay();
  jbbstorage::freeSpareBuffers(*this);
  if (path != nullptr) KX_FREE(path);
  if (resultBuffer != nullptr) KX_FREE(resultBuffer);
  if (indexArray != nullptr) KX_FREE(indexArray);
  path = nullptr;
  resultBuffer = nullptr;
  indexArray = nullptr;
  indexCapacity = 0;
}

int32_t bTree::walkCallback(const wchar16* key, const uint8_t* /*data*/) {
  size_t units = 0;
  while (key[units] != 0) ++units;
  // At most 4 bytes per unit in any multibyte form, plus the terminator.
  size_t size = 4 * units + 1;
  char* text = static_cast<char*>(KX_MALLOC(size));
  if (text == nullptr) return 0;
  wideToDisplay(text, size, key);
  std::printf("Retrieved Key: %10s\n", text);
  KX_FREE(text);
  return 0;
}
