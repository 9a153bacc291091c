// The operating-system version, asked once and kept.
#include "platform/osversion.h"

#include "platform/os.h"

namespace {
// Filled on first use and never refreshed.  No lock: two threads that race
// here both store the same values.
struct VersionCache {
  bool filled = false;
  uint16_t major = 0;
  uint16_t minor = 0;
  int32_t ntFamily = 0;
  int16_t status = -1;  // 0 once an NT-family system is recognised
};
VersionCache versionCache;

void fillVersionCache() {
  bool nt = false;
  osQueryVersion(versionCache.major, versionCache.minor, nt);
  if (nt) {
    versionCache.ntFamily = 1;
    versionCache.status = 0;
  }
  versionCache.filled = true;
}
}  // namespace

int16_t getOsVersion(uint16_t& major, uint16_t& minor) {
  if (!versionCache.filled) fillVersionCache();
  major = versionCache.major;
  minor = versionCache.minor;
  return versionCache.status;
}

int isNtFamily() {
  if (!versionCache.filled) fillVersionCache();
  return versionCache.ntFamily;
}
