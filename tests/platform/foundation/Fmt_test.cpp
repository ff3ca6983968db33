#include "platform/foundation/Fmt.h"

#include <gtest/gtest.h>

#include <functional>

namespace {
struct Case {
  const char* name;
  std::function<QString()> make;
  const char* expected;
};
}  // namespace

TEST(Fmt, ConversionsMatchTheCLibrary) {
  const Case cases[] = {
      {"int", [] { return Fmt("%d", 42); }, "42"},
      {"negative", [] { return Fmt("%i", -7); }, "-7"},
      {"long", [] { return Fmt("%ld", 1234567890123L); }, "1234567890123"},
      {"long long", [] { return Fmt("%lld", -9LL); }, "-9"},
      {"unsigned", [] { return Fmt("%u %lu", 3u, 4ul); }, "3 4"},
      {"hex", [] { return Fmt("%x %lX", 255, 48879L); }, "ff BEEF"},
      {"zero padded", [] { return Fmt("%02ld:%02d:%03d", 5L, 9, 42); }, "05:09:042"},
      {"width", [] { return Fmt("[%5d][%-5d]", 12, 12); }, "[   12][12   ]"},
      {"negative zero pad", [] { return Fmt("%05d", -42); }, "-0042"},
      {"float default", [] { return Fmt("%f", 1.5); }, "1.500000"},
      {"float precision", [] { return Fmt("%.2f %.0f %.3lf", 3.14159, 2.5, 1.0); }, "3.14 2 1.000"},
      {"float width", [] { return Fmt("%6.2f|%06.2f", 3.14159, -3.14159); }, "  3.14|-03.14"},
      {"string", [] { return Fmt("%s and %@", "C text", QStringLiteral("object")); }, "C text and object"},
      {"percent", [] { return Fmt("100%% sure"); }, "100% sure"},
      {"object number", [] { return Fmt("%@", QVariant(12)); }, "12"},
      {"unicode", [] { return Fmt("%@ – %d", QStringLiteral("Müller"), 1); }, "Müller – 1"},
      {"star width", [] { return Fmt("%*d", 4, 7); }, "   7"},
      {"precision string", [] { return Fmt("%.3s", "abcdef"); }, "abc"},
      {"bool", [] { return Fmt("%d", true); }, "1"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.make().toStdString(), c.expected) << c.name;
}

TEST(Fmt, HostileFormatsGiveDefinedText) {
  const Case cases[] = {
      {"missing object", [] { return Fmt("%@ and %@", QStringLiteral("one")); }, "one and (null)"},
      {"missing number", [] { return Fmt("%d|%s"); }, "0|(null)"},
      {"string to integer", [] { return Fmt("%d", QStringLiteral("twelve")); }, "twelve"},
      {"number to object", [] { return Fmt("%@", 2.5); }, "2.5"},
      {"unknown conversion", [] { return Fmt("%k%d", 3); }, "%k3"},
      {"trailing percent", [] { return Fmt("50%"); }, "50%"},
      {"dangling modifiers", [] { return Fmt("x%l"); }, "x%l"},
      {"pointer-reading %n", [] { return Fmt("%n%s", 1); }, "%n1"},
      {"null text", [] { return Fmt("%s", static_cast<const char*>(nullptr)); }, "(null)"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.make().toStdString(), c.expected) << c.name;
}

TEST(Fmt, HugeWidthIsClampedNotAllocated) {
  const QString out = Fmt("%999999999d", 1);
  EXPECT_LE(out.size(), 4096);
  EXPECT_TRUE(out.endsWith(QLatin1Char('1')));
}
