#include "platform/media/Composition.h"
#include "platform/media/ExportSession.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace {

constexpr double kFrame = 1.0 / 30.0;

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
    TestMovieRecipe recipe;
    recipe.seconds = 10.0;
    recipe.keyInterval = 60;  // key frames at 0, 2, 4 ... s: 5.0 s lies between two of them
    s_source = TestMovie_Make(s_folder, QStringLiteral("source.mp4"), recipe);
    s_sourceFrames = TestMovie_DecodeVideo(s_source);
  }
  static QString s_folder;
  static QString s_source;
  static DecodedFrames s_sourceFrames;
};
QString ExportSessionTest::s_folder;
QString ExportSessionTest::s_source;
DecodedFrames ExportSessionTest::s_sourceFrames;

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
    ASSERT_EQ(TestMovie_RunExport(session, &progress), AssetExportSessionStatus::Completed) << session->error().toStdString();
    EXPECT_FLOAT_EQ(session->progress(), 1.0f);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    const DecodedFrames cut = TestMovie_DecodeVideo(out);
    EXPECT_TRUE(cut.errors.isEmpty()) << cut.errors.toStdString();
    const double expected = c.length / kFrame;
    EXPECT_NEAR(double(cut.md5.size()), expected, 1.0);
    EXPECT_NEAR(TestMovie_Duration(out), c.length, kFrame + 0.03);
    ASSERT_FALSE(cut.md5.isEmpty());
    EXPECT_EQ(cut.md5.first(), TestMovie_FrameAt(s_sourceFrames, c.start));
    EXPECT_NEAR(cut.times.first(), 0.0, 1e-3);
    // Sound comes along, cut to the same range.
    EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("stream=codec_name"), QStringLiteral("a")), QStringLiteral("aac"));
    EXPECT_NEAR(TestMovie_Probe(out, QStringLiteral("stream=duration"), QStringLiteral("a")).toDouble(), c.length, 0.05);
  }
}

TEST_F(ExportSessionTest, HighestQualityEncodesH264AndAacOfTheRangeLength) {
  const QString out = QDir(Test_MakeTempDir()).filePath(QStringLiteral("hq.mov"));
  auto session = makeSession(Asset::assetWithPath(s_source), AVAssetExportPresetHighestQuality, out,
                              MediaTimeRangeMake(MediaTimeMakeWithSeconds(2.5, 600), MediaTimeMakeWithSeconds(2.0, 600)));
  ASSERT_TRUE(session);
  session->setOutputFileType(QString::fromLatin1(kExportFileTypeQuickTimeMovie));
  QList<float> progress;
  ASSERT_EQ(TestMovie_RunExport(session, &progress), AssetExportSessionStatus::Completed) << session->error().toStdString();
  EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("format=format_name")).split(QLatin1Char(',')).first(), QStringLiteral("mov"));
  EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("stream=codec_name"), QStringLiteral("v")), QStringLiteral("h264"));
  EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("stream=codec_name"), QStringLiteral("a")), QStringLiteral("aac"));
  EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("stream=width,height"), QStringLiteral("v")), QStringLiteral("320\n240"));
  const DecodedFrames frames = TestMovie_DecodeVideo(out);
  EXPECT_TRUE(frames.errors.isEmpty()) << frames.errors.toStdString();
  EXPECT_NEAR(double(frames.md5.size()), 60.0, 1.0);
  EXPECT_NEAR(TestMovie_Probe(out, QStringLiteral("stream=duration"), QStringLiteral("a")).toDouble(), 2.0, 0.05);
  // Progress only rises, from 0 to 1.
  ASSERT_FALSE(progress.isEmpty());
  EXPECT_FLOAT_EQ(progress.first(), 0.0f);
  EXPECT_FLOAT_EQ(progress.last(), 1.0f);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(ExportSessionTest, HighestQualityAppliesTheLayerTransform) {
  const QString out = QDir(Test_MakeTempDir()).filePath(QStringLiteral("scaled.mp4"));
  AssetRef asset = Asset::assetWithPath(s_source);
  auto session = makeSession(asset, AVAssetExportPresetHighestQuality, out,
                              MediaTimeRangeMake(kMediaTimeZero, MediaTimeMakeWithSeconds(0.5, 600)));
  auto vc = MutableVideoComposition::videoCompositionWithPropertiesOfAsset(asset);
  vc->setRenderSize(QSizeF(160, 120));
  vc->instructions()[0]->layerInstructions()[0]->setTransform(QTransform::fromScale(0.5, 0.5), kMediaTimeZero);
  session->setVideoComposition(vc);
  ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
  EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("stream=width,height"), QStringLiteral("v")), QStringLiteral("160\n120"));
  // The whole picture was scaled into the frame: its mean brightness matches the full-size source's.
  const auto meanOfFirstFrame = [](const QString& path) {
    const QString text = TestMovie_Run(QStringLiteral("ffprobe"),
                                       {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                        QStringLiteral("movie=%1,signalstats").arg(path), QStringLiteral("-show_entries"),
                                        QStringLiteral("frame_tags=lavfi.signalstats.YAVG"), QStringLiteral("-read_intervals"),
                                        QStringLiteral("%+#1"), QStringLiteral("-of"), QStringLiteral("csv=p=0")});
    return text.split(QLatin1Char('\n')).first().toDouble();
  };
  EXPECT_NEAR(meanOfFirstFrame(out), meanOfFirstFrame(s_source), 4.0);
}

TEST_F(ExportSessionTest, CancelStopsTheExportAndLeavesNoFile) {
  const QString folder = Test_MakeTempDir();
  const QString out = QDir(folder).filePath(QStringLiteral("cancelled.mp4"));
  auto session = makeSession(Asset::assetWithPath(s_source), AVAssetExportPresetHighestQuality, out);
  std::atomic<bool> done{false};
  std::atomic<int> calls{0};
  session->exportAsynchronouslyWithCompletionHandler([&]() {
    ++calls;
    done = true;
  });
  ASSERT_TRUE(Test_WaitUntil([&]() { return session->progress() > 0.0f || done.load(); }, 60000));
  session->cancelExport();
  ASSERT_TRUE(Test_WaitUntil([&]() { return done.load(); }, 60000));
  EXPECT_EQ(session->status(), AssetExportSessionStatus::Cancelled);
  EXPECT_EQ(int(session->status()), 5);
  EXPECT_TRUE(session->error().isEmpty());
  EXPECT_FALSE(QFileInfo::exists(out));
  EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
  EXPECT_EQ(calls.load(), 1);

  // Cancelled before it starts: it never writes and still reports once.
  auto early = makeSession(Asset::assetWithPath(s_source), AVAssetExportPresetPassthrough, out);
  early->cancelExport();
  bool called = false;
  early->exportAsynchronouslyWithCompletionHandler([&]() { called = true; });
  ASSERT_TRUE(Test_WaitUntil([&]() { return called; }));
  EXPECT_EQ(early->status(), AssetExportSessionStatus::Cancelled);
  EXPECT_FALSE(QFileInfo::exists(out));
}

TEST_F(ExportSessionTest, FailuresEndWithStatusFourAndAReason) {
  const QString folder = Test_MakeTempDir();
  const QString locked = QDir(folder).filePath(QStringLiteral("locked"));
  QDir().mkpath(locked);
  QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  const QString existing = QDir(folder).filePath(QStringLiteral("existing.mp4"));
  {
    QFile f(existing);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("keep me");
  }
  struct Case {
    const char* name;
    QString output;
    MediaTimeRange range;
  };
  const MediaTimeRange all = MediaTimeRangeMake(kMediaTimeZero, kMediaTimePositiveInfinity);
  std::vector<Case> cases = {
      {"folder is a file", QDir(existing).filePath(QStringLiteral("clip.mp4")), all},
      {"folder does not exist", QDir(folder).filePath(QStringLiteral("nowhere/clip.mp4")), all},
      {"output exists", existing, all},
      {"range after the end", QDir(folder).filePath(QStringLiteral("late.mp4")),
       MediaTimeRangeMake(MediaTimeMakeWithSeconds(20, 600), MediaTimeMakeWithSeconds(1, 600))},
  };
  // Permissions do not hold back the superuser.
  if (geteuid() != 0) cases.push_back({"folder cannot be written", QDir(locked).filePath(QStringLiteral("clip.mp4")), all});
  for (const char* preset : {AVAssetExportPresetPassthrough, AVAssetExportPresetHighestQuality}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << preset << ": " << c.name);
      auto session = makeSession(Asset::assetWithPath(s_source), preset, c.output, c.range);
      EXPECT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Failed);
      EXPECT_EQ(int(session->status()), 4);
      EXPECT_FALSE(session->error().isEmpty());
    }
  }
  QFile f(existing);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), QByteArray("keep me"));
  EXPECT_TRUE(QDir(locked).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
  // A missing movie fails too, and an unknown preset gets no session at all.
  auto missing = makeSession(Asset::assetWithPath(QDir(folder).filePath(QStringLiteral("gone.mp4"))),
                             AVAssetExportPresetPassthrough, QDir(folder).filePath(QStringLiteral("x.mp4")));
  EXPECT_EQ(TestMovie_RunExport(missing), AssetExportSessionStatus::Failed);
  EXPECT_FALSE(AssetExportSession::exportSessionWithAsset(Asset::assetWithPath(s_source), QStringLiteral("AVAssetExportPresetLowQuality")));
  EXPECT_FALSE(AssetExportSession::exportSessionWithAsset(nullptr, QString::fromLatin1(AVAssetExportPresetPassthrough)));
}

// A recording killed mid-way: what it holds exports, and the clip decodes without errors.
TEST_F(ExportSessionTest, TornFragmentedMovieExportsItsPlayablePart) {
  const QString folder = Test_MakeTempDir();
  TestMovieRecipe recipe;
  recipe.seconds = 6.0;
  recipe.fragmented = true;
  const QString full = TestMovie_Make(folder, QStringLiteral("rec.mp4"), recipe);
  ASSERT_FALSE(full.isEmpty());
  QFile::resize(full, QFileInfo(full).size() * 2 / 3);
  AssetRef asset = Asset::assetWithPath(full);
  const double held = MediaTimeGetSeconds(asset->duration());
  ASSERT_GT(held, 1.0);
  ASSERT_LT(held, 5.0);
  for (const char* preset : {AVAssetExportPresetPassthrough, AVAssetExportPresetHighestQuality}) {
    SCOPED_TRACE(preset);
    const QString out = QDir(folder).filePath(QStringLiteral("%1.mp4").arg(QString::fromLatin1(preset)));
    auto session = makeSession(asset, preset, out);
    ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
    const DecodedFrames frames = TestMovie_DecodeVideo(out);
    EXPECT_TRUE(frames.errors.isEmpty()) << frames.errors.toStdString();
    EXPECT_NEAR(frames.md5.size() / 30.0, held, 0.1);
  }
}

TEST_F(ExportSessionTest, CompositionOfTwoStretchesExportsBothInOrder) {
  AssetRef source = Asset::assetWithPath(s_source);
  auto composition = MutableComposition::composition();
  composition->setNaturalSize(QSizeF(320, 240));
  // 1.0..3.0 s (starts between key frames), then 6.0..7.0 s (starts on one).
  ASSERT_TRUE(composition->insertTimeRange(MediaTimeRangeMake(MediaTimeMake(1, 1), MediaTimeMake(2, 1)), source, kMediaTimeZero));
  ASSERT_TRUE(composition->insertTimeRange(MediaTimeRangeMake(MediaTimeMake(6, 1), MediaTimeMake(1, 1)), source, MediaTimeMake(2, 1)));
  const QString folder = Test_MakeTempDir();
  for (const char* preset : {AVAssetExportPresetPassthrough, AVAssetExportPresetHighestQuality}) {
    SCOPED_TRACE(preset);
    const QString out = QDir(folder).filePath(QStringLiteral("%1.mp4").arg(QString::fromLatin1(preset)));
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
    ASSERT_FALSE(frames.md5.isEmpty());
    EXPECT_EQ(frames.md5.first(), TestMovie_FrameAt(s_sourceFrames, 1.0));
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
  TestMovieRecipe soundOnly;
  soundOnly.seconds = 2.0;
  soundOnly.video = false;
  TestMovieRecipe mute;
  mute.seconds = 2.0;
  mute.audio = false;
  const QString soundPath = TestMovie_Make(folder, QStringLiteral("sound.m4a"), soundOnly);
  const QString mutePath = TestMovie_Make(folder, QStringLiteral("mute.mp4"), mute);
  ASSERT_FALSE(soundPath.isEmpty());
  ASSERT_FALSE(mutePath.isEmpty());
  struct Case {
    const char* name;
    QString source;
    double start, length;  // length < 0: to the end
    double expected;
    QString streams;  // codec types, in order
  };
  const Case cases[] = {
      {"range running past the end", s_source, 8.0, 5.0, 2.0, "video\naudio"},
      {"sound only", soundPath, 0.5, -1.0, 1.5, "audio"},
      {"picture only", mutePath, 0.0, -1.0, 2.0, "video"},
  };
  int n = 0;
  for (const char* preset : {AVAssetExportPresetPassthrough, AVAssetExportPresetHighestQuality}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << preset << ": " << c.name);
      const QString out = QDir(folder).filePath(QStringLiteral("out%1.mp4").arg(n++));
      const MediaTime length = c.length < 0 ? kMediaTimePositiveInfinity : MediaTimeMakeWithSeconds(c.length, 600);
      auto session = makeSession(Asset::assetWithPath(c.source), preset, out,
                                 MediaTimeRangeMake(MediaTimeMakeWithSeconds(c.start, 600), length));
      ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
      EXPECT_NEAR(TestMovie_Duration(out), c.expected, 0.05);
      EXPECT_EQ(TestMovie_Probe(out, QStringLiteral("stream=codec_type")), c.streams);
    }
  }
}

TEST_F(ExportSessionTest, HighestQualityMixesSoundByTheAudioMix) {
  AssetRef asset = Asset::assetWithPath(s_source);
  const AssetTrackRef sound = asset->tracksWithMediaType(kMediaTypeAudio).value(0);
  ASSERT_TRUE(sound);
  auto params = MutableAudioMixInputParameters::audioMixInputParameters(sound->trackID());
  // Full volume for a second, faded out over the next, silent after.
  params->setVolumeRampFromStartVolume(1.0f, 0.0f, MediaTimeRangeMake(MediaTimeMake(1, 1), MediaTimeMake(1, 1)));
  auto mix = MutableAudioMix::audioMix();
  mix->setInputParameters({params});
  const QString out = QDir(Test_MakeTempDir()).filePath(QStringLiteral("mixed.mp4"));
  auto session = makeSession(asset, AVAssetExportPresetHighestQuality, out,
                              MediaTimeRangeMake(kMediaTimeZero, MediaTimeMake(3, 1)));
  session->setAudioMix(mix);
  ASSERT_EQ(TestMovie_RunExport(session), AssetExportSessionStatus::Completed) << session->error().toStdString();
  const QList<QPair<double, double>> rms = TestMovie_AudioLevels(out);  // (time, dB)
  ASSERT_GT(rms.size(), 20);
  const auto levelAt = [&](double t) {
    for (const auto& r : rms)
      if (r.first >= t - 1e-6) return r.second;
    return -1000.0;
  };
  EXPECT_GT(levelAt(0.5), -30.0);                   // as recorded
  EXPECT_LT(levelAt(1.5), levelAt(0.5) - 3.0);      // fading
  EXPECT_LT(levelAt(2.5), -60.0);                   // silent
}
