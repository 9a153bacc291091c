// osfs: file-system services of the companion tool: a flush to the disk and
// a rename that replaces its target (osfs_posix.cc, osfs_win.cc).  Whether a
// stream is a terminal is os.h's osIsTerminal.
#pragma once

#include <cstdio>

// Writes the stream's buffered bytes and asks the system to put the file's
// data on the disk before returning.
bool osSyncToDisk(FILE* stream);
// Renames from to to; a file that stands at to is replaced.  Both names are
// in one folder, so on Linux the replacement is atomic.
bool osReplaceFile(const char* from, const char* to);
