// w32wrap / ntrc: the operating-system version.
//
// The version is read once and cached.  On Windows it comes from the legacy
// version word (major in the lowest byte, minor in the next, top bit clear on
// the NT family).  Linux has no such word: the version is what the kernel
// release names (or 0.0), and the NT-family flag stays clear.
#pragma once

#include <cstdint>

// Fills major and minor; returns 0 once an NT-family system is recognised,
// else -1.
int16_t getOsVersion(uint16_t& major, uint16_t& minor);

// 1 on the NT family of Windows, else 0.  This is also the answer to how a
// plain "%s" or "%c" of a wide format is read (widefmt.h): as a wide string on
// the NT family, as a narrow one elsewhere, as each host's own wide formatter
// does.
int isNtFamily();
