// Code-page conversion of message texts, in place.
#include "platform/codepage.h"

#include <cstring>

#include "platform/kxmem.h"
#include "platform/os.h"

namespace {
constexpr char kSourceName[] = "psstr";
constexpr int kDefaultSourcePage = 850;   // the OEM page the texts are stored in
constexpr int kDefaultTargetPage = 1252;  // the ANSI page they are shown in
int pageOf(bool sourcePage, int fallback) {
  const int named = codePageTestPage != nullptr ? codePageTestPage(sourcePage) : 0;
  return named != 0 ? named : fallback;
}
}  // namespace

void convertCodePage(char* text) {
  const int source = pageOf(true, kDefaultSourcePage);
  const int target = pageOf(false, kDefaultTargetPage);
  if (text == nullptr || source == target) return;
  const size_t len = std::strlen(text);
  if (len == 0) return;
  auto* wide = static_cast<wchar16*>(KX_MALLOC(2 * uint64_t(len) + 2));
  if (wide == nullptr) return;
  size_t units = osCodePageToWide(source, text, len, wide, len + 1);
  if (units != SIZE_MAX) {
    size_t bytes = osWideToCodePage(target, wide, units, text, len);
    // A target page with characters of several bytes may give a shorter
    // text; it ends there, not in the old text's remains.
    if (bytes != SIZE_MAX && bytes < len) text[bytes] = '\0';
  }
  KX_FREE(wide);
}

int (*codePageTestPage)(bool sourcePage) = nullptr;
