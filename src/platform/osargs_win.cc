// osargs on Windows: the UTF-16 command line, converted to UTF-8.
#include <windows.h>

#include <shellapi.h>

#include "platform/osargs.h"

namespace {

std::string narrow(UINT page, const wchar_t* wide, int units) {
  if (units == 0) return std::string();
  int n = WideCharToMultiByte(page, 0, wide, units, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(page, 0, wide, units, &out[0], n, nullptr, nullptr);
  return out;
}

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &out[0], n);
  return out;
}

}  // namespace

std::vector<std::string> osArgumentsUtf8(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  // The wide command line is parsed by the same rules as the runtime's
  // argv; should the two ever disagree on the count, argv is kept.
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) LocalFree(wide);
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(narrow(CP_UTF8, wide[i], int(wcslen(wide[i]))));
  LocalFree(wide);
  return args;
}

std::string osNativePath(const std::string& utf8) {
  std::wstring wide = widen(utf8);
  return narrow(CP_ACP, wide.data(), int(wide.size()));
}
