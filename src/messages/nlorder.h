// nlorder: filling the inserts of one message text, the values a caller
// passes into the places the text leaves for them (nlOrderInsert).
//
// A text whose first byte is 1 is a printf format (the rest of the text).
// A text whose first byte is 0 carries ordered inserts:
//   OFFSET       SIZE  CONTENT
//   0            1     0
//   1            4     wide mask, big-endian: bit i marks insert i as wide
//   5            1     insert count k
//   6            k     order list: argument j fills insert order[j]
//   6 + k        ...   k descriptors: leading integer count (0-2, for "*"
//                      width and precision), value kind (0 pointer, 1 and 2
//                      32-bit integer, 3 double), zero-terminated conversion
//   ...          ...   k + 1 zero-terminated text pieces
// The result is piece 0, insert 0, piece 1, ..., piece k.  Any other first
// byte yields an empty text.
//
// Conversions come from the repository file and are checked before use: one
// conversion of the descriptor's kind, with no more "*" than the leading
// integers, widths and precisions no larger than the 25,856-byte work area;
// an insert whose conversion does not pass stays empty.  The values the
// descriptors ask for must be the ones the caller passed (kinds), or the
// text is damaged.  A printf-form text gets the same checks conversion by
// conversion against the caller's values, and any conversion that fails
// (a "%n" among them) makes the text damaged.  A wide
// insert is a wchar16 string (or character); characters the C runtime cannot
// show become '_' in the formatted copy (the caller's string is not changed).
#pragma once

#include <cstdarg>
#include <cstddef>

#include "messages/nlsbuffer.h"

// Appends the filled text to out; args null means no insert values (a
// printf text is then taken as it stands and ordered inserts stay empty).
// kinds names the values in args, one letter each: 'p' pointer, 'i' 32-bit
// integer, 'd' double (see nlsInsertKind in kvenls.h).  Returns false when
// the text is damaged (out is then unchanged) or no storage can be had.
bool nlOrderInsert(nlsCharBuffer& out, const char* text, size_t length, const char* kinds, va_list* args);
