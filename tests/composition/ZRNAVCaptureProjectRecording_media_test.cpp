// Exports of movies as the recorder writes them: fragmented, written by the asset writer.

#include "composition/ZRNAVCaptureProject.h"
#include "platform/media/AssetWriter.h"
#include "platform/media/AssetWriterTestMedia.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>

namespace {

constexpr int kWidth = 320, kHeight = 240, kFps = 30;

// Records seconds of moving pictures and a tone into a fragmented movie (2 s fragments, a key frame
// every second), as a live session does.
QString record(const QString& path, double seconds) {
  auto writer = AssetWriter::create(path, QString::fromLatin1(kAVFileTypeMPEG4));
  if (!writer) return QString();
  writer->setMovieFragmentInterval(MediaTimeMake(2, 1));
  auto video = AssetWriterInput::create(
      MediaType::Video,
      QVariantMap{{AVVideoCodecKey, AVVideoCodecTypeH264},
                  {AVVideoWidthKey, double(kWidth)},
                  {AVVideoHeightKey, double(kHeight)},
                  {AVVideoCompressionPropertiesKey,
                   QVariantMap{{AVVideoExpectedSourceFrameRateKey, float(kFps)},
                               {AVVideoMaxKeyFrameIntervalKey, float(kFps)},
                               {AVVideoAverageBitRateKey, 1000 * 1024}}}});
  auto audio = AssetWriterInput::create(MediaType::Audio, QVariantMap{{AVFormatIDKey, kAudioFormatMPEG4AAC},
                                                                       {AVNumberOfChannelsKey, 2},
                                                                       {AVSampleRateKey, 48000},
                                                                       {AVEncoderBitRateKey, 96000}});
  writer->addInput(video);
  writer->addInput(audio);
  if (!writer->startWriting()) return QString();
  const MediaTime base = HostClock_Now();
  writer->startSessionAtSourceTime(base);
  const auto at = [&](double s) { return base + MediaTimeMakeWithSeconds(s, kHostClockTimescale); };
  int64_t samples = 0;
  const int frames = int(seconds * kFps);
  for (int i = 0; i < frames; ++i) {
    const double t = double(i) / kFps;
    if (!Test_WaitUntil([&] { return video->isReadyForMoreMediaData(); }, 20000)) return QString();
    video->appendSampleBuffer(testmedia::makeVideoBuffer(kWidth, kHeight, i, at(t)));
    while (double(samples) / 48000 <= t) {
      if (!Test_WaitUntil([&] { return audio->isReadyForMoreMediaData(); }, 20000)) return QString();
      audio->appendSampleBuffer(testmedia::makeAudioBuffer(48000, 2, 1024, samples, at(double(samples) / 48000)));
      samples += 1024;
    }
  }
  std::atomic<bool> done{false};
  audio->markAsFinished();
  video->markAsFinished();
  writer->finishWritingWithCompletionHandler([&] { done = true; });
  if (!Test_WaitUntil([&] { return done.load(); }, 60000)) return QString();
  return writer->status() == AssetWriterStatusCompleted ? path : QString();
}

AssetExportSessionStatus exportTo(const AssetExportSessionRef& session, const QString& out, const MediaTimeRange& range) {
  session->setOutputURL(QUrl::fromLocalFile(out));
  session->setOutputFileType(QString::fromLatin1(kExportFileTypeMPEG4));
  session->setTimeRange(range);
  return TestMovie_RunExport(session);
}

}  // namespace

TEST(ZRNAVCaptureProjectRecording, ClipOfARecordingStartsAtTheRequestedFrame) {
  const QString folder = Test_MakeTempDir(QStringLiteral("recording"));
  const QString movie = record(QDir(folder).filePath(QStringLiteral("VLCapturedMovie.mp4")), 9.0);
  ASSERT_FALSE(movie.isEmpty());
  const DecodedFrames source = TestMovie_DecodeVideo(movie);
  ASSERT_GT(source.md5.size(), 260);

  struct Case {
    double start, length;
  } const cases[] = {{5.0, 3.0}, {2.5, 1.5}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "clip from " << c.start);
    // As an export job does it: a project of the one recorded movie, less nothing, then a time range.
    ZRNAVCaptureProject project;
    project.setVideoSize(QSizeF(kWidth, kHeight));
    project.setUseAudio(true);
    project.setSegmentAssetsArray({Asset::assetWithPath(movie)});
    auto session = project.makeExportable(QString::fromLatin1(AVAssetExportPresetPassthrough));
    ASSERT_TRUE(session);
    const QString out = QDir(folder).filePath(QStringLiteral("VLClip_%1.mp4").arg(n++));
    ASSERT_EQ(exportTo(session, out,
                       MediaTimeRangeMake(MediaTimeMakeWithSeconds(c.start, 1000), MediaTimeMakeWithSeconds(c.length, 1000))),
              AssetExportSessionStatus::Completed)
        << session->error().toStdString();
    const DecodedFrames clip = TestMovie_DecodeVideo(out);
    EXPECT_TRUE(clip.errors.isEmpty()) << clip.errors.toStdString();
    EXPECT_NEAR(double(clip.md5.size()), c.length * kFps, 1.0);
    EXPECT_NEAR(TestMovie_Duration(out), c.length, 1.0 / kFps + 0.03);
    ASSERT_FALSE(clip.md5.isEmpty());
    EXPECT_EQ(clip.md5.first(), TestMovie_FrameAt(source, c.start));
  }
}

TEST(ZRNAVCaptureProjectRecording, KilledRecordingExportsWhatItHolds) {
  const QString folder = Test_MakeTempDir(QStringLiteral("killed"));
  const QString movie = record(QDir(folder).filePath(QStringLiteral("VLCapturedMovie.mp4")), 7.0);
  ASSERT_FALSE(movie.isEmpty());
  // The writer died in the middle of its last fragment.
  QFile::resize(movie, QFileInfo(movie).size() - 20000);
  ZRNAVCaptureProject project;
  project.setVideoSize(QSizeF(kWidth, kHeight));
  project.setUseAudio(true);
  project.setStartMillisToClip(1000);
  project.setSegmentAssetsArray({Asset::assetWithPath(movie)});
  const double held = project.duration();
  EXPECT_GT(held, 3.0);
  EXPECT_LT(held, 6.0);
  auto session = project.makeExportable(QString::fromLatin1(AVAssetExportPresetPassthrough));
  ASSERT_TRUE(session);
  const QString out = QDir(folder).filePath(QStringLiteral("session.mp4"));
  ASSERT_EQ(exportTo(session, out, MediaTimeRangeMake(kMediaTimeZero, kMediaTimePositiveInfinity)),
            AssetExportSessionStatus::Completed)
      << session->error().toStdString();
  const DecodedFrames frames = TestMovie_DecodeVideo(out);
  EXPECT_TRUE(frames.errors.isEmpty()) << frames.errors.toStdString();
  EXPECT_NEAR(frames.md5.size() / double(kFps), held, 0.1);
}
