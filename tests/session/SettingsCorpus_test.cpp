#include "fuzz/SettingsFuzzOne.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

// Every input the settings fuzzer keeps as a seed (real settings files, damaged and mistyped ones)
// must read, write and load into a document without losing anything between two saves.
TEST(SettingsCorpus, EverySeedReadsAndSavesStably) {
  const QDir corpus(Test_SourcePath(QStringLiteral("fuzz/corpus/settings")));
  const QStringList files = corpus.entryList(QDir::Files, QDir::Name);
  ASSERT_GE(files.size(), 5);
  for (const QString& name : files) {
    QFile file(corpus.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray data = file.readAll();
    EXPECT_TRUE(Fuzz_SettingsOne(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<size_t>(data.size())))
        << name.toStdString();
  }
}
