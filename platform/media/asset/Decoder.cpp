#include "platform/media/asset/Decoder.h"

#include "platform/foundation/PlatformLog.h"
#include "platform/media/asset/Asset.h"
#include "platform/media/io/FFmpegCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>

namespace {

// How far each stage runs ahead of the clock: a few pictures, a fraction of a second of sound.
constexpr int kMaxQueuedPictures = 6;
// Pictures are decoded in runs: from this many queued up to the full queue.
constexpr int kRefillPictures = kMaxQueuedPictures / 2;
constexpr double kMaxQueuedAudioSeconds = 0.5;
// Empty ranges play silence in blocks of this length.
constexpr double kSilenceBlockSeconds = 0.05;

MediaTime U_TimeFromTicks(int64_t ticks, AVRational tb) {
  if (ticks == AV_NOPTS_VALUE) return kMediaTimeInvalid;
  // Keep the exact rational when the stream's time base fits our timescale.
  if (tb.num == 1 && tb.den > 0) return MediaTimeMake(ticks, tb.den);
  return MediaTimeMakeWithSeconds(static_cast<double>(ticks) * av_q2d(tb), 90000);
}

// A time in one range carried over to the other range of a segment; a segment whose target and source
// lengths differ plays scaled.
MediaTime U_MapTime(const MediaTimeRange& from, const MediaTimeRange& to, const MediaTime& time) {
  const MediaTime offset = MediaTimeSubtract(time, from.start);
  const double fromLength = MediaTimeGetSeconds(from.duration);
  const double toLength = MediaTimeGetSeconds(to.duration);
  if (fromLength > 0 && toLength > 0 && std::abs(fromLength - toLength) > 1e-6)
    return MediaTimeAdd(to.start, MediaTimeMultiplyByFloat64(offset, toLength / fromLength));
  return MediaTimeAdd(to.start, offset);
}

// The item time of a source time inside a segment.
MediaTime U_ItemTime(const PlayerSegment& segment, const MediaTime& sourceTime) {
  return U_MapTime(segment.sourceRange, segment.targetRange, sourceTime);
}

MediaTime U_SourceTime(const PlayerSegment& segment, const MediaTime& itemTime) {
  return U_MapTime(segment.targetRange, segment.sourceRange, itemTime);
}

}  // namespace

// One input file opened for one stream type: demuxer, decoder and packet state. The file is read only
// up to its byte limit, so a movie still being written is never read into its torn last fragment.
class MediaFileReader {
 public:
  MediaFileReader(const QString& path, int64_t byteLimit, MediaType type)
      : MediaFileReader(path, byteLimit, type, Asset_TakeInput(path, byteLimit, nullptr), nullptr) {}

  // The same file read on past the readable length `from` stopped at: only what was appended since (and
  // the fragment before it) is opened, and `from`'s decoder carries on. Null when the file's fragments
  // are not known; the caller then opens the file whole.
  static std::unique_ptr<MediaFileReader> grownFrom(MediaFileReader& from, int64_t byteLimit, MediaType type) {
    if (!from.m_open || from.m_byteLimit < 0 || byteLimit <= from.m_byteLimit) return nullptr;
    FFmpegInputPtr input = Asset_OpenGrownInput(from.m_path, from.m_byteLimit, byteLimit, nullptr);
    if (!input) return nullptr;
    auto reader = std::unique_ptr<MediaFileReader>(
        new MediaFileReader(from.m_path, byteLimit, type, std::move(input), std::move(from.m_codec)));
    from.m_open = false;
    if (!reader->m_open) return nullptr;
    reader->m_windowed = true;
    reader->m_windowStart = reader->timeOf(reader->m_stream->start_time);
    return reader;
  }

  bool isOpen() const { return m_open; }
  // Whether the reader can show the picture or sound at a source time: one that reads only the end
  // of a grown file cannot go back before it.
  bool covers(const MediaTime& sourceTime) const {
    return !m_windowed || !sourceTime.isNumeric() ||
           (m_windowStart.isNumeric() && MediaTimeCompare(sourceTime, m_windowStart) >= 0);
  }
  const QString& path() const { return m_path; }
  int64_t byteLimit() const { return m_byteLimit; }
  MediaTime frameDuration() const { return m_frameDuration; }
  MediaTime timeOf(int64_t ticks) const { return U_TimeFromTicks(ticks, m_stream->time_base); }

  // Positions the reader on the key frame at or before the source time. A source that cannot be
  // positioned decodes nothing more: its segment ends there.
  void seek(const MediaTime& sourceTime) {
    const double seconds = std::max(0.0, MediaTimeGetSeconds(sourceTime));
    const int64_t ts = static_cast<int64_t>(seconds / av_q2d(m_stream->time_base));
    const int rc = m_frames.seek(ts);
    m_seekError = rc;
    if (rc < 0) Platform_Log(QStringLiteral("Player: cannot seek in %1: %2").arg(m_path, FFmpeg_ErrorText(rc)));
  }

  // 0 with a frame, AVERROR_EOF at the end, another negative value on an error that ends the file.
  int decode(AVFrame* frame) { return m_seekError < 0 ? m_seekError : m_frames.next(frame); }

 private:
  MediaFileReader(const QString& path, int64_t byteLimit, MediaType type, FFmpegInputPtr input, FFmpegCodecPtr codec)
      : m_path(path), m_byteLimit(byteLimit), m_format(std::move(input)) {
    if (!m_format) return;
    const AVMediaType want = type == MediaType::Video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    const AVCodec* decoder = nullptr;
    m_streamIndex = av_find_best_stream(m_format.get(), want, -1, -1, &decoder, 0);
    if (m_streamIndex < 0 || !decoder) return;
    m_stream = m_format->streams[m_streamIndex];
    // A decoder handed on keeps its threads; it is flushed by the first seek.
    m_codec = codec && codec->codec_id == m_stream->codecpar->codec_id ? std::move(codec) : FFmpeg_OpenDecoder(m_stream, false);
    if (!m_codec || !m_frames.start(m_format.get(), m_streamIndex, m_codec.get())) return;
    const AVRational fps = m_stream->avg_frame_rate.num > 0 ? m_stream->avg_frame_rate : m_stream->r_frame_rate;
    m_frameDuration = fps.num > 0 && fps.den > 0 ? MediaTimeMake(fps.den, fps.num) : MediaTimeMake(1, 30);
    m_open = true;
  }

  QString m_path;
  int64_t m_byteLimit;
  FFmpegInputPtr m_format;
  FFmpegCodecPtr m_codec;
  FFmpegFrameDecoder m_frames;
  AVStream* m_stream = nullptr;
  int m_streamIndex = -1;
  bool m_open = false;
  int m_seekError = 0;
  MediaTime m_frameDuration = MediaTimeMake(1, 30);
  bool m_windowed = false;
  MediaTime m_windowStart = kMediaTimeInvalid;
};

MediaSourceInfo Decoder_ProbeFile(const QString& path, int64_t byteLimit) {
  MediaSourceInfo info;
  FFmpegInputPtr input = Asset_TakeInput(path, byteLimit, nullptr);
  if (!input) {
    info.error = QStringLiteral("cannot open %1").arg(path);
    return info;
  }
  const AVFormatContext* format = input.get();
  double longest = 0;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVStream* stream = format->streams[i];
    const AVCodecParameters* par = stream->codecpar;
    if (stream->duration != AV_NOPTS_VALUE)
      longest = std::max(longest, static_cast<double>(stream->duration) * av_q2d(stream->time_base));
    if (par->codec_type == AVMEDIA_TYPE_VIDEO && !info.hasVideo) {
      info.hasVideo = true;
      info.videoSize = QSize(par->width, par->height);
      const AVRational fps = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
      info.frameDuration = fps.num > 0 && fps.den > 0 ? MediaTimeMake(fps.den, fps.num) : MediaTimeMake(1, 30);
    } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
      info.hasAudio = true;
    }
  }
  if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
    info.duration = MediaTimeMake(format->duration, AV_TIME_BASE);
  else
    info.duration = MediaTimeMakeWithSeconds(longest, 1000000);
  info.ok = info.hasVideo || info.hasAudio;
  if (!info.ok) info.error = QStringLiteral("no audio or video in %1").arg(path);
  if (info.ok) Asset_ParkInput(path, byteLimit, std::move(input), true);
  return info;
}

Decoder::Decoder(MediaType type, std::vector<PlayerSegment> segments, DecoderAudioFormat audioFormat)
    : m_type(type), m_segments(std::move(segments)), m_audioFormat(audioFormat) {
  m_seekRequested = true;
  m_seeking = true;
  m_thread = std::thread([this] { run(); });
}

Decoder::~Decoder() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  // The decoding thread never waits for the main thread (the ready handler is only told, and its users
  // post to the main queue): the join cannot deadlock a main thread that lets the decoder go.
  if (m_thread.joinable()) m_thread.join();
}

void Decoder::setReadyHandler(ReadyHandler handler) {
  std::lock_guard lock(m_mutex);
  m_ready = std::move(handler);
}

void Decoder::seek(const MediaTime& target, const MediaTime& toleranceBefore) {
  {
    std::lock_guard lock(m_mutex);
    m_queue.clear();
    m_seekRequested = true;
    m_seeking = true;
    m_decodedAll = false;
    m_seekTarget = target;
    m_seekDropBefore = toleranceBefore.isPositiveInfinity() ? kMediaTimeNegativeInfinity
                                                            : MediaTimeSubtract(target, toleranceBefore);
    ++m_generation;
  }
  m_wake.notify_all();
}

bool Decoder::peek(DecodedUnit& unit) const {
  std::lock_guard lock(m_mutex);
  if (m_queue.empty()) return false;
  unit = m_queue.front();
  return true;
}

bool Decoder::pop(DecodedUnit& unit) {
  bool wake = true;
  {
    std::lock_guard lock(m_mutex);
    if (m_queue.empty()) return false;
    unit = std::move(m_queue.front());
    m_queue.pop_front();
    // The decoder thread only cares once a run of pictures is due, or when a full queue got room.
    const int queued = static_cast<int>(m_queue.size());
    if (m_type == MediaType::Video) wake = queued <= kRefillPictures || queued == kMaxQueuedPictures - 1;
  }
  if (wake) m_wake.notify_all();
  return true;
}

void Decoder::consumeAudioBytes(int bytes) {
  {
    std::lock_guard lock(m_mutex);
    if (m_queue.empty()) return;
    DecodedUnit& unit = m_queue.front();
    bytes = std::min<int>(bytes, unit.pcm.size());
    const int frames = bytes / m_audioFormat.bytesPerFrame();
    unit.pcm.remove(0, bytes);
    const MediaTime advance = MediaTimeMake(frames, m_audioFormat.sampleRate);
    unit.itemTime = MediaTimeAdd(unit.itemTime, advance);
    unit.duration = MediaTimeSubtract(unit.duration, advance);
    if (unit.pcm.isEmpty()) m_queue.pop_front();
  }
  m_wake.notify_all();
}

void Decoder::extendSegments(std::vector<PlayerSegment> segments) {
  {
    std::lock_guard lock(m_mutex);
    m_grown = std::move(segments);
    m_hasGrown = true;
    // Not at the end any more until the decoder thread has looked at what is new.
    m_decodedAll = false;
  }
  m_wake.notify_all();
}

bool Decoder::atEnd() const {
  std::lock_guard lock(m_mutex);
  return m_decodedAll && m_queue.empty() && !m_seekRequested;
}

bool Decoder::isSeeking() const {
  std::lock_guard lock(m_mutex);
  return m_seeking;
}

int Decoder::queuedCount() const {
  std::lock_guard lock(m_mutex);
  return static_cast<int>(m_queue.size());
}

bool Decoder::hasRoomLocked() const {
  if (m_type == MediaType::Video) return static_cast<int>(m_queue.size()) < kMaxQueuedPictures;
  double seconds = 0;
  for (const DecodedUnit& unit : m_queue) seconds += MediaTimeGetSeconds(unit.duration);
  return seconds < kMaxQueuedAudioSeconds;
}

bool Decoder::wantsMoreLocked() {
  if (m_type != MediaType::Video) return hasRoomLocked();
  const int queued = static_cast<int>(m_queue.size());
  if (queued >= kMaxQueuedPictures) m_refilling = false;
  else if (queued <= kRefillPictures) m_refilling = true;
  return m_refilling;
}

bool Decoder::push(DecodedUnit unit, uint64_t generation) {
  ReadyHandler ready;
  {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [&] { return m_stop || m_seekRequested || hasRoomLocked(); });
    if (m_stop || m_seekRequested || generation != m_generation) return false;
    m_queuedUntil = MediaTimeAdd(unit.itemTime, unit.duration);
    m_queue.push_back(std::move(unit));
    m_seeking = false;
    ready = m_ready;
  }
  if (ready) ready();
  return true;
}

void Decoder::run() {
  for (;;) {
    bool grown = false;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [&] { return m_stop || m_seekRequested || m_hasGrown || (!m_threadAtEnd && wantsMoreLocked()); });
      if (m_stop) return;
      if (m_seekRequested) {
        m_seekRequested = false;
        m_threadGeneration = m_generation;
        const MediaTime target = m_seekTarget;
        const MediaTime dropBefore = m_seekDropBefore;
        lock.unlock();
        m_queuedUntil = kMediaTimeInvalid;
        m_active = nullptr;
        // Find the segment that shows the target; past the end means the last one.
        size_t index = 0;
        while (index + 1 < m_segments.size() &&
               MediaTimeCompare(target, m_segments[index].targetRange.end()) >= 0)
          ++index;
        m_threadAtEnd = m_segments.empty();
        if (!m_threadAtEnd) {
          m_segmentIndex = index;
          const PlayerSegment& segment = m_segments[index];
          MediaTime startItem = MediaTimeMaximum(target, segment.targetRange.start);
          m_dropBefore = dropBefore;
          if (!segment.isEmpty()) {
            if (MediaTimeCompare(target, segment.targetRange.end()) >= 0) {
              // At or past the end: show the last picture of the item.
              startItem = MediaTimeSubtract(segment.targetRange.end(), MediaTimeMake(1, 1000));
              if (m_type == MediaType::Video) m_dropBefore = startItem;
            }
            if (MediaFileReader* reader = readerFor(segment, U_SourceTime(segment, startItem))) {
              reader->seek(U_SourceTime(segment, startItem));
              m_active = reader;
            }
          }
        }
        if (m_threadAtEnd) {
          std::lock_guard again(m_mutex);
          m_decodedAll = true;
          m_seeking = false;
        }
        continue;
      }
      grown = m_hasGrown;
      m_hasGrown = false;
    }
    if (grown) {
      applyGrowth();
      continue;
    }
    produceOne();
  }
}

void Decoder::applyGrowth() {
  std::vector<PlayerSegment> segments;
  {
    std::lock_guard lock(m_mutex);
    segments = std::move(m_grown);
  }
  if (!U_TakeUpGrowth(std::move(segments)) && m_threadAtEnd) {
    // Nothing more to decode: at the end again.
    ReadyHandler ready;
    {
      std::lock_guard lock(m_mutex);
      if (m_threadGeneration == m_generation && !m_seekRequested && !m_hasGrown) m_decodedAll = true;
      ready = m_ready;
    }
    if (ready) ready();
  }
}

bool Decoder::U_TakeUpGrowth(std::vector<PlayerSegment> segments) {
  // Only the same timeline reaching further is taken up.
  if (segments.size() != m_segments.size()) return false;
  for (size_t i = 0; i < segments.size(); ++i)
    if (segments[i].sourcePath != m_segments[i].sourcePath ||
        MediaTimeCompare(segments[i].targetRange.start, m_segments[i].targetRange.start) != 0)
      return false;
  m_segments = std::move(segments);
  if (!m_threadAtEnd || m_segments.empty()) return false;
  const PlayerSegment& segment = m_segments[m_segmentIndex];
  const MediaTime queued = m_queuedUntil.isNumeric() ? m_queuedUntil : m_dropBefore;
  if (segment.isEmpty() || (queued.isNumeric() && MediaTimeCompare(queued, segment.targetRange.end()) >= 0)) return false;
  resumeGrownSegment();
  return true;
}

void Decoder::resumeGrownSegment() {
  const PlayerSegment& segment = m_segments[m_segmentIndex];
  MediaTime resumeAt = m_queuedUntil.isNumeric() ? m_queuedUntil : m_dropBefore;
  if (m_queuedUntil.isNumeric() && m_dropBefore.isNumeric()) resumeAt = MediaTimeMaximum(m_queuedUntil, m_dropBefore);
  if (!resumeAt.isNumeric()) resumeAt = segment.targetRange.start;
  // The reader that read the older readable length carries on into what was appended; without one (or
  // when the file's fragments are not known) a new reader opens the file whole.
  std::unique_ptr<MediaFileReader> grown;
  for (auto& reader : m_readers)
    if (reader.get() == m_active && reader->path() == segment.sourcePath && reader->byteLimit() < segment.sourceByteLimit)
      grown = MediaFileReader::grownFrom(*reader, segment.sourceByteLimit, m_type);
  // A reader of an older readable length is done with: the new one reads the same file further.
  std::erase_if(m_readers, [&](const std::unique_ptr<MediaFileReader>& reader) {
    const bool stale = reader->path() == segment.sourcePath && reader->byteLimit() != segment.sourceByteLimit;
    if (stale && reader.get() == m_active) m_active = nullptr;
    return stale;
  });
  if (grown) m_readers.push_back(std::move(grown));
  m_threadAtEnd = false;
  {
    std::lock_guard lock(m_mutex);
    if (m_threadGeneration == m_generation && !m_seekRequested) m_decodedAll = false;
  }
  m_dropBefore = resumeAt;
  MediaFileReader* reader = readerFor(segment);
  m_active = reader;
  if (!reader) return;
  // Pictures: onto the first one not handed out yet (a fragment starts on a key frame, so nothing is
  // decoded twice); half a picture later, so that rounding into the stream's time base cannot fall back
  // onto the key frame before. Sound: a little earlier, so that the decoder's overlap is warm at the join.
  const MediaTime seekAt = m_type == MediaType::Video
                               ? MediaTimeAdd(resumeAt, MediaTimeMultiplyByFloat64(reader->frameDuration(), 0.5))
                               : MediaTimeSubtract(resumeAt, MediaTimeMake(1, 10));
  reader->seek(U_SourceTime(segment, MediaTimeMaximum(seekAt, segment.targetRange.start)));
}

MediaFileReader* Decoder::readerFor(const PlayerSegment& segment, const MediaTime& sourceTime) {
  const QString& path = segment.sourcePath;
  for (size_t i = 0; i < m_readers.size(); ++i) {
    MediaFileReader* reader = m_readers[i].get();
    if (reader->path() != path || reader->byteLimit() != segment.sourceByteLimit) continue;
    if (reader->covers(sourceTime)) return reader->isOpen() ? reader : nullptr;
    // Only the end of a grown file: the time asked for lies before it, and the reader goes below.
    if (reader == m_active) m_active = nullptr;
    break;
  }
  // Readers of the same file at an older readable length are not used again.
  std::erase_if(m_readers, [&](const std::unique_ptr<MediaFileReader>& reader) {
    return reader.get() != m_active && reader->path() == path;
  });
  m_readers.push_back(std::make_unique<MediaFileReader>(path, segment.sourceByteLimit, m_type));
  if (!m_readers.back()->isOpen()) {
    Platform_Log(QStringLiteral("Player: cannot decode %1").arg(path));
    return nullptr;
  }
  return m_readers.back().get();
}

void Decoder::startSegment(size_t index, const MediaTime& dropBefore) {
  m_segmentIndex = index;
  m_dropBefore = dropBefore;
  m_active = nullptr;
  const PlayerSegment& segment = m_segments[index];
  if (!segment.isEmpty())
    if (MediaFileReader* reader = readerFor(segment, segment.sourceRange.start)) {
      reader->seek(segment.sourceRange.start);
      m_active = reader;
    }
}

void Decoder::advanceSegment() {
  if (m_segmentIndex + 1 >= m_segments.size()) {
    m_threadAtEnd = true;
    ReadyHandler ready;
    {
      std::lock_guard lock(m_mutex);
      if (m_threadGeneration == m_generation && !m_seekRequested) {
        m_decodedAll = true;
        m_seeking = false;
      }
      ready = m_ready;
    }
    if (ready) ready();
    return;
  }
  startSegment(m_segmentIndex + 1, m_segments[m_segmentIndex + 1].targetRange.start);
}

void Decoder::produceOne() {
  const uint64_t generation = m_threadGeneration;
  const PlayerSegment& segment = m_segments[m_segmentIndex];
  MediaFileReader* reader = nullptr;
  if (!segment.isEmpty())
    reader = m_active && m_active->path() == segment.sourcePath ? m_active : readerFor(segment);

  if (!reader) {
    // An empty range (or a source that cannot be read): black once, or silence block by block.
    const MediaTime from = MediaTimeMaximum(m_dropBefore, segment.targetRange.start);
    if (MediaTimeCompare(from, segment.targetRange.end()) >= 0) {
      advanceSegment();
      return;
    }
    DecodedUnit unit;
    unit.itemTime = from;
    if (m_type == MediaType::Video) {
      unit.duration = MediaTimeSubtract(segment.targetRange.end(), from);
      if (push(std::move(unit), generation)) advanceSegment();
      return;
    }
    const double left = MediaTimeGetSeconds(MediaTimeSubtract(segment.targetRange.end(), from));
    const int frames = std::max(1, static_cast<int>(std::min(left, kSilenceBlockSeconds) * m_audioFormat.sampleRate));
    unit.pcm = QByteArray(frames * m_audioFormat.bytesPerFrame(), '\0');
    unit.duration = MediaTimeMake(frames, m_audioFormat.sampleRate);
    if (push(std::move(unit), generation)) m_dropBefore = MediaTimeAdd(from, MediaTimeMake(frames, m_audioFormat.sampleRate));
    return;
  }

  FFmpegFramePtr frame = FFmpeg_MakeFrame();
  if (!frame) return;
  if (reader->decode(frame.get()) < 0) {
    // The file grew while this reader read its older length: read on through a new one.
    if (segment.sourceByteLimit != reader->byteLimit()) {
      resumeGrownSegment();
      return;
    }
    advanceSegment();
    return;
  }
  const MediaTime sourceTime = reader->timeOf(frame->best_effort_timestamp);
  if (!sourceTime.isValid() || MediaTimeCompare(sourceTime, segment.sourceRange.end()) >= 0) {
    if (sourceTime.isValid()) advanceSegment();
    return;
  }
  const MediaTime itemTime = U_ItemTime(segment, sourceTime);

  if (m_type == MediaType::Video) {
    MediaTime duration = reader->frameDuration();
    const MediaTime itemEnd = MediaTimeAdd(itemTime, duration);
    // A picture that ends before the wanted time, or that lies before the segment's source range, is
    // only decoded to reach the next one.
    if (MediaTimeCompare(itemEnd, m_dropBefore) <= 0 ||
        MediaTimeCompare(MediaTimeAdd(sourceTime, reader->frameDuration()), segment.sourceRange.start) <= 0)
      return;
    DecodedUnit unit;
    unit.itemTime = itemTime;
    unit.duration = duration;
    unit.picture = std::make_shared<SampleBuffer>(MediaType::Video, std::move(frame), itemTime, duration);
    push(std::move(unit), generation);
    return;
  }

  // Audio: convert to the output format, then cut to the wanted range.
  if (!m_resampler.prepare(frame.get(), AV_SAMPLE_FMT_S16, m_audioFormat.sampleRate, m_audioFormat.channels)) return;
  const int capacity =
      static_cast<int>(av_rescale_rnd(swr_get_delay(m_resampler.context(), frame->sample_rate) + frame->nb_samples,
                                      m_audioFormat.sampleRate, frame->sample_rate, AV_ROUND_UP));
  QByteArray pcm(capacity * m_audioFormat.bytesPerFrame(), Qt::Uninitialized);
  uint8_t* outData[1] = {reinterpret_cast<uint8_t*>(pcm.data())};
  const int produced = m_resampler.convert(outData, capacity, frame.get());
  if (produced <= 0) return;
  const uint8_t* data[1] = {reinterpret_cast<const uint8_t*>(pcm.constData())};
  emitAudio(data, produced, segment, itemTime, generation);
}
void Decoder::emitAudio(const uint8_t* const* data, int samples, const PlayerSegment& segment,
                        const MediaTime& itemTime, uint64_t generation) {
  const int rate = m_audioFormat.sampleRate;
  const int bpf = m_audioFormat.bytesPerFrame();
  int first = 0;
  int last = samples;
  // Sound before the wanted time is cut off sample-exactly.
  const double lead = MediaTimeGetSeconds(MediaTimeSubtract(m_dropBefore, itemTime));
  if (m_dropBefore.isNumeric() && lead > 0) first = std::min(samples, static_cast<int>(lead * rate + 0.5));
  const double room = MediaTimeGetSeconds(MediaTimeSubtract(segment.targetRange.end(), itemTime));
  last = std::min(last, std::max(0, static_cast<int>(room * rate + 0.5)));
  if (last <= first) {
    if (last < samples) advanceSegment();
    return;
  }
  DecodedUnit unit;
  unit.pcm = QByteArray(reinterpret_cast<const char*>(data[0]) + first * bpf, (last - first) * bpf);
  unit.itemTime = MediaTimeAdd(itemTime, MediaTimeMake(first, rate));
  unit.duration = MediaTimeMake(last - first, rate);
  const bool segmentDone = last < samples;
  if (push(std::move(unit), generation) && segmentDone) advanceSegment();
}
