// Finished message texts: lookup under the NLS lock, then the inserts.
#include "messages/kvenls.h"

#include <cstring>

#include "messages/GlobalRC.h"
#include "messages/amsgrtrv.h"
#include "messages/logutils.h"
#include "messages/nlorder.h"
#include "messages/nlsbuffer.h"
#include "platform/kxmem.h"

namespace {
constexpr char kSourceName[] = "kvenls";
// The prefix and the character after it stay as read.
constexpr uint32_t kPrefixKeep = 9;
constexpr uint64_t kCopySlack = 10;

bool hasPrefix(int severity) { return severity >= 3 && severity != 8; }

// The message's text with its inserts, as a new block; null on failure.
char* finish(const nlsMsg* m, const char* kinds, va_list* args) {
  nlsCharBuffer buf;
  uint32_t keep = hasPrefix(m->severity) ? (m->textLen < kPrefixKeep ? m->textLen : kPrefixKeep) : 0;
  if (keep > 0 && buf.append(m->text, keep) == 0) return nullptr;
  if (!nlOrderInsert(buf, m->text + keep, m->textLen - keep, kinds, args)) {
    // With storage to spare the text itself was at fault.
    if (buf.data() != nullptr) nlsReportDamagedText(m->msgNum);
    return nullptr;
  }
  if (buf.data() == nullptr) return nullptr;
  auto* copy = static_cast<char*>(KX_MALLOC(uint64_t(buf.size()) + 1 + kCopySlack));
  if (copy != nullptr) std::memcpy(copy, buf.data(), buf.size() + 1);
  return copy;
}
}  // namespace

char* nlsMessageTextV(uint16_t msgNum, int* severity, const char* kinds, va_list* args) {
  if (nlsLock() != 0) return nullptr;
  char* text = nullptr;
  if (const nlsMsg* m = nlsLookup(msgNum)) {
    if (severity != nullptr) *severity = m->severity;
    text = finish(m, kinds, args);
  }
  nlsUnlock();
  return text;
}

char* nlsMessageTextKinds(uint16_t msgNum, int* severity, const char* kinds, ...) {
  va_list args;
  va_start(args, kinds);
  char* text = nlsMessageTextV(msgNum, severity, kinds, &args);
  va_end(args);
  return text;
}

int nlsMessageSeverity(uint16_t msgNum) {
  if (nlsLock() != 0) return kSeverityNoLock;
  const nlsMsg* m = nlsLookup(msgNum);
  int severity = m == nullptr ? kSeverityUnknown : m->severity;
  nlsUnlock();
  return severity;
}

void nlsDisplayMessageKinds(uint16_t msgNum, const char* kinds, ...) {
  int severity = kSeverityUnknown;
  va_list args;
  va_start(args, kinds);
  char* text = nlsMessageTextV(msgNum, &severity, kinds, &args);
  va_end(args);
  if (text == nullptr) return;
  globalRcRaise(msgNum);
  if (secondLogActive()) secondLogWrite(text);
  if (severity > 4 && errorLogIsOpen()) errorLogWrite(text);
  if (nlsState != nullptr && nlsState->outputMode != kOutputNone) nlsShow(severity, text);
  KX_FREE(text);
}
