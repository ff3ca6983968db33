// libFuzzer target: see fuzz/SessionMarksFuzzOne.h for what every input must satisfy.

#include "fuzz/SessionMarksFuzzOne.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!Fuzz_SessionMarksOne(data, size)) abort();
  return 0;
}
