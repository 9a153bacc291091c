// libFuzzer target: a file image and a sequence of Del requests read from
// the input's first bytes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_main.h"
#include "harness.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return jbbfuzz::initialiseTarget("delete"); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  jbbfuzz::reportFailure(jbbfuzz::runDelete(data, size, jbbfuzz::targetPath(), jbbfuzz::kCheckOneIn));
  return 0;
}
