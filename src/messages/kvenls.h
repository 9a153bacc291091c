// kvenls: numbered messages as finished texts, their severity and their
// display.  All entry points take the NLS lock and return at once (no text;
// severity 6) while the message state or its lock is absent, as in the
// utility, which never opens a repository.
#pragma once

#include <cstdarg>
#include <cstdint>

constexpr int kSeverityUnknown = 255;
constexpr int kSeverityNoLock = 6;

// The finished text of message msgNum with its inserts filled from the
// arguments: a new block from the debug allocator (with room for 10 more
// bytes) that the caller releases with KX_FREE, or null.
// The message number is taken as an unsigned int, its promoted type: the
// last parameter before the variable arguments must not be promoted for
// va_start to be defined.  Only its low 16 bits name the message.
char* nlsMessageText(unsigned msgNum, ...);
// The same, also giving the message's severity code.
char* nlsMessageTextSev(uint16_t msgNum, int* severity, ...);
// args null: no insert values (inserts stay empty).
char* nlsMessageTextV(uint16_t msgNum, int* severity, va_list* args);

// The severity code of message msgNum: 255 when it cannot be found, 6 when
// the NLS lock cannot be taken.
int nlsMessageSeverity(uint16_t msgNum);

// Displays message msgNum: raises the return code, copies the text to the
// second log and (severity above 4) to the error log, and hands it to the
// display function of its severity unless the output mode is "no display".
// The message number is an unsigned int for the reason given at
// nlsMessageText.
void nlsDisplayMessage(unsigned msgNum, ...);
