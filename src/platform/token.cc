// Reading white-space separated tokens that may be quoted.
#include "platform/token.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {
// Bytes of the character at p in the current locale's encoding; a byte that
// starts no valid character counts as one.
size_t charLen(const char* p) {
  if (*p == '\0') return 0;
  std::mbstate_t state{};
  size_t n = std::mbrlen(p, MB_LEN_MAX, &state);
  return n == 0 || n == size_t(-1) || n == size_t(-2) ? 1 : n;
}

// Only single-byte characters count as quotes or white space.
bool isWhite(const char* p) { return charLen(p) == 1 && std::isspace(static_cast<unsigned char>(*p)); }
bool isQuote(char c) { return c == '"' || c == '\''; }

// What a scan found: the token's bytes, where reading stopped, and the
// status.  On success `next` is where the cursor goes.
struct Scan {
  const char* start = nullptr;
  size_t len = 0;
  const char* next = nullptr;
  int status = 0;
};

// A token in quotes: the text up to the same quote, which must be followed
// by white space or the end.
Scan scanQuoted(const char* p) {
  const char quote = *p;
  Scan s;
  s.start = p + 1;
  const char* r = s.start;
  while (*r != '\0' && !(charLen(r) == 1 && *r == quote)) r += charLen(r);
  s.len = size_t(r - s.start);
  if (*r == '\0') {
    s.status = kErrUnbalancedQuote;
    s.next = r;
    return s;
  }
  s.next = r + 1;  // just past the closing quote
  if (*s.next != '\0' && !isWhite(s.next)) s.status = kErrUnbalancedQuote;
  return s;
}

// A plain token up to white space or the end, where key="quoted value"
// keeps its blanks and its quotes.
Scan scanPlain(const char* p) {
  Scan s;
  s.start = p;
  const char* r = p;
  bool afterEquals = false;
  while (*r != '\0' && !isWhite(r)) {
    const size_t n = charLen(r);
    if (n == 1 && isQuote(*r) && afterEquals) {
      const char quote = *r++;
      while (*r != '\0' && !(charLen(r) == 1 && *r == quote)) r += charLen(r);
      if (*r == '\0') {  // the value never closes
        s.status = kErrUnbalancedQuote;
        break;
      }
      ++r;  // the closing quote ends the token and stays in it
      if (*r != '\0' && *r != ' ') s.status = kErrUnbalancedQuote;
      s.len = size_t(r - s.start);
      s.next = r;
      return s;
    }
    if (n == 1 && isQuote(*r) && r[1] == '\0') s.status = kErrUnbalancedQuote;
    afterEquals = n == 1 && *r == '=';
    r += n;
  }
  s.len = size_t(r - s.start);
  s.next = *r == '\0' ? r : r + 1;  // past the white space that ended it
  return s;
}
}  // namespace

int nextToken(const char*& cursor, char* dst) {
  dst[0] = '\0';
  const char* p = cursor;
  while (isWhite(p)) ++p;
  Scan s = isQuote(*p) ? scanQuoted(p) : scanPlain(p);
  cursor = s.next;
  if (s.len > size_t(kMaxTokenLen)) return kErrTokenTooLong;
  if (s.status != 0) return s.status;
  std::memcpy(dst, s.start, s.len);
  dst[s.len] = '\0';
  return 0;
}
