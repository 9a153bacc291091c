// What differs between the compilers that build the system.
#pragma once

// The printf-style format check of a function's arguments.  gcc's
// gnu_printf, because the mingw runtime's own printf archetype differs from
// the C99 conversions our formats follow; plain printf for clang, which has
// no gnu_printf.
#if defined(__clang__)
#define JBB_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#elif defined(__GNUC__)
#define JBB_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define JBB_PRINTF(fmt, args)
#endif
