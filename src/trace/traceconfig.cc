// Set-up of the trace state and of class flags by name; see traceconfig.h.
#include "trace/traceconfig.h"

#include <cctype>
#include <cstring>

#include "platform/kxmem.h"

namespace {
constexpr char kSourceName[] = "trace";
// Groups may name groups; this bounds a cycle among them.
constexpr int kMaxGroupDepth = 8;
constexpr size_t kNameMax = 64;

bool sameName(const char* a, size_t n, const char* b) {
  if (std::strlen(b) != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

unsigned char* findClass(const char* name, size_t n) {
  for (int i = 0; traceClassTable[i].name != nullptr; ++i)
    if (sameName(name, n, traceClassTable[i].name)) return traceClassTable[i].flag;
  return nullptr;
}

const char* findGroup(const TraceGroupRow* groups, const char* name, size_t n) {
  for (int i = 0; groups != nullptr && groups[i].name != nullptr; ++i)
    if (sameName(name, n, groups[i].name)) return groups[i].members;
  return nullptr;
}

int applyList(const char* list, const TraceGroupRow* groups, unsigned char value, int depth);

// One member: "ALL", a class, or a group; value 0 turns it off.
int applyName(const char* name, size_t n, const TraceGroupRow* groups, unsigned char value, int depth) {
  if (sameName(name, n, "ALL")) {
    for (int i = 0; traceClassTable[i].name != nullptr; ++i) *traceClassTable[i].flag = value;
    return 0;
  }
  if (unsigned char* flag = findClass(name, n)) {
    *flag = value;
    return 0;
  }
  const char* members = findGroup(groups, name, n);
  if (members == nullptr || depth >= kMaxGroupDepth) return -1;
  return applyList(members, groups, value, depth + 1);
}

int applyList(const char* list, const TraceGroupRow* groups, unsigned char value, int depth) {
  const char* p = list;
  while (*p != '\0') {
    while (*p == ' ' || *p == '\t') ++p;
    const char* start = p;
    while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    size_t n = size_t(p - start);
    if (n == 0) continue;
    if (n > kNameMax) return -1;
    // "-NAME" turns off; within a group being removed everything turns off.
    bool minus = start[0] == '-';
    if (applyName(minus ? start + 1 : start, minus ? n - 1 : n, groups, minus ? 0 : value, depth) != 0) return -1;
  }
  return 0;
}
}  // namespace

TraceState* trCreateState() {
  if (traceState != nullptr) return traceState;
  auto* ts = static_cast<TraceState*>(KX_CALLOC(1, sizeof(TraceState)));
  if (ts == nullptr) return nullptr;
  ts->currentSegment = 1;
  traceState = ts;
  return ts;
}

void trDestroyState() {
  if (traceState == nullptr) return;
  trReset(true);
  trClass.ERROR = 0;
  TraceState* ts = traceState;
  traceState = nullptr;
  KX_FREE(ts);
}

int trSetClasses(const char* list, const TraceGroupRow* groups) {
  if (list == nullptr) return -1;
  return applyList(list, groups, 1, 0);
}

int trSetTestFlag(const char* name, bool set, int32_t value) {
  if (name == nullptr) return -1;
  for (int i = 0; testFlagTable[i].name != nullptr; ++i) {
    if (sameName(name, std::strlen(name), testFlagTable[i].name)) {
      testFlagTable[i].flag->set = set ? 1 : 0;
      testFlagTable[i].flag->value = set ? value : 0;
      return 0;
    }
  }
  return -1;
}
