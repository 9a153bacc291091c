// The debug memory allocator; the block layout is stated in kxmem.h.  Its
// lines and reports go out through kxTrace, which the trace facility fills.
#include "platform/kxmem.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {
constexpr char kSourceName[] = "kxmem";
constexpr size_t kHeaderSize = 16;
constexpr size_t kLengthOffset = 8;

int64_t failAfter = 0;
int64_t failCount = 0;

// The sizes of the caller's areas of all live blocks, and the most they
// came to since the last reset (the test hook of kxmem.h).
std::atomic<uint64_t> liveBytes{0};
std::atomic<uint64_t> peakBytes{0};

void countAllocated(uint64_t size) {
  uint64_t now = liveBytes.fetch_add(size, std::memory_order_relaxed) + size;
  uint64_t peak = peakBytes.load(std::memory_order_relaxed);
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}
void countReleased(uint64_t size) { liveBytes.fetch_sub(size, std::memory_order_relaxed); }

// The test hook: true when this request is to fail.
bool injectedFailure() {
  if (failCount <= 0) return false;
  if (failAfter > 0) {
    --failAfter;
    return false;
  }
  --failCount;
  return true;
}

uint32_t loadU32(const void* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void storeU32(void* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }
uint64_t loadU64(const void* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void storeU64(void* p, uint64_t v) { std::memcpy(p, &v, sizeof v); }

// Writes header and trailer around a runtime block; returns the caller's area.
void* frame(void* raw, uint64_t size) {
  countAllocated(size);
  auto* bytes = static_cast<unsigned char*>(raw);
  storeU32(bytes, BLOCK_GUARD);
  storeU64(bytes + kLengthOffset, size + kBlockOverhead);
  storeU32(bytes + kHeaderSize + size, BLOCK_GUARD);
  return bytes + kHeaderSize;
}

// Sizes print as 32-bit values, as the allocator's lines always have.
long asPrinted(uint64_t v) { return long(int32_t(uint32_t(v))); }

void callFailHandlers(uint64_t size) {
  if (allocFailHandler != nullptr && size != 0 && allocFailHandler() == 2 && allocFailFatal != nullptr)
    allocFailFatal();
}
}  // namespace

int (*allocFailHandler)() = nullptr;
void (*allocFailFatal)() = nullptr;
TraceChannel kxTrace = {};

void kxTestSetFailure(int64_t after, int64_t count) {
  failAfter = after;
  failCount = count;
}

uint64_t kxTestLiveBytes() { return liveBytes.load(std::memory_order_relaxed); }
uint64_t kxTestPeakBytes() { return peakBytes.load(std::memory_order_relaxed); }
void kxTestResetPeak() { peakBytes.store(liveBytes.load(std::memory_order_relaxed), std::memory_order_relaxed); }

bool kxTestFailureArmed() { return failCount > 0; }

uint64_t kxBlockSize(const void* p) {
  return loadU64(static_cast<const unsigned char*>(p) - kHeaderSize + kLengthOffset) - kBlockOverhead;
}

void* kxMalloc(uint64_t size, const char* source, int32_t line) {
  void* raw = injectedFailure() || size > SIZE_MAX - kBlockOverhead ? nullptr : std::malloc(size + kBlockOverhead);
  if (raw == nullptr) {
    if (kxTrace.on())
      kxTrace.line(kSourceName, __LINE__, "Alloc failed: Size %ld File %s Line %d\n", asPrinted(size), source, line);
    callFailHandlers(size);
    return nullptr;
  }
  void* p = frame(raw, size);
  if (kxTrace.on())
    kxTrace.line(kSourceName, __LINE__, "KXMEM(+) Addr %p Size %ld File %s Line %d\n", p, asPrinted(size), source, line);
  return p;
}

void* kxCalloc(int32_t count, uint64_t size, const char* source, int32_t line) {
  bool representable = count >= 0 && (size == 0 || uint64_t(count) <= (SIZE_MAX - kBlockOverhead) / size);
  uint64_t total = representable ? uint64_t(count) * size : 0;
  void* raw = injectedFailure() || !representable ? nullptr : std::calloc(1, total + kBlockOverhead);
  if (raw == nullptr) {
    kxTrace.error(kSourceName, __LINE__, "calloc() failed: Size %ld File %s Line %d\n",
                   asPrinted(size), source, line);
    callFailHandlers(size);
    return nullptr;
  }
  void* p = static_cast<unsigned char*>(raw) + kHeaderSize;
  if (kxTrace.on())
    kxTrace.line(kSourceName, __LINE__, "KXMEM(c+) Addr %p Size %ld Count %ld File %s Line %d\n", p, asPrinted(size),
             long(count), source, line);
  return frame(raw, total);
}

int kxCheckBlock(void* p, const char* source, int32_t line) {
  if (p == nullptr) return 0;
  auto* area = static_cast<unsigned char*>(p);
  if (loadU32(area - kHeaderSize) != BLOCK_GUARD) {
    kxTrace.error(kSourceName, __LINE__,
                   "Block header invalid, possible memory overwrite. Addr %p, File %s, Line %d\n", p, source, line);
    return -1;
  }
  uint64_t total = loadU64(area - kHeaderSize + kLengthOffset);
  if (loadU32(area + total - kBlockOverhead) != BLOCK_GUARD) {
    kxTrace.error(kSourceName, __LINE__,
                   "Block trailer invalid, possible memory overwrite. Addr %p, File %s, Line %d\n", p, source, line);
    return -1;
  }
  return 0;
}

void* kxReAlloc(void* p, uint64_t newSize, const char* source, int32_t line) {
  if (kxCheckBlock(p, source, line) != 0) return nullptr;
  void* oldRaw = p == nullptr ? nullptr : static_cast<unsigned char*>(p) - kHeaderSize;
  uint64_t oldSize = p == nullptr ? 0 : kxBlockSize(p);
  void* raw = injectedFailure() || newSize > SIZE_MAX - kBlockOverhead
                  ? nullptr
                  : std::realloc(oldRaw, newSize + kBlockOverhead);
  if (raw == nullptr) {
    kxTrace.error(kSourceName, __LINE__, "Realloc failed: Old addr %p New Size %ld File %s Line %d\n",
                   p, asPrinted(newSize), source, line);
    callFailHandlers(newSize);
    return nullptr;
  }
  countReleased(oldSize);
  void* np = frame(raw, newSize);
  if (kxTrace.on())
    kxTrace.line(kSourceName, __LINE__, "KXMEM(r+) naddr %p oaddr %p nsize %ld File %s Line %d\n", np, p,
             asPrinted(newSize), source, line);
  return np;
}

void kxFree(void* p, const char* source, int32_t line) {
  if (p == nullptr) {
    kxTrace.error(kSourceName, __LINE__, "Attempt to free NULL pointer. File %s Line %d\n", source,
                   line);
    return;
  }
  if (kxCheckBlock(p, source, line) != 0) return;
  countReleased(kxBlockSize(p));
  std::free(static_cast<unsigned char*>(p) - kHeaderSize);
  if (kxTrace.on()) kxTrace.line(kSourceName, __LINE__, "KXMEM(-) Addr %p File %s Line %d\n", p, source, line);
}
