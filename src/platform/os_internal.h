// Between the platform files: what each host's implementation tells the
// host-independent code of src/platform.  Not for the rest of the system.
#pragma once

#include <cstdint>

// Whether the C runtime's ctime writes the day of the month with a leading
// zero (the Microsoft runtime) rather than a blank (glibc).
bool osCtimePadsDayWithZero();

// A value that changes whenever the C locale's character conversions do.
uint64_t osLocaleTag();
// Whether the current C locale writes every ASCII character as its own
// single byte without shift states, so that a conversion may copy it;
// decided once per locale.
bool osLocaleKeepsAscii();
