#pragma once
// Source movies for the media tests, made with the ffmpeg command line from lavfi test sources, and
// ways to look at the results with ffprobe/ffmpeg.

#include <QDir>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>

struct TestMovieRecipe {
  double seconds = 4.0;
  bool audio = true;
  bool video = true;
  bool fragmented = false;
  int keyInterval = 30;  // frames between key frames (30 fps)
  QString size = QStringLiteral("320x240");
};

// Decoded video frames: their MD5s and presentation times (seconds), in display order.
struct DecodedFrames {
  QStringList md5;
  QList<double> times;
  QString errors;  // what the decoder complained about
};

// Runs a tool and answers its standard output; *ok tells whether it exited with 0.
inline QString TestMovie_Run(const QString& program, const QStringList& args, bool* ok = nullptr,
                            QString* errors = nullptr) {
  QProcess p;
  p.start(program, args);
  const bool finished = p.waitForFinished(120000);
  if (ok) *ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (errors) *errors = QString::fromUtf8(p.readAllStandardError());
  return QString::fromUtf8(p.readAllStandardOutput());
}

inline QString TestMovie_Make(const QString& folder, const QString& name, const TestMovieRecipe& recipe) {
  const QString path = QDir(folder).filePath(name);
  QStringList args{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")};
  const QString t = QString::number(recipe.seconds);
  if (recipe.video)
    args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
         << QStringLiteral("testsrc2=size=%1:rate=30:duration=%2").arg(recipe.size, t);
  if (recipe.audio)
    args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
         << QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(t);
  if (recipe.video)
    args << QStringLiteral("-c:v") << QStringLiteral("libx264") << QStringLiteral("-preset") << QStringLiteral("veryfast")
         << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p") << QStringLiteral("-g") << QString::number(recipe.keyInterval)
         << QStringLiteral("-keyint_min") << QString::number(recipe.keyInterval) << QStringLiteral("-sc_threshold")
         << QStringLiteral("0");
  if (recipe.audio) args << QStringLiteral("-c:a") << QStringLiteral("aac");
  if (recipe.fragmented)
    args << QStringLiteral("-movflags") << QStringLiteral("frag_keyframe+empty_moov+default_base_moof");
  args << path;
  bool ok = false;
  QString errors;
  TestMovie_Run(QStringLiteral("ffmpeg"), args, &ok, &errors);
  return ok ? path : QString();
}

// ffprobe's value of one entry ("format=duration", "stream=codec_name" with a stream selector).
inline QString TestMovie_Probe(const QString& path, const QString& entries, const QString& streams = QString()) {
  QStringList args{QStringLiteral("-v"), QStringLiteral("error")};
  if (!streams.isEmpty()) args << QStringLiteral("-select_streams") << streams;
  args << QStringLiteral("-show_entries") << entries << QStringLiteral("-of")
       << QStringLiteral("default=noprint_wrappers=1:nokey=1") << path;
  return TestMovie_Run(QStringLiteral("ffprobe"), args).trimmed();
}

inline double TestMovie_Duration(const QString& path) {
  return TestMovie_Probe(path, QStringLiteral("format=duration")).toDouble();
}

inline DecodedFrames TestMovie_DecodeVideo(const QString& path) {
  DecodedFrames out;
  bool ok = false;
  const QString text = TestMovie_Run(QStringLiteral("ffmpeg"),
                                     {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                                      QStringLiteral("-map"), QStringLiteral("0:v:0"), QStringLiteral("-fps_mode"),
                                      QStringLiteral("passthrough"), QStringLiteral("-enc_time_base"), QStringLiteral("-1"), QStringLiteral("-f"), QStringLiteral("framemd5"),
                                      QStringLiteral("-")},
                                     &ok, &out.errors);
  double timeBase = 0.0;
  for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    if (line.startsWith(QLatin1String("#tb 0:"))) {
      const QStringList r = line.mid(6).trimmed().split(QLatin1Char('/'));
      if (r.size() == 2) timeBase = r[0].toDouble() / r[1].toDouble();
      continue;
    }
    if (line.startsWith(QLatin1Char('#'))) continue;
    const QStringList f = line.split(QLatin1Char(','));
    if (f.size() < 6) continue;
    out.times.append(f[2].trimmed().toDouble() * timeBase);
    out.md5.append(f[5].trimmed());
  }
  return out;
}
