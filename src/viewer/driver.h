// The viewer's program flow: banner, arguments, control-record check, open,
// counting walk, report, then the just-created prompt, the request loop or
// the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "btree/format.h"

constexpr int kExitOk = 0;
constexpr int kExitFailure = -1;

// The path buffer: the first argument with ".jbbdb" appended, terminator
// included.
constexpr size_t kPathBufferSize = 1280;
constexpr char kDbExtension[] = ".jbbdb";
constexpr size_t kMaxPathArgument = kPathBufferSize - sizeof kDbExtension;  // 1273

// Runs the whole program; returns the exit code.  Requests and answers are
// read from `in`.
int runViewer(int argc, char** argv, FILE* in);

// --- the steps, each printing exactly its own texts to standard output ---
void printBanner();
// The program name cut after its last backslash, or else its last slash.
const char* programBaseName(const char* argv0);
// The usage text, on standard error.
void printUsage(const char* baseName);
// Fills the path buffer with arg and ".jbbdb"; false when arg is too long
// to fit (nothing is then truncated or written past the buffer).
bool buildDbPath(const char* arg, char* path);
// The "Located Database" block and the opening line, from the control
// record read by the pre-check.
void printLocatedDatabase(const char* path, const uint8_t* ctrlRec);
// Steps 5 and 6: reads and checks the control record of path into ctrlRec,
// printing the failure message; returns false on failure.
bool precheckControlRecord(const char* path, uint8_t* ctrlRec);
