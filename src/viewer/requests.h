// The interactive request loop: one request a line on standard input.
#pragma once

#include <cstddef>
#include <cstdio>

class toolDB;

// Request codes: a word's position in the verb table "", "quit", "del",
// "find", "list"; 0 also for any word not in it.
enum RequestCode { kRequestNone = 0, kRequestQuit = 1, kRequestDel = 2, kRequestFind = 3, kRequestList = 4 };

constexpr size_t kRequestLineSize = 1024;
constexpr size_t kVerbSize = 16;  // the first word, at most 15 characters

// Parses one request line.  The verb is compared lower-cased; for Del and
// Find the rest of the line, without its newline and with the white space
// around it removed (never case-changed), goes to argument (1024 bytes).
int parseRequest(const char* line, char* argument);

// Runs requests from `in` on the open database until Quit or the end of
// the input.
void runRequestLoop(toolDB& db, FILE* in);
