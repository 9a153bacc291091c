// kxmem: the debug memory allocator.
//
// Every heap block of the system's own code comes from here.  A block:
//   OFFSET          SIZE  CONTENT
//   0               4     BLOCK_GUARD 0xABCDDCBA (host order; memory only)
//   4               4     not written (keeps the caller's area 16-aligned)
//   8               8     total length = requested size + 20
//   16              size  the caller's area (the pointer handed out)
//   16 + size       4     BLOCK_GUARD, unaligned
// Both guards are checked before a block is reallocated or released; a
// damaged block is reported (kxTrace below) and never released.  The
// allocator keeps no list of blocks: all it knows lives in the block.
//
// Callers pass their module name and line; the KX_* macros supply them from
// the calling file's kSourceName and __LINE__.
#pragma once

#include <cstdint>

#include "platform/tracechannel.h"

constexpr uint32_t BLOCK_GUARD = 0xABCDDCBAu;
constexpr uint64_t kBlockOverhead = 20;  // 16-byte header + 4-byte trailer

void* kxMalloc(uint64_t size, const char* source, int32_t line);
void* kxCalloc(int32_t count, uint64_t size, const char* source, int32_t line);
void* kxReAlloc(void* p, uint64_t newSize, const char* source, int32_t line);
void kxFree(void* p, const char* source, int32_t line);
// 0 when the block is sound or p is null; -1 when a guard is broken.
int kxCheckBlock(void* p, const char* source, int32_t line);
// The size a sound block p was requested with (calloc's count * size).
uint64_t kxBlockSize(const void* p);
// True while the test hook below has failures to hand out.
bool kxTestFailureArmed();

// Called when a request fails (never set by the utility itself).  When the
// handler returns 2, allocFailFatal is called.
extern int (*allocFailHandler)();
extern void (*allocFailFatal)();

// Where the allocator's lines and reports go: a line for every block granted
// or released and every failed request while the class byte (MEMORY) is set,
// and an error report for every damaged block, failed request and release
// of a null pointer.  The trace facility fills it when the program starts
// (trStart); until then the allocator is silent.
extern TraceChannel kxTrace;

// Test hook: after `after` further successful requests, the next `count`
// requests of kxMalloc, kxCalloc and kxReAlloc fail as if the heap were
// exhausted.  kxTestSetFailure(0, 0) turns it off.
void kxTestSetFailure(int64_t after, int64_t count);
// Test hook: the bytes callers hold in live blocks, and the most they held
// at any moment since kxTestResetPeak() (which starts it from what they
// hold now).  Guards and headers are not counted.
uint64_t kxTestLiveBytes();
uint64_t kxTestPeakBytes();
void kxTestResetPeak();

#define KX_MALLOC(n) kxMalloc((n), kSourceName, __LINE__)
#define KX_CALLOC(c, n) kxCalloc((c), (n), kSourceName, __LINE__)
#define KX_REALLOC(p, n) kxReAlloc((p), (n), kSourceName, __LINE__)
#define KX_FREE(p) kxFree((p), kSourceName, __LINE__)
#define KX_CHECK(p) kxCheckBlock((p), kSourceName, __LINE__)
