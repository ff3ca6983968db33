#include "platform/media/asset/Decoder.h"

#include "platform/media/asset/Asset.h"
#include "platform/media/player/AudioOutput.h"
#include "platform/media/asset/FragmentedAsset.h"

#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"
#include "PlayerTestMovie.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <QDir>
#include <QFile>
#include <QtEndian>

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

// A recording killed halfway through a fragment: the player reads what the probe calls readable and
// never trips over the torn rest.
TEST(DecoderMedia, PicturesEndWithTheLastCompleteFragmentOfATornMovie) {
  const QString folder = Test_MakeTempDir(QStringLiteral("torn"));
  const QString whole = TestMovie_Make(folder, QStringLiteral("whole.mp4"), {.seconds = 4.0, .audio = false, .fragmented = true});
  ASSERT_FALSE(whole.isEmpty());
  QFile source(whole);
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  const QByteArray bytes = source.readAll();
  const QString torn = QDir(folder).filePath(QStringLiteral("torn.mp4"));
  const QString readable = QDir(folder).filePath(QStringLiteral("readable.mp4"));
  QFile tornFile(torn);
  ASSERT_TRUE(tornFile.open(QIODevice::WriteOnly));
  tornFile.write(bytes.left(bytes.size() / 2 + 7));
  tornFile.close();
  const MovieFileLayout layout = Asset_ScanMovieFile(torn);
  ASSERT_GT(layout.completeFragments, 0);
  ASSERT_LT(layout.readableLength, layout.fileSize);
  QFile readableFile(readable);
  ASSERT_TRUE(readableFile.open(QIODevice::WriteOnly));
  readableFile.write(bytes.left(layout.readableLength));
  readableFile.close();

  // No packet of the demuxer lies past the limit.
  QString error;
  const FFmpegInputPtr input = Asset_OpenInput(torn, layout.readableLength, &error);
  ASSERT_TRUE(input) << error.toStdString();
  const FFmpegPacketPtr packet = FFmpeg_MakePacket();
  int packets = 0;
  for (; av_read_frame(input.get(), packet.get()) >= 0; ++packets) {
    EXPECT_LE(packet->pos + packet->size, layout.readableLength);
    av_packet_unref(packet.get());
  }

  // The decoder shows exactly the pictures of the readable part, then ends.
  const DecodedFrames reference = TestMovie_DecodeVideo(readable);
  ASSERT_GT(reference.md5.size(), 0);
  EXPECT_EQ(packets, reference.md5.size());
  const MediaTimeRange all = MediaTimeRangeMake(kMediaTimeZero, MediaTimeMake(4, 1));
  Decoder decoder(MediaType::Video, {{torn, all, all, layout.readableLength}});
  QList<double> times;
  EXPECT_TRUE(Test_WaitUntil([&] {
    for (DecodedUnit unit; decoder.pop(unit);)
      if (unit.picture) times.append(MediaTimeGetSeconds(unit.itemTime));
    return decoder.atEnd();
  }, 20000));
  ASSERT_EQ(times.size(), reference.md5.size());
  EXPECT_NEAR(times.last() - times.first(), reference.times.last() - reference.times.first(), 1e-3);
}

namespace {
// The decoder's segments for the first track of a type of an asset, as a player item makes them.
std::vector<PlayerSegment> SegmentsOf(const AssetRef& asset, const char* type) {
  std::vector<PlayerSegment> segments;
  for (const AssetTrackSegment& s : asset->tracksWithMediaType(QString::fromLatin1(type)).value(0)->segments())
    segments.push_back({s.sourcePath, s.timeMapping.source, s.timeMapping.target, s.sourceByteLimit});
  return segments;
}

// Takes every unit the decoder gives until it reaches the end of what it may read.
void TakeAll(Decoder& decoder, std::vector<DecodedUnit>& units) {
  Test_WaitUntil([&] {
    for (DecodedUnit unit; decoder.pop(unit);) units.push_back(unit);
    return decoder.atEnd();
  }, 20000);
}
}  // namespace

// A movie still being written: the decoder reads up to its last complete fragment; told that the file
// has grown, it decodes on from the next picture (and the next sound) without repeating or skipping any.
TEST(DecoderMedia, AGrowingMovieDecodesOnFromWhereItStopped) {
  const QString folder = Test_MakeTempDir(QStringLiteral("growing"));
  const QString full = PlayerTest_MakeMovie(folder, 4.0);
  ASSERT_FALSE(full.isEmpty());
  QFile source(full);
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  const QByteArray bytes = source.readAll();
  // The first two fragments and the torn start of the third, as a recorder leaves the file mid-write.
  qint64 cut = 0;
  int fragments = 0;
  for (qint64 at = 0; at + 8 <= bytes.size() && fragments < 2;) {
    const qint64 size = qFromBigEndian<quint32>(bytes.constData() + at);
    if (bytes.mid(at + 4, 4) == "mdat") ++fragments;
    at += size;
    cut = at;
  }
  ASSERT_EQ(fragments, 2);

  const struct {
    const char* name;
    MediaType type;
    const char* track;
  } kinds[] = {{"pictures", MediaType::Video, kMediaTypeVideo}, {"sound", MediaType::Audio, kMediaTypeAudio}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.name);
    // What the whole movie decodes to, read at once.
    std::vector<DecodedUnit> whole;
    {
      Decoder reference(kind.type, SegmentsOf(Asset::assetWithPath(full), kind.track));
      reference.seek(kMediaTimeZero, kMediaTimeZero);
      TakeAll(reference, whole);
    }
    ASSERT_FALSE(whole.empty());

    const QString growing = folder + QStringLiteral("/growing-%1.mp4").arg(QString::fromLatin1(kind.name));
    QFile file(growing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.left(cut + 100));
    file.flush();
    auto asset = FragmentedAsset::fragmentedAssetWithPath(growing);
    const std::vector<PlayerSegment> first = SegmentsOf(asset, kind.track);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first.front().sourceByteLimit, cut);
    Decoder decoder(kind.type, first);
    decoder.seek(kMediaTimeZero, kMediaTimeZero);
    std::vector<DecodedUnit> units;
    TakeAll(decoder, units);
    const size_t beforeGrowth = units.size();
    ASSERT_GT(beforeGrowth, 0u);

    // The rest of the movie arrives; the asset reads it and the decoder is told.
    file.write(bytes.mid(cut + 100));
    file.flush();
    asset->refresh();
    const std::vector<PlayerSegment> grown = SegmentsOf(asset, kind.track);
    EXPECT_EQ(grown.front().sourceByteLimit, bytes.size());
    const int64_t grownBefore = Asset_GrownInputsOpened();
    decoder.extendSegments(grown);
    TakeAll(decoder, units);
    ASSERT_GT(units.size(), beforeGrowth);
    // The reader carried on into what was appended rather than opening the whole file again.
    EXPECT_EQ(Asset_GrownInputsOpened(), grownBefore + 1);

    if (kind.type == MediaType::Video) {
      // The same pictures as the whole movie, each once, in order.
      ASSERT_EQ(units.size(), whole.size());
      for (size_t i = 0; i < units.size(); ++i)
        EXPECT_EQ(MediaTimeCompare(units[i].itemTime, whole[i].itemTime), 0) << "picture " << i << " of " << units.size();
    } else {
      // One unbroken run of sound, as long as the whole movie's.
      double expected = MediaTimeGetSeconds(units.front().itemTime);
      for (size_t i = 0; i < units.size(); ++i) {
        EXPECT_NEAR(MediaTimeGetSeconds(units[i].itemTime), expected, 2.0 / 48000) << "unit " << i << " of " << units.size();
        expected = MediaTimeGetSeconds(units[i].itemTime) + MediaTimeGetSeconds(units[i].duration);
      }
      const DecodedUnit& last = whole.back();
      EXPECT_NEAR(expected, MediaTimeGetSeconds(last.itemTime) + MediaTimeGetSeconds(last.duration), 2.0 / 48000);
    }
  }
}
