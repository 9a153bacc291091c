// traceprefix: the line prefix of the trace writer.
#pragma once

#include <cstddef>

// The prefix of one trace line: TIMESTAMP, PID, TID (the thread text, when a
// thread hook is set), CLIENTTYPE, then ": " when any of the first three is
// on.  extraLine receives the hook's extra line (empty when it gives none).
// Both buffers are zero-terminated on return.
void trBuildPrefix(char* prefix, size_t prefixSize, char* extraLine, size_t extraSize);
