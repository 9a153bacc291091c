// pkfile: wide formats that mean the same on every host.
//
// Wide formats and their output are wchar16 strings.  A plain "%s" or "%c" in
// a wide format is read as the host's own wide formatter reads it: as a wide
// string on the NT family of Windows, as a narrow one elsewhere (isNtFamily,
// osversion.h).  "%ls"/"%lc" (and "%ws"/"%wc") always take a wide (wchar16)
// string or unit, "%hs"/"%hc" a narrow one; the length modifier nearest the
// conversion decides.  Other conversions format as the C runtime's printf.
//
// A conversion mask marks conversions whose argument is wide: bit i (least
// significant first) belongs to the i-th conversion of the
// format, counting every "%" sequence up to the first of the characters
// "cdeEfgGinopsuxX%" (a doubled "%" uses a bit too).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "platform/psstr.h"

// A copy of format in which every "%s" and "%c" whose mask bit is set gets
// the length modifier that makes it wide on this host: "h" on the NT family
// (inverted masks mark the narrow ones there), else "l".  Returns a block
// from kxMalloc that the caller releases with kxFree, or null when the heap
// is exhausted.
wchar16* fixWideFormat(uint32_t mask, const wchar16* format);

// Formats into dst, which holds capacity units, terminator included.  The
// mask decides, on every host, how the "%s" and "%c" of the format read their
// arguments: wide for a set bit, narrow for a clear one.  (The mask is
// inverted first on the NT family, where a plain "%s" is already wide, and
// the "h" then marks the narrow ones.)  Formats meant for this use plain
// "%s" and "%c": a conversion that gets a modifier inserted reads by that
// one, whatever modifier it had.
// Returns the units written without the terminator; -1 when the output did
// not fit (dst then holds what fitted, terminated) or a narrow argument could
// not be converted; 0, with nothing written, when the format cannot be
// rewritten for lack of memory.
int portableVswprintf(uint32_t mask, wchar16* dst, size_t capacity, const wchar16* format, va_list args);
