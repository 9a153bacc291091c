// File-system services on Windows.  The C runtime's rename refuses an
// existing target, so the replacing rename is MoveFileEx's; names are in
// the ANSI code page, as the C runtime takes them.
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/osfs.h"

bool osSyncToDisk(FILE* stream) { return std::fflush(stream) == 0 && _commit(_fileno(stream)) == 0; }

bool osReplaceFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

