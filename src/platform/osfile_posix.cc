// 64-bit stream positions on Linux: off_t is 64 bits in this build.
#include <sys/types.h>

#include <cstdio>

#include "platform/osfile.h"

bool osSeek(FILE* stream, int64_t pos) { return fseeko(stream, off_t(pos), SEEK_SET) == 0; }

bool osTell(FILE* stream, int64_t* pos) {
  off_t at = ftello(stream);
  if (at < 0) return false;
  *pos = int64_t(at);
  return true;
}
