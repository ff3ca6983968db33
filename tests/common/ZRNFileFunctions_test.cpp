#include "common/ZRNFileFunctions.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/system/FileAttributes.h"
#include "platform/system/ProcessIdentity.h"
#include "tests/app/AppTestSupport.h"
#include "support/FileFaults.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTimeZone>
#include <QUuid>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
void touch(const QString& path, const QByteArray& bytes = QByteArray()) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
  file.write(bytes);
}

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

QString uniqueBase() { return QStringLiteral("VelmoraTest") + QUuid::createUuid().toString(QUuid::Id128).left(10); }
}  // namespace

TEST(FileFunctions, UniqueNamesTakeTheFirstFreeNumberedVariant) {
  struct Case {
    const char* name;
    QStringList files;
    QStringList folders;
    const char* asked;
    const char* expected;
  };
  const Case cases[] = {
      {"free name", {}, {}, "Match.mov", "Match.mov"},
      {"taken file", {"Match.mov"}, {}, "Match.mov", "Match_1.mov"},
      {"gap is used", {"Match.mov", "Match_2.mov"}, {}, "Match.mov", "Match_1.mov"},
      {"folder without extension", {}, {"Clips"}, "Clips", "Clips_1"},
      {"folder takes a file's name", {}, {"bufBadge.png"}, "bufBadge.png", "bufBadge_1.png"},
      {"badge in the temporary folder", {"bufBadge.png", "bufBadge_1.png"}, {}, "bufBadge.png", "bufBadge_2.png"},
      {"only the last extension counts", {"archive.tar.gz"}, {}, "archive.tar.gz", "archive.tar_1.gz"},
      {"leading dot is no extension", {".hidden"}, {}, ".hidden", ".hidden_1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString folder = Test_MakeTempDir(QStringLiteral("unique"));
    for (const QString& f : c.files) touch(folder + QLatin1Char('/') + f);
    for (const QString& d : c.folders) ASSERT_TRUE(QDir(folder).mkdir(d));
    const QString asked = QString::fromUtf8(c.asked);
    const QString expected = QString::fromUtf8(c.expected);
    EXPECT_EQ(File_UniqueFileName(folder, asked), expected);
    EXPECT_EQ(File_UniquePath(folder, asked, false), folder + QLatin1Char('/') + expected);
    // Asking creates nothing.
    EXPECT_EQ(entries(folder).size(), c.files.size() + c.folders.size());
  }
}

TEST(FileFunctions, UniquePathAndSessionFolderCreateWhatTheyAnswer) {
  const QString folder = Test_MakeTempDir(QStringLiteral("create"));
  ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("Clips")));
  // A dangling link still holds its name.
  ASSERT_EQ(symlink("/nonexistent/target", QFile::encodeName(folder + QStringLiteral("/Link.mov")).constData()), 0);
  EXPECT_EQ(File_UniqueFileName(folder, QStringLiteral("Link.mov")), QStringLiteral("Link_1.mov"));

  const QString made = File_UniquePath(folder, QStringLiteral("Clips"), true);
  EXPECT_EQ(made, folder + QStringLiteral("/Clips_1"));
  EXPECT_TRUE(QFileInfo(made).isDir());
  // Without intermediate folders a missing parent is a failure.
  EXPECT_TRUE(File_UniquePath(folder + QStringLiteral("/missing"), QStringLiteral("X"), true).isEmpty());
  EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/missing")));

  // Reuse answers the existing folder; no reuse makes the next free one.
  EXPECT_EQ(File_MakeSessionFolder(folder, QStringLiteral("Clips"), true), folder + QStringLiteral("/Clips"));
  EXPECT_EQ(File_MakeSessionFolder(folder, QStringLiteral("Clips"), false), folder + QStringLiteral("/Clips_2"));
  // The session folder is made with its parents.
  EXPECT_TRUE(QFileInfo(File_MakeSessionFolder(folder + QStringLiteral("/a/b"), QStringLiteral("Game Clips"), true)).isDir());
  // Below a regular file nothing can be made.
  touch(folder + QStringLiteral("/plain"));
  EXPECT_TRUE(File_MakeSessionFolder(folder + QStringLiteral("/plain"), QStringLiteral("Clips"), true).isEmpty());
}

TEST(FileFunctions, TempFileURLPassesOverItemsOfTheSameKindOnly) {
  const QString temp = StandardLocations::tempPath();
  const QString base = uniqueBase();
  const auto path = [&](const QString& name) { return temp + QLatin1Char('/') + name; };

  EXPECT_EQ(File_TempFileURL(base, QStringLiteral("mov"), false), QUrl::fromLocalFile(path(base + QStringLiteral(".mov"))));

  // A folder holds the name: a file may still take it, a folder may not.
  ASSERT_TRUE(QDir().mkdir(path(base + QStringLiteral(".mov"))));
  EXPECT_EQ(File_TempFileURL(base, QStringLiteral("mov"), false), QUrl::fromLocalFile(path(base + QStringLiteral(".mov"))));
  EXPECT_EQ(File_TempFileURL(base, QStringLiteral("mov"), true), QUrl::fromLocalFile(path(base + QStringLiteral("_1.mov"))));

  // A file holds the name: the other way round.
  touch(path(base + QStringLiteral(".vlvidcapb")));
  touch(path(base + QStringLiteral("_1.vlvidcapb")));
  EXPECT_EQ(File_TempFileURL(base, QStringLiteral("vlvidcapb"), true),
            QUrl::fromLocalFile(path(base + QStringLiteral(".vlvidcapb"))));
  EXPECT_EQ(File_TempFileURL(base, QStringLiteral("vlvidcapb"), false),
            QUrl::fromLocalFile(path(base + QStringLiteral("_2.vlvidcapb"))));
}

TEST(FileFunctions, SessionPackageTakesAFreeNameAndCarriesItsFlags) {
  const QString folder = Test_MakeTempDir(QStringLiteral("package"));
  const QUrl chosen = QUrl::fromLocalFile(folder + QStringLiteral("/Final.mov"));

  const QUrl first = File_MakeSessionPackage(chosen, QStringLiteral("vlvidcapb"));
  EXPECT_EQ(first, QUrl::fromLocalFile(folder + QStringLiteral("/Final.vlvidcapb")));
  const QUrl second = File_MakeSessionPackage(chosen, QStringLiteral("vlvidcapb"));
  EXPECT_EQ(second, QUrl::fromLocalFile(folder + QStringLiteral("/Final_1.vlvidcapb")));
  for (const QUrl& url : {first, second}) {
    EXPECT_TRUE(QFileInfo(url.toLocalFile()).isDir());
    EXPECT_EQ(FileAttributes_Xattr(url.toLocalFile(), QString::fromLatin1(kFile_PackageXattr)), QByteArray("1"));
    EXPECT_EQ(FileAttributes_Xattr(url.toLocalFile(), QString::fromLatin1(kFile_HiddenExtensionXattr)), QByteArray("1"));
  }

  // The chosen file's folder is made when missing, but not its parents.
  const QUrl inNewFolder = File_MakeSessionPackage(QUrl::fromLocalFile(folder + QStringLiteral("/New/Game.x.mp4")),
                                                   QStringLiteral("vlvidcapb"));
  EXPECT_EQ(inNewFolder, QUrl::fromLocalFile(folder + QStringLiteral("/New/Game.x.vlvidcapb")));
  EXPECT_TRUE(File_MakeSessionPackage(QUrl::fromLocalFile(folder + QStringLiteral("/a/b/Game.mov")), QStringLiteral("vlvidcapb"))
                  .isEmpty());
}

TEST(FileFunctions, SettingsPlistIsReadBackByLibplistAndPlistlib) {
  const QString folder = Test_MakeTempDir(QStringLiteral("settings"));
  const QDateTime when(QDate(2024, 5, 17), QTime(18, 30, 5), QTimeZone::utc());
  const QVariantMap settings{
      {QStringLiteral("VLCaptureMacOS"), QStringLiteral("6.1.0")},
      {QStringLiteral("name"), QStringLiteral("Derby \u00e9t\u00e9 <1>")},
      {QStringLiteral("fps"), 29.97},
      {QStringLiteral("width"), 1920},
      {QStringLiteral("audio"), true},
      {QStringLiteral("created"), when},
      {QStringLiteral("tags"), QVariantList{QVariantMap{{QStringLiteral("tagTitle"), QStringLiteral("inPoint")},
                                                        {QStringLiteral("tagMillis"), 12500}}}},
  };
  File_WriteSettings(QUrl::fromLocalFile(folder), QStringLiteral("VLSettings"), QStringLiteral("plist"), settings);
  const QString path = folder + QStringLiteral("/VLSettings.plist");
  EXPECT_EQ(entries(folder), QStringList{QStringLiteral("VLSettings.plist")});

  const QVariantMap back = PropertyList_ReadFile(path).toMap();
  EXPECT_EQ(back.value(QStringLiteral("name")).toString(), settings.value(QStringLiteral("name")).toString());
  EXPECT_DOUBLE_EQ(back.value(QStringLiteral("fps")).toDouble(), 29.97);
  EXPECT_EQ(back.value(QStringLiteral("created")).toDateTime(), when);
  EXPECT_EQ(back.value(QStringLiteral("tags")).toList().value(0).toMap().value(QStringLiteral("tagMillis")).toLongLong(), 12500);

  // A second reader that shares no code with ours.
  QProcess python;
  python.start(QStringLiteral("python3"),
               {QStringLiteral("-c"),
                QStringLiteral("import plistlib,json,sys\n"
                               "d=plistlib.load(open(sys.argv[1],'rb'))\n"
                               "d['created']=d['created'].strftime('%Y-%m-%dT%H:%M:%S')\n"
                               "print(json.dumps(d,sort_keys=True))"),
                path});
  ASSERT_TRUE(python.waitForFinished(30000));
  ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().constData();
  const QVariantMap fromPython = QJsonDocument::fromJson(python.readAllStandardOutput()).toVariant().toMap();
  EXPECT_EQ(fromPython.value(QStringLiteral("name")).toString(), settings.value(QStringLiteral("name")).toString());
  EXPECT_DOUBLE_EQ(fromPython.value(QStringLiteral("fps")).toDouble(), 29.97);
  EXPECT_EQ(fromPython.value(QStringLiteral("width")).toInt(), 1920);
  EXPECT_EQ(fromPython.value(QStringLiteral("audio")).typeId(), QMetaType::Bool);
  EXPECT_EQ(fromPython.value(QStringLiteral("created")).toString(), QStringLiteral("2024-05-17T18:30:05"));
  EXPECT_EQ(fromPython.value(QStringLiteral("tags")).toList().value(0).toMap().value(QStringLiteral("tagTitle")).toString(),
            QStringLiteral("inPoint"));
}

TEST(FileFunctions, SettingsWithAnotherExtensionOrNoFolderWriteNothing) {
  const QString folder = Test_MakeTempDir(QStringLiteral("other"));
  const QVariantMap settings{{QStringLiteral("a"), 1}};
  for (const char* extension : {"txt", "xml", "", "PLIST"})
    File_WriteSettings(QUrl::fromLocalFile(folder), QStringLiteral("VLSettings"), QString::fromLatin1(extension), settings);
  File_WriteSettings(QUrl::fromLocalFile(folder), QString(), QStringLiteral("plist"), settings);
  File_WriteSettings(QUrl(), QStringLiteral("VLSettings"), QStringLiteral("plist"), settings);
  EXPECT_TRUE(entries(folder).isEmpty());
}

TEST(FileFunctions, AFailedSettingsWriteIsLoggedAndLeavesNothingBehind) {
  ZRNLogger_Start(1);
  const QString folder = Test_MakeTempDir(QStringLiteral("failing"));
  // Tests run as root, so a read-only folder would not refuse; a regular file in the path always does.
  touch(folder + QStringLiteral("/notAFolder"), "keep");
  File_WriteSettings(QUrl::fromLocalFile(folder + QStringLiteral("/notAFolder")), QStringLiteral("VLSettings"),
                     QStringLiteral("plist"), QVariantMap{{QStringLiteral("a"), 1}});

  EXPECT_TRUE(Test_LoggedText().contains(QStringLiteral("ATT: error writing settings plist: ")));
  EXPECT_EQ(entries(folder), QStringList{QStringLiteral("notAFolder")});
  QFile kept(folder + QStringLiteral("/notAFolder"));
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), QByteArray("keep"));
  ZRNLogger_Stop();
}

TEST(FileFunctions, FolderSizeCountsAllocatedBlocksOfVisibleItems) {
  const QString folder = Test_MakeTempDir(QStringLiteral("size"));
  touch(folder + QStringLiteral("/movie.mov"), QByteArray(300000, 'm'));
  QDir(folder).mkpath(QStringLiteral("badge_resources/images"));
  touch(folder + QStringLiteral("/badge_resources/images/badge.png"), QByteArray(100000, 'b'));
  // Hidden items and whatever is inside hidden folders are not counted.
  touch(folder + QStringLiteral("/.cache"), QByteArray(2000000, 'h'));
  QDir(folder).mkdir(QStringLiteral(".hiddenFolder"));
  touch(folder + QStringLiteral("/.hiddenFolder/big"), QByteArray(2000000, 'h'));
  // A sparse file occupies far less than its length.
  QFile sparse(folder + QStringLiteral("/sparse"));
  ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.seek(50 * 1000 * 1000) && sparse.write("x", 1) == 1);
  sparse.close();
  sync();

  const int64_t bytes = File_FolderSizeBytes(QUrl::fromLocalFile(folder));
  EXPECT_GE(bytes, 400000);
  EXPECT_LT(bytes, 1000000);
  EXPECT_DOUBLE_EQ(File_FolderSizeMB(QUrl::fromLocalFile(folder)), static_cast<double>(bytes) / 1000000.0);
  EXPECT_EQ(File_FolderSizeBytes(QUrl::fromLocalFile(folder + QStringLiteral("/missing"))), 0);
}

TEST(FileFunctions, TwoDifferentSizesNeverReadAsTheSame) {
  const struct {
    qint64 part, whole;
    const char *partText, *wholeText;
  } cases[] = {
      {3099995, 3100000, "3.099995 MB", "3.100000 MB"},  // a few bytes short
      {1200000, 3100000, "1.2 MB", "3.1 MB"},
      {45000, 45003, "45.000 kB", "45.003 kB"},
      {999999, 1000000, "999.999 kB", "1.000 MB"},  // "1000.0 kB" would be the whole again
      {500, 3100000, "500 bytes", "3.1 MB"},
      {3100000, 3100000, "3.1 MB", "3.1 MB"},
  };
  for (const auto& c : cases) {
    const auto [part, whole] = File_SizeTextsApart(c.part, c.whole);
    EXPECT_EQ(part.toStdString() + " of " + whole.toStdString(), std::string(c.partText) + " of " + c.wholeText) << c.part;
  }
}

TEST(FileFunctions, ASettingsFileIsReplacedWholeOrNotAtAll) {
  // A full disk used to install an empty settings file and report success; a symbolic link in the
  // package used to have a file outside it overwritten.
  const QString folder = Test_MakeTempDir(QStringLiteral("settings"));
  const QString path = folder + QStringLiteral("/VLSettings.json");
  const QByteArray old = "{\n    \"tags\": []\n}";
  QVariantMap big;
  for (int i = 0; i < 300; ++i) big.insert(QStringLiteral("key%1").arg(i), QStringLiteral("some text to fill the file %1").arg(i));
  touch(path, old);
  {
    const Test_FileSizeLimit limit(2048);
    QString error;
    EXPECT_FALSE(File_WriteSettings(QUrl::fromLocalFile(folder), QStringLiteral("VLSettings"), QStringLiteral("json"), big, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("File too large"))) << error.toStdString();
  }
  QFile kept(path);
  ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
  EXPECT_EQ(kept.readAll(), old);
  EXPECT_EQ(entries(folder), QStringList{QStringLiteral("VLSettings.json")});

  const QString outside = Test_MakeTempDir(QStringLiteral("outside")) + QStringLiteral("/notes.txt");
  touch(outside, "mine");
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QFile::link(outside, path));
  for (const char* extension : {"json", "plist"}) {
    const QString linked = folder + QStringLiteral("/VLSettings.") + QLatin1String(extension);
    if (!QFileInfo(linked).isSymLink()) {
      ASSERT_TRUE(QFile::link(outside, linked));
    }
    EXPECT_FALSE(File_WriteSettings(QUrl::fromLocalFile(folder), QStringLiteral("VLSettings"), QLatin1String(extension), big))
        << extension;
    EXPECT_TRUE(QFileInfo(linked).isSymLink());
  }
  QFile notes(outside);
  ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
  EXPECT_EQ(notes.readAll(), QByteArray("mine"));

  ASSERT_TRUE(QFile::remove(path));
  EXPECT_TRUE(File_WriteSettings(QUrl::fromLocalFile(folder), QStringLiteral("VLSettings"), QStringLiteral("json"), big));
}

TEST(FileFunctions, OnlyTemporaryFoldersOfEndedRunsOfThisUserGo) {
  const QString temp = Test_MakeTempDir(QStringLiteral("tmp"));
  const ScopedEnvironment tmpdir("TMPDIR", QFile::encodeName(temp));
  QProcess running;
  running.start(QStringLiteral("sleep"), {QStringLiteral("600")});
  ASSERT_TRUE(running.waitForStarted(10000));
  const qint64 pid = running.processId();
  const QString outside = Test_MakeTempDir(QStringLiteral("outside"));
  touch(outside + QStringLiteral("/kept"));
  // Ids above the kernel's largest (2^22) name no process: runs that have ended. Each folder holds a file,
  // a link out of it, and the note of the run it names (none when empty).
  const struct {
    QString name;
    QString note;
    bool goes;
  } cases[] = {
      {QStringLiteral("velmora-4194401"), QStringLiteral("4194401-77"), true},
      {QStringLiteral("velmora-4194402"), {}, true},
      {QStringLiteral("velmora-1"), QStringLiteral("1-999999999999"), true},  // the id runs again, but not that run
      {QStringLiteral("velmora-%1").arg(pid), QStringLiteral("%1-%2").arg(pid).arg(Process_StartTime(pid)), false},
      {QStringLiteral("velmora-%1").arg(::getppid()), {}, false},  // an id that runs: it may be that run's
      {QStringLiteral("velmora-04194403"), {}, false},
      {QStringLiteral("Velmora-4194404.old"), {}, false},
      {QStringLiteral("velmora-4194408\n"), {}, false},
  };
  for (const auto& c : cases) {
    const QString folder = temp + QLatin1Char('/') + c.name;
    ASSERT_TRUE(QDir().mkpath(folder));
    touch(folder + QStringLiteral("/page.html"));
    ASSERT_TRUE(QFile::link(outside, folder + QStringLiteral("/elsewhere")));
    if (!c.note.isEmpty()) touch(folder + QStringLiteral("/.velmora-run"), c.note.toLatin1());
  }
  ASSERT_TRUE(QFile::link(outside, temp + QStringLiteral("/velmora-4194405")));
  touch(temp + QStringLiteral("/velmora-4194406"));
  const QString own = File_RunTemporaryFolder();
  // Another user's folder is not ours to remove (only root can make one here).
  const QString others = temp + QStringLiteral("/velmora-4194407");
  const bool haveOthers = ::geteuid() == 0 && QDir().mkpath(others) && ::chown(QFile::encodeName(others).constData(), 65534, 65534) == 0;

  File_RemoveTemporaryFoldersOfEndedRuns();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    EXPECT_EQ(QFileInfo::exists(temp + QLatin1Char('/') + c.name + QStringLiteral("/page.html")), !c.goes);
  }
  EXPECT_TRUE(QFileInfo(temp + QStringLiteral("/velmora-4194405")).isSymLink() && QFileInfo(temp + QStringLiteral("/velmora-4194406")).isFile());
  EXPECT_TRUE(QFileInfo(own).isDir());
  EXPECT_TRUE(!haveOthers || QFileInfo(others).isDir());
  EXPECT_EQ(entries(outside), QStringList{QStringLiteral("kept")}) << "nothing was followed";
  running.kill();
  running.waitForFinished(10000);
}
