// Standard output of the viewer.
//
// Every text is formatted into memory first and then handed to the stream
// in one write (osWriteStdout, which also shows it right on a Windows
// console).  A buffered standard output thus stays buffered: the Windows
// build's printf writes each call through to the system, which under a
// listing of a million entries costs more than the listing.
#pragma once

#include <initializer_list>
#include <string_view>

#include "platform/compiler.h"

// printf to standard output; returns the bytes written or -1.
int printOut(const char* format, ...) JBB_PRINTF(1, 2);

// The pieces one after another, written in one call: for texts made only of
// strings, such as an entry block, without a format to interpret.
void printPieces(std::initializer_list<std::string_view> pieces);
