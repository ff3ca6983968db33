#include "platform/media/asset/ImageGenerator.h"

#include "platform/media/io/FFmpegCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>

namespace {
// A chapter list longer than this is not believed (a hostile file may claim millions).
constexpr unsigned kMaxChapters = 10000;
}  // namespace

QImage ImageGenerator::copyImageAtTime(const MediaTime& time, bool exact) const {
  if (!m_asset || !time.isNumeric()) return {};
  const auto tracks = m_asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  if (tracks.isEmpty()) return {};
  const AssetTrackRef track = tracks.first();
  QString error;
  FFmpegInputPtr in = Asset_OpenInput(track->sourcePath(), track->sourceByteLimit(), &error);
  if (!in || track->streamIndex() < 0 || unsigned(track->streamIndex()) >= in->nb_streams) return {};
  const int stream = track->streamIndex();
  for (unsigned i = 0; i < in->nb_streams; ++i)
    in->streams[i]->discard = int(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  const AVStream* st = in->streams[stream];
  FFmpegCodecPtr dec = FFmpeg_OpenDecoder(st, false);
  FFmpegFrameDecoder frames;
  if (!dec || !frames.start(in.get(), stream, dec.get())) return {};
  const double wanted = MediaTimeGetSeconds(time);
  if (frames.seek(int64_t(std::floor(wanted / av_q2d(st->time_base)))) < 0) return {};
  // A frame counts as shown at the time when it starts no later than it (within a tick).
  const double tolerance = av_q2d(st->time_base);
  auto secondsOf = [&](const AVFrame* f) {
    const int64_t t = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    return t == AV_NOPTS_VALUE ? 0.0 : double(t) * av_q2d(st->time_base);
  };
  FFmpegFramePtr shown = FFmpeg_MakeFrame(), frame = FFmpeg_MakeFrame();
  if (!shown || !frame) return {};
  bool any = false;
  while (frames.next(frame.get()) == 0) {
    if (any && secondsOf(frame.get()) > wanted + tolerance) break;
    std::swap(shown, frame);
    av_frame_unref(frame.get());
    any = true;
    if (!exact) break;
  }
  if (!any) return {};
  QImage image;
  FFmpegImageScaler scaler(FFmpegScaleQuality::Bicubic);
  if (!scaler.scale(shown.get(), QSize(shown->width, shown->height), QImage::Format_RGB32, &image)) return {};
  return image;
}

QList<AssetChapter> Asset_ReadChapters(const QString& path, QImage* artwork) {
  QList<AssetChapter> chapters;
  if (artwork) *artwork = QImage();
  QString error;
  FFmpegInputPtr in = Asset_OpenInput(path, -1, &error, false);
  if (!in || in->nb_chapters == 0 || in->nb_chapters > kMaxChapters) return chapters;
  for (unsigned i = 0; artwork && i < in->nb_streams; ++i) {
    const AVStream* st = in->streams[i];
    if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0) continue;
    *artwork = QImage::fromData(
        QByteArray::fromRawData(reinterpret_cast<const char*>(st->attached_pic.data), st->attached_pic.size));
    if (!artwork->isNull()) break;
  }
  for (unsigned i = 0; i < in->nb_chapters; ++i) {
    const AVChapter* ch = in->chapters[i];
    if (!ch || ch->time_base.den == 0) continue;
    AssetChapter chapter;
    const double tb = av_q2d(ch->time_base);
    const double start = ch->start == AV_NOPTS_VALUE ? 0.0 : double(ch->start) * tb;
    chapter.start = std::isfinite(start) ? start : 0.0;
    if (ch->start != AV_NOPTS_VALUE && ch->end != AV_NOPTS_VALUE && ch->end >= ch->start) {
      const double duration = double(ch->end - ch->start) * tb;
      if (std::isfinite(duration)) chapter.duration = duration;
    }
    if (const AVDictionaryEntry* title = av_dict_get(ch->metadata, "title", nullptr, 0))
      chapter.title = QString::fromUtf8(title->value);
    chapters.append(chapter);
  }
  return chapters;
}
