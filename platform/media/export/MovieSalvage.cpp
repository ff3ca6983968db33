#include "platform/media/export/MovieSalvage.h"

#include "platform/media/asset/Asset.h"
#include "platform/media/asset/MovieLayout.h"
#include "platform/media/export/ExportSessionWork.h"
#include "platform/media/io/FFmpegCodec.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <limits>
#include <map>

namespace {
// Past the end of a cut file every sample its last fragment header lists fails to read, one after the
// other; a file that keeps failing beyond this many in a row is read no further.
constexpr int kMaxReadErrorsInARow = 100000;

// The stream whose packets are the movie's pictures, or -1.
int U_PictureStream(const AVFormatContext* in) {
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    const AVStream* st = in->streams[i];
    if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) return int(i);
  }
  return -1;
}

// A packet that the end of the file cut off, or one the movie's edit leaves out, shows no picture.
bool U_IsWhole(const AVPacket* p) { return !(p->flags & (AV_PKT_FLAG_CORRUPT | AV_PKT_FLAG_DISCARD)); }

// Hands every whole packet of the file to `take`, in the order the demuxer reads them, up to the end of
// the file. A packet that cannot be read is passed over, as FFmpeg's own tools do.
template <class Take>
bool U_ReadEveryPacket(AVFormatContext* in, const Take& take, QString* error, const std::atomic<bool>* stop) {
  FFmpegPacketPtr p = FFmpeg_MakePacket();
  if (!p) {
    *error = FFmpeg_ErrorText(AVERROR(ENOMEM));
    return false;
  }
  int errorsInARow = 0;
  for (;;) {
    if (stop && stop->load()) {
      *error = FFmpeg_ErrorText(AVERROR_EXIT);
      return false;
    }
    const int rc = av_read_frame(in, p.get());
    if (rc == AVERROR_EOF) return true;
    if (rc == AVERROR(ENOMEM) || rc == AVERROR_EXIT) {
      *error = FFmpeg_ErrorText(rc);
      return false;
    }
    if (rc < 0) {
      if (++errorsInARow > kMaxReadErrorsInARow) return true;
      continue;
    }
    errorsInARow = 0;
    const bool ok = !U_IsWhole(p.get()) || take(p.get());
    av_packet_unref(p.get());
    if (!ok) return false;
  }
}

bool U_IsCutShort(const MovieFileLayout& layout) {
  return layout.isBoxFile && layout.hasMovieExtends && layout.readableLength < layout.fileSize;
}

// The movie over all its bytes. When the end of the file cut a fragment's header, FFmpeg cannot open it
// whole: it is then read up to that fragment, as far as its whole boxes go.
FFmpegInputPtr U_OpenWhole(const QString& path, int* pictureStream, bool* cutShort, QString* error) {
  FFmpegInputPtr in = Asset_OpenInput(path, -1, error);
  const MovieFileLayout layout = Asset_ScanMovieFile(path);
  *cutShort = U_IsCutShort(layout);
  if (!in && *cutShort) in = Asset_OpenInput(path, layout.readableLength, error);
  if (!in) return {};
  *pictureStream = U_PictureStream(in.get());
  if (*pictureStream < 0) {
    *error = QStringLiteral("The movie has no pictures.");
    return {};
  }
  return in;
}

// The same, reading the pictures alone.
FFmpegInputPtr U_OpenPictures(const QString& path, int* pictureStream, bool* cutShort, QString* error) {
  FFmpegInputPtr in = U_OpenWhole(path, pictureStream, cutShort, error);
  if (!in) return {};
  for (unsigned i = 0; i < in->nb_streams; ++i)
    if (int(i) != *pictureStream) in->streams[i]->discard = AVDISCARD_ALL;
  return in;
}
}  // namespace

bool Movie_CountPictures(const QString& path, MoviePictures* counted, QString* error, const std::atomic<bool>* stop) {
  *counted = MoviePictures();
  int video = -1;
  bool cutShort = false;
  FFmpegInputPtr in = U_OpenPictures(path, &video, &cutShort, error);
  if (!in) return false;
  int64_t pictures = 0;
  if (!U_ReadEveryPacket(in.get(), [&](const AVPacket* p) {
        if (p->stream_index == video) ++pictures;
        return true;
      }, error, stop))
    return false;
  counted->pictures = pictures;
  counted->cutShort = cutShort;
  return true;
}

bool Movie_CopyReadablePackets(const QString& from, const QString& to, MoviePictures* copied, QString* error) {
  *copied = MoviePictures();
  struct stat existing {};
  const QByteArray target = QFile::encodeName(to);
  if (::lstat(target.constData(), &existing) == 0) {
    *error = QStringLiteral("%1 exists already.").arg(to);
    return false;
  }
  int video = -1;
  bool cutShort = false;
  FFmpegInputPtr in = U_OpenWhole(from, &video, &cutShort, error);
  if (!in) return false;

  AVFormatContext* made = nullptr;
  int rc = avformat_alloc_output_context2(&made, nullptr, nullptr, target.constData());
  if (rc < 0 || !made) rc = avformat_alloc_output_context2(&made, nullptr, "mov", target.constData());
  if (rc < 0 || !made) {
    *error = QStringLiteral("The movie writer cannot be made: %1").arg(FFmpeg_ErrorText(rc));
    return false;
  }
  FFmpegOutputPtr out(made);
  std::map<int, AVStream*> streams;  // input stream index -> output stream
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    const AVStream* src = in->streams[i];
    const AVMediaType type = src->codecpar->codec_type;
    const bool copiedStream = int(i) == video || (type == AVMEDIA_TYPE_AUDIO);
    if (!copiedStream) {
      in->streams[i]->discard = AVDISCARD_ALL;
      continue;
    }
    AVStream* dst = avformat_new_stream(out.get(), nullptr);
    rc = dst ? avcodec_parameters_copy(dst->codecpar, src->codecpar) : AVERROR(ENOMEM);
    if (rc < 0) {
      *error = QStringLiteral("The movie's tracks cannot be copied: %1").arg(FFmpeg_ErrorText(rc));
      return false;
    }
    dst->codecpar->codec_tag = 0;
    dst->time_base = src->time_base;
    streams[int(i)] = dst;
  }
  bool started = ExportSession_StartOutput(out.get(), target, error);
  int64_t pictures = 0;
  const auto write = [&](AVPacket* p) {
    const auto it = streams.find(p->stream_index);
    if (it == streams.end()) return true;
    av_packet_rescale_ts(p, in->streams[p->stream_index]->time_base, it->second->time_base);
    const bool picture = p->stream_index == video;
    p->stream_index = it->second->index;
    p->pos = -1;
    const int wrc = av_interleaved_write_frame(out.get(), p);
    if (wrc < 0) {
      *error = QStringLiteral("Writing the movie failed: %1").arg(FFmpeg_ErrorText(wrc));
      return false;
    }
    if (picture) ++pictures;
    return true;
  };
  // A cut may fall after a picture that is shown after pictures stored behind it, which are lost: the
  // track then has to last until that picture's end, not only until its last stored one's, or it would
  // end before the picture is shown. So the last picture waits until the end, to be given the length
  // that reaches there.
  // (Presentation times run behind decode times by the delay of the first picture shown.)
  FFmpegPacketPtr lastPicture;
  int64_t shownEnd = AV_NOPTS_VALUE, firstShown = AV_NOPTS_VALUE, firstDecoded = AV_NOPTS_VALUE;
  const auto take = [&](AVPacket* p) {
    if (p->stream_index != video) return write(p);
    if (firstDecoded == AV_NOPTS_VALUE) firstDecoded = p->dts;
    if (p->pts != AV_NOPTS_VALUE) firstShown = firstShown == AV_NOPTS_VALUE ? p->pts : std::min(firstShown, p->pts);
    if (p->pts != AV_NOPTS_VALUE && p->duration > 0)
      shownEnd = shownEnd == AV_NOPTS_VALUE ? p->pts + p->duration : std::max(shownEnd, p->pts + p->duration);
    if (lastPicture && !write(lastPicture.get())) return false;
    lastPicture = FFmpeg_MakePacket();
    if (!lastPicture || av_packet_ref(lastPicture.get(), p) < 0) {
      *error = FFmpeg_ErrorText(AVERROR(ENOMEM));
      return false;
    }
    return true;
  };
  const auto writeLastPicture = [&] {
    if (!lastPicture) return true;
    const int64_t dts = lastPicture->dts;
    if (dts != AV_NOPTS_VALUE && shownEnd != AV_NOPTS_VALUE && firstDecoded != AV_NOPTS_VALUE) {
      const int64_t decodedEnd = shownEnd - (firstShown - firstDecoded);
      if (dts + lastPicture->duration < decodedEnd) lastPicture->duration = decodedEnd - dts;
    }
    return write(lastPicture.get());
  };
  bool ok = started && U_ReadEveryPacket(in.get(), take, error, nullptr) && writeLastPicture() &&
            ExportSession_FinishOutput(out.get(), error);
  out.reset();
  if (!ok) {
    if (started) QFile::remove(to);
    return false;
  }
  copied->pictures = pictures;
  return true;
}

bool Movie_PictureTimes(const QString& path, std::vector<double>* seconds, QString* error, const std::atomic<bool>* stop) {
  seconds->clear();
  int video = -1;
  bool cutShort = false;
  FFmpegInputPtr in = U_OpenPictures(path, &video, &cutShort, error);
  if (!in) return false;
  const AVRational tb = in->streams[video]->time_base;
  double first = std::numeric_limits<double>::infinity();
  const bool ok = U_ReadEveryPacket(
      in.get(),
      [&](const AVPacket* p) {
        if (p->stream_index != video) return true;
        const int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
        const double t = ts != AV_NOPTS_VALUE ? double(ts) * av_q2d(tb) : (seconds->empty() ? 0.0 : seconds->back());
        first = std::min(first, t);
        seconds->push_back(t);
        return true;
      },
      error, stop);
  if (!ok) return false;
  for (double& t : *seconds) t -= first;
  return true;
}
