// Large buffers on Windows: reserved and committed at once.
#include <windows.h>

#include "platform/osmem.h"

void* osAllocLarge(size_t size) {
  return size ? VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE) : nullptr;
}

void osFreeLarge(void* block, size_t) {
  if (block) VirtualFree(block, 0, MEM_RELEASE);
}
