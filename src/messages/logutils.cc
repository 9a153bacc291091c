// The error log.  Nothing in the utility configures one, so the writer
// returns at its first test.
#include "messages/logutils.h"

int errorLogWrite(const char* text) {
  if (text == nullptr) return 109;
  return 109;  // no message state exists
}
