// Byte counts, intervals and dates as the viewer shows them.
#include "viewer/textfmt.h"

#include <cstdio>
#include <cstring>

#include "platform/os.h"

// Shown where a date would be, so that an unusable stored time is visible
// rather than silently blank.
const char kBadDateText[] = "(invalid date)\n";

char* formatSize(uint64_t v, char* buf) {
  static const char* const kUnits[] = {"Byte", "KB", "MB", "GB", "TB", "PB"};
  int step = 0;
  while (step < 5 && v >= (uint64_t(1) << (10 * (step + 1)))) ++step;
  if (step == 0) {
    std::snprintf(buf, 64, "%llu %s%c", static_cast<unsigned long long>(v), kUnits[0], v > 1 ? 's' : ' ');
  } else {
    std::snprintf(buf, 64, "%llu %s (%llu Bytes)", static_cast<unsigned long long>(v >> (10 * step)), kUnits[step],
                  static_cast<unsigned long long>(v));
  }
  return buf;
}

char* formatElapsed(char* buf, int32_t start, int32_t end) {
  // The clock wraps; the difference is taken in 32 bits like the readings.
  int32_t d = int32_t(uint32_t(end) - uint32_t(start));
  if (d == 0) {
    std::snprintf(buf, kElapsedTextSize, "< 1 ms");
    return buf;
  }
  int minutes = 0;
  long seconds = 0;
  long millis = d;
  if (d >= 1000) {
    seconds = d / 1000;
    millis = d - 1000L * seconds;
    if (seconds >= 60) {
      minutes = int(seconds / 60);
      seconds -= 60L * minutes;
    }
  }
  std::snprintf(buf, kElapsedTextSize, "%02d:%02ld:%03ld", minutes, seconds, millis);
  return buf;
}

char* dateText(int64_t seconds, char* buf) {
  if (!osCtime64(seconds, buf, kDateTextSize)) std::strcpy(buf, kBadDateText);
  return buf;
}

char* dateTextLine(int64_t seconds, char* buf) {
  dateText(seconds, buf);
  size_t n = std::strlen(buf);
  if (n > 0 && buf[n - 1] == '\n') buf[n - 1] = '\0';
  return buf;
}
