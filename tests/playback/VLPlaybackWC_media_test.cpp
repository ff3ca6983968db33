#include "playback/VLPlaybackWC.h"

#include "common/ZRNAccessibility.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNFileFunctions.h"
#include "composition/VL_ExportJobRecord.h"
#include "composition/ZRNAVCaptureProject.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/media/asset/MovieLayout.h"
#include "platform/media/writer/AssetWriter.h"
#include "platform/media/AssetWriterTestMedia.h"
#include "playback/JobsTableView_Controller.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "playback/ZRNJobTableCell.h"
#include "session/ZRNTagRecord.h"

#include <QAccessible>
#include <QFileDialog>
#include <QJsonArray>
#include <QLabel>
#include <QtEndian>

#include <map>

#include <gtest/gtest.h>

namespace {

// Exports from a 70 s session (long enough for a clip at 65 s) made once per suite.
class PlaybackExports : public PlaybackMovieSuite<70> {
 protected:

  void SetUp() override {
    ASSERT_FALSE(s_movie->isEmpty());
    ZRNAppPrefs prefs;
    prefs.setCaptureFileType(QStringLiteral("video/quicktime"));
    prefs.setMomentMillisBefore(5000);
    prefs.setMomentMillisAfter(10000);
    folder = Test_MakeTempDir(QStringLiteral("sessions"));
  }

  VLPlaybackWC* openSession(const QString& name) {
    package = folder + QLatin1Char('/') + name + QStringLiteral(".vlvidcapb");
    makeSession(package);
    VLPlaybackWC* window = host.openPlayable(package);
    if (window) watch = std::make_unique<PlaybackTestJobWatch>(window->jobsController());
    return window;
  }

  // Marks in and out, asks for the manual clip and answers its job once it is queued.
  static std::shared_ptr<VL_ExportJobRecord> requestClip(VLPlaybackWC* window, int64_t in, int64_t out) {
    return PlaybackTest_RequestClip(window, in, out);
  }

  static bool waitUntilEnded(const std::shared_ptr<VL_ExportJobRecord>& job) {
    return Test_WaitUntil([&] { return job->status() == kJobStatusFinished || job->status() == kJobStatusCancelled; }, 60000);
  }

  QString clipsFolder() const { return folder + QLatin1Char('/') + QFileInfo(package).completeBaseName() + QStringLiteral(" Clips"); }

  QString folder;
  QString package;
  PlaybackTestHost host;
  std::unique_ptr<PlaybackTestJobWatch> watch;
};

}  // namespace

TEST_F(PlaybackExports, ManualClipsLandInTheClipsFolderNamedByTheirStart) {
  VLPlaybackWC* window = openSession(QStringLiteral("Derby"));
  ASSERT_NE(window, nullptr);
  const QString expected[] = {clipsFolder() + QStringLiteral("/VLClip_105.mov"), clipsFolder() + QStringLiteral("/VLClip_105_1.mov")};
  for (const QString& path : expected) {
    SCOPED_TRACE(path.toStdString());
    auto job = requestClip(window, 65000, 67500);
    ASSERT_NE(job, nullptr);
    // The export names its temporary file when it starts.
    ASSERT_TRUE(Test_WaitUntil([&] { return watch->count(job.get(), kJobChangeStarted) == 1; }));
    const QString temporary = job->exportSession()->outputURL().toLocalFile();
    ASSERT_TRUE(waitUntilEnded(job));
    EXPECT_FALSE(QFileInfo::exists(temporary));
    EXPECT_EQ(job->status(), kJobStatusFinished);
    EXPECT_EQ(job->targetPath(), path);
    EXPECT_NEAR(TestMovie_Duration(path), 2.5, 0.1);
    EXPECT_EQ(watch->count(job.get(), kJobChangeFinished), 1);
  }
  // The ended jobs are saved with the session.
  EXPECT_EQ(PlaybackTest_ReadSettings(package).value(QStringLiteral("exportJobs")).toList().size(), 2);
}

TEST_F(PlaybackExports, TwoWindowsExportingAtOnceEachWriteTheirOwnClip) {
  VLPlaybackWC* home = openSession(QStringLiteral("Home"));
  ASSERT_NE(home, nullptr);
  const QString homeClips = clipsFolder();
  VLPlaybackWC* away = openSession(QStringLiteral("Away"));
  ASSERT_NE(away, nullptr);
  // Each job's temporary movie, taken as the job is added: a job lets its export session go as soon as
  // its export ends, which may come before the wait below looks.
  std::map<const ZRNJobsController*, QUrl> outputs;
  auto& center = NotificationCenter::defaultCenter();
  NotificationObservation added(center, center.addObserver(kZRNNotification_JobChange, nullptr, [&](const Notification& n) {
    if (n.userInfo.value(kZRNJobChangeKey).toLongLong() != kJobChangeAdded) return;
    if (auto* job = qobject_cast<VL_ExportJobRecord*>(ZRNJobsController::jobOfNotification(n)))
      if (job->exportSession()) outputs[ZRNJobsController::senderOfNotification(n)] = job->exportSession()->outputURL();
  }));
  // Both requests are made before either window's export begins, so the two run side by side.
  for (VLPlaybackWC* window : {home, away}) {
    window->U_SetInPointAtTime(MediaTimeMake(10000, 1000));
    window->U_SetOutPointAtTime(MediaTimeMake(20000, 1000));
    window->exportInOutClip();
  }
  ASSERT_TRUE(Test_WaitUntil([&] { return home->jobsController()->numberOfJobs() == 1 && away->jobsController()->numberOfJobs() == 1; }));
  auto homeJob = home->jobsController()->jobAtIndex(0);
  auto awayJob = away->jobsController()->jobAtIndex(0);
  // Neither export may write over the other's temporary file.
  ASSERT_TRUE(outputs.count(home->jobsController()) && outputs.count(away->jobsController()));
  EXPECT_NE(outputs[home->jobsController()], outputs[away->jobsController()]);
  ASSERT_TRUE(waitUntilEnded(homeJob) && waitUntilEnded(awayJob));
  EXPECT_EQ(homeJob->targetPath(), homeClips + QStringLiteral("/VLClip_010.mov"));
  EXPECT_EQ(awayJob->targetPath(), clipsFolder() + QStringLiteral("/VLClip_010.mov"));
  for (const auto& job : {homeJob, awayJob}) EXPECT_NEAR(TestMovie_Duration(job->targetPath()), 10.0, 0.1);
}

TEST_F(PlaybackExports, MomentsTakeFiveSecondsBeforeAndTenAfterWithinTheMovie) {
  VLPlaybackWC* window = openSession(QStringLiteral("Moments"));
  ASSERT_NE(window, nullptr);
  struct Case {
    int64_t at, start, duration;
    const char* file;
  };
  const Case cases[] = {{3000, 0, 13000, "VLClip_000.mov"}, {30000, 25000, 15000, "VLClip_025.mov"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ASSERT_TRUE(PlaybackTestHost::seekTo(window, c.at));
    const int64_t before = window->jobsController()->numberOfJobs();
    window->exportMoment();
    ASSERT_TRUE(Test_WaitUntil([&] { return window->jobsController()->numberOfJobs() == before + 1; }));
    auto job = window->jobsController()->jobAtIndex(0);
    EXPECT_EQ(job->exportSettings()->value(kExportSettingsStartTimeMillis).toLongLong(), c.start);
    ASSERT_TRUE(waitUntilEnded(job));
    EXPECT_EQ(job->targetPath(), clipsFolder() + QLatin1Char('/') + QLatin1String(c.file));
    EXPECT_NEAR(TestMovie_Duration(job->targetPath()), c.duration / 1000.0, 0.1);
  }
}

TEST_F(PlaybackExports, ASessionMovieChosenOverAnExistingFileReplacesIt) {
  VLPlaybackWC* window = openSession(QStringLiteral("Whole Match"));
  ASSERT_NE(window, nullptr);
  const QString target = Test_MakeTempDir(QStringLiteral("movies")) + QStringLiteral("/Final Cut.mov");
  QFile old(target);
  ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("not a movie") > 0);
  old.close();
  window->exportAll();
  ASSERT_TRUE(Test_WaitUntil([&] { return window->exportSavePanel() && window->exportSavePanel()->isVisible(); }));
  QFileDialog* panel = window->exportSavePanel();
  panel->setDirectory(QFileInfo(target).absolutePath());
  panel->selectFile(QStringLiteral("Final Cut"));
  // The panel asks before it replaces a file.
  PlaybackTest_AnswerNextModal(QString(), nullptr, QMessageBox::Yes);
  static_cast<QDialog*>(panel)->accept();
  ASSERT_TRUE(Test_WaitUntil([&] { return window->jobsController()->numberOfJobs() == 1; }));
  auto job = window->jobsController()->jobAtIndex(0);
  ASSERT_TRUE(waitUntilEnded(job));
  EXPECT_EQ(job->status(), kJobStatusFinished);
  EXPECT_EQ(job->targetPath(), target);
  EXPECT_NEAR(TestMovie_Duration(target), 70.0, 0.1);
  EXPECT_EQ(ZRNAppPrefs().saveTargetDirectory().toLocalFile(), QFileInfo(target).absolutePath());
}

TEST_F(PlaybackExports, ACancelledExportStopsAtItsNextCheckWithoutAnEnd) {
  VLPlaybackWC* window = openSession(QStringLiteral("Cancelled"));
  ASSERT_NE(window, nullptr);
  // A re-encoded session movie runs long enough to be cancelled while it exports.
  auto settings = std::make_shared<QVariantMap>(QVariantMap{{kExportSettingsActivityType, 103},
                                                            {kExportSettingsStartTimeMillis, 0.0},
                                                            {kExportSettingsDurationMillis, 70000},
                                                            {kExportSettingsTargetPath, folder + QStringLiteral("/never.mov")}});
  auto slow = std::make_shared<VL_ExportJobRecord>(settings);
  slow->setDelegate(window);
  slow->setShowBadge(true);
  auto project = slow->badgeOverlayProject();
  project->setVideoSize(QSizeF(160, 120));
  project->setUseAudio(true);
  project->setSegmentAssetsArray({window->capturedMovieAsset()});
  slow->setExportSession(project->makeExportable(QString::fromLatin1(AVAssetExportPresetHighestQuality)));
  AssetExportSessionRef session = slow->exportSession();
  ASSERT_NE(session, nullptr);
  window->jobsController()->addJob(slow);
  ASSERT_TRUE(Test_WaitUntil([&] { return watch->count(slow.get(), kJobChangeStarted) == 1; }));
  ASSERT_EQ(session->status(), AssetExportSessionStatus::Exporting);
  window->jobsController()->cancelJobAtIndex(0);
  EXPECT_EQ(window->jobsController()->numberOfJobs(), 0);

  // A later clip starts at once and ends after its own first check, later than the cancelled job's.
  auto next = requestClip(window, 1000, 3000);
  ASSERT_NE(next, nullptr);
  ASSERT_TRUE(waitUntilEnded(next));
  EXPECT_EQ(next->status(), kJobStatusFinished);
  EXPECT_TRUE(Test_WaitUntil([&] { return session->status() == AssetExportSessionStatus::Cancelled; }));
  EXPECT_EQ(watch->count(slow.get(), kJobChangeSessionStopped), 0);
  EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/never.mov")));
}

// An export that ends without a file says so, and why, in the history (the window's list and the saved
// session); the queue moves on, and nothing of it stays in the temporary folder.
TEST_F(PlaybackExports, AnExportWithoutAFileSaysItFailedAndWhyAndLeavesNothingBehind) {
  const QString temporary = StandardLocations::tempPath();
  const QStringList exportFiles{QStringLiteral("ZrnVLClip*")};
  const struct {
    const char* name;
    int64_t in, out;
    bool blockClipsFolder;
    const char* reason;
  } cases[] = {{"a clip of 1 s or less", 4000, 4800, false, "1 s"},
               {"a clips folder that cannot be made", 2000, 5000, true, "cannot be made"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QStringList before = QDir(temporary).entryList(exportFiles, QDir::Files);
    VLPlaybackWC* window = openSession(QString::fromLatin1(c.name).replace(QLatin1Char(' '), QLatin1Char('_')));
    ASSERT_NE(window, nullptr);
    // A file where the clips folder should go.
    if (c.blockClipsFolder) {
      ASSERT_TRUE(QFile(clipsFolder()).open(QIODevice::WriteOnly));
    }
    auto failing = requestClip(window, c.in, c.out);
    ASSERT_NE(failing, nullptr);
    ASSERT_TRUE(waitUntilEnded(failing));
    EXPECT_EQ(watch->count(failing.get(), kJobChangeFailed), 1);
    EXPECT_TRUE(failing->targetPath().isEmpty());
    EXPECT_TRUE(failing->exportFailed());
    EXPECT_TRUE(failing->descriptionString().startsWith(QStringLiteral("Failed: ")) &&
                failing->descriptionString().contains(QString::fromLatin1(c.reason)))
        << failing->descriptionString().toStdString();
    if (!c.blockClipsFolder) {
      // The queue moves on to the next export, which ends as usual.
      auto normal = requestClip(window, 10000, 13000);
      ASSERT_NE(normal, nullptr);
      ASSERT_TRUE(waitUntilEnded(normal));
      EXPECT_EQ(normal->status(), kJobStatusFinished);
      EXPECT_FALSE(normal->exportFailed());
      EXPECT_EQ(normal->descriptionString(), QStringLiteral("Duration 00:03 at 00:10"));
    }
    EXPECT_EQ(window->jobsController()->numberOfPendingJobs(), 0);
    // The history shows it.
    JobsTableView_Controller* history = window->jobsTableController();
    QStringList rows;
    for (int64_t row = 0; row < history->numberOfRowsInTableView(); ++row)
      if (ZRNJobTableCell* cell = history->cellAtRow(row)) rows << cell->wholeText(cell->descriptionText());
    EXPECT_TRUE(rows.contains(failing->descriptionString())) << rows.join(QLatin1Char('|')).toStdString();
    // So does the saved session.
    bool saved = false;
    for (const QVariant& record : PlaybackTest_ReadSettings(package).value(QStringLiteral("exportJobs")).toList())
      saved = saved || record.toMap().value(QStringLiteral("failureReason")).toString() == failing->failureReason();
    EXPECT_TRUE(saved);
    EXPECT_EQ(QDir(temporary).entryList(exportFiles, QDir::Files), before) << "the temporary folder keeps nothing";
    if (c.blockClipsFolder) {
      EXPECT_TRUE(QFileInfo(clipsFolder()).isFile());
    }
  }
}

// A movie written by the recorder's asset writer, torn off as by a killed recorder.
TEST(PlaybackRecording, ATornRecordingOpensPlaysAndExportsWhatItHolds) {
  const QString package = Test_MakeTempDir(QStringLiteral("recorded")) + QStringLiteral("/Torn.vlvidcapb");
  QDir().mkpath(package);
  const QString movie = package + QStringLiteral("/VLCapturedMovie.mov");
  testmedia::MovieSpec shape;
  shape.fileType = QString::fromLatin1(kAVFileTypeQuickTimeMovie);
  shape.width = 160;
  shape.height = 120;
  shape.fragmentSeconds = 1;
  shape.realTime = false;
  testmedia::Movie written = testmedia::makeMovie(movie, shape);
  ASSERT_TRUE(written.writer->startWriting());
  const MediaTime base = HostClock_Now();
  written.writer->startSessionAtSourceTime(base);
  testmedia::feed(written, shape, base, 6 * shape.fps);
  ASSERT_TRUE(testmedia::finish(written));
  ASSERT_TRUE(QFile::resize(movie, QFileInfo(movie).size() * 2 / 3));
  PlaybackTest_Document(package)->updateSettingsFile();

  PlaybackTestHost host;
  ZRNAppPrefs().setCaptureFileType(QStringLiteral("video/quicktime"));
  VLPlaybackWC* window = host.openPlayable(package);
  ASSERT_NE(window, nullptr);
  const double duration = window->totalDuration();
  EXPECT_GT(duration, 1.0);
  EXPECT_LT(duration, 5.5);
  window->player()->setVolume(0.0f);
  window->player()->setRate(1.0f);
  EXPECT_TRUE(Test_WaitUntil([&] { return MediaTimeGetSeconds(window->player()->currentTime()) > 0.3; }));
  window->player()->setRate(0.0f);
  // The whole playable part exports.
  const QString target = Test_MakeTempDir(QStringLiteral("out")) + QStringLiteral("/whole.mov");
  window->exportSessionMovieΤο(target);
  ASSERT_TRUE(Test_WaitUntil([&] { return window->jobsController()->numberOfJobs() == 1; }));
  auto job = window->jobsController()->jobAtIndex(0);
  ASSERT_TRUE(Test_WaitUntil([&] { return job->status() == kJobStatusFinished; }, 60000));
  EXPECT_EQ(job->targetPath(), target);
  EXPECT_NEAR(TestMovie_Duration(target), duration, 0.2);
  EXPECT_EQ(TestMovie_ProbeJson(target).value("streams").toArray().size(), 2);
}

// Opening a session reads each fragment header of its movie from the disk once: a finished recording
// from its fragment index, one cut short (its lock file left behind) in one walk whose bytes the demuxer
// then reads from memory. Each of the 60 fragments is large (about 250 KB), so the demuxer jumps from
// header to header; a second pass over the headers would double the reads.
TEST(PlaybackOpen, ASessionOpensReadingEachFragmentHeaderFromTheDiskOnce) {
  const QString folder = Test_MakeTempDir(QStringLiteral("open-once"));
  const QString source = TestMovie_Make(folder, QStringLiteral("source.mp4"), {.seconds = 60.0, .fragmented = true, .quantizer = 4});
  ASSERT_FALSE(source.isEmpty());
  struct Case {
    const char* name;
    bool interrupted;  // torn off in its 45th fragment, as by a killed recorder, its lock file left
  };
  for (const Case& c : {Case{"finished", false}, Case{"interrupted", true}}) {
    SCOPED_TRACE(c.name);
    const QString package = folder + QStringLiteral("/%1.vlvidcapb").arg(QLatin1String(c.name));
    QDir().mkpath(package);
    const QString movie = package + QStringLiteral("/VLCapturedMovie.mp4");
    ASSERT_TRUE(QFile::copy(source, movie));
    if (c.interrupted) {
      ASSERT_TRUE(QFile::resize(movie, QFileInfo(movie).size() * 3 / 4));
      QFile lock(package + QStringLiteral("/VLRecording.lock"));
      ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    }
    PlaybackTest_Document(package)->updateSettingsFile();
    const int fragments = Asset_ScanMovieFile(movie).completeFragments;
    ASSERT_GE(fragments, c.interrupted ? 40 : 58);

    const int64_t before = Asset_MovieFileReads();
    PlaybackTestHost host;
    VLPlaybackWC* window = host.openPlayable(package);
    ASSERT_NE(window, nullptr);
    const int64_t reads = Asset_MovieFileReads() - before;
    // One read at each fragment header, and a few for the head, the index and the first pictures' data.
    EXPECT_GE(reads, fragments);
    EXPECT_LE(reads, fragments + 20) << fragments << " fragments";
    EXPECT_NEAR(window->totalDuration(), c.interrupted ? 45.0 : 60.0, c.interrupted ? 2.0 : 0.1);
  }
}

// A movie that can be read only in part opened without a word (1 s of 10 s played when its first
// fragment header was damaged). The notice above the player says so and how much is shown, heard as the
// interrupted recording's is; a whole movie, and one cut short by an interrupted recording or by one this
// run still writes, get no such notice.
TEST(PlaybackOpen, AMovieReadOnlyInPartSaysSoAboveThePlayerWithHowMuch) {
  const QString folder = Test_MakeTempDir(QStringLiteral("in-part"));
  ASSERT_TRUE(PlaybackTest_MakeMovie(folder + QStringLiteral("/source.mov"), 10.0));  // ten fragments and their index
  QFile in(folder + QStringLiteral("/source.mov"));
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  const QByteArray whole = in.readAll();
  const QMap<QByteArray, QList<qint64>> boxes = PlaybackTest_TopLevelBoxes(whole);
  const QList<qint64> moofs = boxes.value("moof"), mdats = boxes.value("mdat");
  ASSERT_EQ(moofs.size(), 10);
  // Sizes a few bytes apart are told with the digits that set them apart.
  const auto inPart = [](const char* shown, qint64 readable = 0, qint64 size = 0, bool fewBytesApart = false) {
    const QString start =
        QStringLiteral("The movie of this session is damaged and could be read only in part: the first %1 ").arg(shown);
    if (!readable) return start + QStringLiteral("of its 00:10 are shown.");
    QString from = QStringLiteral("%1 kB").arg(readable / 1e3, 0, 'f', 1), of = QStringLiteral("%1 kB").arg(size / 1e3, 0, 'f', 1);
    if (fewBytesApart) std::tie(from, of) = File_SizeTextsApart(readable, size);
    return start + QStringLiteral("are shown, from %1 of its %2.").arg(from, of);
  };
  const qint64 cut = mdats[7] + 100;  // in the eighth fragment's pictures, the index gone with the rest
  enum class Lock { None, Interrupted, RecordingNow };
  const struct {
    const char* name;
    qint64 box;  // the box whose 32-bit size becomes `size` (-1: none)
    quint32 size;
    qint64 length;  // the bytes kept
    Lock lock;
    QString says;  // the notice (empty: none)
  } cases[] = {
      {"first fragment header 0xFFFFFFF0 bytes long", moofs[0], 0xFFFFFFF0u, whole.size(), Lock::None, inPart("00:01")},
      {"fifth fragment header smaller than its header", moofs[4], 4, whole.size(), Lock::None, inPart("00:04")},
      {"sixth fragment's pictures past the end", mdats[5], 0x7FFFFFF0u, whole.size(), Lock::None, inPart("00:06")},
      {"last fragment header smaller than its header", moofs[9], 4, whole.size(), Lock::None,
       inPart("00:09", moofs[9], whole.size())},
      {"cut short a few bytes into the last fragment header", -1, 0, moofs[9] + 3, Lock::None,
       inPart("00:09", moofs[9], moofs[9] + 3, true)},
      {"cut short in the eighth fragment", -1, 0, cut, Lock::None, inPart("00:07", moofs[7], cut)},
      {"whole", -1, 0, whole.size(), Lock::None, QString()},
      {"cut short, its recording interrupted", -1, 0, cut, Lock::Interrupted,
       QStringLiteral("The recording of this session was interrupted. What was recorded up to the interruption "
                      "is shown.")},
      {"cut short while this run records it", -1, 0, cut, Lock::RecordingNow, QString()},
  };
  PlaybackTestHost host;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString package = folder + QLatin1Char('/') + QLatin1String(c.name) + QStringLiteral(".vlvidcapb");
    QDir().mkpath(package);
    QByteArray bytes = whole.left(c.length);
    if (c.box >= 0) qToBigEndian(c.size, bytes.data() + c.box);
    QFile movie(package + QStringLiteral("/VLCapturedMovie.mov"));
    ASSERT_TRUE(movie.open(QIODevice::WriteOnly) && movie.write(bytes) == bytes.size());
    movie.close();
    if (c.lock != Lock::None) QFile(package + QStringLiteral("/VLRecording.lock")).open(QIODevice::WriteOnly);
    VLDocument_NoteRecordingPackage(package, c.lock == Lock::RecordingNow);
    VLPlaybackWC* window = host.openPlayable(package);
    VLDocument_NoteRecordingPackage(package, false);
    ASSERT_NE(window, nullptr);
    QLabel* notice = window->noticeView();
    EXPECT_EQ(notice->isVisible(), !c.says.isEmpty());
    EXPECT_EQ(notice->text().toStdString(), c.says.toStdString());
    if (c.says.isEmpty()) continue;
    EXPECT_EQ(QAccessible::queryAccessibleInterface(notice)->text(QAccessible::Description), c.says);
    EXPECT_TRUE(Test_WaitUntil([&] { return notice->property(kZRNAccessibleAnnouncedProperty).toString() == c.says; }));
  }
}

// A recording stopped before its first picture leaves a movie with its tracks and not one frame, a kill
// before its first fragment only the movie's header, a kill before that a file of no bytes. Each was
// called damaged at every open; it says that nothing was recorded, and the package stays as it was, its
// marks too. A damaged movie is still called damaged.
namespace {

enum class EmptyRecording { Stopped, KilledBeforeFragment, KilledEarly, KilledBeforeHeader, HeaderCutShort, FragmentHeadersLost };

QByteArray EmptyRecording_Read(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

bool EmptyRecording_Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool EmptyRecording_Make(EmptyRecording kind, const QString& path) {
  if (kind == EmptyRecording::KilledBeforeHeader) return EmptyRecording_Write(path, QByteArray());
  if (kind == EmptyRecording::KilledEarly) return PlaybackTest_MakeMovie(path, 2.0) && PlaybackTest_CutBeforeFirstFragment(path);
  if (kind == EmptyRecording::FragmentHeadersLost) {
    // Fragments whose headers are lost still hold pictures: the movie is damaged, not empty.
    QByteArray bytes = PlaybackTest_MakeMovie(path, 2.0) ? EmptyRecording_Read(path) : QByteArray();
    for (qint64 at : PlaybackTest_TopLevelBoxes(bytes).value("moof")) bytes.replace(at + 4, 4, "free");
    return !bytes.isEmpty() && EmptyRecording_Write(path, bytes);
  }
  // The recorder's writer, stopped before a sample, or left writing as a kill leaves it.
  const QString written = path + QStringLiteral(".writing");
  const bool killed = kind == EmptyRecording::KilledBeforeFragment;
  testmedia::Movie movie = testmedia::makeMovie(written, testmedia::MovieSpec());
  const bool ok = movie.writer->startWriting() && (killed || testmedia::finish(movie)) &&
                  EmptyRecording_Write(path, EmptyRecording_Read(written).left(kind == EmptyRecording::HeaderCutShort ? 600 : INT_MAX));
  if (killed) movie.writer->cancelWriting();  // which removes its file
  else QFile::remove(written);
  return ok;
}

}  // namespace

TEST(PlaybackOpen, ASessionStoppedBeforeItsFirstPictureSaysNothingWasRecordedAndKeepsItsMarks) {
  const QString folder = Test_MakeTempDir(QStringLiteral("nothing-recorded"));
  const QString nothing = QStringLiteral("Nothing was recorded in '%1'."), damaged = QStringLiteral("File '%1' is damaged");
  const struct {
    const char* name;
    EmptyRecording movie;
    bool killed;  // the recording's lock file stays
    const QString& says;
  } cases[] = {
      {"Stopped At Once", EmptyRecording::Stopped, false, nothing},
      {"Killed Before The First Fragment", EmptyRecording::KilledBeforeFragment, true, nothing},
      {"Killed Early", EmptyRecording::KilledEarly, true, nothing},
      {"Killed Before The Header", EmptyRecording::KilledBeforeHeader, true, nothing},
      {"Header Cut Short", EmptyRecording::HeaderCutShort, false, damaged},
      {"Fragment Headers Lost", EmptyRecording::FragmentHeadersLost, false, damaged},
  };
  PlaybackTestHost host;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString package = folder + QLatin1Char('/') + QLatin1String(c.name) + QStringLiteral(".vlvidcapb");
    const QString movie = package + QStringLiteral("/VLCapturedMovie.mp4"), settings = package + QStringLiteral("/VLSettings.json");
    ASSERT_TRUE(QDir().mkpath(package) && EmptyRecording_Make(c.movie, movie));
    ASSERT_TRUE(!c.killed || EmptyRecording_Write(package + QStringLiteral("/VLRecording.lock"), QByteArray()));
    auto doc = PlaybackTest_Document(package);
    doc->loadTagsArray({TagRecord_MakePoint(kTagRecord_InPoint, 1500), TagRecord_MakePoint(kTagRecord_OutPoint, 4000)});
    doc->updateSettingsFile();
    const QByteArray settingsBytes = EmptyRecording_Read(settings), movieBytes = EmptyRecording_Read(movie);
    QString shown;
    PlaybackTest_AnswerNextModal(QStringLiteral("okBtn"), &shown);
    QPointer<VLPlaybackWC> window = host.open(package);
    ASSERT_TRUE(Test_WaitUntil([&] { return window.isNull(); }));
    EXPECT_TRUE(shown.contains(c.says.arg(QLatin1String(c.name)))) << shown.toStdString();
    EXPECT_EQ(shown.contains(QStringLiteral("damaged")), &c.says == &damaged) << shown.toStdString();
    EXPECT_TRUE(host.delegate->playbackWindows().isEmpty());
    EXPECT_EQ(EmptyRecording_Read(settings), settingsBytes);
    EXPECT_EQ(EmptyRecording_Read(movie), movieBytes);
  }
}
