// parseRequest: one request line to its code and key.
#include <cctype>
#include <cstring>

#include "viewer/requests.h"

namespace {

const char* const kVerbs[] = {"", "quit", "del", "find", "list"};

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

int parseRequest(const char* line, char* argument) {
  const char* p = line;
  while (*p != '\0' && isSpace(*p)) ++p;
  char verb[kVerbSize];
  size_t n = 0;
  for (; *p != '\0' && !isSpace(*p); ++p, ++n) {
    if (n < kVerbSize - 1) verb[n] = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  }
  if (n >= kVerbSize) return kRequestNone;  // longer than any verb buffer holds
  verb[n] = '\0';
  while (*p != '\0' && isSpace(*p)) ++p;

  int code = kRequestNone;
  for (int i = 0; i < int(sizeof kVerbs / sizeof kVerbs[0]); ++i) {
    if (std::strcmp(verb, kVerbs[i]) == 0) {
      code = i;
      break;
    }
  }
  if (code == kRequestDel || code == kRequestFind) {
    size_t len = std::strcspn(p, "\n");
    if (len > kRequestLineSize - 1) len = kRequestLineSize - 1;
    std::memcpy(argument, p, len);
    while (len > 0 && isSpace(argument[len - 1])) --len;
    argument[len] = '\0';
  }
  return code;
}
