// Reading messages from the repository and caching them; the file layout
// and the cache rules are in amsgrtrv.h.
#include "messages/amsgrtrv.h"

#include <cstring>

#include "messages/GlobalRC.h"
#include "messages/logutils.h"
#include "platform/kxmem.h"
#include "trace/trace.h"

NlsState* nlsState = nullptr;

namespace {
constexpr char kSourceName[] = "amsgrtrv";
constexpr char kSeverityLetters[] = "ZTRKIWESL";
constexpr int kRecordSize = 64;
constexpr int kResponseMax = 7;

// The reader's failures: shown at severity 6, then the return code rises.
void reportFailure(const char* format, uint16_t msgNum) {
  NlsState* st = nlsState;
  std::snprintf(st->assembly, kNlsWorkSize, format, unsigned(msgNum), st->reposName);
  nlsShow(kSeverityError, st->assembly);
  globalRcRaise(9999);
}

constexpr char kDamagedText[] = "KVE0108E Error trying to read text for message %u from repository '%s'.\n";

bool readU16(FILE* f, uint16_t* value) {
  unsigned char b[2];
  if (std::fread(b, 1, 2, f) != 2) return false;
  *value = uint16_t((b[0] << 8) | b[1]);
  return true;
}

char severityLetter(int severity) { return severity < kNlsSeverities ? kSeverityLetters[severity] : '?'; }

void unlink(nlsMsg* m, nlsMsg*& head) {
  if (m->next == m) {
    head = nullptr;
  } else {
    m->prev->next = m->next;
    m->next->prev = m->prev;
    if (head == m) head = m->next;
  }
  m->next = m->prev = m;
}

void pushHead(nlsMsg* m, nlsMsg*& head) {
  if (head == nullptr) {
    m->next = m->prev = m;
  } else {
    m->next = head;
    m->prev = head->prev;
    head->prev->next = m;
    head->prev = m;
  }
  head = m;
}

// One message assembled from its pieces in the assembly buffer.
struct Assembly {
  size_t length = 0;
  int severity = 0;
  char response[16] = {};
  bool prefixed = false;
};

// Reads the chain of pieces at the current position; false after a
// reported failure.
bool readPieces(FILE* f, uint16_t msgNum, Assembly* a) {
  NlsState* st = nlsState;
  for (;;) {
    uint16_t header = 0;
    if (!readU16(f, &header)) {
      reportFailure("KVE0107E Error trying to read header for message %u from repository '%s'.\n", msgNum);
      return false;
    }
    size_t textLen = header & 0xFFu;
    size_t responseLen = (header >> 8) & 7u;
    a->severity = (header >> 11) & 15;
    if (responseLen != 0) {
      char response[kResponseMax + 1] = {};
      if (std::fread(response, 1, responseLen, f) != responseLen) {
        reportFailure("KVE0119E Error trying to read response string for message %u from repository '%s'.\n",
                      msgNum);
        return false;
      }
      std::memcpy(a->response, response, sizeof response);
    }
    if (a->severity > 2 && a->severity != 8 && !a->prefixed) {
      int n = std::snprintf(st->assembly + a->length, kNlsWorkSize - a->length, "%s%04u%c", st->msgPrefix,
                            unsigned(msgNum % 10000), severityLetter(a->severity));
      if (n > 0) a->length += size_t(n);
      a->prefixed = true;
    }
    // A chain longer than the assembly buffer is a damaged record.
    if (a->length + textLen >= size_t(kNlsWorkSize) ||
        std::fread(st->assembly + a->length, 1, textLen, f) != textLen) {
      reportFailure(kDamagedText, msgNum);
      return false;
    }
    a->length += textLen;
    if ((header & 0x8000u) == 0) return true;
  }
}
}  // namespace

int nlsLock() {
  if (nlsState == nullptr || nlsState->lock == nullptr) return -1;
  return psMutexLock(*nlsState->lock);
}

void nlsUnlock() {
  if (nlsState != nullptr && nlsState->lock != nullptr) psMutexRelease(*nlsState->lock);
}

void nlsReportDamagedText(uint16_t msgNum) {
  if (nlsState != nullptr) reportFailure(kDamagedText, msgNum);
}

void nlsShow(int severity, const char* text) {
  NlsState* st = nlsState;
  if (st == nullptr || severity < 0 || severity >= kNlsSeverities || st->display[severity] == nullptr) return;
  wchar16 wide[kWideBufUnits];
  mbToWide(wide, text);
  st->display[severity](wide);
}

uint16_t ReadIndex(uint16_t msgNum, bool secondary) {
  NlsState* st = nlsState;
  // A repository that was never opened simply holds no messages.
  FILE* f = st == nullptr ? nullptr : st->repos[secondary ? 1 : 0];
  if (f == nullptr) return 0;
  uint16_t record = 0;
  if (std::fseek(f, 2L * (long(msgNum) + 31), SEEK_SET) != 0 || !readU16(f, &record)) {
    reportFailure("KVE0105E Error trying to read index for message %u from repository '%s'.\n", msgNum);
    return 0;
  }
  if (record == 0) {
    std::snprintf(st->assembly, kNlsWorkSize, "KVE0106E Message index not found for message %u.\n", unsigned(msgNum));
    nlsShow(kSeverityError, st->assembly);
    errorLogWrite(st->assembly);
    globalRcRaise(9999);
    return 0;
  }
  return record;
}

nlsMsg* ReadMsg(uint16_t msgNum, bool secondary) {
  uint16_t record = ReadIndex(msgNum, secondary);
  if (record == 0) return nullptr;
  NlsState* st = nlsState;
  FILE* f = st->repos[secondary ? 1 : 0];
  Assembly a;
  if (std::fseek(f, long(record - 1) * kRecordSize, SEEK_SET) != 0) {
    reportFailure("KVE0107E Error trying to read header for message %u from repository '%s'.\n", msgNum);
    return nullptr;
  }
  if (!readPieces(f, msgNum, &a)) return nullptr;
  st->assembly[a.length] = '\0';
  auto* m = static_cast<nlsMsg*>(KX_MALLOC(sizeof(nlsMsg) + a.length));
  if (m == nullptr) {
    std::snprintf(st->assembly, kNlsWorkSize, "KVE0109E Insufficient memory for allocation of message structure.\n");
    nlsShow(kSeverityError, st->assembly);
    globalRcRaise(9999);
    return nullptr;
  }
  m->next = m->prev = m;
  m->msgNum = msgNum;
  m->severity = uint8_t(a.severity);
  std::memcpy(m->response, a.response, sizeof m->response);
  m->textLen = uint32_t(a.length);
  std::memcpy(m->text, st->assembly, a.length + 1);
  return m;
}

nlsMsg* nlsLookup(uint16_t msgNum) {
  NlsState* st = nlsState;
  if (st == nullptr) return nullptr;
  bool secondary = st->useSecondary != 0;
  nlsMsg*& head = st->cacheHead[secondary ? 1 : 0];
  uint32_t walked = 0;
  if (nlsMsg* m = head) {
    do {
      if (m->msgNum == msgNum) {
        unlink(m, head);
        pushHead(m, head);
        st->useSecondary = 0;
        return m;
      }
      ++walked;
      m = m->next;
    } while (m != head);
  }
  nlsMsg* read = ReadMsg(msgNum, secondary);
  if (read == nullptr && !secondary) read = ReadMsg(msgNum, true);
  if (read != nullptr) {
    if (walked >= st->cacheLimit && head != nullptr) {
      nlsMsg* tail = head->prev;
      unlink(tail, head);
      KX_FREE(tail);
    }
    pushHead(read, head);
  }
  st->useSecondary = 0;
  return read;
}

void nlsReleaseCaches() {
  if (nlsState == nullptr) return;
  for (nlsMsg*& head : nlsState->cacheHead) {
    while (head != nullptr) {
      nlsMsg* m = head;
      unlink(m, head);
      KX_FREE(m);
    }
  }
}
