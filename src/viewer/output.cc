// Standard output through memory (output.h).
#include "viewer/output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/os.h"

int printOut(const char* format, ...) {
  char local[4096];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(local, sizeof local, format, args);
  va_end(args);
  int written = -1;
  if (n >= 0 && size_t(n) < sizeof local) {
    written = osWriteStdout(local, size_t(n));
  } else if (n >= 0) {
    // A long text, such as an entry block with a key of thousands of units.
    char* text = static_cast<char*>(std::malloc(size_t(n) + 1));
    if (text != nullptr) {
      std::vsnprintf(text, size_t(n) + 1, format, again);
      written = osWriteStdout(text, size_t(n));
      std::free(text);
    }
  }
  va_end(again);
  return written;
}

void printPieces(std::initializer_list<std::string_view> pieces) {
  size_t total = 0;
  for (std::string_view piece : pieces) total += piece.size();
  if (total == 0) return;
  char local[4096];
  char* text = total <= sizeof local ? local : static_cast<char*>(std::malloc(total));
  if (text == nullptr) {
    for (std::string_view piece : pieces) std::fwrite(piece.data(), 1, piece.size(), stdout);
    return;
  }
  char* p = text;
  for (std::string_view piece : pieces) {
    std::memcpy(p, piece.data(), piece.size());
    p += piece.size();
  }
  std::fwrite(text, 1, total, stdout);
  if (text != local) std::free(text);
}
