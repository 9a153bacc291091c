// Between the platform files: what each host's implementation tells the
// host-independent code of src/platform.  Not for the rest of the system.
#pragma once

// Whether the C runtime's ctime writes the day of the month with a leading
// zero (the Microsoft runtime) rather than a blank (glibc).
bool osCtimePadsDayWithZero();
