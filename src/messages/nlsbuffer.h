// nlsBuffer: a growable text buffer; nlsCharBuffer holds 8-bit text.
//
// Capacity is counted in units of 1024 bytes; the storage always holds the
// text and its terminator.  When growth fails the storage is released and
// the buffer is empty (capacity and length 0) from then on.
#pragma once

#include <cstdint>

class nlsBuffer {
 public:
  virtual ~nlsBuffer() = default;
  // The width of one character in bytes.
  virtual int charWidth() const = 0;
  // Appends text (length 0: the whole zero-terminated text); returns the new
  // total length, 0 when no storage can be had.
  virtual uint32_t append(const char* text, uint32_t length) = 0;

  const char* data() const { return storage; }
  uint32_t size() const { return length; }

 protected:
  char* storage = nullptr;
  int32_t capacity = 0;  // units of 1024 bytes
  uint32_t length = 0;
};

class nlsCharBuffer : public nlsBuffer {
 public:
  nlsCharBuffer();
  ~nlsCharBuffer() override;
  nlsCharBuffer(const nlsCharBuffer&) = delete;
  nlsCharBuffer& operator=(const nlsCharBuffer&) = delete;

  int charWidth() const override { return 1; }
  uint32_t append(const char* text, uint32_t length) override;
};
