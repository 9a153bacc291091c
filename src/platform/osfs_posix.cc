// File-system services on Linux: fsync, rename and isatty.
#include <unistd.h>

#include <cstdio>

#include "platform/osfs.h"

bool osSyncToDisk(FILE* stream) { return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0; }

bool osReplaceFile(const char* from, const char* to) { return std::rename(from, to) == 0; }

