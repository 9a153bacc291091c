// trace: the diagnostic statements every module calls.
//
// A statement names its trace class by passing the class's flag byte, read
// at the moment of the call (trClass.BTREEDB, trClass.MEMORY, ...).  With a
// byte of 0 a statement returns at once: no formatting, no buffer, errno
// untouched.  Otherwise it formats one line for the trace output, if one is
// open.  The utility never opens a trace output or turns a class on, so its
// statements are silent; the facility behind them is complete for programs
// that configure it (traceconfig.h).  Every statement saves and restores
// errno, so one may sit between a failing call and the caller's test of
// errno.
//
// Error statements (trError, trErrorNoAlloc) hand their text to the error
// log whatever the trace state, and to the trace when it is active.  The
// error log is not the trace facility's: it belongs to the message layer
// above, which sets itself as the error sink when the program starts
// (trSetErrorSink; startServices in messages/services.h).
#pragma once

#include <cstdarg>
#include <cstdint>

#include "platform/compiler.h"
#include "platform/psstr.h"

// The site of one statement: module name (e.g. "jbbtreev") and line.
struct TraceSite {
  const char* source;
  int32_t line;
};
#define TR_SITE (TraceSite{kSourceName, __LINE__})

// Process-wide trace class flag bytes, 0 (off) at start.
struct TraceClasses {
  unsigned char ERROR;         // error reports also go to the trace
  unsigned char PREFIX;        // source prefix in front of every message
  unsigned char TIMESTAMP;     // line prefix: date and time
  unsigned char PID;           // line prefix: process id
  unsigned char TID;           // line prefix: thread text
  unsigned char CLIENTTYPE;    // line prefix: client-type tag
  unsigned char BTREEDB;       // the B-tree
  unsigned char MEMORY;        // the debug allocator
  unsigned char NLS;           // the message repository
  unsigned char GENERAL;       // mutex wrappers, error-log file handling
  unsigned char EXTRC;         // the process-wide return code
  unsigned char EXTRC_DETAIL;  // the process-wide return code, in detail
};
extern TraceClasses trClass;

// Process-wide test flags: a byte that says the flag is set, and a value.
struct TestFlag {
  unsigned char set;
  int32_t value;
};
struct TestFlags {
  TestFlag DISABLEDIAGLOGMSGS;  // error statements skip the error log
  TestFlag OEMNLSREPOS;         // source code page of convertCodePage
  TestFlag ANSINLSREPOS;        // target code page of convertCodePage
  TestFlag AUDITLOGRC;
};
extern TestFlags trTestFlag;

void trPrint(const TraceSite& site, unsigned char classFlag, const char* format, ...) JBB_PRINTF(3, 4);
// A wide format: its "%s" and "%c" take wide (wchar16) strings and characters.
void trPrintW(const TraceSite& site, unsigned char classFlag, const wchar16* format, ...);
// Callers test their class byte first.  Returns the message length, or 0
// when the trace is not active.
int trPrintf(const char* source, int32_t line, const char* format, ...) JBB_PRINTF(3, 4);
int trVPrintf(const char* source, int32_t line, const char* format, va_list args);
int trVPrintfW(const char* source, int32_t line, const wchar16* format, va_list args);
void trPrintRaw(const char* format, ...) JBB_PRINTF(1, 2);

// True when a line would be written.
bool trIsActive();
// Writes one prefixed line to the open trace output; 0 when none is open.
int trWriteLine(const char* text);
int trWriteRaw(const char* text);

// Error statements.  trError returns the characters traced, 0 when nothing
// was traced, 102 when its working buffer cannot be allocated;
// trErrorNoAlloc uses no heap memory.
int trError(const char* source, int32_t line, unsigned char classFlag, const char* format, ...) JBB_PRINTF(4, 5);
int trErrorNoAlloc(const char* source, int32_t line, unsigned char classFlag, const char* format, ...)
    JBB_PRINTF(4, 5);
int trVErrorNoAlloc(const char* source, int32_t line, unsigned char classFlag, const char* format, va_list args);

// Connects the portability layer below to the trace facility: the debug
// allocator's lines and reports (class MEMORY, kxTrace), the mutex
// wrappers' reports (class GENERAL, psMutexTrace), and the code pages that
// the test flags OEMNLSREPOS and ANSINLSREPOS name (codePageTestPage).  That
// layer cannot call this one, so until this runs its lines and reports go
// nowhere.  startServices calls it when the program starts; a second call
// changes nothing.
void trStart();

// Where the error statements' log copies go.  The layer that keeps the error
// log sets it once, when the program starts and before any other thread
// runs; until then the copies go nowhere, just as they do while no error
// log is open.
struct TraceErrorSink {
  // Writes one finished text to the error log; the result is not used.
  // Null: the copies go nowhere.
  int (*write)(const char* text);
  // The text that heads trError's copy: a new block from the debug
  // allocator, which the statement releases with KX_FREE, or null for none.
  // Null: no lead-in.
  char* (*leadIn)();
};
void trSetErrorSink(const TraceErrorSink& sink);

// Size of the working buffer of a formatted trace or error line.
constexpr int kTraceLineSize = 25854;
