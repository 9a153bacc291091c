// Large buffers on Linux: 2 MB aligned, advised for transparent huge pages.
#include <sys/mman.h>

#include <cstdlib>

#include "platform/osmem.h"

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
}

void* osAllocLarge(size_t size) {
  size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* p = nullptr;
  if (rounded == 0 || posix_memalign(&p, kHugePage, rounded) != 0) return nullptr;
  madvise(p, rounded, MADV_HUGEPAGE);  // advice only: a refusal changes nothing
  return p;
}

void osFreeLarge(void* block, size_t) { std::free(block); }
