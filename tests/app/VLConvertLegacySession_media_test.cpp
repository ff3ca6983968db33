// Converting old session folders into session packages, with segment movies made by the ffmpeg tool and
// the joined movie read back by ffmpeg.

#include "app/VLConvertLegacySessionWC.h"

#include "app/ZRNAppMenus.h"
#include "composition/VL_ExportJobRecord.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/SysErrno.h"
#include "platform/gui/DialogRunner.h"
#include "platform/media/export/MovieSalvage.h"
#include "platform/system/ProcessIdentity.h"
#include "playback/VLPlaybackWC.h"
#include "support/MediaTestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QCryptographicHash>
#include <QtEndian>
#include <QDirIterator>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMap>
#include <QMenu>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/resource.h>

namespace {
// One segment: frames [firstFrame, firstFrame + frames) of the counting test picture, so every frame of
// every segment differs and a join can be checked frame by frame.
QString makeSegment(const QString& folder, const QString& name, int firstFrame, int frames,
                    const QString& size = QStringLiteral("320x240"), bool audio = true, bool fragmented = false) {
  const QString path = QDir(folder).filePath(name);
  QStringList args{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                   QStringLiteral("lavfi"), QStringLiteral("-i"),
                   QStringLiteral("testsrc=size=%1:rate=30,trim=start_frame=%2:end_frame=%3,setpts=PTS-STARTPTS")
                       .arg(size)
                       .arg(firstFrame)
                       .arg(firstFrame + frames)};
  if (audio)
    args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
         << QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(frames / 30.0);
  args << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset") << QStringLiteral("veryfast")
       << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p") << QStringLiteral("-g") << QStringLiteral("30");
  if (audio) args << QStringLiteral("-c:a") << QStringLiteral("aac");
  if (fragmented) args << QStringLiteral("-movflags") << QStringLiteral("frag_keyframe+empty_moov+default_base_moof");
  args << path;
  bool ok = false;
  QString errors;
  TestMovie_Run(QStringLiteral("ffmpeg"), args, &ok, &errors);
  EXPECT_TRUE(ok) << errors.toStdString();
  return path;
}

// Every item below the folder (hidden ones too) with its size and the MD5 of its bytes.
QMap<QString, QString> listingWithHashes(const QString& folder) {
  QMap<QString, QString> listing;
  QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo info(it.next());
    const QString key = QDir(folder).relativeFilePath(info.filePath());
    if (info.isDir()) {
      listing.insert(key, QStringLiteral("folder"));
      continue;
    }
    if (!info.isFile()) {  // a pipe would never answer
      listing.insert(key, QStringLiteral("special"));
      continue;
    }
    QFile file(info.filePath());
    QCryptographicHash md5(QCryptographicHash::Md5);
    if (file.open(QIODevice::ReadOnly)) md5.addData(&file);
    listing.insert(key, QStringLiteral("%1 %2").arg(info.size()).arg(QString::fromLatin1(md5.result().toHex())));
  }
  return listing;
}

QVariantMap oldSettings() {
  return {{QStringLiteral("VLCameraName"), QStringLiteral("Old Camera")},
          {QStringLiteral("VLFrameWidth"), 320},
          {QStringLiteral("VLFrameHeight"), 240},
          {QStringLiteral("VLVideoFPS"), 30.0},
          {QStringLiteral("VLCaptureAudio"), true},
          {QStringLiteral("VLInitialMillisRejected"), 500},
          {QStringLiteral("VLCaptureAppVersion"), QStringLiteral("0.9.4")}};
}

bool progressWindowShown() {
  for (QWidget* window : QApplication::topLevelWidgets())
    if (qobject_cast<VLConvertLegacySessionWC*>(window) && window->isVisible()) return true;
  return false;
}

// Answers every dialog that is not the progress window with its first button and keeps its texts, and
// whether the progress window was still on the screen beneath it.
class DialogWatcher {
 public:
  DialogWatcher() {
    m_timer.setInterval(5);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || !modal->isVisible()) return;
      if (auto* progress = qobject_cast<VLConvertLegacySessionWC*>(modal)) {
        if (onProgress) onProgress(progress);
        return;
      }
      QString texts;
      for (auto* label : modal->findChildren<QLabel*>()) texts += label->text() + QLatin1Char('\n');
      shown << texts;
      overProgress << progressWindowShown();
      if (auto* ok = modal->findChild<QPushButton*>(QStringLiteral("okBtn"))) ok->click();
    });
    m_timer.start();
  }

  QStringList shown;
  QList<bool> overProgress;
  std::function<void(VLConvertLegacySessionWC*)> onProgress;

 private:
  QTimer m_timer;
};

class LegacyConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Test_FreshPrefs(true);
    parent = Test_MakeTempDir(QStringLiteral("legacy"));
    legacy = QDir(parent).filePath(QStringLiteral("Cup Final.vlvidcap"));
    target = QDir(parent).filePath(QStringLiteral("Cup Final.vlvidcapb"));
    QDir().mkpath(legacy);
  }
  QString segments() {
    const QString path = QDir(legacy).filePath(QStringLiteral("segments"));
    QDir().mkpath(path);
    return path;
  }
  void writeSettings(const QVariantMap& settings, PropertyListFormat format) {
    ASSERT_TRUE(PropertyList_WriteFile(QDir(legacy).filePath(QStringLiteral("settings.plist")), settings, format));
  }
  // Long enough that the export is still copying when the test steps in.
  void makeLongSegments() {
    const QString first = makeSegment(segments(), QStringLiteral("seg1.mov"), 0, 9000, QStringLiteral("160x120"), false);
    for (int i = 2; i <= 8; ++i)
      ASSERT_TRUE(QFile::copy(first, QDir(segments()).filePath(QStringLiteral("seg%1.mov").arg(i))));
  }
  // Nothing of a conversion is left in the temporary folder or beside the folder.
  void expectNoLeftovers(const QStringList& besideTheFolder) {
    EXPECT_TRUE(QDir(QDir::tempPath()).entryList({QStringLiteral("VLImportedSession*")}, QDir::AllEntries).isEmpty());
    EXPECT_EQ(QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name), besideTheFolder);
  }

  QString parent, legacy, target;
};

TEST_F(LegacyConversionTest, JoinsSegmentsInNumericOrderIntoAPackageAndRemovesTheFolder) {
  // Listed as seg1, seg10, seg2; joined as seg1, seg2, seg10. Recordings may be written in fragments.
  const QString one = makeSegment(segments(), QStringLiteral("seg1.mov"), 0, 45);
  const QString ten = makeSegment(segments(), QStringLiteral("seg10.mov"), 100, 30, QStringLiteral("320x240"), true, true);
  const QString two = makeSegment(segments(), QStringLiteral("seg2.mov"), 50, 40);
  writeSettings(oldSettings(), PropertyListFormat::Binary);
  QDir().mkpath(QDir(segments()).filePath(QStringLiteral("thumbnails")));  // folders among the segments are no segments
  QStringList expected;
  for (const QString& segment : {one, two, ten}) expected << TestMovie_DecodeVideo(segment).md5;
  ASSERT_EQ(expected.size(), 115);

  DialogWatcher watcher;
  ASSERT_TRUE(Legacy_ConvertSession(QUrl::fromLocalFile(legacy)));
  EXPECT_TRUE(watcher.shown.isEmpty()) << watcher.shown.join(QLatin1Char('|')).toStdString();

  EXPECT_FALSE(QFileInfo::exists(legacy));
  expectNoLeftovers({QStringLiteral("Cup Final.vlvidcapb")});
  const QString movie = QDir(target).filePath(QStringLiteral("VLCapturedMovie.") + Prefs_Shared().movieFileExtension());
  ASSERT_TRUE(QFileInfo::exists(movie));
  // Every frame, in order: the leading milliseconds the old settings reject are kept in the movie.
  const DecodedFrames joined = TestMovie_DecodeVideo(movie);
  EXPECT_EQ(joined.md5.size(), expected.size());
  EXPECT_EQ(joined.md5, expected);
  EXPECT_FALSE(TestMovie_StreamOfType(TestMovie_ProbeJson(movie), QStringLiteral("audio")).isEmpty());

  QFile settingsFile(QDir(target).filePath(QStringLiteral("VLSettings.json")));
  ASSERT_TRUE(settingsFile.open(QIODevice::ReadOnly));
  const QJsonObject settings = QJsonDocument::fromJson(settingsFile.readAll()).object();
  EXPECT_EQ(settings.value(QStringLiteral("VLCameraName")).toString(), QStringLiteral("Old Camera"));
  EXPECT_EQ(settings.value(QStringLiteral("VLFrameWidth")).toInt(), 320);
  EXPECT_EQ(settings.value(QStringLiteral("VLInitialMillisRejected")).toInt(), 500);
  EXPECT_EQ(settings.value(QStringLiteral("VLCaptureAppVersion")).toString(), QStringLiteral("0.9.4"));
  EXPECT_TRUE(settings.value(QStringLiteral("VLCaptureAudio")).toBool());
}

TEST_F(LegacyConversionTest, NothingToJoinEndsWithAlert20028SayingWhyAndLeavesTheFolderAsItWas) {
  struct Case {
    const char* name;
    std::function<void()> make;
    const char* reason;
  };
  const Case cases[] = {
      {"empty folder", [] {}, "empty"},
      {"no segments folder", [this] { writeSettings(oldSettings(), PropertyListFormat::XML); }, "folder of movies"},
      {"empty segments folder", [this] {
         writeSettings(oldSettings(), PropertyListFormat::XML);
         segments();
       }, "holds no movies"},
      {"segments folder of folders and hidden files", [this] {
         QDir().mkpath(QDir(segments()).filePath(QStringLiteral("seg1.mov")));
         QFile hidden(QDir(segments()).filePath(QStringLiteral(".seg2.mov")));
         ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
       }, "holds no movies"},
      {"segments is a pipe", [this] {
         writeSettings(oldSettings(), PropertyListFormat::XML);
         ASSERT_EQ(::mkfifo(QFile::encodeName(QDir(legacy).filePath(QStringLiteral("segments"))).constData(), 0644), 0);
       }, "not a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(legacy).removeRecursively();
    QDir().mkpath(legacy);
    c.make();
    const auto before = listingWithHashes(legacy);
    DialogWatcher watcher;
    EXPECT_FALSE(Legacy_ConvertSession(QUrl::fromLocalFile(legacy)));
    ASSERT_EQ(watcher.shown.size(), 1) << "a conversion that ends early says why";
    EXPECT_TRUE(watcher.shown.first().contains(QStringLiteral("Conversion to the new file format failed.")));
    EXPECT_TRUE(watcher.shown.first().contains(QString::fromUtf8(c.reason))) << watcher.shown.first().toStdString();
    EXPECT_EQ(listingWithHashes(legacy), before);
    expectNoLeftovers({QStringLiteral("Cup Final.vlvidcap")});
  }
}

// While it lives, the whole process meets file permissions as an ordinary user ("nobody" when the suite
// runs as root): the conversion reads on threads of its own.
class ScopedOrdinaryUserProcess {
 public:
  ScopedOrdinaryUserProcess() {
    if (::geteuid() == 0) m_changed = ::seteuid(65534) == 0;
  }
  ~ScopedOrdinaryUserProcess() {
    if (m_changed) {
      EXPECT_EQ(::seteuid(0), 0);
    }
  }

 private:
  bool m_changed = false;
};

TEST_F(LegacyConversionTest, AListedFileThatCannotBeReadEndsWithAlert20028NamingItAndTheFolderStays) {
  // Folders an ordinary user may use, outside the suite's closed home: the old session and the temporary folder.
  auto shared = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/velmora-legacy-XXXXXX"));
  auto temporary = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/velmora-legacy-tmp-XXXXXX"));
  auto openToAll = [](const QString& path) { ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0777), 0); };
  openToAll(shared->path());
  openToAll(temporary->path());
  parent = shared->path();
  legacy = QDir(parent).filePath(QStringLiteral("Cup Final.vlvidcap"));
  const QString segmentFolder = QDir(legacy).filePath(QStringLiteral("segments"));
  auto seg = [&](const char* name) { return QDir(segmentFolder).filePath(QString::fromLatin1(name)); };
  auto writeBytes = [](const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
  };
  struct Case {
    const char* name;
    std::function<void()> make;
    const char* named;
  };
  const Case cases[] = {
      {"segment without read permission", [&] { QFile::setPermissions(seg("seg2.mov"), QFileDevice::WriteOwner); }, "seg2.mov"},
      {"segment that is no movie", [&] { writeBytes(seg("seg2.mov"), QByteArray(50000, 'x')); }, "seg2.mov"},
      {"segment without a video track", [&] {
         QFile::remove(seg("seg2.mov"));
         bool ok = false;
         TestMovie_Run(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-f", "lavfi", "-i", "sine=duration=1", "-c:a", "aac",
                                                  "-f", "mov", seg("seg2.mov")}, &ok);
         ASSERT_TRUE(ok);
       }, "seg2.mov"},
      {"segment that is a pipe", [&] {
         QFile::remove(seg("seg2.mov"));
         ASSERT_EQ(::mkfifo(QFile::encodeName(seg("seg2.mov")).constData(), 0644), 0);
       }, "seg2.mov"},
      {"settings that do not parse", [&] { writeBytes(QDir(legacy).filePath(QStringLiteral("old.plist")), "<plist><dict><key>"); }, "old.plist"},
      {"settings without read permission", [&] {
         writeSettings(oldSettings(), PropertyListFormat::XML);
         QFile::setPermissions(QDir(legacy).filePath(QStringLiteral("settings.plist")), QFileDevice::WriteOwner);
       }, "settings.plist"},
      {"settings that are a pipe", [&] {
         ASSERT_EQ(::mkfifo(QFile::encodeName(QDir(legacy).filePath(QStringLiteral("settings.plist"))).constData(), 0644), 0);
       }, "settings.plist"},
  };
  const QByteArray savedTmp = qgetenv("TMPDIR");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(legacy).removeRecursively();
    QDir().mkpath(segmentFolder);
    for (const QString& folder : {legacy, segmentFolder}) openToAll(folder);
    makeSegment(segmentFolder, QStringLiteral("seg1.mov"), 0, 30);
    makeSegment(segmentFolder, QStringLiteral("seg2.mov"), 30, 30);
    makeSegment(segmentFolder, QStringLiteral("seg3.mov"), 60, 30);
    c.make();
    const auto before = listingWithHashes(parent);
    DialogWatcher watcher;
    bool converted = true;
    qputenv("TMPDIR", QFile::encodeName(temporary->path()));
    {
      ScopedOrdinaryUserProcess ordinary;
      converted = Legacy_ConvertSession(QUrl::fromLocalFile(legacy));
    }
    qputenv("TMPDIR", savedTmp);
    EXPECT_FALSE(converted);
    ASSERT_EQ(watcher.shown.size(), 1);
    EXPECT_TRUE(watcher.shown.first().contains(QStringLiteral("Conversion to the new file format failed.")));
    EXPECT_TRUE(watcher.shown.first().contains(QString::fromLatin1(c.named))) << watcher.shown.first().toStdString();
    EXPECT_EQ(listingWithHashes(parent), before) << "the old folder stays as it was";
    EXPECT_TRUE(QDir(temporary->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
  }
}

// The end of the last top-level box that lies whole within the first `length` bytes of a movie file.
qint64 wholeBoxesEnd(const QByteArray& bytes, qint64 length) {
  qint64 at = 0;
  while (at + 8 <= length) {
    const qint64 size = qFromBigEndian<quint32>(bytes.constData() + at);
    if (size < 8 || at + size > length) break;
    at += size;
  }
  return at;
}

// Where the last top-level box of the type begins in a movie's bytes, and its size.
QPair<qint64, qint64> lastBox(const QByteArray& bytes, const QByteArray& type) {
  qint64 at = 0;
  QPair<qint64, qint64> last{-1, 0};
  while (at + 8 <= bytes.size()) {
    const qint64 size = qFromBigEndian<quint32>(bytes.constData() + at);
    if (size < 8) break;
    if (bytes.mid(at + 4, 4) == type) last = {at, size};
    at += size;
  }
  return last;
}

// The pictures ffmpeg counts in a movie (0 when it cannot open it).
int countedPictures(const QString& path) {
  return TestMovie_Run(QStringLiteral("ffprobe"),
                       {"-v", "quiet", "-count_frames", "-select_streams", "v:0", "-show_entries",
                        "stream=nb_read_frames", "-of", "csv=p=0", path})
      .trimmed()
      .toInt();
}

TEST_F(LegacyConversionTest, ASegmentCutShortIsJoinedWithEveryPictureFFmpegDecodesFromIt) {
  struct Case {
    const char* name;
    std::function<qint64(const QByteArray&)> cutAt;
    bool amongPictures;  // else the cut leaves only the pictures of the fragments before its header
    bool recorderLike = false;  // 2 s fragments of a busy HD picture, else 1 s ones of a small one
  };
  // A fragment every 2 s of a busy HD picture with sound, as a recorder writes it.
  auto recordLike = [this] {
    const QString path = QDir(segments()).filePath(QStringLiteral("seg2.mov"));
    bool ok = false;
    QString errors;
    TestMovie_Run(QStringLiteral("ffmpeg"),
                  {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=12", "-f", "lavfi",
                   "-i", "sine=frequency=440:sample_rate=48000:duration=12", "-c:v", "libx264", "-preset", "veryfast",
                   "-pix_fmt", "yuv420p", "-g", "30", "-c:a", "aac", "-movflags", "frag_keyframe+empty_moov+default_base_moof",
                   "-frag_duration", "2000000", path},
                  &ok, &errors);
    EXPECT_TRUE(ok) << errors.toStdString();
    return path;
  };
  const Case cases[] = {
      {"a recording cut at 2/3 of its bytes", [](const QByteArray& b) { return b.size() * 2 / 3; }, true, true},
      {"cut at 2/3 of its bytes, inside a fragment's pictures", [](const QByteArray& b) { return b.size() * 2 / 3; }, true},
      {"cut in the middle of its last fragment's pictures", [](const QByteArray& b) {
         const auto mdat = lastBox(b, "mdat");
         return mdat.first + mdat.second / 3;
       }, true},
      {"cut inside its last fragment header", [](const QByteArray& b) { return lastBox(b, "moof").first + 20; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(legacy).removeRecursively();
    QDir(target).removeRecursively();
    const QString whole = makeSegment(segments(), QStringLiteral("seg1.mov"), 0, 30,
                                      c.recorderLike ? QStringLiteral("1280x720") : QStringLiteral("320x240"));
    // A fragment every second, with sound; cut as a recorder killed while writing leaves it.
    const QString cut = c.recorderLike
                            ? recordLike()
                            : makeSegment(segments(), QStringLiteral("seg2.mov"), 30, 90, QStringLiteral("320x240"), true, true);
    QByteArray bytes;
    {
      QFile file(cut);
      ASSERT_TRUE(file.open(QIODevice::ReadWrite));
      bytes = file.readAll();
      ASSERT_TRUE(file.resize(c.cutAt(bytes)));
    }
    // What the whole fragments before the cut hold.
    const QString held = QDir(Test_MakeTempDir(QStringLiteral("held"))).filePath(QStringLiteral("held.mov"));
    {
      QFile heldFile(held);
      ASSERT_TRUE(heldFile.open(QIODevice::WriteOnly));
      heldFile.write(bytes.left(wholeBoxesEnd(bytes, c.cutAt(bytes))));
    }
    const DecodedFrames heldFrames = TestMovie_DecodeVideo(held);
    ASSERT_GE(heldFrames.md5.size(), 30);
    QStringList expected = TestMovie_DecodeVideo(whole).md5;
    if (c.amongPictures) {
      const DecodedFrames cutFrames = TestMovie_DecodeVideo(cut);
      ASSERT_EQ(countedPictures(cut), cutFrames.md5.size());
      ASSERT_GT(cutFrames.md5.size(), heldFrames.md5.size()) << "the cut falls among a fragment's pictures";
      ASSERT_LT(cutFrames.md5.size(), c.recorderLike ? 360 : 90);
      expected += cutFrames.md5;
    } else {
      // FFmpeg reads no more than those (it may not open the file at all).
      const int counted = countedPictures(cut);
      ASSERT_TRUE(counted == 0 || counted == heldFrames.md5.size()) << counted;
      expected += heldFrames.md5;
    }

    DialogWatcher watcher;
    ASSERT_TRUE(Legacy_ConvertSession(QUrl::fromLocalFile(legacy))) << watcher.shown.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(watcher.shown.isEmpty()) << watcher.shown.join(QLatin1Char('|')).toStdString();
    EXPECT_FALSE(QFileInfo::exists(legacy));
    expectNoLeftovers({QStringLiteral("Cup Final.vlvidcapb")});
    const QString movieName = QStringLiteral("VLCapturedMovie.") + Prefs_Shared().movieFileExtension();
    EXPECT_EQ(QDir(target).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name),
              QStringList({movieName, QStringLiteral("VLSettings.json")}));
    const QString movie = QDir(target).filePath(movieName);
    const QStringList joined = TestMovie_DecodeVideo(movie).md5;
    EXPECT_TRUE(joined == expected) << "every picture of the cut segment, in order: " << joined.size()
                                    << " pictures joined of " << expected.size();
    EXPECT_EQ(countedPictures(movie), expected.size());
  }
}

TEST_F(LegacyConversionTest, AConversionRemovesWhatConversionsOfEndedRunsLeftAndNothingOfRunsGoingOn) {
  struct Leftover {
    QString name;
    bool removed;
  };
  const qint64 own = QCoreApplication::applicationPid();
  const QString ownStart = QString::number(Process_StartTime(own));
  QProcess running;  // another run still going
  running.start(QStringLiteral("sleep"), {QStringLiteral("60")});
  ASSERT_TRUE(running.waitForStarted());
  const QString runningTag = QStringLiteral("%1-%2").arg(running.processId()).arg(Process_StartTime(running.processId()));
  const QList<Leftover> leftovers = {
      {QStringLiteral("VLImportedSession-%1-%2.vlvidcapb").arg(own).arg(ownStart), false},
      {QStringLiteral("VLImportedSession-%1.vlvidcapb").arg(runningTag), false},
      {QStringLiteral("VLImportedSession-%1-1.vlvidcapb").arg(own), true},        // the id used again later
      {QStringLiteral("VLImportedSession-4194999-123_2.vlvidcapb"), true},        // no such process
      {QStringLiteral("VLImportedSession.vlvidcapb"), false},                     // not a name of ours
      {QStringLiteral("VLImportedSession-4194999-123.mov"), false},
      {QStringLiteral("VLImportedSession-4194999-123.vlvidcapb\n"), false},  // a name of ours and more
  };
  const QString temp = QDir::tempPath();
  for (const Leftover& l : leftovers) {
    ASSERT_TRUE(QDir().mkpath(QDir(temp).filePath(l.name + QStringLiteral("/VLCapturedMovie.mov"))));
  }
  // A copy on its way into place beside the folder, made by a run that was killed.
  const QString staging = QDir(parent).filePath(QStringLiteral(".Cup Final.vlvidcapb.converting-4194999-5"));
  ASSERT_TRUE(QDir().mkpath(staging));
  const QString notStaging = staging + QLatin1Char('\n');
  ASSERT_TRUE(QDir().mkpath(notStaging));
  makeSegment(segments(), QStringLiteral("seg1.mov"), 0, 30);

  DialogWatcher watcher;
  ASSERT_TRUE(Legacy_ConvertSession(QUrl::fromLocalFile(legacy)));
  for (const Leftover& l : leftovers) {
    SCOPED_TRACE(l.name.toStdString());
    EXPECT_EQ(QFileInfo::exists(QDir(temp).filePath(l.name)), !l.removed);
    QDir(QDir(temp).filePath(l.name)).removeRecursively();
  }
  EXPECT_FALSE(QFileInfo::exists(staging));
  EXPECT_TRUE(QFileInfo(notStaging).isDir());
  running.kill();
  running.waitForFinished();
}
TEST_F(LegacyConversionTest, FailuresShowAlert20028AndLeaveEverythingAsItWas) {
  struct Case {
    const char* name;
    std::function<void()> make;
    QStringList beside;
    const char* reason;
  };
  const Case cases[] = {
      {"package of the target name exists",
       [this] {
         makeSegment(segments(), QStringLiteral("seg1.mov"), 0, 30);
         QDir().mkpath(target);
         QFile mine(QDir(target).filePath(QStringLiteral("notes.txt")));
         ASSERT_TRUE(mine.open(QIODevice::WriteOnly));
         mine.write("kept");
       },
       {QStringLiteral("Cup Final.vlvidcap"), QStringLiteral("Cup Final.vlvidcapb")},
       "already exists"},
      {"segments of different sizes",
       [this] {
         makeSegment(segments(), QStringLiteral("seg1.mov"), 0, 30, QStringLiteral("320x240"));
         makeSegment(segments(), QStringLiteral("seg2.mov"), 30, 30, QStringLiteral("160x120"));
       },
       {QStringLiteral("Cup Final.vlvidcap")},
       "cannot be joined"},
      {"segments of different codecs",
       [this] {
         makeSegment(segments(), QStringLiteral("seg1.mov"), 0, 30);
         const QString other = QDir(segments()).filePath(QStringLiteral("seg2.mov"));
         bool ok = false;
         TestMovie_Run(QStringLiteral("ffmpeg"),
                       {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=30:duration=1", "-c:v",
                        "mpeg4", other},
                       &ok);
         ASSERT_TRUE(ok);
       },
       {QStringLiteral("Cup Final.vlvidcap")},
       "cannot be joined"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(legacy).removeRecursively();
    QDir(target).removeRecursively();
    QDir().mkpath(legacy);
    c.make();
    const auto before = listingWithHashes(parent);
    DialogWatcher watcher;
    EXPECT_FALSE(Legacy_ConvertSession(QUrl::fromLocalFile(legacy)));
    ASSERT_EQ(watcher.shown.size(), 1);
    EXPECT_TRUE(watcher.shown.first().contains(QStringLiteral("Conversion to the new file format failed.")));
    EXPECT_TRUE(watcher.shown.first().contains(QString::fromLatin1(c.reason))) << watcher.shown.first().toStdString();
    EXPECT_TRUE(watcher.overProgress.first()) << "the alert ends the conversion: the progress window stays until it comes";
    // The old folder, and a package that was there, exactly as they were.
    EXPECT_EQ(listingWithHashes(parent), before);
    expectNoLeftovers(c.beside);
  }
}

TEST_F(LegacyConversionTest, WhatTheConversionDidNotReadStaysInTheOldFolderAndIsTold) {
  const QString outside = QDir(Test_MakeTempDir(QStringLiteral("outside"))).filePath(QStringLiteral("photo.jpg"));
  auto write = [](const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()) && SafeFile_Replace(path, bytes));
  };
  write(outside, "picture");
  const QString seg1 = makeSegment(Test_MakeTempDir(QStringLiteral("seg")), QStringLiteral("seg1.mov"), 0, 30);
  const struct {
    const char* name;
    std::function<void()> make;  // the user's own items beside the session
    QStringList kept;            // what stays and is told
  } cases[] = {
      {"nothing of the user's", [&] { QDir().mkpath(QDir(segments()).filePath(QStringLiteral("thumbnails"))); }, {}},
      {"notes", [&] { write(QDir(legacy).filePath(QStringLiteral("notes.txt")), "half time 2-1"); }, {QStringLiteral("notes.txt")}},
      {"a folder", [&] { write(QDir(legacy).filePath(QStringLiteral("extra/lineup.txt")), "11 names"); }, {QStringLiteral("extra")}},
      {"a hidden file", [&] { write(QDir(legacy).filePath(QStringLiteral(".comments")), "mine"); }, {QStringLiteral(".comments")}},
      {"a folder among the segments", [&] { write(QDir(segments()).filePath(QStringLiteral("thumbs/1.jpg")), "thumb"); },
       {QStringLiteral("segments/thumbs")}},
      {"a link", [&] { ASSERT_TRUE(QFile::link(outside, QDir(legacy).filePath(QStringLiteral("photo")))); }, {QStringLiteral("photo")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(legacy).removeRecursively();
    QDir(target).removeRecursively();
    ASSERT_TRUE(QFile::copy(seg1, QDir(segments()).filePath(QStringLiteral("seg1.mov"))));
    writeSettings(oldSettings(), PropertyListFormat::XML);
    c.make();
    // What stays: the user's items byte for byte, and the segments folder when it holds one of them.
    QMap<QString, QString> left = listingWithHashes(legacy);
    left.removeIf([&](QMap<QString, QString>::iterator item) {
      for (const QString& kept : c.kept)
        if (item.key() == kept || item.key().startsWith(kept + QLatin1Char('/')) || kept.startsWith(item.key() + QLatin1Char('/')))
          return false;
      return true;
    });

    DialogWatcher watcher;
    ASSERT_TRUE(Legacy_ConvertSession(QUrl::fromLocalFile(legacy))) << watcher.shown.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(QFileInfo::exists(QDir(target).filePath(QStringLiteral("VLSettings.json"))));
    EXPECT_EQ(QFileInfo::exists(legacy), !c.kept.isEmpty());
    EXPECT_EQ(listingWithHashes(legacy), left) << "only what was read left the old folder";
    ASSERT_EQ(watcher.shown.size(), c.kept.isEmpty() ? 0 : 1) << watcher.shown.join(QLatin1Char('|')).toStdString();
    for (const QString& told : watcher.shown) {
      EXPECT_TRUE(told.contains(QStringLiteral("The old session folder \u201CCup Final.vlvidcap\u201D was kept."))) << told.toStdString();
      for (const QString& kept : c.kept) EXPECT_TRUE(told.contains(kept)) << told.toStdString();
    }
  }
}

TEST_F(LegacyConversionTest, ATemporaryFolderThatCannotHoldThePackageEndsAsFailed) {
  makeSegment(segments(), QStringLiteral("seg1.mov"), 0, 30);
  const auto before = listingWithHashes(parent);
  // A temporary folder below a plain file cannot be made, not even by the superuser.
  const QString blocker = QDir(Test_MakeTempDir(QStringLiteral("blocked"))).filePath(QStringLiteral("file"));
  QFile(blocker).open(QIODevice::WriteOnly);
  const QByteArray saved = qgetenv("TMPDIR");
  qputenv("TMPDIR", QFile::encodeName(blocker + QStringLiteral("/tmp")));
  DialogWatcher watcher;
  const bool converted = Legacy_ConvertSession(QUrl::fromLocalFile(legacy));
  qputenv("TMPDIR", saved);
  EXPECT_FALSE(converted);
  ASSERT_EQ(watcher.shown.size(), 1);
  EXPECT_TRUE(watcher.shown.first().contains(QStringLiteral("temporary session package"))) << watcher.shown.first().toStdString();
  EXPECT_EQ(listingWithHashes(parent), before);
}

TEST_F(LegacyConversionTest, AbortDuringTheExportStopsItAndRemovesTheTemporaryPackage) {
  makeLongSegments();
  const auto before = listingWithHashes(legacy);

  DialogWatcher watcher;
  AssetExportSessionRef aborted;
  float progressAtAbort = -1.0f;
  watcher.onProgress = [&](VLConvertLegacySessionWC* progress) {
    const auto job = progress->exportJob();
    const AssetExportSessionRef session = job ? job->exportSession() : nullptr;
    if (aborted || !session || session->status() != AssetExportSessionStatus::Exporting) return;
    aborted = session;
    progressAtAbort = session->progress();
    EXPECT_EQ(progress->windowTitle(), QStringLiteral("Converting Cup Final..."));
    EXPECT_EQ(progress->labelTxt()->text(), QStringLiteral("Step 2/2: Converting to new session format"));
    EXPECT_EQ(progress->progressBar()->maximum(), 200);
    EXPECT_GE(progress->progressBar()->value(), 100);
    EXPECT_EQ(progress->cancelBtn()->accessibleName(), QStringLiteral("Abort"));
    progress->cancelBtn()->click();
  };
  EXPECT_FALSE(Legacy_ConvertSession(QUrl::fromLocalFile(legacy)));
  ASSERT_TRUE(aborted) << "the export was never seen running";
  EXPECT_LT(progressAtAbort, 1.0f);
  EXPECT_EQ(aborted->status(), AssetExportSessionStatus::Cancelled);
  EXPECT_TRUE(watcher.shown.isEmpty());
  EXPECT_EQ(listingWithHashes(legacy), before);
  expectNoLeftovers({QStringLiteral("Cup Final.vlvidcap")});
}

TEST_F(LegacyConversionTest, AbortWhileTheJoinedMovieIsReadBackStopsTheWorkAndLeavesTheFolderAsItWas) {
  makeLongSegments();
  const auto before = listingWithHashes(legacy);
  DialogWatcher watcher;
  bool clicked = false;
  watcher.onProgress = [&](VLConvertLegacySessionWC* progress) {
    // Once the export has completed the bar loses its measure: the joined movie is being read back.
    if (clicked || progress->progressBar()->maximum() != 0) return;
    clicked = true;
    EXPECT_EQ(progress->exportJob()->exportSession()->status(), AssetExportSessionStatus::Completed);
    EXPECT_EQ(progress->labelTxt()->text(), QStringLiteral("Step 2/2: Converting to new session format"));
    EXPECT_TRUE(QDir(parent).entryList({QStringLiteral(".Cup*")}, QDir::AllEntries | QDir::Hidden).isEmpty());
    progress->cancelBtn()->click();
  };
  EXPECT_FALSE(Legacy_ConvertSession(QUrl::fromLocalFile(legacy)));
  EXPECT_TRUE(clicked) << "the progress window was gone once the export had completed";
  EXPECT_TRUE(watcher.shown.isEmpty()) << watcher.shown.join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(listingWithHashes(legacy), before);
  expectNoLeftovers({QStringLiteral("Cup Final.vlvidcap")});
  // The read-back stops at its next packet: the abort does not wait for the rest of the movie.
  const std::atomic<bool> stop{true};
  std::vector<double> times;
  QString error;
  EXPECT_FALSE(Movie_PictureTimes(QDir(segments()).filePath(QStringLiteral("seg1.mov")), &times, &error, &stop));
  EXPECT_TRUE(times.empty());
}

TEST_F(LegacyConversionTest, OnceThePackageHasItsNameAbortIsNoLongerOffered) {
  makeSegment(segments(), QStringLiteral("seg1.mov"), 0, 30);
  // Many empty folders among the segments make the old folder's removal, which follows the package's
  // naming, take a while (a folder that holds something would stay, and the old folder with it).
  for (int i = 0; i < 20000; ++i) ::mkdir(QFile::encodeName(QDir(segments()).filePath(QString::number(i))).constData(), 0755);
  DialogWatcher watcher;
  bool seen = false, offered = true;
  watcher.onProgress = [&](VLConvertLegacySessionWC* progress) {
    if (seen || !QFileInfo(target).isDir() || !QFileInfo::exists(legacy)) return;
    seen = true;
    QCoreApplication::processEvents();  // what the work posted before it named the package
    offered = progress->cancelBtn()->isEnabled();
    QTest::keyClick(progress, Qt::Key_Escape);
  };
  EXPECT_TRUE(Legacy_ConvertSession(QUrl::fromLocalFile(legacy)));
  ASSERT_TRUE(seen) << "the old folder was never seen beside the named package";
  EXPECT_FALSE(offered);
  EXPECT_FALSE(QFileInfo::exists(legacy));
  expectNoLeftovers({QStringLiteral("Cup Final.vlvidcapb")});
}

TEST_F(LegacyConversionTest, QuitDuringTheExportEndsTheConversionAndKeepsTheFolder) {
  makeLongSegments();
  const auto before = listingWithHashes(legacy);
  ZRNAppDelegate delegate;
  DialogWatcher watcher;
  AssetExportSessionRef running;
  watcher.onProgress = [&](VLConvertLegacySessionWC* progress) {
    const auto job = progress->exportJob();
    const AssetExportSessionRef session = job ? job->exportSession() : nullptr;
    if (running || !session || session->status() != AssetExportSessionStatus::Exporting) return;
    running = session;
    delegate.terminate();  // what Quit, SIGTERM, SIGINT and SIGHUP do
  };
  // Quitting ends the application's event loop, so the conversion runs inside one, as in the application.
  bool converted = true;
  QTimer::singleShot(0, qApp, [&] {
    converted = Legacy_ConvertSession(QUrl::fromLocalFile(legacy));
    QCoreApplication::quit();
  });
  QCoreApplication::exec();
  EXPECT_FALSE(converted);
  ASSERT_TRUE(running) << "the export was never seen running";
  EXPECT_EQ(running->status(), AssetExportSessionStatus::Cancelled);
  EXPECT_TRUE(watcher.shown.isEmpty());
  EXPECT_EQ(listingWithHashes(legacy), before);
  expectNoLeftovers({QStringLiteral("Cup Final.vlvidcap")});
}

// Makes writes beyond a size fail (as a full disk would) while it lives.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_saved);
    m_signal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = m_saved;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
  }
  ~ScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_signal);
  }

 private:
  rlimit m_saved{};
  void (*m_signal)(int) = nullptr;
};

TEST_F(LegacyConversionTest, ACutSegmentWhosePicturesCannotAllBeJoinedEndsWithAlert20028NamingIt) {
  makeSegment(segments(), QStringLiteral("seg1.mov"), 0, 30);
  const QString cut = makeSegment(segments(), QStringLiteral("seg2.mov"), 30, 90, QStringLiteral("320x240"), true, true);
  {
    QFile file(cut);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.resize(file.size() * 2 / 3));
    ASSERT_GT(file.size(), 16 * 1024);
  }
  const auto before = listingWithHashes(parent);
  DialogWatcher watcher;
  bool converted = true;
  {
    // The whole copy of the cut segment cannot be written (as on a full disk).
    ScopedFileSizeLimit limit(16 * 1024);
    converted = Legacy_ConvertSession(QUrl::fromLocalFile(legacy));
  }
  EXPECT_FALSE(converted);
  ASSERT_EQ(watcher.shown.size(), 1);
  EXPECT_TRUE(watcher.shown.first().contains(QStringLiteral("Conversion to the new file format failed.")));
  for (const char* text : {"seg2.mov", "was cut short", "File too large"})
    EXPECT_TRUE(watcher.shown.first().contains(QString::fromLatin1(text))) << watcher.shown.first().toStdString();
  EXPECT_EQ(listingWithHashes(parent), before) << "the old folder stays as it was";
  expectNoLeftovers({QStringLiteral("Cup Final.vlvidcap")});
}

TEST_F(LegacyConversionTest, CopyIntoPlaceLeavesNothingHalfDone) {
  // A finished package as the conversion leaves it in the temporary folder.
  const QString package = QDir(Test_MakeTempDir(QStringLiteral("made"))).filePath(QStringLiteral("Made.vlvidcapb"));
  QDir().mkpath(package);
  const QString movie = makeSegment(package, QStringLiteral("VLCapturedMovie.mov"), 0, 60);
  {
    QFile settings(QDir(package).filePath(QStringLiteral("VLSettings.json")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("{}");
  }
  ASSERT_GT(QFileInfo(movie).size(), 8192);
  QDir(legacy).removeRecursively();
  QString error;
  {
    // The movie cannot be written whole: what was copied goes again.
    ScopedFileSizeLimit limit(4096);
    EXPECT_FALSE(Legacy_CopyPackageIntoPlace(package, target, &error));
  }
  EXPECT_TRUE(error.contains(QStringLiteral("could not be copied"))) << error.toStdString();
  expectNoLeftovers({});

  // A movie that does not open is never put in place.
  const QString damagedPackage = QDir(Test_MakeTempDir(QStringLiteral("damaged"))).filePath(QStringLiteral("D.vlvidcapb"));
  QDir().mkpath(damagedPackage);
  {
    QFile damaged(QDir(damagedPackage).filePath(QStringLiteral("VLCapturedMovie.mov")));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(20000, 'x'));
  }
  EXPECT_FALSE(Legacy_CopyPackageIntoPlace(damagedPackage, target, &error));
  expectNoLeftovers({});

  // An aborted conversion stops at the copy's first block of bytes, and what was copied goes again.
  LegacyConversionControl aborted;
  ASSERT_TRUE(aborted.abort());
  EXPECT_FALSE(Legacy_CopyPackageIntoPlace(package, target, &error, &aborted));
  EXPECT_TRUE(error.contains(Sys_ErrnoText(ECANCELED))) << error.toStdString();
  expectNoLeftovers({});

  // A link of the target's name is not replaced.
  ASSERT_TRUE(QFile::link(QStringLiteral("/nonexistent"), target));
  EXPECT_FALSE(Legacy_CopyPackageIntoPlace(package, target, &error));
  EXPECT_TRUE(error.contains(QStringLiteral("already exists"))) << error.toStdString();
  ASSERT_TRUE(QFile::remove(target));

  // Whole: the same bytes under the target's name, flagged as a package. Once it has its name an abort
  // comes too late.
  LegacyConversionControl control;
  ASSERT_TRUE(Legacy_CopyPackageIntoPlace(package, target, &error, &control)) << error.toStdString();
  EXPECT_FALSE(control.abort());
  EXPECT_EQ(listingWithHashes(target), listingWithHashes(package));
  expectNoLeftovers({QStringLiteral("Cup Final.vlvidcapb")});
}

class LegacyConversionAppTest : public LaunchedAppTest {};

TEST_F(LegacyConversionAppTest, TheStartRemovesTemporaryPackagesThatKilledConversionsLeft) {
  const QString temp = QDir::tempPath();
  const QString ownTag = QStringLiteral("%1-%2").arg(QCoreApplication::applicationPid()).arg(Process_StartTime(QCoreApplication::applicationPid()));
  const QString killed = QDir(temp).filePath(QStringLiteral("VLImportedSession-4194999-77.vlvidcapb"));
  const QString going = QDir(temp).filePath(QStringLiteral("VLImportedSession-%1.vlvidcapb").arg(ownTag));
  for (const QString& package : {killed, going}) {
    QDir().mkpath(package);
    QFile movie(QDir(package).filePath(QStringLiteral("VLCapturedMovie.mov")));
    ASSERT_TRUE(movie.open(QIODevice::WriteOnly));
    movie.write(QByteArray(1 << 20, 'm'));
  }
  launch();
  EXPECT_TRUE(Test_WaitUntil([&] { return !QFileInfo::exists(killed); }, 20000));
  EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(20000));
  EXPECT_TRUE(QFileInfo::exists(QDir(going).filePath(QStringLiteral("VLCapturedMovie.mov")))) << "a conversion going on keeps its work";
  QDir(going).removeRecursively();
}

const char* kCopyChildVariable = "VELMORA_LEGACY_COPY_CHILD";

// A conversion's copy into place beside the old folder, in a child process that the kernel kills
// (SIGXFSZ) while it writes the movie.
QProcess::ExitStatus copyIntoPlaceAndGetKilled(const QString& package, const QString& target, int* signal) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QString::fromLatin1(kCopyChildVariable),
             package + QLatin1Char('|') + target + QLatin1Char('|') + StandardLocations::dataHome());
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  child.setChildProcessModifier([] {
    ::signal(SIGXFSZ, SIG_DFL);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  });
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=LegacyConversionChild.DISABLED_CopyIntoPlaceUntilKilled"),
               QStringLiteral("--gtest_also_run_disabled_tests")});
  child.waitForStarted(10000);
  child.waitForFinished(60000);
  *signal = child.exitCode();
  return child.exitStatus();
}

// Run only as the child of the test below.
TEST(LegacyConversionChild, DISABLED_CopyIntoPlaceUntilKilled) {
  const QStringList spec = qEnvironmentVariable(kCopyChildVariable).split(QLatin1Char('|'));
  if (spec.size() != 3) GTEST_SKIP();
  qputenv("XDG_DATA_HOME", spec[2].toUtf8());
  QString error;
  Legacy_CopyPackageIntoPlace(spec[0], spec[1], &error);
  ADD_FAILURE() << "the copy was not killed: " << error.toStdString();
}

TEST_F(LegacyConversionAppTest, TheStartRemovesTheCopyBesideTheOldFolderThatAKilledConversionLeft) {
  // A joined package larger than the child may write, and its place beside the old folder.
  const QString package = QDir(Test_MakeTempDir(QStringLiteral("joined"))).filePath(QStringLiteral("Made.vlvidcapb"));
  QDir().mkpath(package);
  {
    QFile movie(QDir(package).filePath(QStringLiteral("VLCapturedMovie.mov")));
    ASSERT_TRUE(movie.open(QIODevice::WriteOnly));
    movie.write(QByteArray(1 << 20, 'm'));
  }
  const QString desktop = Test_MakeTempDir(QStringLiteral("Desktop"));
  const QString target = QDir(desktop).filePath(QStringLiteral("Cup Final.vlvidcapb"));
  int signal = 0;
  ASSERT_EQ(copyIntoPlaceAndGetKilled(package, target, &signal), QProcess::CrashExit);
  EXPECT_EQ(signal, SIGXFSZ);
  const QStringList left = QDir(desktop).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
  ASSERT_EQ(left.size(), 1);
  ASSERT_TRUE(left.first().startsWith(QStringLiteral(".Cup Final.vlvidcapb.converting-"))) << left.first().toStdString();
  // The copy of a conversion still going on (this process's) stays.
  const QString going = QDir(desktop).filePath(
      QStringLiteral(".Derby.vlvidcapb.converting-%1-%2")
          .arg(QCoreApplication::applicationPid())
          .arg(Process_StartTime(QCoreApplication::applicationPid())));
  ASSERT_TRUE(QDir().mkpath(going));

  launch();
  EXPECT_TRUE(Test_WaitUntil([&] { return !QFileInfo::exists(QDir(desktop).filePath(left.first())); }, 20000));
  EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(20000));
  EXPECT_TRUE(QFileInfo(going).isDir()) << "a conversion going on keeps its copy";
  EXPECT_FALSE(QFileInfo::exists(target));
  EXPECT_TRUE(QFileInfo(package).isDir());
}

// Notes each show and hide of the progress window, and whether a session's window was on the screen then.
class ProgressWindowWatch : public QObject {
 public:
  ProgressWindowWatch() { qApp->installEventFilter(this); }
  ~ProgressWindowWatch() override { qApp->removeEventFilter(this); }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) && qobject_cast<VLConvertLegacySessionWC*>(watched)) {
      bool session = false;
      for (QWidget* window : QApplication::topLevelWidgets()) session |= qobject_cast<VLPlaybackWC*>(window) && window->isVisible();
      seen << QString::fromLatin1(event->type() == QEvent::Show ? "shown" : "hidden") +
                  QString::fromLatin1(session ? " over the session's window" : "");
    }
    return false;
  }
  QStringList seen;
};

TEST_F(LegacyConversionAppTest, OpeningAnOldFolderFromTheOpenPanelConvertsItAndOpensThePackage) {
  ProgressWindowWatch watch;
  const QString parent = Test_MakeTempDir(QStringLiteral("legacy-app"));
  const QString legacy = QDir(parent).filePath(QStringLiteral("Derby.vlvidcap"));
  const QString target = QDir(parent).filePath(QStringLiteral("Derby.vlvidcapb"));
  const QString segmentFolder = QDir(legacy).filePath(QStringLiteral("segments"));
  QDir().mkpath(segmentFolder);
  makeSegment(segmentFolder, QStringLiteral("seg1.mov"), 0, 30);
  makeSegment(segmentFolder, QStringLiteral("seg2.mov"), 30, 30);
  // No settings at all: the segments' sound is kept all the same.
  delegate = std::make_unique<ZRNAppDelegate>();

  QString asked;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
    if (auto* text = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"))) asked = text->text();
  });
  delegate->mainMenu()->action(QStringLiteral("openSavedRecording"))->trigger();
  QFileDialog* panel = delegate->openPanel();
  ASSERT_NE(panel, nullptr);
  panel->setDirectory(parent);
  panel->selectFile(legacy);
  static_cast<QDialog*>(panel)->accept();  // as the Open button does

  // The question and the conversion come once the panel's handlers have returned.
  ASSERT_TRUE(Test_WaitUntil([&] { return !delegate->playbackWindows().isEmpty(); }, 60000));
  EXPECT_TRUE(asked.contains(QStringLiteral("Derby"))) << asked.toStdString();
  EXPECT_FALSE(QFileInfo::exists(legacy));
  EXPECT_TRUE(QFileInfo(target).isDir());
  EXPECT_EQ(listedPaths().value(0), target);
  ASSERT_EQ(delegate->playbackWindows().size(), 1);
  auto* window = qobject_cast<VLPlaybackWC*>(delegate->playbackWindows().first().data());
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(window->windowRecentDoc());
  EXPECT_EQ(window->windowRecentDoc()->docPath(), target);
  EXPECT_TRUE(Test_WaitUntil([&] { return window->isVisible(); })) << "the converted session plays in its window";
  // From the question on, something of Velmora is on the screen: the progress window goes only once the
  // session's window shows.
  EXPECT_EQ(watch.seen.join(QStringLiteral(", ")).toStdString(), "shown, hidden over the session's window");
  const QString movie = QDir(target).filePath(QStringLiteral("VLCapturedMovie.") + Prefs_Shared().movieFileExtension());
  EXPECT_EQ(TestMovie_DecodeVideo(movie).md5.size(), 60);
  EXPECT_FALSE(TestMovie_StreamOfType(TestMovie_ProbeJson(movie), QStringLiteral("audio")).isEmpty());
}

// A path typed into the open panel and taken from its completion list by Return, then a conversion
// ended by a key: Velmora goes on (or quits cleanly), the old folder stays as it was and nothing of the
// conversion is left.
TEST_F(LegacyConversionAppTest, AConversionOfATypedPathEndedByAKeyLeavesVelmoraRunningAndTheFolderAsItWas) {
  const QString parent = Test_MakeTempDir(QStringLiteral("typed"));
  const QString legacy = QDir(parent).filePath(QStringLiteral("Old Match.vlvidcap"));
  const QString segmentFolder = QDir(legacy).filePath(QStringLiteral("segments"));
  QDir().mkpath(segmentFolder);
  const QString first = makeSegment(segmentFolder, QStringLiteral("seg1.mov"), 0, 9000, QStringLiteral("160x120"), false);
  for (int i = 2; i <= 8; ++i)
    ASSERT_TRUE(QFile::copy(first, QDir(segmentFolder).filePath(QStringLiteral("seg%1.mov").arg(i))));
  const auto before = listingWithHashes(legacy);
  Prefs_Shared().setOpenTargetDirectory(QUrl::fromLocalFile(parent));

  const struct {
    const char* ending;
    bool quits;
    std::function<void(VLConvertLegacySessionWC*)> end;
  } endings[] = {
      {"Escape", false, [](VLConvertLegacySessionWC* w) { QTest::keyClick(w, Qt::Key_Escape); }},
      {"Space on Abort", false,
       [](VLConvertLegacySessionWC* w) {
         w->cancelBtn()->setFocus();
         QTest::keyClick(w->cancelBtn(), Qt::Key_Space);
       }},
      {"closing the window", false, [](VLConvertLegacySessionWC* w) { w->close(); }},
      {"Ctrl+Q", true, [](VLConvertLegacySessionWC* w) { QTest::keyClick(w, Qt::Key_Q, Qt::ControlModifier); }},
  };
  for (const auto& way : endings) {
    SCOPED_TRACE(way.ending);
    Gui_ResetTermination();
    delegate = std::make_unique<ZRNAppDelegate>();
    bool ended = false;
    // Steps in once the export runs, and ends the main loop once the conversion has gone.
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      auto* progress = qobject_cast<VLConvertLegacySessionWC*>(QApplication::activeModalWidget());
      if (ended && !QApplication::activeModalWidget()) QCoreApplication::quit();
      const auto job = progress ? progress->exportJob() : nullptr;
      if (ended || !job || !job->exportSession() || job->exportSession()->status() != AssetExportSessionStatus::Exporting)
        return;
      ended = true;
      way.end(progress);
    });
    watch.start();
    bool typed = false;
    // As in the application, everything runs inside the main event loop, which Quit ends.
    QTimer::singleShot(0, qApp, [&] {
      Test_AnswerNextModal(QStringLiteral("okBtn"));  // Convert
      delegate->mainMenu()->action(QStringLiteral("openSavedRecording"))->trigger();
      delegate->openPanel()->setDirectory(parent);
      typed = Test_TypeIntoPanelAndReturn(delegate->openPanel(), QFileInfo(legacy).fileName());
      if (!typed) QCoreApplication::quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::quit(); });
    deadline.start(120000);
    QCoreApplication::exec();
    watch.stop();
    ASSERT_TRUE(typed) << "the completion list never showed";
    EXPECT_TRUE(ended) << "the conversion was never seen exporting";
    EXPECT_EQ(Gui_TerminationRequested(), way.quits);
    EXPECT_EQ(delegate->openPanel(), nullptr);
    EXPECT_TRUE(delegate->playbackWindows().isEmpty());
    EXPECT_EQ(listingWithHashes(legacy), before);
    EXPECT_TRUE(QDir(QDir::tempPath()).entryList({QStringLiteral("VLImportedSession*")}, QDir::AllEntries).isEmpty());
    EXPECT_EQ(QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("Old Match.vlvidcap")});
    delegate.reset();
    Test_ProcessEvents(20);
  }
  Gui_ResetTermination();
}

// An old folder chosen in File > Open Recent by the keyboard: the question and the conversion come once
// the menu is done with, which the conversion replaces with one that lists the new package.
TEST_F(LegacyConversionAppTest, AnOldFolderChosenInOpenRecentByTheKeyboardIsConvertedAndOpens) {
  const QString parent = Test_MakeTempDir(QStringLiteral("recent"));
  const QString legacy = QDir(parent).filePath(QStringLiteral("Derby.vlvidcap"));
  const QString target = QDir(parent).filePath(QStringLiteral("Derby.vlvidcapb"));
  QDir().mkpath(QDir(legacy).filePath(QStringLiteral("segments")));
  makeSegment(QDir(legacy).filePath(QStringLiteral("segments")), QStringLiteral("seg1.mov"), 0, 30);
  delegate = std::make_unique<ZRNAppDelegate>();
  delegate->addZRNRecentItemForPath(legacy);
  QPointer<QMenu> menu = delegate->mainMenu()->recentsMenu();
  menu->popup(QPoint(50, 50));
  ASSERT_TRUE(Test_WaitUntil([&] { return menu->isVisible(); }));
  menu->setActiveAction(menu->actions().first());
  bool asked = false;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget*) { asked = true; });  // Convert
  QTest::keyClick(menu, Qt::Key_Return);
  EXPECT_FALSE(asked) << "the question came while the menu still handled its key";
  ASSERT_TRUE(Test_WaitUntil([&] { return !delegate->playbackWindows().isEmpty() && delegate->playbackWindows().first(); }, 60000));
  EXPECT_TRUE(QFileInfo(target).isDir());
  EXPECT_FALSE(QFileInfo::exists(legacy));
  EXPECT_EQ(listedPaths(), QStringList{target});
  EXPECT_EQ(delegate->mainMenu()->recentsMenu()->actions().value(0)->text(), QStringLiteral("Derby"));
}
}  // namespace
