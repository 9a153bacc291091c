// osfile: 64-bit positions on a C runtime stream.
//
// The database file is reached only through stdio, but the C runtime's own
// position type is opaque and its long offsets are 32 bits wide on Windows.
// These two calls take and give plain signed 64-bit byte positions on both
// platforms (osfile_posix.cc, osfile_win.cc).  Both leave errno set by the
// C runtime on failure.
#pragma once

#include <cstdint>
#include <cstdio>

// Moves the stream to byte position pos from the start of the file.
bool osSeek(FILE* stream, int64_t pos);
// Stores the stream's current byte position in *pos.
bool osTell(FILE* stream, int64_t* pos);
