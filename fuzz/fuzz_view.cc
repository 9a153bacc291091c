// libFuzzer target: any file image through the open, the counting walk,
// Find and List.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_main.h"
#include "harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return jbbfuzz::initialiseTarget("view"); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  jbbfuzz::reportFailure(jbbfuzz::runView(data, size, jbbfuzz::targetPath(), jbbfuzz::kCheckOneIn));
  return 0;
}
