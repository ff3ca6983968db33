// The playback window of a recording in progress, on a movie that the ffmpeg tool writes in fragments
// in real time beside the test (the recorder's own movies are tested with the recorder).

#include "playback/VLProgressivePlayWC.h"

#include "app/ZRNAppDelegate.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNAppSetup.h"
#include "session/VLDocument.h"
#include "composition/VL_ExportJobRecord.h"
#include "composition/ZRNJobsController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/asset/FragmentedAssetMinder.h"
#include "platform/media/asset/MovieLayout.h"
#include "platform/media/player/Player.h"
#include "playback/ZRNSynchroMovieControllerView.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include <gtest/gtest.h>

namespace {
// A session package whose movie the ffmpeg tool is still writing: 1 s fragments, both sources paced in
// real time (an unpaced sound source would run ahead and make the movie "long" at once) and every packet
// flushed (else the file grows by whole output buffers, several fragments at a time).
class GrowingSession {
 public:
  explicit GrowingSession(double seconds) {
    package = Test_MakeTempDir(QStringLiteral("live")) + QStringLiteral("/Cup Final.vlvidcapb");
    QDir().mkpath(package);
    movie = package + QStringLiteral("/VLCapturedMovie.mp4");
    m_writer.start(QStringLiteral("ffmpeg"),
                   QStringLiteral("-v error -re -f lavfi -i testsrc2=size=320x240:rate=30 -re -f lavfi "
                                  "-i sine=frequency=440:sample_rate=48000 -t %1 -c:v libx264 -preset ultrafast -g 30 "
                                  "-pix_fmt yuv420p -c:a aac -flush_packets 1 -movflags frag_keyframe+empty_moov+default_base_moof "
                                  "-frag_duration 1000000")
                           .arg(seconds)
                           .split(QLatin1Char(' '))
                       << movie);
    document = std::make_shared<VLDocument>();
    document->setDocURL(QUrl::fromLocalFile(package));
    document->setSegmentSeconds(1.0f);
    document->setCaptureAudio(true);
    document->setFrameSize(QSizeF(320, 240));
  }
  ~GrowingSession() {
    m_writer.kill();
    m_writer.waitForFinished();
  }
  bool started() { return m_writer.waitForStarted(10000); }
  // Written as far as the first complete fragment (the live window hands the movie over after 1.5).
  bool waitForFragments(int count) {
    return Test_WaitUntil([&] { return Asset_ScanMovieFile(movie).completeFragments >= count; }, 20000);
  }
  bool finished() { return Test_WaitUntil([&] { return m_writer.state() == QProcess::NotRunning; }, 30000); }

  QString package;
  QString movie;
  std::shared_ptr<VLDocument> document;

 private:
  QProcess m_writer;
};

class ProgressiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UserDefaults::resetStandard();
    QFile::remove(StandardLocations::preferencesFilePath());
    Prefs_RegisterDefaultPrefs();
    ZRNAppSetup::sharedAppSetup()->setHasMicrophoneAccess(true);
  }
  void TearDown() override { delete window.data(); }

  void postRecordingState(bool on) {
    NotificationCenter::defaultCenter().post(QStringLiteral("ZRNRecordingStateChanged"), nullptr,
                                             {{QStringLiteral("recIsON"), on}});
  }

  QPointer<VLProgressivePlayWC> window;
};
}  // namespace

TEST_F(ProgressiveTest, FollowsTheGrowingMovieAndClosesWhenTheRecordingStops) {
  ZRNAppPrefs().setPreviewShowsLastFrame(true);
  ZRNAppDelegate delegate;
  GrowingSession session(5.0);
  ASSERT_TRUE(session.started());
  ASSERT_TRUE(session.waitForFragments(1));

  window = new VLProgressivePlayWC();
  delegate.setCapturePlaybackWC(window);
  window->setLiveDocument(session.document);
  // Made hidden, as when the recording hands its movie over.
  window->openLiveFootage(QUrl::fromLocalFile(session.movie));
  ASSERT_TRUE(Test_WaitUntil([&] { return window->fragmentedAssetMinder() != nullptr; }, 20000));
  EXPECT_FALSE(window->isVisible());

  EXPECT_EQ(window->jobsController()->jobsDoc(), session.document);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Cup Final -- Live Recording"));
  EXPECT_DOUBLE_EQ(window->fragmentedAssetMinder()->mindingInterval(), 1.0);
  ZRNSynchroMovieControllerView* bar = window->synchroMovieController();
  const double first = MediaTimeGetSeconds(bar->maxSynchroTime());
  EXPECT_GT(first, 0.5);
  // The last frame written so far: a hundredth of a second before the end.
  ASSERT_TRUE(Test_WaitUntil([&] {
    return std::abs(MediaTimeGetSeconds(window->player()->currentTime()) - (first - 0.01)) < 0.002;
  })) << MediaTimeGetSeconds(window->player()->currentTime()) << " vs end " << first;

  // The end of the transport bar moves with every fragment.
  QList<double> ends{first};
  ASSERT_TRUE(Test_WaitUntil([&] {
    const double now = MediaTimeGetSeconds(bar->maxSynchroTime());
    if (now > ends.last()) ends << now;
    return ends.size() >= 3;
  }, 20000)) << "ends seen: " << ends.size() << " refreshes that grew: " << window->fragmentedAssetMinder()->durationChanges()
              << " asset duration " << MediaTimeGetSeconds(window->capturedMovieAsset()->duration());
  // A paused window plays up to the new end.
  ASSERT_TRUE(Test_WaitUntil([&] {
    return window->player()->currentItem() && MediaTimeGetSeconds(window->player()->currentItem()->duration()) > first;
  }));

  window->show();
  postRecordingState(true);
  Test_ProcessEvents(30);
  EXPECT_TRUE(window && window->isVisible()) << "a recording that starts changes nothing";
  postRecordingState(false);
  ASSERT_TRUE(Test_WaitUntil([&] { return window.isNull(); }));
  EXPECT_EQ(delegate.capturePlaybackWC(), nullptr);
  session.finished();
}

TEST_F(ProgressiveTest, SoundRule) {
  const struct {
    const char* name;
    bool microphoneAccess, builtIn, closeAudioWhenRecording, controlsEnabled;
    float volume;
  } rows[] = {
      {"built-in microphone", true, true, false, false, 0.0f},
      {"outside microphone, playback on", true, false, false, true, 1.0f},
      {"outside microphone, playback closed while recording", true, false, true, true, 0.0f},
      {"no microphone access: left as it was", false, true, true, true, 1.0f},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ZRNAppSetup::sharedAppSetup()->setHasMicrophoneAccess(row.microphoneAccess);
    ZRNAppPrefs().setCloseAudioPlaybackWhenRecording(row.closeAudioWhenRecording);
    auto document = std::make_shared<VLDocument>();
    document->setCaptureAudio(true);
    document->setMicrophoneIsBuiltIn(row.builtIn);
    delete window.data();
    window = new VLProgressivePlayWC();
    window->setVlDocument(document);
    ZRNSynchroMovieControllerView* bar = window->synchroMovieController();
    bar->updateControllerForSound(true);
    bar->soundMAX();
    Test_ProcessEvents(20);
    window->U_UpdateSoundControls();
    Test_ProcessEvents(20);  // the transport bar sets volumes on the main queue
    EXPECT_EQ(bar->sndOnBtn()->isEnabled(), row.controlsEnabled);
    EXPECT_EQ(bar->sndLevelSlider()->isEnabled(), row.controlsEnabled);
    EXPECT_FLOAT_EQ(window->player()->volume(), row.volume);
  }
}

TEST_F(ProgressiveTest, ClosingNeverAsksAboutPendingExports) {
  auto document = std::make_shared<VLDocument>();
  auto job = std::make_shared<VL_ExportJobRecord>();
  job->setStatus(kJobStatusWaiting);
  document->jobsArray().append(job);
  window = new VLProgressivePlayWC();
  window->setVlDocument(document);
  window->jobsController()->setJobsDoc(document);
  ASSERT_EQ(window->jobsController()->numberOfPendingJobs(), 1);
  window->show();
  bool asked = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      asked = true;
      modal->close();
    }
  });
  watch.start(5);
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(asked);
  EXPECT_FALSE(window.isNull()) << "the window stays the delegate's until the recording ends";
  EXPECT_EQ(document->numberOfPendingJobs(), 1) << "closing the view keeps the exports";
}

// A recording in progress opens reading each fragment header from the disk once (the walk that the
// fragment minder goes on from keeps them for the demuxer), and the window still follows its growth
// from that walk. Each fragment is large (about 250 KB), so a demuxer jumps from header to header.
TEST_F(ProgressiveTest, ARecordingInProgressOpensReadingEachHeaderOnceAndFollowsItsGrowth) {
  ZRNAppDelegate delegate;
  const QString folder = Test_MakeTempDir(QStringLiteral("live-once"));
  const QString source = TestMovie_Make(folder, QStringLiteral("source.mp4"), {.seconds = 60.0, .fragmented = true, .quantizer = 4});
  ASSERT_FALSE(source.isEmpty());
  const QString package = folder + QStringLiteral("/Cup Final.vlvidcapb");
  QDir().mkpath(package);
  const QString movie = package + QStringLiteral("/VLCapturedMovie.mp4");
  QFile in(source);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly));
  const QByteArray bytes = in.readAll();
  // Written up to the middle of its 45th fragment; the rest arrives while the window shows it.
  const qsizetype written = bytes.size() * 3 / 4;
  {
    QFile out(movie);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    ASSERT_EQ(out.write(bytes.left(written)), written);
  }
  const int fragments = Asset_ScanMovieFile(movie).completeFragments;
  ASSERT_GE(fragments, 40);
  auto document = std::make_shared<VLDocument>();
  document->setDocURL(QUrl::fromLocalFile(package));
  document->setSegmentSeconds(1.0f);
  document->setCaptureAudio(true);
  document->setFrameSize(QSizeF(320, 240));

  const int64_t before = Asset_MovieFileReads();
  window = new VLProgressivePlayWC();
  delegate.setCapturePlaybackWC(window);
  window->setLiveDocument(document);
  window->openLiveFootage(QUrl::fromLocalFile(movie));
  ASSERT_TRUE(Test_WaitUntil([&] {
    const auto item = window->player()->currentItem();
    return window->fragmentedAssetMinder() != nullptr && item && item->currentVideoFrame() != nullptr;
  }, 20000));
  const int64_t reads = Asset_MovieFileReads() - before;
  EXPECT_GE(reads, fragments);
  EXPECT_LE(reads, fragments + 20) << fragments << " fragments";
  EXPECT_TRUE(window->noticeView()->isHidden()) << "a movie still being written is not damaged";

  ZRNSynchroMovieControllerView* bar = window->synchroMovieController();
  const double first = MediaTimeGetSeconds(bar->maxSynchroTime());
  EXPECT_NEAR(first, fragments, 1.5);
  {
    QFile out(movie);
    ASSERT_TRUE(out.open(QIODevice::Append));
    ASSERT_EQ(out.write(bytes.mid(written)), bytes.size() - written);
  }
  EXPECT_TRUE(Test_WaitUntil([&] { return MediaTimeGetSeconds(bar->maxSynchroTime()) > 59.5; }, 20000))
      << MediaTimeGetSeconds(bar->maxSynchroTime());
  // Taken up from the walk, not by probing the whole movie again.
  const auto asset = std::dynamic_pointer_cast<FragmentedAsset>(window->capturedMovieAsset());
  ASSERT_NE(asset, nullptr);
  EXPECT_EQ(asset->fullProbes(), 1);
}
