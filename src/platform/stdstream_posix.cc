// Standard streams on Linux: a terminal reads and shows the locale's own
// encoding, so the bytes pass as they are.
#include <cstdio>

#include "platform/os.h"

unsigned osStdinCodePage() { return 0; }

int osWriteStdout(const char* text, size_t n) {
  return std::fwrite(text, 1, n, stdout) == n ? int(n) : -1;
}

const char* osLineEndOf(FILE*) { return "\n"; }

bool osWriteBytes(FILE* stream, const char* bytes, size_t n) { return std::fwrite(bytes, 1, n, stream) == n; }
