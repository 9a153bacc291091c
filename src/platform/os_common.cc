// The operating-system services whose code is the same on every host.
#include <cstring>
#include <ctime>

#include "platform/os.h"

bool osCtime64(int64_t seconds, char* buf, size_t size) {
  // time_t is 64 bits on both hosts (ctime is the 64-bit form on Windows x64).
  static_assert(sizeof(time_t) == 8, "stored times are 64-bit");
  buf[0] = '\0';
  time_t t = time_t(seconds);
  const char* text = std::ctime(&t);
  if (text == nullptr || std::strlen(text) >= size) return false;
  std::strcpy(buf, text);
  return true;
}
