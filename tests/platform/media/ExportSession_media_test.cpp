#include "platform/media/asset/Asset.h"
#include "platform/media/asset/Composition.h"
#include "platform/media/export/ExportSession.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

constexpr double kFrame = 1.0 / 30.0;
const char* const kPresets[] = {AVAssetExportPresetPassthrough, AVAssetExportPresetHighestQuality};

MediaTimeRange Seconds(double start, double length) {
  return MediaTimeRangeMake(MediaTimeMakeWithSeconds(start, 600),
                            length < 0 ? kMediaTimePositiveInfinity : MediaTimeMakeWithSeconds(length, 600));
}

AssetExportSessionRef makeSession(const AssetRef& asset, const char* preset, const QString& output,
                                  const MediaTimeRange& range = Seconds(0, -1)) {
  auto session = AssetExportSession::exportSessionWithAsset(asset, QString::fromLatin1(preset));
  if (!session) return nullptr;
  session->setOutputURL(QUrl::fromLocalFile(output));
  session->setOutputFileType(QString::fromLatin1(kExportFileTypeMPEG4));
  session->setTimeRange(range);
  return session;
}

QString Out(const QString& name) { return QDir(Test_MakeTempDir()).filePath(name); }

class ExportSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Key frames at 0, 2, 4 ... s: 5.0 s lies between two of them.
    s_source = TestMovie_Make(Test_MakeTempDir(QStringLiteral("export-sources")), QStringLiteral("source.mp4"),
                              {.seconds = 10.0, .keyInterval = 60});
    s_sourceFrames = TestMovie_DecodeVideo(s_source);
  }
  static QString s_source;
  static DecodedFrames s_sourceFrames;
};
QString ExportSessionTest::s_source;
DecodedFrames ExportSessionTest::s_sourceFrames;

}  // namespace

TEST_F(ExportSessionTest, RangeExportsHaveTheRangeLengthAndRisingProgress) {
  ASSERT_GT(s_sourceFrames.md5.size(), 290);
  struct Case {
    const char* preset;
    const char* fileType;
    double start, length;
  };
  const Case cases[] = {{AVAssetExportPresetPassthrough, kExportFileTypeMPEG4, 5.0, 3.0},
                        {AVAssetExportPresetPassthrough, kExportFileTypeMPEG4, 8.9, 1.1},
                        {AVAssetExportPresetHighestQuality, kExportFileTypeQuickTimeMovie, 2.5, 2.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.preset << " from " << c.start);
    const QString out = Out(QStringLiteral("clip.mov"));
    auto session = makeSession(Asset::assetWithPath(s_source), c.preset, out, Seconds(c.start, c.length));
    ASSERT_TRUE(session);
    session->setOutputFileType(QString::fromLatin1(c.fileType));
    QList<float> progress;
    ASSERT_EQ(TestMovie_RunExport(session, &progress), AssetExportSessionStatus::Completed) << session->error().toStdString();
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_FLOAT_EQ(progress.last(), 1.0f);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    const DecodedFrames cut = TestMovie_DecodeVideo(out);
    EXPECT_TRUE(cut.errors.isEmpty()) << cut.errors.toStdString();
    EXPECT_NEAR(double(cut.md5.size()), c.length / kFrame, 1.0);
    EXPECT_NEAR(TestMovie_Duration(out), c.length, kFrame + 0.03);
    EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("stream=codec_name"), QStringLiteral("v")), QStringLiteral("h264"));
    EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("stream=codec_name"), QStringLiteral("a")), QStringLiteral("aac"));
    EXPECT_NEAR(TestMovie_Probe(out, QStringLiteral("stream=duration"), QStringLiteral("a")).toDouble(), c.length, 0.05);
    if (QLatin1String(c.fileType) == QLatin1String(kExportFileTypeQuickTimeMovie)) {
      EXPECT_TRUE(TestMovie_Probe(out, QStringLiteral("format=format_name")).startsWith(QStringLiteral("mov,")));
      EXPECT_FLOAT_EQ(progress.first(), 0.0f);
      continue;
    }
    // A copied range starts with the source's own picture at its start, at time zero.
    ASSERT_FALSE(cut.md5.isEmpty());
    EXPECT_EQ(cut.md5.first(), TestMovie_FrameAt(s_sourceFrames, c.start));
    EXPECT_NEAR(cut.times.first(), 0.0, 1e-3);
  }
}

TEST_F(ExportSessionTest, CancelStopsTheExportAndLeavesNoFile) {
  const QString out = Out(QStringLiteral("cancelled.mp4"));
  auto session = makeSession(Asset::assetWithPath(s_source), AVAssetExportPresetHighestQuality, out);
  std::atomic<int> calls{0};
  session->exportAsynchronouslyWithCompletionHandler([&]() { ++calls; });
  ASSERT_TRUE(Test_WaitUntil([&]() { return session->progress() > 0.0f || calls > 0; }, 60000));
  session->cancelExport();
  ASSERT_TRUE(Test_WaitUntil([&]() { return calls > 0; }, 60000));
  EXPECT_EQ(session->status(), AssetExportSessionStatus::Cancelled);
  EXPECT_TRUE(session->error().isEmpty());
  EXPECT_TRUE(QFileInfo(out).dir().isEmpty(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot));
  EXPECT_EQ(calls.load(), 1);
  // Cancelled before it starts: it never writes and still reports once.
  auto early = makeSession(Asset::assetWithPath(s_source), AVAssetExportPresetPassthrough, out);
  early->cancelExport();
  EXPECT_EQ(TestMovie_RunExport(early), AssetExportSessionStatus::Cancelled);
  EXPECT_FALSE(QFileInfo::exists(out));
}

TEST_F(ExportSessionTest, FailuresEndWithStatusFourAndAReason) {
  const QString folder = Test_MakeTempDir();
  const QString existing = QDir(folder).filePath(QStringLiteral("existing.mp4"));
  QFile f(existing);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("keep me") == 7);
  f.close();
  const AssetRef source = Asset::assetWithPath(s_source);
  // A link left where the export goes is not written through.
  const QString elsewhere = QDir(folder).filePath(QStringLiteral("elsewhere.mp4"));
  const QString link = QDir(folder).filePath(QStringLiteral("link.mp4"));
  ASSERT_TRUE(QFile::link(elsewhere, link));
  const struct {
    const char* name;
    AssetRef asset;
    QString output;
    MediaTimeRange range;
  } cases[] = {
      {"output is a dangling link", source, link, Seconds(0, -1)},
      {"folder is a file", source, QDir(existing).filePath(QStringLiteral("clip.mp4")), Seconds(0, -1)},
      {"folder does not exist", source, QDir(folder).filePath(QStringLiteral("nowhere/clip.mp4")), Seconds(0, -1)},
      {"output exists", source, existing, Seconds(0, -1)},
      {"range after the end", source, QDir(folder).filePath(QStringLiteral("late.mp4")), Seconds(20, 1)},
      {"missing movie", Asset::assetWithPath(folder + QStringLiteral("/gone.mp4")), folder + QStringLiteral("/x.mp4"), Seconds(0, -1)},
  };
  for (const char* preset : kPresets) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << preset << ": " << c.name);
      auto session = makeSession(c.asset, preset, c.output, c.range);
      EXPECT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Failed);
      EXPECT_EQ(int(session->status()), 4);
      EXPECT_FALSE(session->error().isEmpty());
    }
  }
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("keep me"));
  EXPECT_FALSE(QFileInfo::exists(elsewhere));
  // An unknown preset gets no session at all.
  EXPECT_FALSE(AssetExportSession::exportSessionWithAsset(source, QStringLiteral("AVAssetExportPresetLowQuality")));
  EXPECT_FALSE(AssetExportSession::exportSessionWithAsset(nullptr, QString::fromLatin1(AVAssetExportPresetPassthrough)));
}

TEST_F(ExportSessionTest, CompositionOfTwoStretchesExportsBothInOrder) {
  AssetRef source = Asset::assetWithPath(s_source);
  auto composition = MutableComposition::composition();
  composition->setNaturalSize(QSizeF(320, 240));
  // 1.0..3.0 s (starts between key frames), then 6.0..7.0 s (starts on one).
  ASSERT_TRUE(composition->insertTimeRange(MediaTimeRangeMake(MediaTimeMake(1, 1), MediaTimeMake(2, 1)), source, kMediaTimeZero));
  ASSERT_TRUE(composition->insertTimeRange(MediaTimeRangeMake(MediaTimeMake(6, 1), MediaTimeMake(1, 1)), source, MediaTimeMake(2, 1)));
  for (const char* preset : kPresets) {
    SCOPED_TRACE(preset);
    const QString out = Out(QStringLiteral("joined.mp4"));
    auto session = makeSession(composition, preset, out);
    ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
    const DecodedFrames frames = TestMovie_DecodeVideo(out);
    EXPECT_TRUE(frames.errors.isEmpty()) << frames.errors.toStdString();
    EXPECT_NEAR(TestMovie_Duration(out), 3.0, 0.05);
    if (QLatin1String(preset) == QLatin1String(AVAssetExportPresetHighestQuality)) {
      EXPECT_NEAR(double(frames.md5.size()), 90.0, 1.0);
      continue;
    }
    // Copied pictures are the source's own, each at its place on the time line: 1.0 s first, 6.0 s two
    // seconds in. A copied stretch inside the time line cannot end on a frame that depends on a later
    // one, so it may lose its last few frames (the frame before them lasts longer).
    EXPECT_NEAR(double(frames.md5.size()), 90.0, 3.0);
    bool seen = false;
    for (qsizetype i = 0; i < frames.times.size(); ++i) {
      const double t = frames.times[i];
      EXPECT_EQ(frames.md5[i], TestMovie_FrameAt(s_sourceFrames, t < 2.0 - 1e-3 ? t + 1.0 : t + 4.0)) << t;
      seen = seen || std::abs(t - 2.0) < 1e-3;
    }
    EXPECT_TRUE(seen);
  }
}

TEST_F(ExportSessionTest, ExportsWhatTheMovieHoldsInTheRange) {
  const QString folder = Test_MakeTempDir();
  const QString soundPath = TestMovie_Make(folder, QStringLiteral("sound.m4a"), {.seconds = 2.0, .video = false});
  const QString mutePath = TestMovie_Make(folder, QStringLiteral("mute.mp4"), {.seconds = 2.0, .audio = false});
  // A recording killed mid-way: what it holds exports, and the clip decodes without errors.
  const QString torn = TestMovie_Make(folder, QStringLiteral("rec.mp4"), {.seconds = 6.0, .fragmented = true});
  ASSERT_FALSE(soundPath.isEmpty() || mutePath.isEmpty() || torn.isEmpty());
  QFile::resize(torn, QFileInfo(torn).size() * 2 / 3);
  const double held = MediaTimeGetSeconds(Asset::assetWithPath(torn)->duration());
  ASSERT_GT(held, 1.0);
  ASSERT_LT(held, 5.0);
  const struct {
    const char* name;
    QString source;
    double start, length;  // length < 0: to the end
    double expected, tolerance;
    QString streams;  // codec types, in order
  } cases[] = {
      {"range running past the end", s_source, 8.0, 5.0, 2.0, 0.05, "video\naudio"},
      {"sound only", soundPath, 0.5, -1.0, 1.5, 0.05, "audio"},
      {"picture only", mutePath, 0.0, -1.0, 2.0, 0.05, "video"},
      {"torn recording", torn, 0.0, -1.0, held, 0.1, "video\naudio"},
  };
  for (const char* preset : kPresets) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << preset << ": " << c.name);
      const QString out = Out(QStringLiteral("out.mp4"));
      auto session = makeSession(Asset::assetWithPath(c.source), preset, out, Seconds(c.start, c.length));
      ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
      EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("stream=codec_type")), c.streams);
      if (c.streams == QLatin1String("audio")) {
        EXPECT_NEAR(TestMovie_Duration(out), c.expected, c.tolerance);
        continue;
      }
      const DecodedFrames frames = TestMovie_DecodeVideo(out);
      EXPECT_TRUE(frames.errors.isEmpty()) << frames.errors.toStdString();
      EXPECT_NEAR(frames.md5.size() / 30.0, c.expected, c.tolerance);
    }
  }
}

// A fragmented movie is opened once for the probe and every copied track, and each track still gets
// every packet of the range, whichever track reads ahead.
TEST_F(ExportSessionTest, PassThroughOfAFragmentedMovieOpensItOnce) {
  const QString fragmented = TestMovie_Make(Test_MakeTempDir(QStringLiteral("export-fragmented")), QStringLiteral("f.mp4"),
                                            {.seconds = 10.0, .fragmented = true, .keyInterval = 60});
  const DecodedFrames sourceFrames = TestMovie_DecodeVideo(fragmented);
  for (const double start : {0.0, 3.5}) {
    SCOPED_TRACE(start);
    const int64_t opened = Asset_InputsOpened();
    const QString out = Out(QStringLiteral("range.mp4"));
    auto session = makeSession(Asset::assetWithPath(fragmented), AVAssetExportPresetPassthrough, out, Seconds(start, 4));
    ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
    EXPECT_EQ(Asset_InputsOpened() - opened, 1);
    const DecodedFrames frames = TestMovie_DecodeVideo(out);
    // Copied pictures are the source's own from the start on (the last one or two may be left out,
    // as in any copied range that ends before a key frame they refer past).
    ASSERT_NEAR(double(frames.md5.size()), 119.0, 2.0);
    // The clip opens on the picture shown at its start (the first one when none is shown yet).
    const qsizetype first = std::max<qsizetype>(0, sourceFrames.md5.indexOf(TestMovie_FrameAt(sourceFrames, start)));
    ASSERT_LE(first + frames.md5.size(), sourceFrames.md5.size());
    for (qsizetype i = 0; i < frames.md5.size(); ++i) ASSERT_EQ(frames.md5[i], sourceFrames.md5[first + i]) << i;
    EXPECT_NEAR(TestMovie_Probe(out, QStringLiteral("stream=duration"), QStringLiteral("a:0")).toDouble(), 4.0, 0.05);
  }
}

// A write that fails (here: past the file-size limit) fails the export with the system's reason,
// however far behind the writing runs.
TEST_F(ExportSessionTest, AFailedWriteFailsTheExport) {
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  for (const char* preset : kPresets) {
    SCOPED_TRACE(preset);
    const QString out = Out(QStringLiteral("limited.mp4"));
    struct rlimit limit = old;
    limit.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    auto session = makeSession(Asset::assetWithPath(s_source), preset, out);
    const AssetExportSessionStatus status = TestMovie_RunExport(session);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(status, AssetExportSessionStatus::Failed);
    EXPECT_TRUE(session->error().contains(QStringLiteral("too large"), Qt::CaseInsensitive)) << session->error().toStdString();
  }
  std::signal(SIGXFSZ, oldHandler);
}

namespace {
// Mean PSNR of each plane of a movie against the source ("y", "u", "v"), from ffmpeg's psnr filter.
QMap<QString, double> PlanePSNR(const QString& movie, const QString& source) {
  QString log;  // the filter's summary goes to the log
  TestMovie_Run(QStringLiteral("ffmpeg"),
                {"-v", "info", "-nostats", "-i", movie, "-i", source, "-lavfi", "[0:v][1:v]psnr", "-f", "null", "-"}, nullptr,
                &log);
  QMap<QString, double> result;
  const QRegularExpression re(QStringLiteral("PSNR y:([0-9.]+) u:([0-9.]+) v:([0-9.]+)"));
  const QRegularExpressionMatch m = re.match(log);
  if (m.hasMatch()) {
    result[QStringLiteral("y")] = m.captured(1).toDouble();
    result[QStringLiteral("u")] = m.captured(2).toDouble();
    result[QStringLiteral("v")] = m.captured(3).toDouble();
  }
  return result;
}
}  // namespace

// Re-encoding a movie with nothing drawn on it loses no more than the encoder itself does: as close
// to the source as ffmpeg's own encode at the same settings, in every plane.
TEST_F(ExportSessionTest, ReEncodeWithoutOverlaysIsAsFaithfulAsTheEncoder) {
  const QString out = Out(QStringLiteral("faithful.mp4"));
  auto session = makeSession(Asset::assetWithPath(s_source), AVAssetExportPresetHighestQuality, out);
  ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
  const QString reference = Out(QStringLiteral("reference.mp4"));
  TestMovie_Run(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-i", s_source, "-an", "-c:v", "libx264", "-preset",
                                           "medium", "-crf", "18", "-pix_fmt", "yuv420p", reference});
  const auto ours = PlanePSNR(out, s_source);
  const auto theirs = PlanePSNR(reference, s_source);
  ASSERT_EQ(ours.size(), 3);
  ASSERT_EQ(theirs.size(), 3);
  for (const QString& plane : {QStringLiteral("y"), QStringLiteral("u"), QStringLiteral("v")})
    EXPECT_GE(ours[plane], theirs[plane] - 0.5) << plane.toStdString() << " " << ours[plane] << " " << theirs[plane];
}

TEST_F(ExportSessionTest, TerminationCancelsEveryRunningExport) {
  std::vector<AssetExportSessionRef> sessions;
  std::atomic<int> calls{0};
  for (const QString& name : {QStringLiteral("first.mp4"), QStringLiteral("second.mp4")}) {
    sessions.push_back(makeSession(Asset::assetWithPath(s_source), AVAssetExportPresetHighestQuality, Out(name)));
    sessions.back()->exportAsynchronouslyWithCompletionHandler([&]() { ++calls; });
  }
  ASSERT_TRUE(Test_WaitUntil([&]() { return sessions[0]->progress() > 0.0f || calls > 0; }, 60000));
  AssetExportSession::cancelAllExports();
  ASSERT_TRUE(Test_WaitUntil([&]() { return calls == 2; }, 60000));
  for (const auto& session : sessions) EXPECT_EQ(session->status(), AssetExportSessionStatus::Cancelled);
}
