#include "capture/ZRNRecorder.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

TEST(ZRNRecorderSettings, AudioRateThresholdChoosesRateAndBitRate) {
  struct Row {
    double captureRate, rate;
    int bitRate;
  } rows[] = {{48000, 48000, 80000}, {47500, 48000, 80000}, {47499.9, 44100, 64000},
              {44100, 44100, 64000}, {96000, 48000, 80000}, {32000, 44100, 64000}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.captureRate);
    const QVariantMap s = Recorder_AudioSettings(r.captureRate);
    EXPECT_EQ(s.value(AVSampleRateKey).toDouble(), r.rate);
    EXPECT_EQ(s.value(AVEncoderBitRateKey).toInt(), r.bitRate);
    EXPECT_EQ(s.value(AVNumberOfChannelsKey).toInt(), 2);
    EXPECT_EQ(s.value(AVFormatIDKey).toString(), QString::fromLatin1(kAudioFormatMPEG4AAC));
  }
}

TEST(ZRNRecorderSettings, FragmentIntervalAndPlayableSpanAreWholeSeconds) {
  struct Row {
    float segmentSeconds;
    int64_t interval, playable;
  } rows[] = {{2.9f, 2, 4}, {2, 2, 3}, {5, 5, 7}, {1, 1, 1}, {10, 10, 15}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.segmentSeconds);
    EXPECT_EQ(Recorder_FragmentInterval(r.segmentSeconds), MediaTimeMake(r.interval, 1));
    EXPECT_EQ(Recorder_PlayableSpan(r.segmentSeconds), MediaTimeMake(r.playable, 1));
  }
}

TEST(ZRNRecorderSettings, AFragmentLengthOutOfRangeTakesTheNearestBound) {
  // Zero or less recorded one unfragmented movie, which a crash destroys whole; a huge value was cast
  // to an integer out of its range.
  struct Row {
    const char* name;
    float stored, corrected;
    int64_t interval, playable;
  } rows[] = {{"zero", 0.0f, 1, 1, 1},
              {"negative", -4.0f, 1, 1, 1},
              {"NaN", std::numeric_limits<float>::quiet_NaN(), 1, 1, 1},
              {"below one", 0.5f, 1, 1, 1},
              {"absurd", 1e30f, 60, 60, 90},
              {"infinite", std::numeric_limits<float>::infinity(), 60, 60, 90},
              {"just above", 60.5f, 60, 60, 90},
              {"inside", 7.5f, 7.5f, 7, 11}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(Recorder_FragmentSeconds(r.stored), r.corrected);
    EXPECT_EQ(Recorder_FragmentInterval(r.stored), MediaTimeMake(r.interval, 1));
    EXPECT_EQ(Recorder_PlayableSpan(r.stored), MediaTimeMake(r.playable, 1));
  }
}

TEST(ZRNRecorderSettings, VideoSettingsCarryRateKeyIntervalAndBitRate) {
  const QVariantMap s = Recorder_VideoSettings(QString::fromLatin1(AVVideoCodecTypeH264), QSizeF(1920, 1080), 29.97f, 6000);
  EXPECT_EQ(s.value(AVVideoWidthKey).toDouble(), 1920.0);
  EXPECT_EQ(s.value(AVVideoHeightKey).toDouble(), 1080.0);
  const QVariantMap c = s.value(AVVideoCompressionPropertiesKey).toMap();
  EXPECT_FLOAT_EQ(c.value(AVVideoExpectedSourceFrameRateKey).toFloat(), 29.97f);
  EXPECT_FLOAT_EQ(c.value(AVVideoMaxKeyFrameIntervalKey).toFloat(), 29.97f);
  EXPECT_EQ(c.value(AVVideoAverageBitRateKey).toLongLong(), 6000 * 1024);
}

TEST(ZRNRecorderSettings, NullSampleBufferIsAnInvalidArgument) {
  int owner = 0;
  ZRNRecorder recorder(&owner, DispatchQueue::create("test.session"), DispatchQueue::create("test.writing"));
  EXPECT_THROW(recorder.appendSampleBuffer(nullptr, MediaType::Video), std::invalid_argument);
}
