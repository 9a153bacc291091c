// The growable message text buffer; see nlsbuffer.h.
#include "messages/nlsbuffer.h"

#include <cstring>

#include "platform/kxmem.h"

namespace {
constexpr char kSourceName[] = "kvenls";
constexpr uint64_t kUnit = 1024;
constexpr int32_t kInitialUnits = 4;
constexpr uint64_t kGrowStep = 4096;
}  // namespace

nlsCharBuffer::nlsCharBuffer() {
  storage = static_cast<char*>(KX_CALLOC(int32_t(kInitialUnits * kUnit), 1));
  capacity = storage == nullptr ? 0 : kInitialUnits;
}

nlsCharBuffer::~nlsCharBuffer() {
  if (storage != nullptr) KX_FREE(storage);
}

uint32_t nlsCharBuffer::append(const char* text, uint32_t n) {
  if (storage == nullptr || text == nullptr) return 0;
  if (n == 0) n = uint32_t(std::strlen(text));
  uint64_t needed = uint64_t(length) + n + 1;
  if (uint64_t(capacity) * kUnit < needed) {
    uint64_t bytes = (needed / kGrowStep + 1) * kGrowStep;
    auto* grown = static_cast<char*>(KX_REALLOC(storage, bytes));
    if (grown == nullptr) {
      KX_FREE(storage);
      storage = nullptr;
      capacity = 0;
      length = 0;
      return 0;
    }
    storage = grown;
    capacity = int32_t(bytes / kUnit);
  }
  std::memcpy(storage + length, text, n);
  length += n;
  storage[length] = '\0';
  return length;
}
