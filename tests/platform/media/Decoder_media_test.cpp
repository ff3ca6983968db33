#include "platform/media/Decoder.h"

#include "platform/media/AudioOutput.h"

#include "support/TestSupport.h"
#include "PlayerTestMovie.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Takes the decoder's sound until `seconds` of item time are covered (or the end).
std::vector<DecodedUnit> Drain(Decoder& decoder, double seconds) {
  std::vector<DecodedUnit> units;
  double covered = 0;
  Test_WaitUntil([&] {
    for (DecodedUnit unit; covered < seconds && decoder.pop(unit); units.push_back(unit)) covered += MediaTimeGetSeconds(unit.duration);
    return covered >= seconds || decoder.atEnd();
  }, 20000);
  return units;
}

double Peak(const QByteArray& pcm) {
  const auto* samples = reinterpret_cast<const int16_t*>(pcm.constData());
  int peak = 0;
  for (qsizetype i = 0; i < pcm.size() / 2; ++i) peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
  return peak / 32768.0;
}

TEST(DecoderMedia, SoundStartsAtTheSeekTargetAndFollowsTheSegments) {
  const QString movie = PlayerTest_MakeMovie(Test_MakeTempDir(QStringLiteral("decoder")), 3.0);
  ASSERT_FALSE(movie.isEmpty());
  const MediaTime half = MediaTimeMake(1, 2);
  // 0..0.5 source 1.0..1.5, 0.5..1.0 empty, 1.0..1.5 source 2.0..2.5.
  std::vector<PlayerSegment> segments{
      {movie, MediaTimeRangeMake(MediaTimeMake(1, 1), half), MediaTimeRangeMake(kMediaTimeZero, half)},
      {QString(), kMediaTimeRangeInvalid, MediaTimeRangeMake(half, half)},
      {movie, MediaTimeRangeMake(MediaTimeMake(2, 1), half), MediaTimeRangeMake(MediaTimeMake(1, 1), half)},
  };
  DecoderAudioFormat format;
  Decoder decoder(MediaType::Audio, segments, format);

  for (const double target : {0.25, 0.0, 0.6, 1.2}) {
    SCOPED_TRACE(target);
    decoder.seek(MediaTimeMakeWithSeconds(target, 48000), kMediaTimeZero);
    const std::vector<DecodedUnit> units = Drain(decoder, 1.5 - target);
    ASSERT_FALSE(units.empty());
    // Sample-exact start, and one unbroken run of sound up to the item's end.
    EXPECT_NEAR(MediaTimeGetSeconds(units.front().itemTime), target, 1.0 / 48000);
    double expected = MediaTimeGetSeconds(units.front().itemTime);
    double total = 0;
    for (const DecodedUnit& unit : units) {
      EXPECT_NEAR(MediaTimeGetSeconds(unit.itemTime), expected, 2.0 / 48000);
      const double seconds = static_cast<double>(unit.pcm.size()) / format.bytesPerFrame() / format.sampleRate;
      EXPECT_NEAR(seconds, MediaTimeGetSeconds(unit.duration), 1e-6);
      // The tone is heard in the movie's ranges and silence fills the empty one.
      const double mid = MediaTimeGetSeconds(unit.itemTime) + seconds / 2;
      if (mid > 0.5 && mid < 1.0) {
        EXPECT_EQ(Peak(unit.pcm), 0.0) << mid;
      } else if (seconds > 0.01) {
        EXPECT_GT(Peak(unit.pcm), 0.05) << mid;
      }
      expected += seconds;
      total += seconds;
    }
    EXPECT_NEAR(total, 1.5 - target, 2.0 / 48000);
    EXPECT_TRUE(Test_WaitUntil([&] { return decoder.atEnd(); }, 5000));
  }
}

TEST(DecoderMedia, DeviceBufferIsFilledForTheClockTime) {
  const QString movie = PlayerTest_MakeMovie(Test_MakeTempDir(QStringLiteral("fill")), 2.0);
  ASSERT_FALSE(movie.isEmpty());
  const MediaTime two = MediaTimeMake(2, 1);
  DecoderAudioFormat format;
  Decoder decoder(MediaType::Audio, {{movie, MediaTimeRangeMake(kMediaTimeZero, two), MediaTimeRangeMake(kMediaTimeZero, two)}},
                  format);
  // Sound queued from 0.5 s on: a clock before it writes nothing, a clock inside it starts at the clock.
  QByteArray buffer(4800 * format.bytesPerFrame(), '\0');
  for (const double clock : {0.3, 0.5, 0.81, 0.6}) {
    SCOPED_TRACE(clock);
    decoder.seek(MediaTimeMake(1, 2), kMediaTimeZero);
    ASSERT_TRUE(Test_WaitUntil([&] { return decoder.queuedCount() >= 21; }, 10000));  // about 0.45 s queued
    MediaTime first = kMediaTimeInvalid;
    const qint64 written =
        AudioOutput_FillFromDecoder(decoder, format, MediaTimeMakeWithSeconds(clock, 48000), buffer.data(), buffer.size(), &first);
    if (clock < 0.5) {
      EXPECT_EQ(written, 0);
      EXPECT_FALSE(first.isValid());
      continue;
    }
    EXPECT_EQ(written, buffer.size());
    EXPECT_EQ(written % format.bytesPerFrame(), 0);
    EXPECT_NEAR(MediaTimeGetSeconds(first), clock, 0.021);
    // What is left starts where the written sound ends.
    DecodedUnit next;
    ASSERT_TRUE(decoder.peek(next));
    EXPECT_NEAR(MediaTimeGetSeconds(next.itemTime), MediaTimeGetSeconds(first) + 0.1, 1.0 / 48000);
  }
}

}  // namespace
