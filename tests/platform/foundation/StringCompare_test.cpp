#include "platform/foundation/StringCompare.h"

#include <gtest/gtest.h>

namespace {
int sign(int value) { return (value > 0) - (value < 0); }
}  // namespace

TEST(StringCompare, DigitRunsCompareByValue) {
  struct Case {
    const char* a;
    const char* b;
    int order;
  };
  const Case cases[] = {
      {"seg2.mov", "seg10.mov", -1},
      {"seg10.mov", "seg9.mov", 1},
      {"seg1.mov", "seg1.mov", 0},
      {"seg", "seg1", -1},
      {"a2b10", "a2b9", 1},
      // Longer than any integer: still by value.
      {"seg99999999999999999999999", "seg100000000000000000000000", -1},
      // Equal values with leading zeros still have an order, and keep it both ways.
      {"seg02", "seg2", -1},
      {"seg2", "seg02", 1},
      // Letters by character value: capitals first, as in a plain comparison.
      {"Seg1", "seg1", -1},
      {"seg1.mov", "seg1.mp4", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(sign(String_CompareNumeric(QString::fromUtf8(c.a), QString::fromUtf8(c.b))), c.order);
  }
}
