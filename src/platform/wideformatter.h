// The wide formatter behind portableVswprintf: printf over wchar16 formats
// and output, the same on every host.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/psstr.h"

// Formats into dst (capacity units, terminator included) as widefmt.h
// describes; plainIsWide says how a "%s" or "%c" without length modifier is
// read.  "%n" takes its pointer and stores nothing.  Returns the units
// written, or -1 when the output did not fit or a narrow argument could not
// be converted, or for a null format (dst holds what fitted, terminated,
// when capacity > 0).
int formatWide(wchar16* dst, size_t capacity, const wchar16* format, va_list args, bool plainIsWide);
