#include "platform/foundation/ZipFile.h"

#include "support/TestSupport.h"
#include "support/ZipTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>

namespace {
// The reason of the ZipException the call throws; empty when it throws none.
QString reasonOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const ZipException& e) {
    return e.reason();
  }
  return {};
}

struct Entry {
  QString name;
  int level;
  QByteArray data;
};

QByteArray randomBytes(int size) {
  QByteArray bytes(size, '\0');
  QRandomGenerator generator(42);
  for (char& c : bytes) c = static_cast<char>(generator.bounded(256));
  return bytes;
}

QByteArray readWholeEntry(ZipFile& zip) {
  auto stream = zip.readCurrentFileInZip();
  QByteArray all, buffer(4096, '\0');
  while (const quint64 n = stream->readDataWithBuffer(buffer)) all += buffer.left(static_cast<qsizetype>(n));
  // At the end it keeps answering 0.
  EXPECT_EQ(stream->readDataWithBuffer(buffer), 0u);
  stream->finishedReading();
  return all;
}
}  // namespace

TEST(ZipFile, WrongModesAndMissingArchivesThrowWithTheirReasons) {
  const QString folder = Test_MakeTempDir(QStringLiteral("zip"));
  const QString path = folder + QStringLiteral("/a.zip");
  EXPECT_EQ(reasonOf([&] { ZipFile zip(path, 3); }), QStringLiteral("Unknown mode 3"));
  EXPECT_FALSE(QFileInfo::exists(path)) << "nothing is opened for an unknown mode";
  EXPECT_EQ(reasonOf([&] { ZipFile zip(path, ZipFile::ZipFileModeUnzip); }), QStringLiteral("Can't open '%1'").arg(path));

  ZipFile created(folder + QStringLiteral("/b.zip"), ZipFile::ZipFileModeCreate);
  for (const auto& read : std::initializer_list<std::function<void()>>{
           [&] { created.numFilesInZip(); }, [&] { created.goToFirstFileInZip(); },
           [&] { created.goToNextFileInZip(); }, [&] { created.locateFileInZip(QStringLiteral("x")); },
           [&] { created.getCurrentFileInZipInfo(); }, [&] { created.readCurrentFileInZip(); }})
    EXPECT_EQ(reasonOf(read), QStringLiteral("Operation not permitted without Unzip mode"));
  created.close();

  // Opened for unzipping, an archive refuses writing.
  {
    ZipFile one(path, ZipFile::ZipFileModeCreate);
    one.writeFileInZipWithName(QStringLiteral("one.txt"), 9)->finishedWriting();
    one.close();
  }
  ZipFile opened(path, ZipFile::ZipFileModeUnzip);
  EXPECT_EQ(reasonOf([&] { opened.writeFileInZipWithName(QStringLiteral("x"), 9); }),
            QStringLiteral("Operation not permitted with Unzip mode"));
  opened.close();

  // A file that is no zip does not open; a failure from minizip carries its code.
  QFile junk(folder + QStringLiteral("/junk.zip"));
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write(QByteArray(100, 'x'));
  junk.close();
  EXPECT_EQ(reasonOf([&] { ZipFile zip(junk.fileName(), ZipFile::ZipFileModeUnzip); }),
            QStringLiteral("Can't open '%1'").arg(junk.fileName()));
}

TEST(ZipFile, EntriesWrittenAtEveryLevelReadBackHereAndInPython) {
  const QString path = Test_MakeTempDir(QStringLiteral("zip")) + QStringLiteral("/levels.zip");
  const QByteArray text = QByteArray("12:00:00:000 a log line that repeats\n").repeated(2000);
  const QList<Entry> entries = {{QStringLiteral("best.txt"), 9, text},
                                {QStringLiteral("stored.bin"), 0, randomBytes(200000)},
                                {QStringLiteral("fastest.txt"), 1, text},
                                {QStringLiteral("default.txt"), -1, text},
                                {QStringLiteral("empty.txt"), 9, QByteArray()},
                                {QStringLiteral("Debug_Logs/20261206/Spiel ü.log"), 9, QByteArray("ä\n")}};
  // Zip times have two-second steps.
  const QDateTime date(QDate(2026, 12, 6), QTime(17, 5, 8));
  {
    ZipFile zip(path, ZipFile::ZipFileModeCreate);
    for (const Entry& entry : entries) {
      auto stream = zip.writeFileInZipWithName(entry.name, date, entry.level);
      // In two pieces, as a file is copied.
      stream->writeData(entry.data.left(entry.data.size() / 2));
      stream->writeData(entry.data.mid(entry.data.size() / 2));
      stream->finishedWriting();
    }
    zip.close();
  }

  QString error;
  const QList<QVariantMap> python = Test_PythonZipEntries(path, &error);
  ASSERT_EQ(python.size(), entries.size()) << error.toStdString();
  for (int i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i].name.toStdString());
    const QVariantMap& seen = python[i];
    EXPECT_EQ(seen.value("name").toString(), entries[i].name);
    EXPECT_EQ(seen.value("data").toByteArray(), entries[i].data);
    EXPECT_EQ(seen.value("compress_type").toInt(), entries[i].level == 0 ? 0 : 8);
    // Bits 1-2 of the flag say the level: 01 best, 11 fastest, 00 default.
    const int levelBits = (seen.value("flag_bits").toInt() >> 1) & 3;
    EXPECT_EQ(levelBits, entries[i].level == 9 ? 1 : entries[i].level == 1 ? 3 : 0);
    EXPECT_EQ(seen.value("date_time").toString(), QStringLiteral("2026-12-06 17:05:08"));
  }

  // The common unzip lists the names as written (UTF-8 ones too) and extracts files its user can read.
  QProcess unzip;
  unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), path});
  ASSERT_TRUE(unzip.waitForFinished(30000));
  QStringList listed = QString::fromUtf8(unzip.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  QStringList written;
  for (const Entry& entry : entries) written << entry.name;
  EXPECT_EQ(listed.join(QLatin1Char('\n')).toStdString(), written.join(QLatin1Char('\n')).toStdString());
  const QString out = Test_MakeTempDir(QStringLiteral("unzipped"));
  unzip.start(QStringLiteral("unzip"), {QStringLiteral("-q"), path, QStringLiteral("-d"), out});
  ASSERT_TRUE(unzip.waitForFinished(30000));
  EXPECT_EQ(unzip.exitCode(), 0) << unzip.readAllStandardError().toStdString();
  for (const Entry& entry : entries) {
    QFile extracted(out + QLatin1Char('/') + entry.name);
    EXPECT_TRUE(extracted.permissions().testFlag(QFileDevice::ReadOwner)) << entry.name.toStdString();
    ASSERT_TRUE(extracted.open(QIODevice::ReadOnly)) << entry.name.toStdString();
    EXPECT_EQ(extracted.readAll(), entry.data);
  }

  ZipFile zip(path, ZipFile::ZipFileModeUnzip);
  ASSERT_EQ(zip.numFilesInZip(), static_cast<quint64>(entries.size()));
  const QList<FileInZipInfo> infos = zip.listFileInZipInfos();
  ASSERT_EQ(infos.size(), entries.size());
  for (int i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(infos[i].name(), entries[i].name);
    EXPECT_EQ(infos[i].length(), static_cast<quint64>(entries[i].data.size()));
    EXPECT_EQ(infos[i].level(), entries[i].level);
    EXPECT_FALSE(infos[i].crypted());
    EXPECT_EQ(infos[i].date(), date);
    EXPECT_EQ(infos[i].crc32(), crc32(0, reinterpret_cast<const Bytef*>(entries[i].data.constData()), static_cast<uInt>(entries[i].data.size())));
  }
  EXPECT_LT(infos[0].size(), infos[0].length() / 10) << "a repetitive log compresses";
  // The list leaves the last entry current: there is no next one.
  EXPECT_FALSE(zip.goToNextFileInZip());
  EXPECT_FALSE(zip.locateFileInZip(QStringLiteral("BEST.txt"))) << "names compare case-sensitively";
  EXPECT_FALSE(zip.locateFileInZip(QStringLiteral("missing.txt")));
  ASSERT_TRUE(zip.locateFileInZip(QStringLiteral("stored.bin")));
  EXPECT_EQ(readWholeEntry(zip), entries[1].data);
  zip.goToFirstFileInZip();
  EXPECT_EQ(readWholeEntry(zip), text);
  zip.close();
}

// An archive closed with nothing written into it (a crash-log archive of a folder without logs) is the
// end record alone, 22 bytes, which the system's minizip will not open.
TEST(ZipFile, AnArchiveClosedWithoutEntriesReadsBackEmptyHereAndInUnzip) {
  const QString folder = Test_MakeTempDir(QStringLiteral("zip"));
  const QString path = folder + QStringLiteral("/empty.zip");
  ZipFile(path, ZipFile::ZipFileModeCreate).close();
  ASSERT_EQ(QFileInfo(path).size(), 22);

  ZipFile zip(path, ZipFile::ZipFileModeUnzip);
  EXPECT_EQ(zip.numFilesInZip(), 0u);
  EXPECT_TRUE(zip.listFileInZipInfos().isEmpty());
  EXPECT_FALSE(zip.goToNextFileInZip());
  EXPECT_FALSE(zip.locateFileInZip(QStringLiteral("any.log")));
  // There is no entry to stand on: each says so with minizip's end-of-list code.
  const struct {
    const char* reason;
    std::function<void()> call;
  } noEntry[] = {{"Error in going to first file in zip in '%1'", [&] { zip.goToFirstFileInZip(); }},
                 {"Error in getting current file info in '%1'", [&] { zip.getCurrentFileInZipInfo(); }},
                 {"Error in getting current file info in '%1'", [&] { zip.readCurrentFileInZip(); }}};
  for (const auto& row : noEntry) {
    try {
      row.call();
      ADD_FAILURE() << row.reason << ": nothing thrown";
    } catch (const ZipException& e) {
      EXPECT_EQ(e.reason(), QString::fromLatin1(row.reason).arg(path));
      EXPECT_EQ(e.error(), -100);
    }
  }
  EXPECT_EQ(reasonOf([&] { zip.close(); }), QString());

  // The common unzip lists it as empty: a warning (exit 1), where a damaged archive is an error (9).
  QProcess unzip;
  unzip.start(QStringLiteral("unzip"), {QStringLiteral("-l"), path});
  ASSERT_TRUE(unzip.waitForFinished(30000));
  EXPECT_EQ(unzip.exitCode(), 1);
  EXPECT_TRUE(unzip.readAllStandardError().contains("zipfile is empty"));
  QString error;
  EXPECT_TRUE(Test_PythonZipEntries(path, &error).isEmpty());
  EXPECT_TRUE(error.isEmpty()) << error.toStdString();

  // Only that exact record counts as empty: a record that claims entries or a directory, or has more
  // after it, still does not open.
  QFile record(path);
  ASSERT_TRUE(record.open(QIODevice::ReadOnly));
  const QByteArray empty = record.readAll();
  const struct {
    const char* name;
    int offset;
    QByteArray bytes;
  } damaged[] = {{"one entry on this disk", 8, QByteArray("\x01", 1)},
                 {"one entry in all", 10, QByteArray("\x01", 1)},
                 {"a directory size", 12, QByteArray("\x2e", 1)},
                 {"a directory offset", 16, QByteArray("\x01", 1)},
                 {"another signature", 2, QByteArray("\x01\x02", 2)},
                 {"a byte more", 22, QByteArray(1, '\0')}};
  for (const auto& row : damaged) {
    SCOPED_TRACE(row.name);
    QByteArray bytes = empty;
    bytes.replace(row.offset, row.bytes.size(), row.bytes);
    ASSERT_EQ(bytes.size(), std::max<qsizetype>(22, row.offset + row.bytes.size()));
    const QString damagedPath = folder + QStringLiteral("/damaged.zip");
    QFile file(damagedPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    EXPECT_EQ(reasonOf([&] { ZipFile opened(damagedPath, ZipFile::ZipFileModeUnzip); }),
              QStringLiteral("Can't open '%1'").arg(damagedPath));
  }
}

TEST(ZipFile, AppendsToAnArchiveAndRefusesPasswords) {
  const QString path = Test_MakeTempDir(QStringLiteral("zip")) + QStringLiteral("/append.zip");
  {
    ZipFile zip(path, ZipFile::ZipFileModeCreate);
    auto stream = zip.writeFileInZipWithName(QStringLiteral("first.txt"), 9);
    stream->writeData("first");
    stream->finishedWriting();
    zip.close();
  }
  {
    ZipFile zip(path, ZipFile::ZipFileModeAppend);
    auto stream = zip.writeFileInZipWithName(QStringLiteral("second.txt"), 0);
    stream->writeData("second");
    stream->finishedWriting();
    // The library would flag the entry as encrypted and leave it unreadable: nothing is started.
    EXPECT_EQ(reasonOf([&] { zip.writeFileInZipWithName(QStringLiteral("secret.txt"), QDateTime::currentDateTime(), 9, QStringLiteral("pw"), 1); }),
              QStringLiteral("Error in opening 'secret.txt' in zipfile"));
    zip.close();
  }
  QString error;
  const QList<QVariantMap> python = Test_PythonZipEntries(path, &error);
  ASSERT_EQ(python.size(), 2) << error.toStdString();
  EXPECT_EQ(python[0].value("data").toByteArray(), QByteArray("first"));
  EXPECT_EQ(python[1].value("data").toByteArray(), QByteArray("second"));
  ZipFile zip(path, ZipFile::ZipFileModeUnzip);
  ASSERT_TRUE(zip.locateFileInZip(QStringLiteral("second.txt")));
  EXPECT_FALSE(zip.goToNextFileInZip()) << "the last entry has no next one";
  EXPECT_EQ(reasonOf([&] { zip.readCurrentFileInZipWithPassword(QStringLiteral("pw")); }),
            QStringLiteral("Error in opening current file in '%1'").arg(path));
  zip.close();
}

TEST(ZipFile, AnArchiveLeftOpenIsClosedWhenItGoes) {
  const QString path = Test_MakeTempDir(QStringLiteral("zip")) + QStringLiteral("/left-open.zip");
  {
    ZipFile zip(path, ZipFile::ZipFileModeCreate);
    auto stream = zip.writeFileInZipWithName(QStringLiteral("written.txt"), 9);
    stream->writeData("kept");
    stream->finishedWriting();
    // An entry left half-written, then the archive dropped without close().
    zip.writeFileInZipWithName(QStringLiteral("half.txt"), 9)->writeData("half");
  }
  QString error;
  const QList<QVariantMap> python = Test_PythonZipEntries(path, &error);
  ASSERT_FALSE(python.isEmpty()) << error.toStdString();
  EXPECT_EQ(Test_ZipEntry(python, QStringLiteral("written.txt")).value("data").toByteArray(), QByteArray("kept"));
}
