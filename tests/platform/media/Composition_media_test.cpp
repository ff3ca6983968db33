#include "platform/media/asset/AudioMix.h"
#include "platform/media/asset/Composition.h"
#include "support/MediaTestSupport.h"
#include "platform/media/asset/VideoComposition.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

MediaTime ms(int64_t millis) { return MediaTimeMake(millis, 1000); }
MediaTimeRange msRange(int64_t start, int64_t length) { return MediaTimeRangeMake(ms(start), ms(length)); }

// A segment as "target start+length <- source start" in milliseconds, "empty" for an empty one.
QStringList describe(const MutableCompositionTrackRef& track) {
  const auto m = [](const MediaTime& t) { return MediaTime_Millis(t); };
  QStringList out;
  for (const auto& s : track->segments()) {
    const auto& [source, target] = std::pair(s.timeMapping.source, s.timeMapping.target);
    out << (s.empty ? QStringLiteral("%1+%2 empty").arg(m(target.start)).arg(m(target.duration))
                    : QStringLiteral("%1+%2 <- %3+%4").arg(m(target.start)).arg(m(target.duration)).arg(m(source.start)).arg(m(source.duration)));
  }
  return out;
}

class CompositionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_source = TestMovie_Make(Test_MakeTempDir(QStringLiteral("composition-sources")), QStringLiteral("ten.mp4"),
                              {.seconds = 10.0, .size = QStringLiteral("160x120")});
  }
  static QString s_source;
};
QString CompositionTest::s_source;

}  // namespace

TEST_F(CompositionTest, EditsKeepSegmentsBackToBack) {
  ASSERT_FALSE(s_source.isEmpty());
  AssetRef source = Asset::assetWithPath(s_source);
  const AssetTrackRef video = source->tracksWithMediaType(kMediaTypeVideo).value(0);
  ASSERT_TRUE(video);
  using Edit = std::function<void(MutableCompositionTrack&)>;
  struct Case {
    const char* name;
    Edit edit;
    QStringList segments;
    int64_t durationMillis;
  };
  // Each case starts from a track holding the source's 2..6 s at 0 and 8..9 s at 4 s.
  const Case cases[] = {
      {"nothing", [](MutableCompositionTrack&) {}, {"0+4000 <- 2000+4000", "4000+1000 <- 8000+1000"}, 5000},
      {"insert inside a segment splits it",
       [&](MutableCompositionTrack& t) { EXPECT_TRUE(t.insertTimeRange(msRange(0, 500), video, ms(1000))); },
       {"0+1000 <- 2000+1000", "1000+500 <- 0+500", "1500+3000 <- 3000+3000", "4500+1000 <- 8000+1000"},
       5500},
      {"insert past the end leaves an empty gap",
       [&](MutableCompositionTrack& t) { EXPECT_TRUE(t.insertTimeRange(msRange(0, 1000), video, ms(7000))); },
       {"0+4000 <- 2000+4000", "4000+1000 <- 8000+1000", "5000+2000 empty", "7000+1000 <- 0+1000"},
       8000},
      {"insert empty range at a boundary",
       [](MutableCompositionTrack& t) { t.insertEmptyTimeRange(msRange(4000, 250)); },
       {"0+4000 <- 2000+4000", "4000+250 empty", "4250+1000 <- 8000+1000"},
       5250},
      {"remove across a boundary",
       [](MutableCompositionTrack& t) { t.removeTimeRange(msRange(3000, 1500)); },
       {"0+3000 <- 2000+3000", "3000+500 <- 8500+500"},
       3500},
      {"remove past the end stops at the end",
       [](MutableCompositionTrack& t) { t.removeTimeRange(msRange(4500, 9000)); },
       {"0+4000 <- 2000+4000", "4000+500 <- 8000+500"},
       4500},
      {"scale stretches only the range",
       [](MutableCompositionTrack& t) { t.scaleTimeRange(msRange(1000, 2000), ms(4000)); },
       {"0+1000 <- 2000+1000", "1000+4000 <- 3000+2000", "5000+1000 <- 5000+1000", "6000+1000 <- 8000+1000"},
       7000},
      {"scale over two segments keeps their proportions",
       [](MutableCompositionTrack& t) { t.scaleTimeRange(msRange(0, 5000), ms(2500)); },
       {"0+2000 <- 2000+4000", "2000+500 <- 8000+1000"},
       2500},
      {"a range beyond the source is refused",
       [&](MutableCompositionTrack& t) {
         QString error;
         EXPECT_FALSE(t.insertTimeRange(msRange(10500, 1000), video, ms(0), &error));
         EXPECT_FALSE(error.isEmpty());
         EXPECT_FALSE(t.insertTimeRange(msRange(-500, 1000), video, ms(0), &error));
         EXPECT_FALSE(t.insertTimeRange(msRange(1000, 0), video, ms(0), &error));
       },
       {"0+4000 <- 2000+4000", "4000+1000 <- 8000+1000"},
       5000},
      {"a range running past the source's end is empty beyond it",
       [&](MutableCompositionTrack& t) { EXPECT_TRUE(t.insertTimeRange(msRange(9500, 1500), video, ms(5000))); },
       {"0+4000 <- 2000+4000", "4000+1000 <- 8000+1000", "5000+500 <- 9500+500", "5500+1000 empty"},
       6500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto composition = MutableComposition::composition();
    auto track = composition->addMutableTrackWithMediaType(kMediaTypeVideo);
    ASSERT_TRUE(track->insertTimeRange(msRange(2000, 4000), video, ms(0)));
    ASSERT_TRUE(track->insertTimeRange(msRange(8000, 1000), video, ms(4000)));
    c.edit(*track);
    EXPECT_EQ(describe(track), c.segments);
    EXPECT_EQ(MediaTime_Millis(composition->duration()), c.durationMillis);
  }
}

TEST_F(CompositionTest, CompositionWideEditsMoveEveryTrack) {
  AssetRef source = Asset::assetWithPath(s_source);
  auto composition = MutableComposition::composition();
  composition->setNaturalSize(QSizeF(640, 360));
  ASSERT_TRUE(composition->insertTimeRange(msRange(1000, 3000), source, ms(0)));
  ASSERT_EQ(composition->tracks().size(), 2);
  composition->insertEmptyTimeRange(msRange(0, 1000));
  composition->removeTimeRange(msRange(3000, 500));
  for (const auto& track : composition->mutableTracks()) {
    EXPECT_EQ(describe(track), (QStringList{"0+1000 empty", "1000+2000 <- 1000+2000", "3000+500 <- 3500+500"}))
        << track->mediaType().toStdString();
  }
  EXPECT_EQ(MediaTime_Millis(composition->duration()), 3500);
  EXPECT_EQ(composition->mutableTracks()[0]->naturalSize(), QSizeF(160, 120));
  // A missing source asset is an error, not a crash.
  QString error;
  EXPECT_FALSE(composition->insertTimeRange(msRange(0, 1000), nullptr, ms(0), &error));
  EXPECT_FALSE(error.isEmpty());

  // The video composition made from it: 30 fps, the composition's size, one instruction over it all.
  auto vc = MutableVideoComposition::videoCompositionWithPropertiesOfAsset(composition);
  EXPECT_EQ(vc->frameDuration(), MediaTimeMake(1, 30));
  EXPECT_EQ(vc->renderSize(), QSizeF(640, 360));
  ASSERT_EQ(vc->instructions().size(), 1);
  EXPECT_EQ(vc->instructions()[0]->timeRange(), MediaTimeRangeMake(kMediaTimeZero, composition->duration()));
  ASSERT_EQ(vc->instructions()[0]->layerInstructions().size(), 1);
  EXPECT_EQ(vc->instructions()[0]->layerInstructions()[0]->trackID(),
            composition->tracksWithMediaType(kMediaTypeVideo)[0]->trackID());
  EXPECT_EQ(vc->instructionAtTime(ms(3499)), vc->instructions()[0]);
  EXPECT_EQ(vc->instructionAtTime(ms(3500)), nullptr);
}

TEST(AudioMixTest, VolumeAndLayerSettingsFollowSetPointsAndRamps) {
  auto params = MutableAudioMixInputParameters::audioMixInputParameters(2);
  params->setVolume(0.5f, ms(1000));
  params->setVolumeRampFromStartVolume(1.0f, 0.0f, msRange(2000, 1000));
  auto mix = MutableAudioMix::audioMix();
  mix->setInputParameters({params});
  for (const auto& [at, volume] : {std::pair{0, 1.0f}, {999, 1.0f}, {1000, 0.5f}, {1999, 0.5f}, {2000, 1.0f}, {2500, 0.5f}, {3000, 0.0f}, {9000, 0.0f}})
    EXPECT_FLOAT_EQ(mix->volumeOfTrack(2, ms(at)), volume) << at;
  EXPECT_FLOAT_EQ(mix->volumeOfTrack(7, ms(2500)), 1.0f);
  // Layer transforms and opacities hold from their time on.
  auto layer = MutableVideoCompositionLayerInstruction::videoCompositionLayerInstruction();
  layer->setTransform(QTransform::fromScale(2, 2), ms(1000));
  layer->setTransform(QTransform::fromTranslate(10, 0), ms(3000));
  layer->setOpacity(0.25f, ms(2000));
  for (const auto& [at, transform] : {std::pair{0, QTransform()}, {1000, QTransform::fromScale(2, 2)}, {5000, QTransform::fromTranslate(10, 0)}})
    EXPECT_EQ(layer->transformAtTime(ms(at)), transform) << at;
  EXPECT_FLOAT_EQ(layer->opacityAtTime(ms(1999)), 1.0f);
  EXPECT_FLOAT_EQ(layer->opacityAtTime(ms(2000)), 0.25f);
}
