// osmem: large buffers for whole-file images (osmem_posix.cc, osmem_win.cc).
// On Linux the buffer is aligned to 2 MB and advised for huge pages, which
// makes filling 100 MB several times faster than faulting in 4 KB pages.
#pragma once

#include <cstddef>

// Null when the memory cannot be had.  The contents are undefined.
void* osAllocLarge(size_t size);
void osFreeLarge(void* block, size_t size);
