#include "platform/media/asset/Asset.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/media/asset/AssetTiming.h"
#include "platform/media/io/FFmpegCodec.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/common.h>
#include <libavutil/display.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

QList<AssetTrackSegment> AssetTrack::segments() const {
  AssetTrackSegment s;
  s.empty = false;
  s.timeMapping.source = m_timeRange;
  s.timeMapping.target = m_timeRange;
  s.sourcePath = m_sourcePath;
  s.sourceTrackID = m_trackID;
  s.sourceStreamIndex = m_streamIndex;
  s.sourceByteLimit = m_sourceByteLimit;
  return {s};
}

Asset::Asset(const QUrl& url) : m_url(url) {}
Asset::~Asset() = default;

AssetRef Asset::assetWithURL(const QUrl& url) { return AssetRef(new Asset(url)); }

AssetRef Asset::assetWithPath(const QString& path) { return assetWithURL(QUrl::fromLocalFile(path)); }

namespace {

uint32_t fourCC(const char* s) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
         uint32_t(uint8_t(s[3]));
}

const QStringList& allKeys() {
  static const QStringList keys{kAssetKeyPlayable,     kAssetKeyHasProtectedContent,  kAssetKeyTracks,
                                kAssetKeyDuration,     kAssetKeyCanContainFragments, kAssetKeyContainsFragments};
  return keys;
}

// How a stream is coded, as the track's format description says it.
FormatDescription U_FormatDescription(const AVStream* st, const QString& mediaType) {
  const AVCodecParameters* par = st->codecpar;
  FormatDescription fd;
  fd.mediaType = mediaType;
  fd.codecName = QString::fromLatin1(avcodec_get_name(par->codec_id));
  if (par->codec_tag) {
    const uint32_t t = par->codec_tag;  // little-endian tag as stored by libavformat
    fd.mediaSubType = ((t & 0xff) << 24) | (((t >> 8) & 0xff) << 16) | (((t >> 16) & 0xff) << 8) | (t >> 24);
  } else if (par->codec_id == AV_CODEC_ID_H264) {
    fd.mediaSubType = fourCC("avc1");
  } else if (par->codec_id == AV_CODEC_ID_AAC) {
    fd.mediaSubType = fourCC("mp4a");
  }
  if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
    fd.dimensions = QSize(par->width, par->height);
  } else {
    fd.sampleRate = par->sample_rate;
    fd.channelCount = par->ch_layout.nb_channels;
  }
  return fd;
}

// The rotation a camera recorded in the stream's display matrix.
QTransform U_PreferredTransform(const AVStream* st) {
  QTransform transform;
  const auto* matrix = reinterpret_cast<const int32_t*>(av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
  if (matrix) {
    const double angle = -av_display_rotation_get(matrix);
    if (!std::isnan(angle) && angle != 0.0) transform.rotate(angle);
  }
  return transform;
}

// Track time is the stream's presentation time; the track's range runs from zero to its end.
MediaTime U_TrackEnd(const AVFormatContext* ctx, const AVStream* st) {
  const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  const int64_t dur = st->duration;
  if (dur != AV_NOPTS_VALUE && dur > 0 && st->time_base.num == 1)
    return MediaTimeMake(std::max<int64_t>(0, start) + dur, st->time_base.den);
  if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0) return MediaTimeMake(ctx->duration, AV_TIME_BASE);
  return kMediaTimeZero;
}

// Where the demuxer's reading of the movie ended: past the last sample it found of any audio or video
// stream.
int64_t U_EndOfSamplesRead(const AVFormatContext* ctx) {
  int64_t end = 0;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    AVStream* st = ctx->streams[i];  // the index is read through a stream that is not const
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO && st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    const int count = avformat_index_get_entries_count(st);
    const AVIndexEntry* last = count > 0 ? avformat_index_get_entry(st, count - 1) : nullptr;
    if (last) end = std::max(end, av_sat_add64(last->pos, last->size));
  }
  return end;
}

// A finished movie's length by its last fragment: its tracks' ends there, from the start each track
// was found to have.
MediaTime U_DeclaredDuration(const QString& path, const MovieFileLayout& layout,
                             const std::vector<AssetProbeTiming>& timings) {
  const std::map<uint32_t, int64_t> ends = Asset_LastFragmentEnds(path, layout);
  MediaTime longest = kMediaTimeZero;
  for (const AssetProbeTiming& timing : timings) {
    const auto end = ends.find(timing.trackID);
    if (end == ends.end() || timing.timescale <= 0) continue;
    longest = MediaTimeMaximum(longest, MediaTimeMake(av_sat_add64(std::max<int64_t>(0, timing.start), end->second),
                                                      timing.timescale));
  }
  return longest > kMediaTimeZero ? longest : kMediaTimeInvalid;
}

// A file of no bytes: the recording ended before its writer wrote even the movie's header.
bool U_IsEmptyFile(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
}

// Whether the movie's top-level boxes carry no media at all: a file type, one movie box, and at most an
// empty media data box, a fragment index or padding. That is all a writer leaves when it stopped before
// its first sample; any fragment or media data, readable or not, means something was recorded.
bool U_BoxesCarryNoMedia(const QString& path) {
  struct stat st {};
  const int fd = Asset_OpenMovieFile(path, nullptr, &st);
  if (fd < 0) return false;
  MovieFileSource source(fd, st.st_size);
  const int64_t fileSize = st.st_size;
  int movieBoxes = 0;
  bool onlyHeaders = true;
  for (int64_t at = 0; onlyHeaders && at < fileSize;) {
    unsigned char head[16];
    const int64_t got = source.readAt(at, reinterpret_cast<char*>(head), sizeof head);
    if (got < 8) {
      onlyHeaders = false;
      break;
    }
    const auto be = [&](int from, int bytes) {
      uint64_t n = 0;
      for (int k = 0; k < bytes; ++k) n = (n << 8) | head[from + k];
      return n;
    };
    uint64_t size = be(0, 4);
    int64_t headerSize = 8;
    if (size == 1) {
      if (got < 16) {
        onlyHeaders = false;
        break;
      }
      size = be(8, 8);
      headerSize = 16;
    } else if (size == 0) {
      size = uint64_t(fileSize - at);
    }
    const QByteArray type(reinterpret_cast<const char*>(head) + 4, 4);
    if (size < uint64_t(headerSize) || size > uint64_t(fileSize - at)) {
      onlyHeaders = false;
    } else if (type == "moov") {
      ++movieBoxes;
    } else if (type == "mdat") {
      onlyHeaders = int64_t(size) == headerSize;
    } else {
      onlyHeaders = type == "ftyp" || type == "mfra" || type == "free" || type == "skip" || type == "wide";
    }
    at += int64_t(size);
  }
  ::close(fd);
  return onlyHeaders && movieBoxes == 1;
}

// Whether a movie that opened holds not one sample, as a recording stopped before its first picture does:
// its writer wrote the header, with its tracks, and nothing after it. The demuxer is asked as well as the
// boxes.
bool U_HoldsNoFrame(AVFormatContext* ctx, const QString& path, const QList<AssetTrackRef>& tracks,
                    const MediaTime& duration) {
  if (duration > kMediaTimeZero) return false;
  if (std::none_of(tracks.begin(), tracks.end(),
                   [](const AssetTrackRef& t) { return t->hasMediaType(QString::fromLatin1(kMediaTypeVideo)); }))
    return false;
  if (!U_BoxesCarryNoMedia(path)) return false;
  FFmpegPacketPtr packet = FFmpeg_MakePacket();
  if (!packet) return false;
  int ret = 0;
  bool anySample = false;
  while (!anySample && (ret = av_read_frame(ctx, packet.get())) >= 0) {
    const unsigned i = unsigned(packet->stream_index);
    const AVMediaType type = i < ctx->nb_streams ? ctx->streams[i]->codecpar->codec_type : AVMEDIA_TYPE_UNKNOWN;
    anySample = type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO;
    av_packet_unref(packet.get());
  }
  // A movie without a sample has nothing to seek to; a reader of a parked input seeks before it reads.
  (void)FFmpeg_Rewind(ctx);
  // A read that ends in an error, not at the end of the file, has not seen the whole movie.
  return !anySample && ret == AVERROR_EOF;
}
}  // namespace

AssetReadablePart Asset::U_WalkedPart(const MovieFileLayout& layout) {
  AssetReadablePart part;
  part.fileBytes = layout.fileSize;
  part.readableBytes = layout.fileSize;
  // Only a movie of fragments is read up to such a box; any other is read whole or not at all.
  if (layout.hasMovieExtends && layout.brokenBoxAt >= 0) {
    part.whole = false;
    part.readableBytes = std::min(layout.readableLength, layout.brokenBoxAt);
  }
  return part;
}

bool Asset::U_ReadTracks(const AVFormatContext* ctx, const QString& path, int64_t limit, QList<AssetTrackRef>* tracks,
                         std::vector<AssetProbeTiming>* timings, MediaTime* longest, QString* error) {
  bool anyVideo = false, anyDecodableVideo = false;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    AVStream* st = ctx->streams[i];
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
    const bool video = par->codec_type == AVMEDIA_TYPE_VIDEO;
    if (video) {
      anyVideo = true;
      if (!Asset_VideoCanBeDecoded(st)) continue;
      anyDecodableVideo = true;
    }
    auto track = AssetTrackRef(new AssetTrack);
    track->m_mediaType = QString::fromLatin1(video ? kMediaTypeVideo : kMediaTypeAudio);
    track->m_trackID = st->id > 0 ? st->id : int32_t(i) + 1;
    track->m_sourcePath = path;
    track->m_streamIndex = int(i);
    track->m_sourceByteLimit = limit;
    track->m_formatDescriptions = {U_FormatDescription(st, track->m_mediaType)};
    if (video) {
      track->m_naturalSize = QSizeF(par->width, par->height);
      const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
      if (rate.num > 0 && rate.den > 0) track->m_nominalFrameRate = float(av_q2d(rate));
      track->m_preferredTransform = U_PreferredTransform(st);
    }
    const MediaTime end = U_TrackEnd(ctx, st);
    track->m_timeRange = MediaTimeRangeMake(kMediaTimeZero, end);
    *longest = MediaTimeMaximum(*longest, end);
    tracks->append(track);
    if (st->time_base.num == 1 && st->duration != AV_NOPTS_VALUE && st->duration > 0 && st->id > 0)
      timings->push_back({int(i), uint32_t(st->id), st->time_base.den,
                          st->start_time != AV_NOPTS_VALUE ? st->start_time : 0, st->duration});
  }
  if (anyVideo && !anyDecodableVideo) {
    *error = QStringLiteral("The movie's pictures cannot be decoded: its video decoder configuration is damaged.");
    return false;
  }
  return true;
}

void Asset::probe() const { probeFile(nullptr); }

MovieFileLayout Asset::probeFile(MovieLayoutWalk* walk) const {
  ProbeResult result;
  result.done = true;
  const QString path = m_url.isLocalFile() ? m_url.toLocalFile() : m_url.toString();
  MovieFileLayout layout;
  if (!QFileInfo::exists(path)) {
    result.error = QStringLiteral("The movie file does not exist: %1").arg(path);
  } else {
    result.holdsNoFrame = U_IsEmptyFile(path);
    std::shared_ptr<MovieHeaderBytes> headers;
    if (walk) {
      *walk = MovieLayoutWalk();
      // A movie its writer finished grows no more: its fragment index tells its layout without a walk.
      layout = Asset_ScanFinishedMovieFile(path);
    }
    if (walk && !layout.finished) {
      walk->keepHeaderBytes();
      struct stat st {};
      const bool walked = Asset_WalkMovieFile(path, walk, &st);
      headers = walk->takeHeaderBytes();
      if (walked) {
        Asset_NoteLayout(path, st.st_dev, st.st_ino, *walk);
        headers->device = st.st_dev;
        headers->inode = st.st_ino;
      } else {
        headers.reset();
      }
      layout = walk->layout();
    } else if (!walk) {
      layout = Asset_ScanMovieFile(path);
    }
    result.canContainFragments = layout.hasMovieExtends;
    result.containsFragments = layout.completeFragments > 0;
    // Only a movie made of fragments can be cut short at a fragment boundary and still make sense.
    const int64_t limit = layout.hasMovieExtends ? layout.readableLength : -1;
    result.byteLimit = limit;
    QString error;
    // The demuxer reads the fragment headers the walk has just read from memory, not from the disk again.
    FFmpegInputPtr input = Asset_TakeInput(path, limit, &error, true, std::move(headers));
    MediaTime longest = kMediaTimeZero;
    if (!input) {
      result.error = error;
    } else if (!U_ReadTracks(input.get(), path, limit, &result.tracks, &result.timings, &longest, &result.error)) {
      result.tracks.clear();
      result.timings.clear();
    } else {
      result.duration = longest;
      result.ok = true;
      result.readablePart = U_WalkedPart(layout);
      result.holdsNoFrame = U_HoldsNoFrame(input.get(), path, result.tracks, longest);
      // The fragment index of a finished movie is believed without a walk: whether its last fragment
      // was reached shows in the samples the demuxer found.
      if (layout.finished && result.readablePart.whole) {
        const int64_t read = U_EndOfSamplesRead(input.get());
        if (read <= layout.lastFragmentAt) {
          result.readablePart.whole = false;
          result.readablePart.readableBytes = read;
          result.readablePart.declaredDuration = U_DeclaredDuration(path, layout, result.timings);
        }
      }
      // The player or the export that asked for the probe reads this movie next.
      Asset_ParkInput(path, limit, std::move(input), true);
    }
  }
  setProbeResult(result);
  return layout;
}

void Asset::setProbeResult(const ProbeResult& result) const {
  // Tracks point back to their asset; the asset may be gone only when nobody asks any more.
  auto self = std::const_pointer_cast<Asset>(shared_from_this());
  for (const auto& t : result.tracks) t->m_asset = self;
  std::lock_guard lock(m_mutex);
  m_probe = result;
}

void Asset::ensureProbed() const {
  {
    std::lock_guard lock(m_mutex);
    if (m_probe.done) return;
  }
  probe();
  publishProbe(probeResult());
}

Asset::ProbeResult Asset::probeResult() const {
  std::lock_guard lock(m_mutex);
  return m_probe;
}

void Asset::publishProbe(const ProbeResult& result) const {
  std::lock_guard lock(m_mutex);
  for (const QString& key : allKeys()) {
    if (key == QLatin1String(kAssetKeyHasProtectedContent)) {
      m_status[key] = KeyValueStatus::Loaded;
      continue;
    }
    m_status[key] = result.ok ? KeyValueStatus::Loaded : KeyValueStatus::Failed;
  }
}

void Asset::loadValuesAsynchronouslyForKeys(const QStringList& keys, std::function<void()> completion) {
  {
    std::lock_guard lock(m_mutex);
    m_cancelled = false;
    for (const QString& key : keys) {
      if (!allKeys().contains(key)) m_status[key] = KeyValueStatus::Failed;
      else if (m_status.value(key) != KeyValueStatus::Loaded) m_status[key] = KeyValueStatus::Loading;
    }
  }
  auto self = shared_from_this();
  Dispatch_GlobalAsync([self, keys, completion = std::move(completion)]() mutable {
    bool needProbe;
    {
      std::lock_guard lock(self->m_mutex);
      needProbe = !self->m_probe.done;
    }
    if (needProbe) self->probe();
    Dispatch_MainAsync([self, keys, completion = std::move(completion)]() {
      bool cancelled;
      {
        std::lock_guard lock(self->m_mutex);
        cancelled = self->m_cancelled;
        if (cancelled) {
          for (const QString& key : keys)
            if (self->m_status.value(key) == KeyValueStatus::Loading) self->m_status[key] = KeyValueStatus::Cancelled;
        }
      }
      if (!cancelled) self->publishProbe(self->probeResult());
      if (completion) completion();
    });
  });
}

KeyValueStatus Asset::statusOfValueForKey(const QString& key, QString* error) const {
  std::lock_guard lock(m_mutex);
  const KeyValueStatus status = m_status.value(key, KeyValueStatus::Unknown);
  if (error) {
    error->clear();
    if (status == KeyValueStatus::Failed)
      *error = allKeys().contains(key) ? m_probe.error : QStringLiteral("Unknown key: %1").arg(key);
  }
  return status;
}

void Asset::cancelLoading() {
  std::lock_guard lock(m_mutex);
  m_cancelled = true;
}

QList<AssetTrackRef> Asset::tracks() const {
  ensureProbed();
  return probeResult().tracks;
}

QList<AssetTrackRef> Asset::tracksWithMediaType(const QString& mediaType) const {
  QList<AssetTrackRef> out;
  for (const auto& t : tracks())
    if (t->mediaType() == mediaType) out.append(t);
  return out;
}

AssetTrackRef Asset::trackWithTrackID(int32_t trackID) const {
  for (const auto& t : tracks())
    if (t->trackID() == trackID) return t;
  return nullptr;
}

MediaTime Asset::duration() const {
  ensureProbed();
  return probeResult().duration;
}

QSizeF Asset::naturalSize() const {
  const auto video = tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  return video.isEmpty() ? QSizeF() : video.first()->naturalSize();
}

bool Asset::isPlayable() const {
  ensureProbed();
  const ProbeResult r = probeResult();
  return r.ok && !r.tracks.isEmpty();
}

bool Asset::canContainFragments() const {
  ensureProbed();
  return probeResult().canContainFragments;
}

bool Asset::containsFragments() const {
  ensureProbed();
  return probeResult().containsFragments;
}

AssetReadablePart Asset::readablePart() const {
  ensureProbed();
  return probeResult().readablePart;
}

bool Asset::holdsNoFrame() const {
  ensureProbed();
  return probeResult().holdsNoFrame;
}
