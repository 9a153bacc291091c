#!/usr/bin/env bash
# Installs what the builds need and is missing (Debian packages), and
# prepares wine once.  Does nothing where everything is present.
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-x86-64-posix)
command -v wine >/dev/null || need+=(wine64 wine)
# Header-only libraries of jbbtool (JSON, command line); every build,
# the Windows one too, takes them from here.
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
[ -f /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)
# The fuzz preset: clang with libFuzzer and the sanitizer runtimes (a
# package the compiler only recommends).
fuzzer_links() {
  local dir
  dir=$(mktemp -d)
  printf '#include <cstddef>\n#include <cstdint>\nextern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n' \
    >"$dir/probe.cc"
  clang++ -fsanitize=fuzzer,address,undefined "$dir/probe.cc" -o "$dir/probe" >/dev/null 2>&1
  local rc=$?
  rm -rf "$dir"
  return $rc
}
if ! command -v clang++ >/dev/null; then
  need+=(clang libclang-rt-dev)
elif ! fuzzer_links; then
  need+=(libclang-rt-dev)
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

# The first wine start creates its prefix; do it once, before tests run in
# parallel and race to create it.
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  WINEDEBUG=-all wineboot -i >/dev/null 2>&1 || true
fi
