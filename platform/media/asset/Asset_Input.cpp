#include "platform/media/asset/Asset.h"

#include "platform/foundation/SysErrno.h"
#include "platform/media/asset/AssetTiming.h"
#include "platform/media/io/FFmpegCodec.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/common.h>
#include <libavutil/error.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <list>
#include <mutex>
#include <vector>

namespace {

// A file read through pread with a hard end, so libavformat never sees bytes past the limit. A window
// leaves a stretch out: the bytes [headEnd, skipTo) of the file are not seen, and what follows them
// is read as if it came right after the head (fragments that address their data from their own header
// read the same wherever they stand).
class LimitedFile : public FFmpegIOSource {
 public:
  LimitedFile(int fd, int64_t limit) : m_fd(fd), m_limit(limit) {}
  LimitedFile(int fd, int64_t headEnd, int64_t skipTo, int64_t fileLimit)
      : m_fd(fd), m_limit(headEnd + (fileLimit - skipTo)), m_headEnd(headEnd), m_skip(skipTo - headEnd) {}
  ~LimitedFile() override { ::close(m_fd); }

  // The header bytes a walk of this very file kept: read from memory while they are here.
  void setHeaderBytes(MovieHeaderBytesRef bytes) { m_kept = std::move(bytes); }
  void forgetHeaderBytes() { m_kept.reset(); }

  int read(uint8_t* buf, int size) override {
    int64_t left = m_limit - m_pos;
    if (left <= 0) return AVERROR_EOF;
    if (m_pos < m_headEnd) left = std::min(left, m_headEnd - m_pos);
    int64_t want = std::min<int64_t>(size, left);
    if (m_kept && m_skip == 0) {
      const auto& ranges = m_kept->ranges;
      auto next = std::upper_bound(ranges.begin(), ranges.end(), m_pos,
                                   [](int64_t at, const auto& range) { return at < range.first; });
      if (next != ranges.begin()) {
        const auto& [at, bytes] = *std::prev(next);
        const int64_t inside = at + int64_t(bytes.size()) - m_pos;
        if (inside > 0) {
          const int64_t n = std::min(want, inside);
          std::memcpy(buf, bytes.data() + (m_pos - at), size_t(n));
          m_pos += n;
          return int(n);
        }
      }
      // From the disk only up to the next kept header.
      if (next != ranges.end()) want = std::min(want, next->first - m_pos);
    }
    Asset_CountMovieFileRead();
    const ssize_t got = ::pread(m_fd, buf, size_t(want), m_pos < m_headEnd ? m_pos : m_pos + m_skip);
    if (got < 0) return AVERROR(errno);
    if (got == 0) return AVERROR_EOF;
    m_pos += got;
    return int(got);
  }

  int64_t seek(int64_t offset, int whence) override {
    if (whence & AVSEEK_SIZE) return m_limit;
    whence &= ~AVSEEK_FORCE;
    int64_t target = offset;
    if (whence == SEEK_CUR) target = m_pos + offset;
    else if (whence == SEEK_END) target = m_limit + offset;
    if (target < 0) return AVERROR(EINVAL);
    m_pos = target;
    return target;
  }

 private:
  int m_fd;
  int64_t m_limit;
  int64_t m_pos = 0;
  int64_t m_headEnd = INT64_MAX;
  int64_t m_skip = 0;
  MovieHeaderBytesRef m_kept;
};

}  // namespace

namespace {

std::atomic<int64_t> gInputsOpened{0};
std::atomic<int64_t> gGrownInputsOpened{0};

// What identifies the bytes an input reads: the file (device, inode, size, change time) and the limit.
struct InputKey {
  QString path;
  int64_t byteLimit = -1;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t changedNanos = 0;
  bool operator==(const InputKey& o) const {
    return path == o.path && byteLimit == o.byteLimit && device == o.device && inode == o.inode && size == o.size &&
           changedNanos == o.changedNanos;
  }
};

bool U_InputKey(const QString& path, int64_t byteLimit, InputKey* key) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return false;
  *key = InputKey{path, byteLimit, st.st_dev, st.st_ino, st.st_size,
                  int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
  return true;
}

struct ParkedInput {
  InputKey key;
  FFmpegInputPtr input;
  bool hasStreamInfo = false;
  std::chrono::steady_clock::time_point parked;
};

constexpr size_t kMaxParkedInputs = 2;
constexpr auto kParkedInputLifetime = std::chrono::seconds(60);

std::mutex gParkedMutex;
std::list<ParkedInput> gParked;  // newest first

// Drops what has waited too long; called with the lock held. The inputs are closed by the caller,
// outside the lock.
void U_ExpireParked(std::list<ParkedInput>* expired) {
  const auto now = std::chrono::steady_clock::now();
  for (auto it = gParked.begin(); it != gParked.end();) {
    if (now - it->parked > kParkedInputLifetime) {
      expired->splice(expired->end(), gParked, it++);
    } else {
      ++it;
    }
  }
}

// True when the container's header already says what the stream analysis would find out: the codec,
// picture size and rate or sample rate and channels, and the length of every audio and video stream.
// A movie in the MPEG-4 family written by a recorder (ours among them) says all of it.
bool U_HeaderDescribesStreams(const AVFormatContext* ctx) {
  if (!ctx->iformat || !std::strstr(ctx->iformat->name, "mp4") || ctx->nb_streams == 0) return false;
  bool any = false;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    const AVStream* st = ctx->streams[i];
    const AVCodecParameters* par = st->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (par->codec_id == AV_CODEC_ID_NONE || st->duration == AV_NOPTS_VALUE || st->duration <= 0) return false;
    if (par->codec_type == AVMEDIA_TYPE_VIDEO &&
        (par->width <= 0 || par->height <= 0 || st->avg_frame_rate.num <= 0 || st->avg_frame_rate.den <= 0))
      return false;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0))
      return false;
    any = true;
  }
  return any;
}

// The start of every audio and video stream and the movie's start and length, as the stream analysis
// sets them. A fragmented movie's header gives no start: it is the earliest presentation time among the
// stream's first packets (after the samples its decoder is told to skip), read from the first fragment,
// and the input is put back at its start afterwards.
bool U_TakeStartTimes(AVFormatContext* ctx) {
  constexpr int kPacketsPerStream = 8;  // enough to see past any reordering of pictures
  constexpr int kMaxPackets = 512;
  auto isMedia = [](const AVStream* st) {
    return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO || st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
  };
  std::vector<int64_t> first(ctx->nb_streams, AV_NOPTS_VALUE);
  std::vector<int> seen(ctx->nb_streams, kPacketsPerStream);
  int unfinished = 0;
  for (unsigned i = 0; i < ctx->nb_streams; ++i) {
    if (!isMedia(ctx->streams[i]) || ctx->streams[i]->start_time != AV_NOPTS_VALUE) continue;
    seen[i] = 0;
    ++unfinished;
  }
  if (unfinished > 0) {
    FFmpegPacketPtr packet = FFmpeg_MakePacket();
    if (!packet) return false;
    bool ended = false;
    for (int n = 0; n < kMaxPackets && unfinished > 0; ++n) {
      if (av_read_frame(ctx, packet.get()) < 0) {
        ended = true;
        break;
      }
      const unsigned i = unsigned(packet->stream_index);
      int64_t t = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
      if (i < ctx->nb_streams && seen[i] < kPacketsPerStream && t != AV_NOPTS_VALUE) {
        const AVStream* st = ctx->streams[i];
        size_t skipSize = 0;
        const uint8_t* skip = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &skipSize);
        if (skip && skipSize >= 4 && st->codecpar->sample_rate > 0) {
          const uint32_t samples = uint32_t(skip[0]) | uint32_t(skip[1]) << 8 | uint32_t(skip[2]) << 16 | uint32_t(skip[3]) << 24;
          t = av_sat_add64(t, av_rescale_q(samples, AVRational{1, st->codecpar->sample_rate}, st->time_base));
        }
        first[i] = first[i] == AV_NOPTS_VALUE ? t : std::min(first[i], t);
        if (++seen[i] == kPacketsPerStream) --unfinished;
      }
      av_packet_unref(packet.get());
    }
    // Back to the start for whoever reads the movie next.
    if (FFmpeg_Rewind(ctx) < 0) return false;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
      if (seen[i] >= kPacketsPerStream) continue;
      // A stream that did not show enough packets before the end of a short movie is still known;
      // one that did not show them within the first fragments is the analysis's business.
      if (!ended || first[i] == AV_NOPTS_VALUE) return false;
    }
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
      if (first[i] != AV_NOPTS_VALUE) ctx->streams[i]->start_time = first[i];
  }
  int64_t start = 0, end = 0;
  if (!Asset_SpanOfStreams(ctx, &start, &end)) return false;
  ctx->start_time = start;
  if (ctx->duration == AV_NOPTS_VALUE || ctx->duration <= 0) ctx->duration = av_sat_sub64(end, start);
  return true;
}

// The stream analysis, skipped where the header says it all: libavformat's analysis decodes several
// pictures on one thread to learn what such a header already holds, and that is most of what opening a
// recording would cost.
int U_FindStreamInfo(AVFormatContext* ctx) {
  if (U_HeaderDescribesStreams(ctx) && U_TakeStartTimes(ctx)) return 0;
  return avformat_find_stream_info(ctx, nullptr);
}

}  // namespace

int64_t Asset_InputsOpened() { return gInputsOpened.load(); }
int64_t Asset_GrownInputsOpened() { return gGrownInputsOpened.load(); }

FFmpegInputPtr Asset_TakeInput(const QString& path, int64_t byteLimit, QString* error, bool findStreamInfo,
                               MovieHeaderBytesRef headers) {
  InputKey key;
  if (U_InputKey(path, byteLimit, &key)) {
    std::list<ParkedInput> expired;
    std::unique_lock lock(gParkedMutex);
    U_ExpireParked(&expired);
    for (auto it = gParked.begin(); it != gParked.end(); ++it) {
      if (!(it->key == key) || (findStreamInfo && !it->hasStreamInfo)) continue;
      FFmpegInputPtr input = std::move(it->input);
      gParked.erase(it);
      // The last reader may have left streams switched off.
      for (unsigned i = 0; i < input->nb_streams; ++i) input->streams[i]->discard = AVDISCARD_DEFAULT;
      return input;
    }
  }
  return Asset_OpenInput(path, byteLimit, error, findStreamInfo, std::move(headers));
}

void Asset_ParkInput(const QString& path, int64_t byteLimit, FFmpegInputPtr input, bool hasStreamInfo) {
  InputKey key;
  if (!input || !U_InputKey(path, byteLimit, &key)) return;
  std::list<ParkedInput> dropped;  // closed after the lock is let go
  std::lock_guard lock(gParkedMutex);
  U_ExpireParked(&dropped);
  for (auto it = gParked.begin(); it != gParked.end();) {
    if (it->key.path == path && it->key.byteLimit == byteLimit)
      dropped.splice(dropped.end(), gParked, it++);
    else
      ++it;
  }
  gParked.push_front(ParkedInput{key, std::move(input), hasStreamInfo, std::chrono::steady_clock::now()});
  while (gParked.size() > kMaxParkedInputs) dropped.splice(dropped.end(), gParked, std::prev(gParked.end()));
}

int Asset_OpenMovieFile(const QString& path, QString* error, struct stat* info) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (error) *error = QStringLiteral("Cannot open the movie file: %1").arg(Sys_ErrnoText(errno));
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (error) *error = QStringLiteral("The movie file is not a regular file.");
    return -1;
  }
  if (info) *info = st;
  return fd;
}

namespace {

FFmpegInputPtr U_OpenOver(std::unique_ptr<LimitedFile> file, QString* error, bool findStreamInfo) {
  ++gInputsOpened;
  LimitedFile* source = file.get();
  FFmpegIOPtr io = FFmpeg_MakeReadIO(std::move(file));
  AVFormatContext* ctx = io ? avformat_alloc_context() : nullptr;
  if (!ctx) {
    if (error) *error = QStringLiteral("The movie file cannot be read: %1").arg(FFmpeg_ErrorText(AVERROR(ENOMEM)));
    return {};
  }
  ctx->pb = io.get();
  ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
  int rc = avformat_open_input(&ctx, nullptr, nullptr, nullptr);
  if (rc < 0) {
    // avformat_open_input frees the context on failure, not our I/O.
    if (error) *error = QStringLiteral("The movie file cannot be read: %1").arg(FFmpeg_ErrorText(rc));
    return {};
  }
  io.release();  // the input owns it from here
  FFmpegInputPtr input(ctx);
  rc = findStreamInfo ? U_FindStreamInfo(ctx) : 0;
  if (rc < 0) {
    if (error) *error = QStringLiteral("The movie file's streams cannot be read: %1").arg(FFmpeg_ErrorText(rc));
    return {};
  }
  // Every reader sees the same times, so the retiming happens here, for all of them.
  if (!Asset_BelieveStreamTimes(ctx, error)) return {};
  // The headers are read: what is read from here on is media data.
  source->forgetHeaderBytes();
  return input;
}

// Where the fragments of movies walked in this process start (only the most recent few movies).
struct NotedLayout {
  QString path;
  dev_t device = 0;
  ino_t inode = 0;
  int64_t headerEnd = 0;
  std::vector<int64_t> fragmentStarts;
};
std::mutex gLayoutsMutex;
std::list<NotedLayout> gLayouts;  // newest first
constexpr size_t kMaxNotedLayouts = 4;

}  // namespace

void Asset_NoteLayout(const QString& path, uint64_t device, uint64_t inode, const MovieLayoutWalk& walk) {
  if (walk.layout().headerEnd <= 0) return;
  std::lock_guard lock(gLayoutsMutex);
  std::erase_if(gLayouts, [&](const NotedLayout& l) { return l.path == path; });
  gLayouts.push_front(NotedLayout{path, dev_t(device), ino_t(inode), walk.layout().headerEnd, walk.fragmentStarts()});
  while (gLayouts.size() > kMaxNotedLayouts) gLayouts.pop_back();
}

FFmpegInputPtr Asset_OpenGrownInput(const QString& path, int64_t readUpTo, int64_t byteLimit, QString* error) {
  struct stat st {};
  const int fd = Asset_OpenMovieFile(path, error, &st);
  if (fd < 0) return {};
  int64_t headerEnd = 0, from = -1;
  {
    std::lock_guard lock(gLayoutsMutex);
    for (const NotedLayout& l : gLayouts) {
      if (l.path != path || l.device != st.st_dev || l.inode != st.st_ino) continue;
      // The last fragment that begins before where the earlier reader stopped: read again, it lets a
      // seek back to the join land on a key frame and warms the sound decoder up.
      const auto it = std::lower_bound(l.fragmentStarts.begin(), l.fragmentStarts.end(), readUpTo);
      if (it != l.fragmentStarts.begin() && l.headerEnd <= *std::prev(it)) {
        headerEnd = l.headerEnd;
        from = *std::prev(it);
      }
      break;
    }
  }
  const int64_t limit = std::min<int64_t>(byteLimit, st.st_size);
  if (from < 0 || limit <= from) {
    ::close(fd);
    if (error) *error = QStringLiteral("The movie's fragments are not known.");
    return {};
  }
  ++gGrownInputsOpened;
  return U_OpenOver(std::make_unique<LimitedFile>(fd, headerEnd, from, limit), error, true);
}

FFmpegInputPtr Asset_OpenInput(const QString& path, int64_t byteLimit, QString* error, bool findStreamInfo,
                               MovieHeaderBytesRef headers) {
  struct stat st {};
  const int fd = Asset_OpenMovieFile(path, error, &st);
  if (fd < 0) return {};
  const int64_t size = st.st_size;
  auto file = std::make_unique<LimitedFile>(fd, byteLimit >= 0 ? std::min(byteLimit, size) : size);
  // Only the bytes of the file walked: one that took its place since has other bytes.
  if (headers && headers->device == uint64_t(st.st_dev) && headers->inode == uint64_t(st.st_ino))
    file->setHeaderBytes(std::move(headers));
  return U_OpenOver(std::move(file), error, findStreamInfo);
}

// ---------------------------------------------------------------------------------------------------
