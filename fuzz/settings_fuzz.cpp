// libFuzzer target: the JSON reader and the session document's loader on arbitrary bytes.

#include "fuzz/SettingsFuzzOne.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!Fuzz_SettingsOne(data, size)) abort();
  return 0;
}
