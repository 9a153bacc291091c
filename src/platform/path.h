// Completing a bare file name with the current directory.
#pragma once

#include <cstddef>

// The capacity makeFullPath's destination must have, at least.
constexpr size_t kFullPathSize = 8192;

// A name that holds a path separator (a backslash on Windows, "/" on Linux)
// is already a path: dst is left untouched.  Otherwise dst becomes the
// current directory, the separator and the name with its leading white space
// skipped.  dst holds dstSize bytes; a result that would not fit leaves dst
// untouched too.  Returns 0.
int makeFullPath(char* dst, const char* name, size_t dstSize = kFullPathSize);
