// The libFuzzer entry of one fuzzer executable; the build names the target function.

#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return LODESTAR_FUZZ_TARGET(data, size);
}
