// The replacing rename on Linux.
#include <cstdio>

#include "platform/osfs.h"

bool osReplaceFile(const char* from, const char* to) { return std::rename(from, to) == 0; }
