// The run after the pre-check: open, counting walk, report, then the
// just-created prompt, the request loop or the end.
#pragma once

#include <cstdint>
#include <cstdio>

// arg is the first argument as given (without ".jbbdb"), path the database
// file; dataSize comes from the file's own control record.  Returns the
// exit code.
int runSession(const char* arg, const char* path, uint16_t dataSize, bool interactive, FILE* in);
