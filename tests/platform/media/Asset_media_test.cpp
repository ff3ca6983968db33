#include "platform/foundation/NotificationCenter.h"
#include "platform/media/Asset.h"
#include "platform/media/FragmentedAsset.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>

namespace {

const QStringList kAllKeys{kAssetKeyPlayable,   kAssetKeyHasProtectedContent,  kAssetKeyTracks,
                           kAssetKeyDuration,   kAssetKeyCanContainFragments, kAssetKeyContainsFragments};

// Loads every key and waits for the completion on the main queue.
bool loadAllKeys(const AssetRef& asset) {
  bool called = false;
  bool onMain = false;
  asset->loadValuesAsynchronouslyForKeys(kAllKeys, [&]() {
    called = true;
    onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
  });
  EXPECT_TRUE(Test_WaitUntil([&]() { return called; }, 30000));
  EXPECT_TRUE(onMain);
  return called;
}

QString copyPrefix(const QString& source, const QString& target, qint64 bytes) {
  QFile in(source);
  if (!in.open(QIODevice::ReadOnly)) return QString();
  QFile out(target);
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return QString();
  out.write(in.read(bytes));
  return target;
}

class AssetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_folder = Test_MakeTempDir(QStringLiteral("asset-sources"));
    s_plain = TestMovie_Make(s_folder, QStringLiteral("plain.mp4"), {.seconds = 3.0});
    s_fragmented = TestMovie_Make(s_folder, QStringLiteral("frag.mp4"), {.seconds = 6.0, .fragmented = true});
    s_soundOnly = TestMovie_Make(s_folder, QStringLiteral("sound.m4a"), {.seconds = 2.0, .video = false});
  }
  static QString s_folder, s_plain, s_fragmented, s_soundOnly;
};
QString AssetTest::s_folder, AssetTest::s_plain, AssetTest::s_fragmented, AssetTest::s_soundOnly;

}  // namespace

TEST_F(AssetTest, LoadsEveryKeyWithAStatusPerKey) {
  ASSERT_FALSE(s_plain.isEmpty() || s_fragmented.isEmpty() || s_soundOnly.isEmpty());
  // A fragmented movie cut in the middle of its last fragment, as a killed recording leaves it.
  const QString torn = copyPrefix(s_fragmented, QDir(s_folder).filePath(QStringLiteral("torn.mp4")),
                                  QFileInfo(s_fragmented).size() * 3 / 4);
  // A plain movie cut before its index: nothing can be read.
  const QString cutPlain = copyPrefix(s_plain, QDir(s_folder).filePath(QStringLiteral("cut.mp4")),
                                      QFileInfo(s_plain).size() / 2);
  const QString garbage = QDir(s_folder).filePath(QStringLiteral("garbage.mov"));
  {
    QFile f(garbage);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray(4096, 'x')) == 4096);
  }
  struct Case {
    QString name, path;
    bool loads;
    int videoTracks, audioTracks;
    double minSeconds, maxSeconds;
    bool canContainFragments, containsFragments;
  };
  const Case cases[] = {
      {"plain", s_plain, true, 1, 1, 2.95, 3.1, false, false},
      {"fragmented", s_fragmented, true, 1, 1, 5.95, 6.1, true, true},
      {"torn fragmented", torn, true, 1, 1, 1.0, 5.5, true, true},
      {"sound only", s_soundOnly, true, 0, 1, 1.95, 2.1, false, false},
      {"plain cut short", cutPlain, false, 0, 0, 0, 0, false, false},
      {"not a movie", garbage, false, 0, 0, 0, 0, false, false},
      {"missing", QDir(s_folder).filePath(QStringLiteral("missing.mp4")), false, 0, 0, 0, 0, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    AssetRef asset = Asset::assetWithPath(c.path);
    for (const QString& key : kAllKeys) EXPECT_EQ(asset->statusOfValueForKey(key), KeyValueStatus::Unknown);
    ASSERT_TRUE(loadAllKeys(asset));
    for (const QString& key : kAllKeys) {
      QString error;
      const KeyValueStatus status = asset->statusOfValueForKey(key, &error);
      if (c.loads || key == QLatin1String(kAssetKeyHasProtectedContent)) {
        EXPECT_EQ(status, KeyValueStatus::Loaded) << key.toStdString();
        EXPECT_TRUE(error.isEmpty());
      } else {
        EXPECT_EQ(status, KeyValueStatus::Failed) << key.toStdString();
        EXPECT_FALSE(error.isEmpty()) << key.toStdString();
      }
    }
    EXPECT_EQ(asset->isPlayable(), c.loads);
    EXPECT_EQ(asset->tracksWithMediaType(kMediaTypeVideo).size(), c.videoTracks);
    EXPECT_EQ(asset->tracksWithMediaType(kMediaTypeAudio).size(), c.audioTracks);
    if (c.loads) {
      EXPECT_GE(MediaTimeGetSeconds(asset->duration()), c.minSeconds);
      EXPECT_LE(MediaTimeGetSeconds(asset->duration()), c.maxSeconds);
    }
    EXPECT_EQ(asset->canContainFragments(), c.canContainFragments);
    EXPECT_EQ(asset->containsFragments(), c.containsFragments);
  }
  // An unknown key fails on its own without spoiling the others.
  AssetRef asset = Asset::assetWithPath(s_plain);
  bool called = false;
  asset->loadValuesAsynchronouslyForKeys({QStringLiteral("tracks"), QStringLiteral("bogus")}, [&]() { called = true; });
  ASSERT_TRUE(Test_WaitUntil([&]() { return called; }));
  EXPECT_EQ(asset->statusOfValueForKey(QStringLiteral("tracks")), KeyValueStatus::Loaded);
  EXPECT_EQ(asset->statusOfValueForKey(QStringLiteral("bogus")), KeyValueStatus::Failed);

  // A cancelled load still calls back once, with the pending keys cancelled.
  AssetRef cancelled = Asset::assetWithPath(s_fragmented);
  int calls = 0;
  cancelled->loadValuesAsynchronouslyForKeys({QStringLiteral("duration")}, [&]() { ++calls; });
  EXPECT_EQ(cancelled->statusOfValueForKey(QStringLiteral("duration")), KeyValueStatus::Loading);
  cancelled->cancelLoading();
  ASSERT_TRUE(Test_WaitUntil([&]() { return calls == 1; }));
  EXPECT_EQ(cancelled->statusOfValueForKey(QStringLiteral("duration")), KeyValueStatus::Cancelled);
}

TEST_F(AssetTest, TracksDescribeTheirMedia) {
  AssetRef asset = Asset::assetWithPath(s_plain);
  const auto video = asset->tracksWithMediaType(kMediaTypeVideo);
  const auto audio = asset->tracksWithMediaType(kMediaTypeAudio);
  ASSERT_EQ(video.size() + audio.size(), 2);
  EXPECT_EQ(video[0]->naturalSize(), QSizeF(320, 240));
  EXPECT_EQ(asset->naturalSize(), QSizeF(320, 240));
  EXPECT_NEAR(video[0]->nominalFrameRate(), 30.0, 0.01);
  ASSERT_EQ(video[0]->formatDescriptions().size(), 1);
  EXPECT_EQ(video[0]->formatDescriptions()[0].codecName, QStringLiteral("h264"));
  EXPECT_EQ(video[0]->formatDescriptions()[0].mediaSubType, 0x61766331u);  // 'avc1'
  EXPECT_EQ(audio[0]->formatDescriptions()[0].sampleRate, 48000);
  EXPECT_EQ(asset->trackWithTrackID(audio[0]->trackID()), audio[0]);
  EXPECT_NEAR(MediaTimeGetSeconds(video[0]->timeRange().duration), 3.0, 0.1);
}

// A recording in progress: the file grows fragment by fragment, and at any moment its tail may be a
// fragment that is only partly written.
TEST_F(AssetTest, GrowingFragmentedMovieIsReadUpToItsLastCompleteFragment) {
  const QString growing = QDir(s_folder).filePath(QStringLiteral("growing.mp4"));
  const qint64 full = QFileInfo(s_fragmented).size();
  ASSERT_FALSE(copyPrefix(s_fragmented, growing, full / 3).isEmpty());
  FragmentedAssetRef asset = FragmentedAsset::fragmentedAssetWithPath(growing);
  ASSERT_TRUE(loadAllKeys(asset));
  const double first = MediaTimeGetSeconds(asset->duration());
  EXPECT_GT(first, 0.5);
  EXPECT_LT(first, 4.0);
  const MovieFileLayout layout = Asset_ScanMovieFile(growing);
  EXPECT_LT(layout.readableLength, layout.fileSize);  // the torn tail is left out

  int notes = 0;
  NotificationObservation observation(
      NotificationCenter::defaultCenter(),
      NotificationCenter::defaultCenter().addObserver(QString::fromLatin1(kFragmentedAssetDurationDidChangeNotification),
                                                      asset.get(), [&](const Notification&) { ++notes; }));
  EXPECT_FALSE(asset->refresh());  // nothing new yet
  EXPECT_EQ(notes, 0);
  ASSERT_FALSE(copyPrefix(s_fragmented, growing, full * 2 / 3).isEmpty());
  EXPECT_TRUE(asset->refresh());
  EXPECT_EQ(notes, 1);
  EXPECT_GT(MediaTimeGetSeconds(asset->duration()), first);
  ASSERT_FALSE(copyPrefix(s_fragmented, growing, full).isEmpty());
  EXPECT_TRUE(asset->refresh());
  EXPECT_NEAR(MediaTimeGetSeconds(asset->duration()), 6.0, 0.1);

  // What the asset reports can be decoded without running into the torn tail.
  ASSERT_FALSE(copyPrefix(s_fragmented, growing, full / 2).isEmpty());
  asset->refresh();
  const MovieFileLayout half = Asset_ScanMovieFile(growing);
  const QString readable = copyPrefix(growing, QDir(s_folder).filePath(QStringLiteral("readable.mp4")), half.readableLength);
  const DecodedFrames frames = TestMovie_DecodeVideo(readable);
  EXPECT_TRUE(frames.errors.isEmpty()) << frames.errors.toStdString();
  EXPECT_NEAR(frames.md5.size() / 30.0, MediaTimeGetSeconds(asset->duration()), 0.15);
}
