// logutils: the error log and the second log.
#pragma once

// Writes one text to the error log.  Returns the characters written, 0 when
// the error log is off, 109 when the message state or the lock is missing
// or text is null, 621 when the write failed.
int errorLogWrite(const char* text);
