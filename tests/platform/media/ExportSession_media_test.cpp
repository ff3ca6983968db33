#include "platform/media/Composition.h"
#include "platform/media/ExportSession.h"
#include "platform/media/MediaTestMovies.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

namespace {

constexpr double kFrame = 1.0 / 30.0;

// Runs an export to its end and answers its final status.
AssetExportSessionStatus runExport(const AssetExportSessionRef& session, QList<float>* progress = nullptr) {
  std::atomic<bool> done{false};
  session->exportAsynchronouslyWithCompletionHandler([&done]() { done = true; });
  Test_WaitUntil([&]() {
    if (progress && (progress->isEmpty() || progress->last() != session->progress())) progress->append(session->progress());
    return done.load();
  }, 120000);
  EXPECT_TRUE(done.load());
  return session->status();
}

AssetExportSessionRef makeSession(const AssetRef& asset, const char* preset, const QString& output,
                                  const MediaTimeRange& range = MediaTimeRangeMake(kMediaTimeZero, kMediaTimePositiveInfinity)) {
  auto session = AssetExportSession::exportSessionWithAsset(asset, QString::fromLatin1(preset));
  if (!session) return nullptr;
  session->setOutputURL(QUrl::fromLocalFile(output));
  session->setOutputFileType(QString::fromLatin1(kExportFileTypeMPEG4));
  session->setTimeRange(range);
  return session;
}

class ExportSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_folder = Test_MakeTempDir(QStringLiteral("export-sources"));
    TestMovieSpec spec;
    spec.seconds = 10.0;
    spec.keyInterval = 60;  // key frames at 0, 2, 4 ... s: 5.0 s lies between two of them
    s_source = TestMovie_Make(s_folder, QStringLiteral("source.mp4"), spec);
    s_sourceFrames = TestMovie_DecodeVideo(s_source);
  }
  static QString s_folder;
  static QString s_source;
  static DecodedFrames s_sourceFrames;
};
QString ExportSessionTest::s_folder;
QString ExportSessionTest::s_source;
DecodedFrames ExportSessionTest::s_sourceFrames;

// The MD5 of the source frame shown at a time.
QString frameAt(const DecodedFrames& frames, double seconds) {
  QString md5;
  for (qsizetype i = 0; i < frames.times.size(); ++i)
    if (frames.times[i] <= seconds + 1e-6) md5 = frames.md5[i];
  return md5;
}

}  // namespace

TEST_F(ExportSessionTest, PassThroughRangeStartsAtTheRequestedFrame) {
  ASSERT_FALSE(s_source.isEmpty());
  ASSERT_GT(s_sourceFrames.md5.size(), 290);
  struct Case {
    double start, length;
  };
  const Case cases[] = {{5.0, 3.0}, {5.5, 3.0}, {0.0, 2.0}, {8.9, 1.1}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "start " << c.start << " length " << c.length);
    const QString out = QDir(Test_MakeTempDir()).filePath(QStringLiteral("clip%1.mp4").arg(n++));
    auto session = makeSession(Asset::assetWithPath(s_source), AVAssetExportPresetPassthrough, out,
                                MediaTimeRangeMake(MediaTimeMakeWithSeconds(c.start, 600), MediaTimeMakeWithSeconds(c.length, 600)));
    ASSERT_TRUE(session);
    QList<float> progress;
    ASSERT_EQ(runExport(session, &progress), AssetExportSessionStatus::Completed) << session->error().toStdString();
    EXPECT_FLOAT_EQ(session->progress(), 1.0f);
    const DecodedFrames cut = TestMovie_DecodeVideo(out);
    EXPECT_TRUE(cut.errors.isEmpty()) << cut.errors.toStdString();
    const double expected = c.length / kFrame;
    EXPECT_NEAR(double(cut.md5.size()), expected, 1.0);
    EXPECT_NEAR(TestMovie_Duration(out), c.length, kFrame + 0.03);
    ASSERT_FALSE(cut.md5.isEmpty());
    EXPECT_EQ(cut.md5.first(), frameAt(s_sourceFrames, c.start));
    EXPECT_NEAR(cut.times.first(), 0.0, 1e-3);
    // Sound comes along, cut to the same range.
    EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("stream=codec_name"), QStringLiteral("a")), QStringLiteral("aac"));
    EXPECT_NEAR(TestMovie_Probe(out, QStringLiteral("stream=duration"), QStringLiteral("a")).toDouble(), c.length, 0.05);
  }
}
