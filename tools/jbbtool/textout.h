// Buffered output and the fast formatting of dumps: integers, hex bytes,
// UTC times and keys, written straight into one buffer that goes out in
// large writes.  Nothing here allocates per call once the buffer has grown.
//
// A row is written by asking for room for its longest form, writing at the
// pointer returned with the format* functions below, and committing the end
// reached; no byte is written twice and nothing is zero-filled first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace jbbtool {

// Each writes at p and returns the end of what it wrote.
char* formatUnsigned(char* p, uint64_t v);  // at most 20 bytes
char* formatInt(char* p, int64_t v);        // at most 20 bytes
char* formatHex(char* p, const uint8_t* bytes, size_t n);  // 2n bytes, lower case
// "2023-11-14T22:13:20Z"; years outside 0..9999 carry a sign and as many
// digits as they need.  At most 31 bytes.
char* formatUtcAt(char* p, int64_t seconds);
constexpr size_t kUtcTextMax = 31;

// A UTC time into buf (at least 32 bytes), terminated; returns the length.
size_t formatUtc(int64_t seconds, char* buf);

inline char* copyText(char* p, const char* s, size_t n) {
  std::memcpy(p, s, n);
  return p + n;
}
// A string literal, its length known when compiled.
template <size_t N>
char* copyLiteral(char* p, const char (&s)[N]) {
  return copyText(p, s, N - 1);
}

// The buffer holds the bytes as they go to the file, line ends included:
// rows end with newline(), and text put() has its LFs made the stream's
// line ends (CR LF for a Windows text stream), so the buffer goes out in
// large raw writes.
class TextOut {
 public:
  explicit TextOut(FILE* stream);
  ~TextOut() { flush(); }
  TextOut(const TextOut&) = delete;
  TextOut& operator=(const TextOut&) = delete;

  // Room for n more bytes at the returned position; commit() ends the write.
  char* room(size_t n) {
    if (cap_ - used_ < n) grow(n);
    return buf_.get() + used_;
  }
  void commit(char* end) { used_ = size_t(end - buf_.get()); }

  // The stream's line end at p (at most 2 bytes).
  char* newline(char* p) {
    if (crlf_) *p++ = '\r';
    *p++ = '\n';
    return p;
  }
  // Whether the stream's line end is CR LF.
  bool crlf() const { return crlf_; }
  void put(const char* s, size_t n);
  void put(char c) { put(&c, 1); }
  void put(const char* s) { put(s, std::strlen(s)); }
  void put(const std::string& s) { put(s.data(), s.size()); }
  void putUnsigned(uint64_t v) { commit(formatUnsigned(room(20), v)); }
  // Call between records: writes the buffer once it is large.
  void maybeFlush() {
    if (used_ >= kFlushAt) flush();
  }
  // False when a write failed (then or earlier).
  bool flush();
  // The errno of the first write that failed (0: none, or none known).
  int error() const { return error_; }

 private:
  static constexpr size_t kFlushAt = 1 << 20;
  void grow(size_t n);
  void fail();
  FILE* stream_;
  std::unique_ptr<char[]> buf_;
  size_t cap_ = 0, used_ = 0;
  bool failed_ = false;
  int error_ = 0;
  bool crlf_;
};

}  // namespace jbbtool
