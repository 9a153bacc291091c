// The statements of a trace channel; see tracechannel.h.
#include "platform/tracechannel.h"

void TraceChannel::line(const char* source, int32_t at, const char* format, ...) const {
  if (traceLine == nullptr) return;
  va_list args;
  va_start(args, format);
  traceLine(source, at, format, args);
  va_end(args);
}

void TraceChannel::error(const char* source, int32_t at, const char* format, ...) const {
  if (errorReport == nullptr) return;
  va_list args;
  va_start(args, format);
  errorReport(source, at, classFlag == nullptr ? 0 : *classFlag, format, args);
  va_end(args);
}
