// osfs: the rename that replaces its target, for programs that write a new
// file beside an old one (osfs_posix.cc, osfs_win.cc).
#pragma once

#include <cstdio>

// Renames from to to; a file that stands at to is replaced.  Both names are
// in one folder, so on Linux the replacement is atomic.
bool osReplaceFile(const char* from, const char* to);
