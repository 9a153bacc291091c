// 64-bit stream positions on Windows: the C runtime's _fseeki64/_ftelli64.
#include <cstdio>

#include "platform/osfile.h"

bool osSeek(FILE* stream, int64_t pos) { return _fseeki64(stream, pos, SEEK_SET) == 0; }

bool osTell(FILE* stream, int64_t* pos) {
  __int64 at = _ftelli64(stream);
  if (at < 0) return false;
  *pos = int64_t(at);
  return true;
}
