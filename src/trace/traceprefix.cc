// The line prefix and the fixed texts of the trace headers.
#include "trace/traceprefix.h"

#include <cstdio>
#include <cstring>

#include "platform/datetime.h"
#include "platform/os.h"
#include "trace/trace.h"
#include "trace/tracestate.h"

const char* const clientTypeTags[kClientTypeTags] = {
    "[type  0     ]", "[type  1     ]", "[type  2     ]", "[type  3     ]", "[type  4     ]",
    "[type  5     ]", "[type  6     ]", "[type  7     ]", "[type  8     ]", "[type  9     ]",
    "[type 10     ]", "[type 11     ]", "[type 12     ]", "[type ?      ]",
};

namespace {
// "%m/%d/%Y %H:%M:%S.mmm " from one reading of the clock; the time text is
// cut at its first blank.
size_t putTimestamp(char* out, size_t size) {
  DateTime7 now;
  uint32_t micros = 0;
  currentDateTimeUs(now, micros);
  char date[32] = {};
  char time[32] = {};
  formatDateTime(now, date, time);
  if (char* blank = std::strchr(time, ' ')) *blank = '\0';
  int n = std::snprintf(out, size, "%s %s.%03lu ", date, time, static_cast<unsigned long>(micros / 1000));
  return n < 0 ? 0 : size_t(n);
}

size_t used(const char* s) { return std::strlen(s); }
}  // namespace

void trBuildPrefix(char* prefix, size_t prefixSize, char* extraLine, size_t extraSize) {
  prefix[0] = '\0';
  extraLine[0] = '\0';
  const TraceState* ts = traceState;
  if (trClass.TIMESTAMP) putTimestamp(prefix, prefixSize);
  if (trClass.PID) {
    size_t n = used(prefix);
    std::snprintf(prefix + n, prefixSize - n, "[%.6u] ", unsigned(osProcessId()));
  }
  if (trClass.TID && ts->threadInfoHook != nullptr) {
    char threadText[kThreadTextSize] = {};
    std::memset(extraLine, 0, extraSize);
    ts->threadInfoHook(extraLine, threadText);
    extraLine[extraSize - 1] = '\0';
    threadText[kThreadTextSize - 1] = '\0';
    size_t n = used(prefix);
    std::snprintf(prefix + n, prefixSize - n, "%s", threadText);
  }
  if (trClass.CLIENTTYPE) {
    int32_t type = ts->clientType;
    const char* tag = clientTypeTags[type >= 0 && type < kClientTypeTags - 1 ? type : kClientTypeTags - 1];
    size_t n = used(prefix);
    std::snprintf(prefix + n, prefixSize - n, "%s", tag);
  }
  if (trClass.TIMESTAMP || trClass.PID || trClass.TID) {
    size_t n = used(prefix);
    std::snprintf(prefix + n, prefixSize - n, ": ");
  }
}

const char* trBuildDate() {
  // __DATE__ is "Mmm dd yyyy"; the weekday is worked out from it.
  static char text[32];
  if (text[0] != '\0') return text;
  static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  const char* date = __DATE__;
  int month = 1;
  for (int m = 0; m < 12; ++m)
    if (std::strncmp(kMonths + 3 * m, date, 3) == 0) month = m + 1;
  int day = 0, year = 0;
  std::sscanf(date + 3, "%d %d", &day, &year);
  // Sakamoto's method: day of the week, 0 = Sunday.
  static const int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  int y = month < 3 ? year - 1 : year;
  int weekday = (y + y / 4 - y / 100 + y / 400 + kOffsets[month - 1] + day) % 7;
  std::snprintf(text, sizeof text, " %s %.3s %2d %s %d", kDays[weekday], date, day, __TIME__, year);
  return text;
}
