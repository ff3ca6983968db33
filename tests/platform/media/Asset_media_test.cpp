#include "platform/foundation/NotificationCenter.h"
#include "platform/media/AssetWriterTestMedia.h"
#include "platform/media/asset/Decoder.h"
#include "platform/media/asset/Asset.h"
#include "platform/media/asset/FragmentedAsset.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <cmath>

#include <sys/stat.h>

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

// An input opened for reading must look the same whether libavformat analysed its streams or the
// header described them: the same streams, starts and lengths, and the same packets read from it.
TEST_F(AssetTest, InputReadsAsAnAnalysedOne) {
  // Pictures reordered (B-frames), sound starting late, a movie that starts after zero.
  const QString reordered = QDir(s_folder).filePath(QStringLiteral("reordered.mp4"));
  const QString late = QDir(s_folder).filePath(QStringLiteral("late-sound.mp4"));
  const QString offset = QDir(s_folder).filePath(QStringLiteral("offset.mov"));
  bool ok1 = false, ok2 = false, ok3 = false;
  TestMovie_Run("ffmpeg", {"-y", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25", "-t", "2", "-c:v",
                           "libx264", "-bf", "3", reordered}, &ok1);
  TestMovie_Run("ffmpeg", {"-y", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30", "-f", "lavfi", "-i",
                           "sine=sample_rate=44100", "-t", "2", "-filter:a", "adelay=700", "-c:v", "libx264", "-preset",
                           "ultrafast", "-c:a", "aac", "-movflags", "frag_keyframe+empty_moov", late}, &ok2);
  TestMovie_Run("ffmpeg", {"-y", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30", "-t", "2",
                           "-output_ts_offset", "1.5", "-c:v", "libx264", "-bf", "2", offset}, &ok3);
  ASSERT_TRUE(ok1 && ok2 && ok3);
  struct Packet {
    int stream;
    int64_t pts, dts;
    int size;
    bool operator==(const Packet&) const = default;
  };
  auto packets = [](AVFormatContext* ctx) {
    std::vector<Packet> all;
    AVPacket* p = av_packet_alloc();
    while (av_read_frame(ctx, p) >= 0) {
      all.push_back({p->stream_index, p->pts, p->dts, p->size});
      av_packet_unref(p);
    }
    av_packet_free(&p);
    return all;
  };
  for (const QString& path : {s_plain, s_fragmented, s_soundOnly, reordered, late, offset}) {
    SCOPED_TRACE(path.toStdString());
    FFmpegInputPtr ours = Asset_OpenInput(path, -1, nullptr, true);
    ASSERT_TRUE(ours);
    AVFormatContext* analysed = nullptr;
    ASSERT_EQ(avformat_open_input(&analysed, QFile::encodeName(path).constData(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(analysed, nullptr), 0);
    ASSERT_EQ(ours->nb_streams, analysed->nb_streams);
    EXPECT_NEAR(double(ours->start_time), double(analysed->start_time), 100);
    EXPECT_NEAR(double(ours->duration), double(analysed->duration), 1000);
    for (unsigned i = 0; i < ours->nb_streams; ++i) {
      const AVStream* a = ours->streams[i];
      const AVStream* b = analysed->streams[i];
      EXPECT_EQ(a->start_time, b->start_time) << "stream " << i;
      EXPECT_EQ(a->duration, b->duration) << "stream " << i;
      if (a->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        EXPECT_EQ(av_cmp_q(a->avg_frame_rate, b->avg_frame_rate), 0);
      }
      EXPECT_EQ(a->codecpar->width, b->codecpar->width);
      EXPECT_EQ(a->codecpar->sample_rate, b->codecpar->sample_rate);
    }
    EXPECT_TRUE(packets(ours.get()) == packets(analysed));
    avformat_close_input(&analysed);
  }
}

namespace {

// What a probe says of a movie, in numbers that can be compared.
struct ProbeFigures {
  bool playable = false;
  MediaTime duration = kMediaTimeInvalid;
  std::vector<std::tuple<QString, int32_t, MediaTime, int64_t>> tracks;  // type, ID, end, byte limit
  bool operator==(const ProbeFigures&) const = default;
};

ProbeFigures figuresOf(const AssetRef& asset) {
  ProbeFigures f;
  f.playable = asset->isPlayable();
  f.duration = asset->duration();
  for (const AssetTrackRef& t : asset->tracks())
    f.tracks.emplace_back(t->mediaType(), t->trackID(), t->timeRange().end(), t->sourceByteLimit());
  return f;
}

std::string describe(const ProbeFigures& f) {
  std::string s = "duration " + std::to_string(MediaTimeGetSeconds(f.duration));
  for (const auto& [type, id, end, limit] : f.tracks)
    s += "; " + type.toStdString() + " " + std::to_string(id) + " ends " + std::to_string(end.value) + "/" +
         std::to_string(end.timescale) + " limit " + std::to_string(limit);
  return s;
}

}  // namespace

// A recording of our writer arrives in pieces of any size (fragments torn anywhere, as the disk sees a
// recording in progress). Taking each piece up from the walk alone must answer what a new probe of the
// same bytes answers, and must not probe the file again.
TEST_F(AssetTest, TakingUpAGrowingRecordingAnswersAsAWholeProbe) {
  using namespace testmedia;
  const QString recording = QDir(s_folder).filePath(QStringLiteral("recorded.mp4"));
  MovieSpec spec;
  spec.width = 320;
  spec.height = 180;
  spec.realTime = false;
  Movie movie = makeMovie(recording, spec);
  ASSERT_TRUE(movie.writer->startWriting());
  movie.writer->startSessionAtSourceTime(MediaTimeMake(5, 1));
  feed(movie, spec, MediaTimeMake(5, 1), 12 * spec.fps);
  ASSERT_TRUE(finish(movie));
  QFile source(recording);
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  const QByteArray bytes = source.readAll();

  const QString growing = QDir(s_folder).filePath(QStringLiteral("recording-grows.mp4"));
  QFile file(growing);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  qint64 written = 40000;  // the header and part of the first fragment
  file.write(bytes.left(written));
  file.flush();
  FragmentedAssetRef asset = FragmentedAsset::fragmentedAssetWithPath(growing);
  ASSERT_TRUE(loadAllKeys(asset));
  int probesBefore = -1;  // from the first complete fragment on
  int steps = 0, grew = 0;
  MediaTime last = asset->duration();
  while (written < bytes.size()) {
    // Pieces of uneven sizes, so the file ends in every part of a fragment at some step.
    const qint64 piece = 23000 + (steps * 7919) % 61000;
    file.write(bytes.mid(written, piece));
    file.flush();
    written = std::min<qint64>(bytes.size(), written + piece);
    ++steps;
    asset->refresh();
    const ProbeFigures taken = figuresOf(asset);
    const ProbeFigures probed = figuresOf(Asset::assetWithPath(growing));
    if (!probed.playable || probed.duration <= kMediaTimeZero) continue;  // not one whole fragment yet
    if (probesBefore < 0) probesBefore = asset->fullProbes();
    EXPECT_TRUE(taken == probed) << "after " << written << " bytes: taken up " << describe(taken) << " | probed "
                                 << describe(probed);
    if (taken.duration != last) ++grew;
    last = taken.duration;
  }
  EXPECT_GE(grew, 4);
  // Once the movie has a complete fragment, every later one is taken up from the walk.
  EXPECT_EQ(asset->fullProbes(), probesBefore) << steps << " steps";
  EXPECT_NEAR(MediaTimeGetSeconds(asset->duration()), 12.0, 0.1);
}

namespace {

// The movie's bytes with the payload of its first box of the given type zeroed, or (for "mdhd") its
// time scale.
QByteArray damaged(QByteArray bytes, const char* what) {
  const qsizetype at = bytes.indexOf(what);
  if (at < 4) return {};
  if (qstrcmp(what, "mdhd") == 0) {
    const int version = uint8_t(bytes[at + 4]);
    bytes.replace(at + 8 + (version == 1 ? 16 : 8), 4, QByteArray(4, '\0'));
    return bytes;
  }
  const qint64 size = qFromBigEndian<quint32>(bytes.constData() + at - 4);
  bytes.replace(at + 4, size - 8, QByteArray(size - 8, '\0'));
  return bytes;
}

}  // namespace

// A movie that opens but cannot show a picture is refused with a reason; a track whose header has no
// time scale is timed from its packets, not shown days long.
TEST_F(AssetTest, MoviesWhoseHeadersCannotBeBelievedAreTimedOrRefused) {
  const QString plain = QDir(s_folder).filePath(QStringLiteral("twelve.mov"));
  const QString fragmented = QDir(s_folder).filePath(QStringLiteral("twelve-frag.mp4"));
  bool ok1 = false, ok2 = false;
  const QStringList sources{"-y", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=30", "-f",
                            "lavfi", "-i", "sine=sample_rate=48000", "-t", "12", "-c:v", "libx264", "-preset",
                            "ultrafast", "-g", "30", "-pix_fmt", "yuv420p", "-c:a", "aac"};
  TestMovie_Run("ffmpeg", sources + QStringList{plain}, &ok1);
  TestMovie_Run("ffmpeg", sources + QStringList{"-movflags", "frag_keyframe+empty_moov+default_base_moof",
                                                "-min_frag_duration", "2000000", fragmented}, &ok2);
  ASSERT_TRUE(ok1 && ok2);
  const struct {
    const char* name;
    QString source;
    const char* box;
    const char* refusal;  // nullptr: it opens
  } cases[] = {
      {"decoder configuration zeroed", plain, "avcC", "cannot be decoded"},
      {"decoder configuration zeroed, fragments", fragmented, "avcC", "cannot be decoded"},
      // libavformat runs every picture of an unfragmented track without a time scale into one packet.
      {"no time scale", plain, "mdhd", "time scale cannot be believed"},
      {"no time scale, fragments", fragmented, "mdhd", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QFile in(c.source);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QString path = QDir(s_folder).filePath(QStringLiteral("damaged-%1.%2").arg(c.box, QFileInfo(c.source).suffix()));
    const QByteArray bytes = damaged(in.readAll(), c.box);
    ASSERT_FALSE(bytes.isEmpty());
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(bytes) == bytes.size());
    out.close();
    AssetRef asset = Asset::assetWithPath(path);
    ASSERT_TRUE(loadAllKeys(asset));
    QString error;
    if (c.refusal) {
      EXPECT_EQ(asset->statusOfValueForKey(kAssetKeyTracks, &error), KeyValueStatus::Failed);
      EXPECT_TRUE(error.contains(QLatin1String(c.refusal))) << error.toStdString();
      EXPECT_FALSE(asset->isPlayable());
      continue;
    }
    ASSERT_EQ(asset->statusOfValueForKey(kAssetKeyTracks, &error), KeyValueStatus::Loaded) << error.toStdString();
    EXPECT_NEAR(MediaTimeGetSeconds(asset->duration()), 12.0, 0.1);
    const QList<AssetTrackRef> video = asset->tracksWithMediaType(kMediaTypeVideo);
    ASSERT_EQ(video.size(), 1);
    EXPECT_NEAR(MediaTimeGetSeconds(video.first()->timeRange().duration), 12.0, 0.1);
    EXPECT_NEAR(video.first()->nominalFrameRate(), 30.0, 0.01);
    // The pictures play at their own pace: 360 of them, a thirtieth of a second apart.
    std::vector<PlayerSegment> segments;
    for (const AssetTrackSegment& s : video.first()->segments())
      segments.push_back({s.sourcePath, s.timeMapping.source, s.timeMapping.target, s.sourceByteLimit});
    Decoder decoder(MediaType::Video, segments);
    decoder.seek(kMediaTimeZero, kMediaTimeZero);
    int pictures = 0;
    double lastTime = -1;
    ASSERT_TRUE(Test_WaitUntil([&] {
      DecodedUnit unit;
      while (decoder.pop(unit)) {
        if (unit.picture) ++pictures;
        lastTime = MediaTimeGetSeconds(unit.itemTime);
      }
      return decoder.atEnd();
    }, 30000));
    EXPECT_EQ(pictures, 360);
    EXPECT_NEAR(lastTime, 359.0 / 30, 0.05);
  }
}

// A FIFO in the movie's place kept the probe waiting in open() for a writer that never comes: the
// window never opened nor said why. It is refused at once as no regular file.
TEST_F(AssetTest, AFifoInTheMoviesPlaceIsRefusedAtOnce) {
  const QString fifo = QDir(s_folder).filePath(QStringLiteral("fifo.mp4"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  for (const AssetRef& asset : {Asset::assetWithPath(fifo), AssetRef(FragmentedAsset::fragmentedAssetWithPath(fifo))}) {
    ASSERT_TRUE(loadAllKeys(asset));
    QString error;
    EXPECT_EQ(asset->statusOfValueForKey(kAssetKeyTracks, &error), KeyValueStatus::Failed);
    EXPECT_TRUE(error.contains(QStringLiteral("not a regular file"))) << error.toStdString();
  }
  EXPECT_EQ(Asset_ScanMovieFile(fifo).fileSize, 0);
}
