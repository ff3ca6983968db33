#include "fuzz/MovieBoxesFuzzOne.h"
#include "fuzz/PropertyListFuzzOne.h"
#include "fuzz/SessionMarksFuzzOne.h"
#include "fuzz/SettingsFuzzOne.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

// Every seed of every fuzz target (real files of the kind the target reads, and the inputs the fuzzers
// found worth keeping) must pass the target's checks: the fuzzers' findings stay mended.
TEST(FuzzCorpora, EverySeedPassesItsTargetsChecks) {
  const struct {
    const char* folder;
    bool (*one)(const uint8_t*, size_t);
    int atLeast;
  } corpora[] = {{"settings", Fuzz_SettingsOne, 7},
                 {"marks", Fuzz_SessionMarksOne, 4},
                 {"movies", Fuzz_MovieBoxesOne, 6},
                 {"plist", Fuzz_PropertyListOne, 7}};
  for (const auto& corpus : corpora) {
    SCOPED_TRACE(corpus.folder);
    const QDir dir(Test_SourcePath(QStringLiteral("fuzz/corpus/") + QLatin1String(corpus.folder)));
    const QStringList files = dir.entryList(QDir::Files, QDir::Name);
    EXPECT_GE(files.size(), corpus.atLeast);
    for (const QString& name : files) {
      QFile file(dir.filePath(name));
      ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
      const QByteArray data = file.readAll();
      EXPECT_TRUE(corpus.one(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<size_t>(data.size())))
          << name.toStdString();
    }
  }
}
