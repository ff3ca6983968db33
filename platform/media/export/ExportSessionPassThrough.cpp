// Pass-through export: compressed packets are copied, retimed onto the export's time line.

#include "platform/media/export/ExportSessionWork.h"
#include "platform/media/io/FFmpegCodec.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <vector>

namespace {

int64_t toTimeBase(const MediaTime& t, AVRational tb) {
  if (!t.isNumeric() || t.timescale <= 0) return 0;
  return av_rescale_rnd(t.value, int64_t(tb.den), int64_t(t.timescale) * tb.num, AV_ROUND_NEAR_INF);
}

// One opened movie shared by the copiers of its tracks, so that a long fragmented movie is opened (and
// its fragment headers read) once. Packets are read once and queued for the copier of their stream. A
// seek by one copier goes no later than what the others have already been given, and what they were
// given before is not given again, so each copier reads its stream as if it had the file to itself.
class SharedSource {
 public:
  static std::shared_ptr<SharedSource> open(const QString& path, int64_t byteLimit, QString* error) {
    FFmpegInputPtr in = Asset_TakeInput(path, byteLimit, error, false);
    if (!in) return nullptr;
    auto source = std::shared_ptr<SharedSource>(new SharedSource(std::move(in)));
    for (unsigned i = 0; i < source->m_in->nb_streams; ++i) source->m_in->streams[i]->discard = AVDISCARD_ALL;
    return source;
  }

  AVFormatContext* context() const { return m_in.get(); }

  void attach(int stream) {
    Stream& s = m_streams[stream];
    s.active = true;
    s.queue.clear();
    s.last = kNone;
    m_in->streams[stream]->discard = AVDISCARD_DEFAULT;
  }

  void detach(int stream) {
    Stream& s = m_streams[stream];
    s.active = false;
    s.queue.clear();
    m_in->streams[stream]->discard = AVDISCARD_ALL;
  }

  // Positions the stream so that its first packet (its first key frame, for video) is at or before ts
  // (its time base), or at its start. 0, or the seek's error.
  int seek(int stream, int64_t ts, bool video) {
    FFmpegSeekSteps steps;
    steps.seekTo = [this, stream](int64_t target) { return seekKeyFrame(stream, target); };
    steps.firstTime = [this, stream, video](int64_t* pts) {
      std::deque<FFmpegPacketPtr>& queue = m_streams[stream].queue;
      for (;;) {
        if (queue.empty()) {
          if (const int rc = fill(); rc < 0) return rc;
          continue;
        }
        const AVPacket* p = queue.front().get();
        // A copy starts on a key frame: what comes before the first one is never copied.
        if (video && !(p->flags & AV_PKT_FLAG_KEY)) {
          queue.pop_front();
          continue;
        }
        *pts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        return 0;
      }
    };
    return FFmpeg_SeekAtOrBefore(m_in->streams[stream], ts, steps);
  }

  // The stream's next packet: 0, or a negative value at the end of the file or on a read error.
  int read(int stream, FFmpegPacketPtr* out) {
    Stream& own = m_streams[stream];
    while (own.queue.empty()) {
      if (const int rc = fill(); rc < 0) return rc;
    }
    *out = std::move(own.queue.front());
    own.queue.pop_front();
    return 0;
  }

 private:
  explicit SharedSource(FFmpegInputPtr in) : m_in(std::move(in)) {}

  // A seek goes no later than what the other copiers were given, and forgets what this one held.
  int seekKeyFrame(int stream, int64_t ts) {
    AVRational tb = m_in->streams[stream]->time_base;
    int64_t target = ts;
    for (auto& [index, s] : m_streams) {
      if (index == stream || !s.active || s.last == kNone) continue;
      target = std::min(target, av_rescale_q(s.last, m_in->streams[index]->time_base, tb));
    }
    Stream& own = m_streams[stream];
    own.queue.clear();
    own.last = kNone;
    return FFmpeg_SeekKeyFrame(m_in.get(), stream, target);
  }

  // Reads one packet and queues it for the copier of its stream. 0, or the read's error.
  int fill() {
    FFmpegPacketPtr p = FFmpeg_MakePacket();
    if (!p) return AVERROR(ENOMEM);
    const int rc = av_read_frame(m_in.get(), p.get());
    if (rc < 0) return rc;
    auto it = m_streams.find(p->stream_index);
    if (it == m_streams.end() || !it->second.active) return 0;
    Stream& s = it->second;
    const int64_t dts = p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
    if (dts != AV_NOPTS_VALUE) {
      if (s.last != kNone && dts <= s.last) return 0;  // given before a seek by another copier
      s.last = dts;
    }
    s.queue.push_back(std::move(p));
    return 0;
  }
  static constexpr int64_t kNone = std::numeric_limits<int64_t>::min();
  struct Stream {
    bool active = false;
    int64_t last = kNone;  // decode time of the newest packet queued or given
    std::deque<FFmpegPacketPtr> queue;
  };
  FFmpegInputPtr m_in;
  std::map<int, Stream> m_streams;
};

// The shared sources of one export, by file and readable length.
class SharedSources {
 public:
  std::shared_ptr<SharedSource> get(const QString& path, int64_t byteLimit, QString* error) {
    const auto key = std::make_pair(path, byteLimit);
    if (auto it = m_sources.find(key); it != m_sources.end()) return it->second;
    auto source = SharedSource::open(path, byteLimit, error);
    if (source) m_sources[key] = source;
    return source;
  }

 private:
  std::map<std::pair<QString, int64_t>, std::shared_ptr<SharedSource>> m_sources;
};

// Packets can only follow each other in one track when they are coded alike: the output keeps the first
// source's codec parameters (for H.264 its sequence and picture parameter sets) for all of them. Answers
// what differs, or an empty text.
QString codingDifference(const AVCodecParameters* first, const AVCodecParameters* next) {
  if (first->codec_id != next->codec_id)
    return QStringLiteral("%1 instead of %2")
        .arg(QString::fromLatin1(avcodec_get_name(next->codec_id)), QString::fromLatin1(avcodec_get_name(first->codec_id)));
  if (first->codec_type == AVMEDIA_TYPE_VIDEO) {
    if (first->width != next->width || first->height != next->height)
      return QStringLiteral("%1x%2 instead of %3x%4").arg(next->width).arg(next->height).arg(first->width).arg(first->height);
    if (first->format >= 0 && next->format >= 0 && first->format != next->format)
      return QStringLiteral("another pixel format");
    const QByteArray a(reinterpret_cast<const char*>(first->extradata), first->extradata ? first->extradata_size : 0);
    const QByteArray b(reinterpret_cast<const char*>(next->extradata), next->extradata ? next->extradata_size : 0);
    if (a != b) return QStringLiteral("other coding parameters");
  } else if (first->codec_type == AVMEDIA_TYPE_AUDIO) {
    if (first->sample_rate != next->sample_rate)
      return QStringLiteral("%1 Hz instead of %2 Hz").arg(next->sample_rate).arg(first->sample_rate);
    if (first->ch_layout.nb_channels != next->ch_layout.nb_channels)
      return QStringLiteral("%1 channels instead of %2").arg(next->ch_layout.nb_channels).arg(first->ch_layout.nb_channels);
  }
  return QString();
}

// Copies the packets of one composition track, segment after segment.
class TrackCopier {
 public:
  TrackCopier(QList<AssetTrackSegment> segments, bool video, SharedSources* sources)
      : m_segments(std::move(segments)), m_video(video), m_sources(sources) {}
  ~TrackCopier() { closeInput(); }

  // Reads the first source's stream to learn its codec parameters.
  bool addOutputStream(AVFormatContext* out, QString* error) {
    for (const AssetTrackSegment& s : m_segments) {
      if (s.empty) continue;
      const std::shared_ptr<SharedSource> source = m_sources->get(s.sourcePath, s.sourceByteLimit, error);
      if (!source) return false;
      const AVFormatContext* in = source->context();
      if (s.sourceStreamIndex < 0 || unsigned(s.sourceStreamIndex) >= in->nb_streams) {
        if (error) *error = QStringLiteral("The source track of %1 is missing.").arg(s.sourcePath);
        return false;
      }
      AVStream* src = in->streams[s.sourceStreamIndex];
      m_stream = avformat_new_stream(out, nullptr);
      const int rc = m_stream ? avcodec_parameters_copy(m_stream->codecpar, src->codecpar) : AVERROR(ENOMEM);
      if (rc < 0) {
        if (error) *error = QStringLiteral("The export cannot take the track of %1: %2").arg(s.sourcePath, FFmpeg_ErrorText(rc));
        return false;
      }
      m_stream->codecpar->codec_tag = 0;
      m_stream->time_base = src->time_base;
      return true;
    }
    return false;
  }

  AVStream* stream() const { return m_stream; }

  // The next packet to write (retimed to the output stream), or null when the track is done.
  AVPacket* peek(QString* error) {
    while (m_ready.empty() && !m_done) {
      if (!step(error)) return nullptr;
    }
    return m_ready.empty() ? nullptr : m_ready.front().get();
  }
  FFmpegPacketPtr pop() {
    if (m_ready.empty()) return {};
    FFmpegPacketPtr p = std::move(m_ready.front());
    m_ready.pop_front();
    return p;
  }

 private:
  bool openSegment(QString* error) {
    closeInput();
    while (++m_segIndex < m_segments.size()) {
      const AssetTrackSegment& s = m_segments[m_segIndex];
      if (s.empty) continue;
      m_in = m_sources->get(s.sourcePath, s.sourceByteLimit, error);
      if (!m_in) return false;
      const AVFormatContext* in = m_in->context();
      if (s.sourceStreamIndex < 0 || unsigned(s.sourceStreamIndex) >= in->nb_streams) {
        if (error) *error = QStringLiteral("The source track of %1 is missing.").arg(s.sourcePath);
        m_in.reset();
        return false;
      }
      const QString difference = codingDifference(m_stream->codecpar, in->streams[s.sourceStreamIndex]->codecpar);
      if (!difference.isEmpty()) {
        if (error)
          *error = QStringLiteral("%1 is coded differently from the movie before it (%2) and cannot be joined by copying.")
                       .arg(QFileInfo(s.sourcePath).fileName(), difference);
        m_in.reset();
        return false;
      }
      m_inStream = s.sourceStreamIndex;
      m_in->attach(m_inStream);
      m_inTb = in->streams[m_inStream]->time_base;
      m_srcStart = toTimeBase(s.timeMapping.source.start, m_inTb);
      m_srcEnd = toTimeBase(s.timeMapping.source.end(), m_inTb);
      m_targetStart = toTimeBase(s.timeMapping.target.start, m_stream->time_base);
      // The first stretch copied into this track may begin before its start (the edit list hides it);
      // later stretches begin at their first key frame so the time line stays in order.
      m_leading = !m_anyWritten;
      m_trailing = true;
      for (qsizetype k = m_segIndex + 1; k < m_segments.size(); ++k)
        if (!m_segments[k].empty) m_trailing = false;
      m_started = false;
      m_stopped = false;
      m_shownAtStart = AV_NOPTS_VALUE;
      m_gop.clear();
      const int rc = m_in->seek(m_inStream, m_srcStart, m_video);
      if (rc < 0 && error)
        *error = QStringLiteral("%1 cannot be read from the start of the clip: %2").arg(s.sourcePath, FFmpeg_ErrorText(rc));
      return rc >= 0;
    }
    m_done = true;
    return true;
  }

  void closeInput() {
    if (m_in) m_in->detach(m_inStream);
    m_in.reset();
    m_gop.clear();
  }

  // The picture on screen at the start time is the last one shown at or before it; when it began a
  // little earlier it is moved to the start, so the clip opens on it (the edit list hides everything
  // before the start).
  void markShownAtStart() {
    m_shownAtStart = AV_NOPTS_VALUE;
    if (!m_video) return;
    for (const FFmpegPacketPtr& g : m_gop) {
      const int64_t pts = g->pts != AV_NOPTS_VALUE ? g->pts : g->dts;
      if (pts <= m_srcStart && (m_shownAtStart == AV_NOPTS_VALUE || pts > m_shownAtStart)) m_shownAtStart = pts;
    }
    if (m_shownAtStart == m_srcStart) m_shownAtStart = AV_NOPTS_VALUE;
  }

  void emitPacket(FFmpegPacketPtr p) {
    const int64_t pts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    const int64_t dts = p->dts != AV_NOPTS_VALUE ? p->dts : pts;
    const AVRational outTb = m_stream->time_base;
    int64_t outPts = pts == m_shownAtStart
                         ? m_targetStart
                         : av_rescale_q_rnd(pts - m_srcStart, m_inTb, outTb, AV_ROUND_NEAR_INF) + m_targetStart;
    int64_t outDts = av_rescale_q_rnd(dts - m_srcStart, m_inTb, outTb, AV_ROUND_NEAR_INF) + m_targetStart;
    if (m_lastDts != std::numeric_limits<int64_t>::min() && outDts <= m_lastDts) outDts = m_lastDts + 1;
    if (outPts < outDts) outPts = outDts;
    m_lastDts = outDts;
    p->pts = outPts;
    p->dts = outDts;
    p->duration = av_rescale_q(p->duration, m_inTb, outTb);
    p->stream_index = m_stream->index;
    p->pos = -1;
    m_ready.push_back(std::move(p));
    m_anyWritten = true;
  }

  // Reads one packet of the current segment and sorts it.
  bool step(QString* error) {
    if (!m_in) return openSegment(error);
    FFmpegPacketPtr p;
    const int rc = m_in->read(m_inStream, &p);
    if (rc == AVERROR(ENOMEM)) {
      if (error) *error = QStringLiteral("Out of memory while copying the movie.");
      return false;
    }
    if (rc < 0) {
      finishSegment();
      return true;
    }
    const int64_t pts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    const int64_t dts = p->dts != AV_NOPTS_VALUE ? p->dts : pts;
    const bool key = (p->flags & AV_PKT_FLAG_KEY) || !m_video;
    if (!m_started) {
      if (m_leading) {
        // Keep everything from the last key frame at or before the start; once a packet decodes after
        // the start no later key frame can show at or before it.
        if (key && pts <= m_srcStart) m_gop.clear();
        if (dts > m_srcStart && !m_gop.empty()) {
          m_started = true;
          markShownAtStart();
          for (FFmpegPacketPtr& g : m_gop) emitOrHold(std::move(g));
          m_gop.clear();
        } else {
          if (!m_gop.empty() || key) m_gop.push_back(std::move(p));
          return true;
        }
      } else {
        if (!(key && pts >= m_srcStart)) return true;
        m_started = true;
      }
    }
    if (dts >= m_srcEnd) {
      finishSegment();
      return true;
    }
    emitOrHold(std::move(p));
    if (m_stopped) finishSegment();
    return true;
  }

  void emitOrHold(FFmpegPacketPtr p) {
    const int64_t pts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    if (m_stopped) return;
    if (!m_trailing && !m_held.empty() && pts < m_srcEnd) {
      // Inside the time line the next stretch follows at once, so no frame may show past this end;
      // the frames that would need one end the stretch here (the last one shown lasts a little longer).
      m_stopped = true;
      return;
    }
    if (pts >= m_srcEnd) {
      // Shown after the end, but a frame before the end may still refer to it.
      if (m_video) m_held.push_back(std::move(p));
      return;
    }
    for (FFmpegPacketPtr& h : m_held) emitPacket(std::move(h));
    m_held.clear();
    emitPacket(std::move(p));
  }

  void finishSegment() {
    // A stretch shorter than one group of pictures never passed its start: write what it holds.
    if (!m_started && !m_gop.empty()) {
      m_started = true;
      markShownAtStart();
      std::vector<FFmpegPacketPtr> gop;
      gop.swap(m_gop);
      for (FFmpegPacketPtr& g : gop) emitOrHold(std::move(g));
    }
    m_held.clear();
    closeInput();
  }

  QList<AssetTrackSegment> m_segments;
  bool m_video;
  SharedSources* m_sources;
  AVStream* m_stream = nullptr;
  qsizetype m_segIndex = -1;
  std::shared_ptr<SharedSource> m_in;
  int m_inStream = -1;
  AVRational m_inTb{1, 1};
  int64_t m_srcStart = 0, m_srcEnd = 0, m_targetStart = 0;
  int64_t m_shownAtStart = AV_NOPTS_VALUE;
  int64_t m_lastDts = std::numeric_limits<int64_t>::min();
  bool m_leading = true, m_trailing = true, m_stopped = false, m_started = false, m_anyWritten = false, m_done = false;
  std::vector<FFmpegPacketPtr> m_gop;
  std::vector<FFmpegPacketPtr> m_held;
  std::deque<FFmpegPacketPtr> m_ready;
};

}  // namespace

bool ExportSession_WritePassThrough(const ExportSessionWork& work, QString* error) {
  error->clear();
  const QByteArray path = QFile::encodeName(work.path);
  AVFormatContext* made = nullptr;
  int rc = avformat_alloc_output_context2(&made, nullptr, work.muxer.toLatin1().constData(), path.constData());
  if (rc < 0 || !made) {
    *error = QStringLiteral("The movie writer cannot be made: %1").arg(FFmpeg_ErrorText(rc));
    return false;
  }
  FFmpegOutputPtr output(made);
  SharedSources sources;
  std::vector<std::unique_ptr<TrackCopier>> copiers;
  AVFormatContext* out = output.get();

  std::vector<double> trackEnds;
  for (const AssetTrackRef& track : work.asset->tracks()) {
    const bool video = track->mediaType() == QLatin1String(kMediaTypeVideo);
    if (!video && track->mediaType() != QLatin1String(kMediaTypeAudio)) continue;
    QList<AssetTrackSegment> segs = ExportSession_SegmentsInRange(track, work.range);
    if (std::none_of(segs.begin(), segs.end(), [](const AssetTrackSegment& s) { return !s.empty; })) continue;
    double end = 0.0;
    for (const AssetTrackSegment& s : segs)
      if (!s.empty) end = MediaTimeGetSeconds(s.timeMapping.target.end());
    trackEnds.push_back(end);
    auto copier = std::make_unique<TrackCopier>(segs, video, &sources);
    if (!copier->addOutputStream(out, error)) return false;
    copiers.push_back(std::move(copier));
  }
  if (copiers.empty()) {
    *error = QStringLiteral("The movie holds nothing to export in the chosen range.");
    return false;
  }
  if (!ExportSession_StartOutput(out, path, error)) return false;

  const double total = std::max(1e-6, MediaTimeGetSeconds(work.range.duration));
  for (;;) {
    if (work.session->isCancelRequested()) {
      error->clear();
      return false;
    }
    TrackCopier* next = nullptr;
    double nextTime = 0.0;
    for (auto& c : copiers) {
      AVPacket* p = c->peek(error);
      if (!p) {
        if (!error->isEmpty()) return false;
        continue;
      }
      const double t = double(p->dts) * av_q2d(c->stream()->time_base);
      if (!next || t < nextTime) {
        next = c.get();
        nextTime = t;
      }
    }
    if (!next) break;
    const FFmpegPacketPtr p = next->pop();
    const double shown = double(p->pts) * av_q2d(next->stream()->time_base);
    rc = av_interleaved_write_frame(out, p.get());
    if (rc < 0) {
      *error = QStringLiteral("Writing the export failed: %1").arg(FFmpeg_ErrorText(rc));
      return false;
    }
    work.session->setProgress(float(std::clamp(shown / total, 0.0, 0.99)));
  }
  if (!ExportSession_FinishOutput(out, error)) return false;
  // The file is closed before its edit lists are trimmed.
  copiers.clear();
  output.reset();
  if (work.muxer == QLatin1String("mov") || work.muxer == QLatin1String("mp4")) {
    if (!ExportSession_TrimEditLists(work.path, trackEnds)) {
      *error = QStringLiteral("The length of the exported movie could not be set.");
      return false;
    }
  }
  return true;
}
