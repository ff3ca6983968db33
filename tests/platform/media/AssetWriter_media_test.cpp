#include "platform/media/AssetWriter.h"

#include "platform/media/AssetWriterTestMedia.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

#include <atomic>
#include <csignal>
#include <cstdio>

#include <sys/resource.h>

using namespace testmedia;

namespace {

// The encoders' statistics at close would drown the test output.
const int kQuietFFmpeg = [] {
  av_log_set_level(AV_LOG_ERROR);
  return 0;
}();

// Runs this test program again as a child that writes a movie in the given mode; answers its output.
QString runChild(const QString& mode, const QString& path, QProcess::ExitStatus* exitStatus) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("VELMORA_WRITER_CHILD"), mode + QLatin1Char(':') + path);
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("--gtest_filter=AssetWriterChild.DISABLED_WriteAndStop"),
               QStringLiteral("--gtest_also_run_disabled_tests")});
  child.waitForFinished(120000);
  *exitStatus = child.exitStatus();
  return QString::fromUtf8(child.readAllStandardOutput());
}

}  // namespace

TEST(AssetWriter, WritesFragmentedMoviesOfBothFileTypesWithTheirCodecsAndRates) {
  struct Row {
    const char* name;
    MovieSpec spec;
    int expectedFragments;
  };
  MovieSpec mp4;
  mp4.inRate = 44100;  // resampled up
  MovieSpec mov;
  mov.fileType = QString::fromLatin1(kAVFileTypeQuickTimeMovie);
  mov.inRate = 48000;
  mov.inChannels = 1;  // mono becomes stereo
  mov.outRate = 44100;
  mov.outBitRate = 64000;
  mov.width = 480;
  mov.height = 270;
  MovieSpec plain;
  plain.fragmentSeconds = 0;
  plain.audio = false;
  const Row rows[] = {{"mp4", mp4, 3}, {"mov", mov, 3}, {"unfragmented", plain, 0}};

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const MovieSpec& s = row.spec;
    const QString path = Test_MakeTempDir(QStringLiteral("writer")) + QStringLiteral("/movie.") +
                         (s.fileType == QLatin1String(kAVFileTypeMPEG4) ? QStringLiteral("mp4") : QStringLiteral("mov"));
    Movie m = makeMovie(path, s);
    ASSERT_TRUE(m.writer->startWriting()) << m.writer->error().description().toStdString();
    EXPECT_EQ(m.writer->status(), AssetWriterStatusWriting);
    const MediaTime base = HostClock_Now();
    m.writer->startSessionAtSourceTime(base);
    feed(m, s, base, 5 * s.fps);
    ASSERT_TRUE(finish(m));
    EXPECT_EQ(m.writer->status(), AssetWriterStatusCompleted) << m.writer->error().description().toStdString();
    EXPECT_FALSE(m.video->isReadyForMoreMediaData());
    EXPECT_FALSE(m.video->appendSampleBuffer(makeVideoBuffer(s.width, s.height, 0, at(base, 6))));

    const QJsonObject probe = ffprobe(path);
    const QJsonObject v = streamOfType(probe, "video");
    EXPECT_EQ(v.value("codec_name").toString(), "h264");
    EXPECT_EQ(v.value("width").toInt(), s.width);
    EXPECT_EQ(v.value("height").toInt(), s.height);
    EXPECT_NEAR(formatDuration(probe), 5.0, 0.15);
    const QJsonObject a = streamOfType(probe, "audio");
    if (s.audio) {
      EXPECT_EQ(a.value("codec_name").toString(), "aac");
      EXPECT_EQ(a.value("sample_rate").toString().toInt(), s.outRate);
      EXPECT_EQ(a.value("channels").toInt(), 2);
      EXPECT_NEAR(a.value("duration").toString().toDouble(), 5.0, 0.15);
    } else {
      EXPECT_TRUE(a.isEmpty());
    }

    const QStringList boxes = topLevelBoxes(path);
    ASSERT_FALSE(boxes.isEmpty());
    EXPECT_EQ(boxes.first(), "ftyp");
    EXPECT_EQ(boxes.count("moof"), row.expectedFragments) << boxes.join(' ').toStdString();
    if (row.expectedFragments > 0) {
      EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("moof"));
    }
    EXPECT_EQ(decodableVideoFrames(path), 5 * s.fps);
  }
}

TEST(AssetWriter, FragmentsStartOnKeyFramesAboutEveryInterval) {
  MovieSpec s;
  s.audio = false;
  s.fragmentSeconds = 1;
  const QString path = Test_MakeTempDir(QStringLiteral("writer")) + QStringLiteral("/keys.mp4");
  Movie m = makeMovie(path, s);
  ASSERT_TRUE(m.writer->startWriting());
  const MediaTime base = HostClock_Now();
  m.writer->startSessionAtSourceTime(base);
  feed(m, s, base, 4 * s.fps);
  ASSERT_TRUE(finish(m));
  EXPECT_EQ(topLevelBoxes(path).count("moof"), 4);

  // Key frames exactly every frame-rate frames: one per fragment start.
  const QString packets = TestMovie_Run(
      "ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", "packet=pts_time,flags", "-of", "csv=p=0", path});
  QStringList keyTimes;
  for (const QString& line : packets.split('\n', Qt::SkipEmptyParts))
    if (line.section(',', 1, 1).startsWith('K')) keyTimes << QString::number(line.section(',', 0, 0).toDouble(), 'f', 2);
  EXPECT_EQ(keyTimes, QStringList({"0.00", "1.00", "2.00", "3.00"}));
}

TEST(AssetWriter, SessionStartAndEndTrimTheTimeline) {
  MovieSpec s;
  s.fragmentSeconds = 1;
  const QString path = Test_MakeTempDir(QStringLiteral("writer")) + QStringLiteral("/trim.mp4");
  Movie m = makeMovie(path, s);
  ASSERT_TRUE(m.writer->startWriting());
  const MediaTime base = HostClock_Now();
  // Buffers appended before the session has a start are left out, not written at time zero.
  EXPECT_TRUE(m.video->appendSampleBuffer(makeVideoBuffer(s.width, s.height, 0, at(base, -1))));
  Test_WaitUntil([&] { return m.video->isReadyForMoreMediaData(); });
  m.writer->startSessionAtSourceTime(at(base, 1.0));
  m.writer->endSessionAtSourceTime(at(base, 3.0));
  feed(m, s, base, 4 * s.fps);
  ASSERT_TRUE(finish(m));
  ASSERT_EQ(m.writer->status(), AssetWriterStatusCompleted);

  const QJsonObject probe = ffprobe(path);
  // Frames at 1.0 s up to 3.0 s inclusive; their first one is the movie's time zero.
  EXPECT_EQ(decodableVideoFrames(path), 61);
  EXPECT_NEAR(streamOfType(probe, "video").value("duration").toString().toDouble(), 2.03, 0.05);
  EXPECT_NEAR(streamOfType(probe, "audio").value("duration").toString().toDouble(), 2.0, 0.05);
  EXPECT_NEAR(streamOfType(probe, "video").value("start_time").toString().toDouble(), 0.0, 0.001);
}

TEST(AssetWriter, SoundStaysWithThePictureAcrossMissingAudioBuffers) {
  MovieSpec s;
  s.fragmentSeconds = 1;
  const QString path = Test_MakeTempDir(QStringLiteral("writer")) + QStringLiteral("/gap.mp4");
  Movie m = makeMovie(path, s);
  ASSERT_TRUE(m.writer->startWriting());
  const MediaTime base = HostClock_Now();
  m.writer->startSessionAtSourceTime(base);
  // Half a second of sound never arrives (dropped on a full queue, say).
  feed(m, s, base, 4 * s.fps, AudioGap{1.5, 2.0});
  ASSERT_TRUE(finish(m));
  ASSERT_EQ(m.writer->status(), AssetWriterStatusCompleted);
  EXPECT_NEAR(streamOfType(ffprobe(path), "audio").value("duration").toString().toDouble(), 4.0, 0.1);

  // The missing stretch is silent where it was missing, and the tone after it is back on time.
  QString log;
  TestMovie_Run("ffmpeg", {"-hide_banner", "-nostats", "-i", path, "-vn", "-af", "silencedetect=noise=-60dB:duration=0.2", "-f", "null", "-"},
                nullptr, &log);
  const QRegularExpression startRx("silence_start: ([0-9.]+)"), endRx("silence_end: ([0-9.]+)");
  const auto startMatch = startRx.match(log), endMatch = endRx.match(log);
  ASSERT_TRUE(startMatch.hasMatch() && endMatch.hasMatch()) << log.toStdString();
  EXPECT_NEAR(startMatch.captured(1).toDouble(), 1.5, 0.06);
  EXPECT_NEAR(endMatch.captured(1).toDouble(), 2.0, 0.06);
}

TEST(AssetWriter, FullQueueRefusesBuffersAndWritesEveryAcceptedOne) {
  MovieSpec s;
  s.width = 1280;
  s.height = 720;
  s.audio = false;
  const QString path = Test_MakeTempDir(QStringLiteral("writer")) + QStringLiteral("/burst.mp4");
  Movie m = makeMovie(path, s);
  ASSERT_TRUE(m.writer->startWriting());
  const MediaTime base = HostClock_Now();
  m.writer->startSessionAtSourceTime(base);
  const SampleBufferRef pattern = makeVideoBuffer(s.width, s.height, 0, base);
  int accepted = 0, refused = 0;
  for (int i = 0; i < 90; ++i) {
    auto buffer = std::make_shared<SampleBuffer>(MediaType::Video, av_frame_clone(pattern->frame()),
                                                 at(base, double(i) / s.fps), kMediaTimeInvalid);
    if (m.video->appendSampleBuffer(buffer))
      ++accepted;
    else
      ++refused;
  }
  EXPECT_GE(accepted, m.video->queueCapacity());
  EXPECT_GT(refused, 0);
  ASSERT_TRUE(finish(m));
  EXPECT_EQ(m.writer->status(), AssetWriterStatusCompleted);
  EXPECT_EQ(decodableVideoFrames(path), accepted);
}

TEST(AssetWriter, ImpossibleTargetsFailWithAReadableError) {
  MovieSpec s;
  const QString missing = Test_MakeTempDir(QStringLiteral("writer")) + QStringLiteral("/no/such/folder/movie.mp4");
  Movie m = makeMovie(missing, s);
  EXPECT_FALSE(m.writer->startWriting());
  EXPECT_EQ(m.writer->status(), AssetWriterStatusFailed);
  EXPECT_TRUE(m.writer->error().description().contains(QStringLiteral("No such file or directory")))
      << m.writer->error().description().toStdString();
  EXPECT_TRUE(m.writer->error().description().contains(missing));
  EXPECT_FALSE(m.video->isReadyForMoreMediaData());
  std::atomic<bool> done{false};
  m.writer->finishWritingWithCompletionHandler([&] { done = true; });
  EXPECT_TRUE(Test_WaitUntil([&] { return done.load(); }));
  EXPECT_EQ(m.writer->status(), AssetWriterStatusFailed);

  AssetWriterError error;
  EXPECT_EQ(AssetWriter::create(missing, QStringLiteral("video/x-matroska"), &error), nullptr);
  EXPECT_FALSE(error.isNull());

  // Settings the encoders cannot honour are refused before anything is written.
  auto writer = AssetWriter::create(Test_MakeTempDir() + QStringLiteral("/x.mp4"), kAVFileTypeMPEG4);
  MovieSpec odd;
  odd.width = 641;
  EXPECT_FALSE(writer->canApplyOutputSettings(videoSettings(odd), MediaType::Video));
  MovieSpec rate;
  rate.outRate = 47500;
  EXPECT_FALSE(writer->canApplyOutputSettings(audioSettings(rate), MediaType::Audio));
  EXPECT_TRUE(writer->canApplyOutputSettings(audioSettings(MovieSpec()), MediaType::Audio));
  QVariantMap hevc = videoSettings(MovieSpec());
  hevc[AVVideoCodecKey] = "hvc1";
  EXPECT_FALSE(writer->canApplyOutputSettings(hevc, MediaType::Video));
}

TEST(AssetWriter, CancelRemovesThePartFile) {
  MovieSpec s;
  const QString path = Test_MakeTempDir(QStringLiteral("writer")) + QStringLiteral("/cancel.mp4");
  Movie m = makeMovie(path, s);
  ASSERT_TRUE(m.writer->startWriting());
  const MediaTime base = HostClock_Now();
  m.writer->startSessionAtSourceTime(base);
  feed(m, s, base, 30);
  m.writer->cancelWriting();
  EXPECT_EQ(m.writer->status(), AssetWriterStatusCancelled);
  EXPECT_FALSE(QFileInfo::exists(path));
  EXPECT_FALSE(m.video->isReadyForMoreMediaData());
}

TEST(AssetWriter, KilledWriterLeavesAMoviePlayableToItsLastFragment) {
  const QString path = Test_MakeTempDir(QStringLiteral("writer")) + QStringLiteral("/killed.mp4");
  QProcess::ExitStatus exit;
  runChild(QStringLiteral("kill"), path, &exit);
  EXPECT_EQ(exit, QProcess::CrashExit);
  const QStringList boxes = topLevelBoxes(path);
  ASSERT_GE(boxes.size(), 3);
  EXPECT_EQ(boxes.mid(0, 2), QStringList({"ftyp", "moov"}));
  EXPECT_GE(boxes.count("moof"), 4);
  EXPECT_FALSE(boxes.contains("mfra"));
  const QJsonObject probe = ffprobe(path);
  EXPECT_EQ(streamOfType(probe, "video").value("codec_name").toString(), "h264");
  EXPECT_EQ(streamOfType(probe, "audio").value("codec_name").toString(), "aac");
  EXPECT_GE(formatDuration(probe), 3.9);
  EXPECT_GE(decodableVideoFrames(path), 4 * 30);
}

TEST(AssetWriter, FullDiskFailsTheWriterAndKeepsTheWrittenFragments) {
  const QString path = Test_MakeTempDir(QStringLiteral("writer")) + QStringLiteral("/full.mp4");
  QProcess::ExitStatus exit;
  const QString out = runChild(QStringLiteral("fsize"), path, &exit);
  EXPECT_EQ(exit, QProcess::NormalExit);
  EXPECT_TRUE(out.contains(QStringLiteral("status=3"))) << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("File too large"))) << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("completion called"))) << out.toStdString();
  EXPECT_LE(QFileInfo(path).size(), 600 * 1024);
  EXPECT_GE(topLevelBoxes(path).count("moof"), 1);
  EXPECT_GE(decodableVideoFrames(path), 30);
}

// Run only as the child of the tests above.
TEST(AssetWriterChild, DISABLED_WriteAndStop) {
  const QString spec = qEnvironmentVariable("VELMORA_WRITER_CHILD");
  if (spec.isEmpty()) GTEST_SKIP();
  const QString mode = spec.section(':', 0, 0);
  const QString path = spec.section(':', 1);
  MovieSpec s;
  s.fragmentSeconds = 1;
  if (mode == QLatin1String("fsize")) {
    // Writes beyond the limit fail with EFBIG, as on a full disk, whoever runs the test.
    s.bitRate = 3000 * 1024;
    struct rlimit limit{600 * 1024, 600 * 1024};
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  Movie m = makeMovie(path, s);
  ASSERT_TRUE(m.writer->startWriting());
  const MediaTime base = HostClock_Now();
  m.writer->startSessionAtSourceTime(base);
  feed(m, s, base, 5 * s.fps);
  if (mode == QLatin1String("kill")) {
    Test_WaitUntil([&] { return topLevelBoxes(path).count("mdat") >= 4; }, 60000);
    raise(SIGKILL);
  }
  Test_WaitUntil([&] { return m.writer->status() == AssetWriterStatusFailed; }, 20000);
  printf("status=%ld\nerror=%s\n", long(m.writer->status()), qPrintable(m.writer->error().description()));
  if (finish(m)) printf("completion called, status=%ld\n", long(m.writer->status()));
  fflush(stdout);
}
