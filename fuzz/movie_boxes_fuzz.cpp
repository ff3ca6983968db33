// libFuzzer target: see fuzz/MovieBoxesFuzzOne.h for what every input must satisfy.

#include "fuzz/MovieBoxesFuzzOne.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!Fuzz_MovieBoxesOne(data, size)) abort();
  return 0;
}
