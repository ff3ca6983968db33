// Exports of movies as the recorder writes them: fragmented, written by the asset writer.

#include "composition/ZRNAVCaptureProject.h"
#include "platform/media/writer/AssetWriter.h"
#include "platform/media/AssetWriterTestMedia.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

constexpr int kWidth = 320, kHeight = 240, kFps = 30;

// Records seconds of moving pictures and a tone into a fragmented movie (2 s fragments, a key frame
// every second), as a live session does.
QString record(const QString& path, double seconds) {
  testmedia::MovieSpec spec;
  spec.width = kWidth;
  spec.height = kHeight;
  spec.fps = kFps;
  spec.outBitRate = 96000;
  spec.realTime = false;
  testmedia::Movie movie = testmedia::makeMovie(path, spec);
  if (!movie.writer->startWriting()) return QString();
  const MediaTime base = HostClock_Now();
  movie.writer->startSessionAtSourceTime(base);
  testmedia::feed(movie, spec, base, int(seconds * kFps));
  if (!testmedia::finish(movie)) return QString();
  return movie.writer->status() == AssetWriterStatusCompleted ? path : QString();
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
