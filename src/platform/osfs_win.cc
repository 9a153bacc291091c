// The replacing rename on Windows.  The C runtime's rename refuses an
// existing target, so it is MoveFileEx's; names are in the ANSI code page,
// as the C runtime takes them.
#include <windows.h>

#include "platform/osfs.h"

bool osReplaceFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
