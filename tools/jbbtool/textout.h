// Buffered output and the fast formatting of dumps: integers, hex bytes,
// UTC times and keys, appended to one buffer that goes out in large writes.
// Nothing here allocates per call once the buffer has grown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace jbbtool {

class TextOut {
 public:
  explicit TextOut(FILE* stream) : stream_(stream) { buf_.reserve(kFlushAt + 4096); }
  ~TextOut() { flush(); }
  TextOut(const TextOut&) = delete;
  TextOut& operator=(const TextOut&) = delete;

  void put(char c) { buf_ += c; }
  void put(const char* s) { buf_ += s; }
  void put(const std::string& s) { buf_ += s; }
  void put(const char* s, size_t n) { buf_.append(s, n); }
  void putInt(int64_t v);
  void putUnsigned(uint64_t v);
  void putHex(const uint8_t* bytes, size_t n);
  // "2023-11-14T22:13:20Z"; years outside 0..9999 carry a sign and as many
  // digits as they need.
  void putUtc(int64_t seconds);
  // Call between records: writes the buffer once it is large.
  void maybeFlush() {
    if (buf_.size() >= kFlushAt) flush();
  }
  // False when a write failed (then or earlier).
  bool flush();
  std::string& buffer() { return buf_; }

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  FILE* stream_;
  std::string buf_;
  bool failed_ = false;
};

// A UTC time as "YYYY-MM-DDThh:mm:ssZ" into buf (at least 32 bytes); returns
// the length.
size_t formatUtc(int64_t seconds, char* buf);

}  // namespace jbbtool
