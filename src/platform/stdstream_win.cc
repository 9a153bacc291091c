// Standard streams on Windows.  A console hands the program the bytes typed
// in its input code page, which is not the ANSI page the C locale converts
// in (850 against 1252 in Western Europe); keys read from it are converted
// in its page.  Text for a console is written as wide characters, which it
// shows whatever its output page and whatever translation the C runtime
// would apply to bytes.  Files and pipes keep the ANSI page's bytes.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <clocale>
#include <cstdio>

#include "platform/kxmem.h"
#include "platform/os.h"
#include "platform/stdpage.h"

namespace {
constexpr char kSourceName[] = "stdstream";
constexpr int kStackUnits = 4096;
constexpr DWORD kConsoleChunk = 8192;  // units per WriteConsoleW call

HANDLE stdoutHandle() { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))); }

unsigned stdinPage() {
  bool console = osIsTerminal(stdin);
  unsigned ansiPage = GetACP();
  unsigned page = selectStreamCodePage(console, console ? GetConsoleCP() : 0, ansiPage);
  return page == ansiPage ? 0 : page;
}

// The page the C locale's multibyte text is in; the "C" locale has none of
// its own and is taken as the ANSI page.
UINT localePage() {
  UINT page = ___lc_codepage_func();
  return page != 0 ? page : CP_ACP;
}

bool writeConsoleUnits(HANDLE h, const wchar_t* units, size_t count) {
  while (count > 0) {
    DWORD chunk = count < kConsoleChunk ? DWORD(count) : kConsoleChunk;
    // A surrogate pair stays in one call.
    if (chunk < count && units[chunk - 1] >= 0xD800 && units[chunk - 1] <= 0xDBFF) --chunk;
    DWORD written = 0;
    if (!WriteConsoleW(h, units, chunk, &written, nullptr) || written == 0) return false;
    units += written;
    count -= written;
  }
  return true;
}

// The text converted from the locale's page and written to the console;
// false when that is impossible, and nothing was written.
bool writeConsole(const char* text, size_t n) {
  UINT page = localePage();
  int units = MultiByteToWideChar(page, 0, text, int(n), nullptr, 0);
  if (units <= 0) return false;
  wchar_t local[kStackUnits];
  wchar_t* wide = units <= kStackUnits ? local : static_cast<wchar_t*>(KX_MALLOC(uint64_t(units) * sizeof(wchar_t)));
  if (wide == nullptr) return false;
  bool ok = MultiByteToWideChar(page, 0, text, int(n), wide, units) == units &&
            writeConsoleUnits(stdoutHandle(), wide, size_t(units));
  if (wide != local) KX_FREE(wide);
  return ok;
}
}  // namespace

// Standard input stays the same console, or the same file, for the run.
unsigned osStdinCodePage() {
  static const unsigned page = stdinPage();
  return page;
}

int osWriteStdout(const char* text, size_t n) {
  static const bool console = osIsTerminal(stdout);
  if (n == 0) return 0;
  if (console) {
    // What the stream holds goes first, so the output keeps its order.
    std::fflush(stdout);
    if (writeConsole(text, n)) return int(n);
  }
  return std::fwrite(text, 1, n, stdout) == n ? int(n) : -1;
}

const char* osLineEndOf(FILE* stream) {
  // The mode is read by setting one and putting the old one back.
  int fd = _fileno(stream);
  if (fd < 0) return "\n";  // no descriptor behind the stream
  std::fflush(stream);
  int mode = _setmode(fd, _O_BINARY);
  if (mode == -1) return "\n";
  _setmode(fd, mode);
  return (mode & _O_TEXT) != 0 ? "\r\n" : "\n";
}

bool osWriteBytes(FILE* stream, const char* bytes, size_t n) {
  // The stream is binary only while these bytes go out.
  int fd = _fileno(stream);
  if (std::fflush(stream) != 0) return false;
  int mode = fd >= 0 ? _setmode(fd, _O_BINARY) : -1;
  bool ok = std::fwrite(bytes, 1, n, stream) == n;
  ok = std::fflush(stream) == 0 && ok;
  if (mode != -1) _setmode(fd, mode);
  return ok;
}
