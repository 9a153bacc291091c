// Completing a bare file name with the current directory.
#include "platform/path.h"

#include <cctype>
#include <cstring>

#include "platform/os.h"
#include "platform/strsearch.h"

namespace {
bool holdsSeparator(const char* name, char separator) {
  int32_t err = 0;
  if (mbStrRChr(name, separator, err) != nullptr) return true;
  // A name that is not valid multibyte text is searched byte by byte.
  return err != 0 && std::strchr(name, separator) != nullptr;
}
}  // namespace

int makeFullPath(char* dst, const char* name, size_t dstSize) {
  if (name == nullptr) return 0;
  const char separator = osPathSeparator();
  if (holdsSeparator(name, separator)) return 0;  // already a path
  while (*name != '\0' && std::isspace(static_cast<unsigned char>(*name))) ++name;

  char dir[kFullPathSize + 1];
  // Should the current directory be unreadable, the bare name is the best
  // path there is: it still names the file in the current directory.
  if (!osCurrentDirectory(dir, sizeof dir)) dir[0] = '\0';
  size_t dirLen = std::strlen(dir);
  // Only a root directory ends in the separator.  "/" + name is the Linux
  // path; a Windows root keeps its doubled backslash, which reads as one.
  const bool addSeparator = dirLen > 0 && !(separator == '/' && dir[dirLen - 1] == '/');
  const size_t nameLen = std::strlen(name);
  if (dirLen + (addSeparator ? 1 : 0) + nameLen + 1 > dstSize) return 0;  // would not fit

  std::memcpy(dst, dir, dirLen);
  if (addSeparator) dst[dirLen++] = separator;
  std::memcpy(dst + dirLen, name, nameLen + 1);
  return 0;
}
