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

TEST(SettingsCorpus, RealSettingsFilesLoadTheirMarks) {
  QFile file(Test_SourcePath(QStringLiteral("fuzz/corpus/settings/full_session.json")));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  VLDocument doc;
  doc.loadFromDictionary(JSON_CFFromJSONData(file.readAll()).toMap());
  EXPECT_EQ(doc.tagsArray().size(), 7);
  EXPECT_EQ(doc.jobsArray().size(), 3);
  EXPECT_EQ(doc.videoFPS(), 29.97f);
  EXPECT_TRUE(doc.docCaptureDate().isValid());

  QFile older(Test_SourcePath(QStringLiteral("fuzz/corpus/settings/older_session.json")));
  ASSERT_TRUE(older.open(QIODevice::ReadOnly));
  VLDocument old;
  old.loadFromDictionary(JSON_CFFromJSONData(older.readAll()).toMap());
  EXPECT_EQ(old.segmentSeconds(), 2.0f);
  EXPECT_EQ(old.versionNum(), 0);
  EXPECT_EQ(old.captureApp(), QStringLiteral("N/A"));
}
