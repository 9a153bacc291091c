// dbReadCtrlRec: the control record of a file by path, before any database
// object exists.  It only reads, but opens for update, so a file that may
// not be written is refused here just as the open would refuse it.
#include <cerrno>
#include <cstring>

#include "btree/jbbtreev.h"
#include "platform/osfile.h"
#include "trace/trace.h"

namespace {
constexpr char kSourceName[] = "jbbtreev";
// The multibyte form of the path must fit this buffer.
constexpr size_t kPathBytes = 8448;

// The multibyte form of path in mbPath (MAX_CONV + 1 bytes): 0, or the
// errno value that says why it would not name exactly this file: too long
// for the path buffer, or holding a character the locale cannot represent
// (the conversion stops there and would leave the name of another file).
int multibytePath(const wchar16* path, char* mbPath) {
  wideToMb(mbPath, path);
  if (std::strlen(mbPath) >= kPathBytes) return ENAMETOOLONG;
  wchar16 back[kWideBufUnits];
  mbToWide(back, mbPath);
  return wideCompare(back, path) == 0 ? 0 : EINVAL;
}
}  // namespace

int dbReadCtrlRec(const wchar16* path, uint8_t* buffer) {
  char mbPath[MAX_CONV + 1];
  if (int bad = multibytePath(path, mbPath)) {
    trError(kSourceName, __LINE__, trClass.BTREEDB, "dbReadCtrlRec(): fopen: errno: %d, \"%s\".\n", bad,
            std::strerror(bad));
    return 0;
  }
  OsFile* f = osFileOpen(mbPath, OsFileMode::kUpdate);
  if (f == nullptr) {
    int err = errno;
    trError(kSourceName, __LINE__, trClass.BTREEDB, "dbReadCtrlRec(): fopen: errno: %d, \"%s\".\n", err,
            std::strerror(err));
    return 0;
  }
  size_t got = osFileRead(f, buffer, jbbformat::kCtrlRecSize, 0);
  if (got != jbbformat::kCtrlRecSize) {
    int err = errno;
    trError(kSourceName, __LINE__, trClass.BTREEDB, "dbReadCtrlRec(): fread: errno: %d, \"%s\".\n", err,
            std::strerror(err));
    osFileClose(f);
    return 0;
  }
  osFileClose(f);
  return 1;
}
