// Connecting the layers at a program's start; see services.h.
#include "messages/services.h"

#include <cstdint>

#include "messages/kvenls.h"
#include "messages/logutils.h"
#include "trace/trace.h"

namespace {
// The message whose text heads every error-log entry made by trError.
constexpr uint16_t kErrorLeadIn = 361;

char* errorLeadIn() { return nlsMessageTextV(kErrorLeadIn, nullptr, nullptr, nullptr); }
}  // namespace

void startServices() {
  trStart();
  trSetErrorSink(TraceErrorSink{errorLogWrite, errorLeadIn});
}
