// What both libFuzzer targets do around an execution: the services' start,
// where the image goes, standard output out of the way, and a failed check
// made a crash so that libFuzzer saves the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "messages/services.h"
#include "platform/os.h"

namespace jbbfuzz {

// One input in eight has its results checked (harness.h).
constexpr unsigned kCheckOneIn = 8;

inline std::string& targetPathStore() {
  static std::string path;
  return path;
}
inline const std::string& targetPath() { return targetPathStore(); }

// The services start as in the viewer.  The image goes to a file of this
// process in JBB_FUZZ_DIR (scripts/fuzz.sh gives each run its own), else
// /dev/shm (memory, no disk traffic per execution), else /tmp.  The viewer's
// output goes to the null device.
inline int initialiseTarget(const char* name) {
  startServices();
  const char* dir = std::getenv("JBB_FUZZ_DIR");
  std::string base = dir != nullptr ? dir : "";
  if (base.empty()) {
    FILE* probe = std::fopen("/dev/shm/.jbbfuzz-probe", "wb");
    base = probe != nullptr ? "/dev/shm" : "/tmp";
    if (probe != nullptr) {
      std::fclose(probe);
      std::remove("/dev/shm/.jbbfuzz-probe");
    }
  }
  targetPathStore() = base + "/jbbfuzz-" + name + "-" + std::to_string(osProcessId()) + ".jbbdb";
  if (std::freopen("/dev/null", "wb", stdout) == nullptr) std::fprintf(stderr, "stdout stays open\n");
  return 0;
}

inline void reportFailure(const std::string& failure) {
  if (failure.empty()) return;
  std::fprintf(stderr, "jbbfuzz: check failed: %s\n", failure.c_str());
  std::abort();
}

}  // namespace jbbfuzz
