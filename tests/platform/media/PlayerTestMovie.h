#pragma once
// Small test movies made with the ffmpeg command line from lavfi sources, and the checksums ffmpeg
// gives for their pictures, so that the player's pictures can be compared with an independent decode.

#include "platform/media/io/SampleBuffer.h"
#include "support/MediaTestSupport.h"

#include <QCryptographicHash>
#include <QString>
#include <QStringList>

#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

// A fragmented H.264 + AAC movie of `seconds` at 30 fps, a key frame every second.
inline QString PlayerTest_MakeMovie(const QString& folder, double seconds, bool withSound = true,
                                    const QString& size = QStringLiteral("160x120")) {
  const QString path = folder + QStringLiteral("/movie.mp4");
  QStringList args{"-y", "-loglevel", "error", "-f", "lavfi", "-i", QStringLiteral("testsrc2=size=%1:rate=30").arg(size)};
  if (withSound) args << "-f" << "lavfi" << "-i" << "sine=frequency=440:sample_rate=48000" << "-c:a" << "aac";
  args << "-t" << QString::number(seconds) << "-c:v" << "libx264" << "-preset" << "ultrafast" << "-g" << "30" << "-pix_fmt"
       << "yuv420p" << "-movflags" << "frag_keyframe+empty_moov+default_base_moof" << path;
  bool ok = false;
  TestMovie_Run(QStringLiteral("ffmpeg"), args, &ok);
  return ok ? path : QString();
}

// The movie's pictures in order: time in seconds (as stored in the file) and ffmpeg's framemd5 checksum.
struct PlayerTestPicture {
  double seconds;
  QString md5;
};
inline std::vector<PlayerTestPicture> PlayerTest_Pictures(const QString& movie) {
  const QString times = TestMovie_Run(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v", "-show_entries",
                                                                  "frame=best_effort_timestamp_time", "-of", "csv=p=0", movie});
  std::vector<PlayerTestPicture> pictures;
  for (QString line : times.split('\n')) {
    line = line.trimmed().remove(',');
    if (!line.isEmpty()) pictures.push_back({line.toDouble(), QString()});
  }
  const QString checksums = TestMovie_Run(
      QStringLiteral("ffmpeg"), {"-loglevel", "error", "-i", movie, "-map", "0:v", "-fps_mode", "passthrough", "-f", "framemd5", "-"});
  size_t index = 0;
  for (const QString& line : checksums.split('\n')) {
    if (line.startsWith('#') || !line.contains(',')) continue;
    if (index < pictures.size()) pictures[index++].md5 = line.split(',').value(5).trimmed();
  }
  return pictures;
}

// Index of the picture on screen at a time: the last one that starts at or before it.
inline size_t PlayerTest_PictureAt(const std::vector<PlayerTestPicture>& pictures, double seconds) {
  size_t found = 0;
  while (found + 1 < pictures.size() && pictures[found + 1].seconds <= seconds + 1e-6) ++found;
  return found;
}

// The checksum of a decoded planar YUV 4:2:0 picture packed as ffmpeg's raw video.
inline QString PlayerTest_PictureChecksum(const SampleBufferRef& picture) {
  if (!picture || !picture->frame()) return {};
  const AVFrame* f = picture->frame();
  QCryptographicHash md5(QCryptographicHash::Md5);
  for (int plane = 0; plane < 3; ++plane) {
    const int w = plane ? (f->width + 1) / 2 : f->width;
    const int h = plane ? (f->height + 1) / 2 : f->height;
    for (int y = 0; y < h; ++y)
      md5.addData(QByteArrayView(reinterpret_cast<const char*>(f->data[plane] + y * f->linesize[plane]), w));
  }
  return QString::fromLatin1(md5.result().toHex());
}
