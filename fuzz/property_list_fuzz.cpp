// libFuzzer target: see fuzz/PropertyListFuzzOne.h for what every input must satisfy.

#include "fuzz/PropertyListFuzzOne.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!Fuzz_PropertyListOne(data, size)) abort();
  return 0;
}
