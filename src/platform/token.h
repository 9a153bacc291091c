// Reading white-space separated tokens that may be quoted.
#pragma once

// Status codes of nextToken.
constexpr int kErrUnbalancedQuote = 177;
constexpr int kErrTokenTooLong = 937;
// The longest token nextToken delivers, in bytes.
constexpr int kMaxTokenLen = 8447;

// Reads the next token at cursor into dst (kMaxTokenLen + 1 bytes) and moves
// cursor forward past what was read.  Leading white space is skipped.
//  - A token that starts with a double or single quote ends at the same
//    quote, which must be followed by white space or the end; the quotes are
//    not part of the token.
//  - Otherwise the token runs to white space or the end.  A quote directly
//    after "=" opens a quoted value (key="a b"): white space inside belongs
//    to the token, the quotes stay in it, and the closing quote must be
//    followed by a blank or the end.  A quote anywhere else is an ordinary
//    character, but not as the last character of the string.
// On success the cursor is stepped past the delimiter (the white space or
// the closing quote) unless it stands at the end.  Multibyte characters are
// never split and only single-byte ones count as quotes or white space.
// Returns 0; 177 for an unbalanced or glued quote, 937 for a token longer
// than kMaxTokenLen bytes (dst is then empty).
int nextToken(const char*& cursor, char* dst);
