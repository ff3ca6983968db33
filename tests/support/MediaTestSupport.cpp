#include "support/MediaTestSupport.h"

#include "common/ZRNAppPrefs.h"
#include "platform/media/capture/VirtualDevices.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>

QString TestMovie_Run(const QString& program, const QStringList& args, bool* ok, QString* errors) {
  QProcess p;
  p.start(program, args);
  const bool finished = p.waitForFinished(120000);
  if (ok) *ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (errors) *errors = QString::fromUtf8(p.readAllStandardError());
  return QString::fromUtf8(p.readAllStandardOutput());
}

QString TestMovie_Make(const QString& folder, const QString& name, const TestMovieRecipe& recipe) {
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
  if (recipe.video && recipe.quantizer > 0) args << QStringLiteral("-qp") << QString::number(recipe.quantizer);
  if (recipe.audio) args << QStringLiteral("-c:a") << QStringLiteral("aac");
  if (recipe.fragmented)
    args << QStringLiteral("-movflags") << QStringLiteral("frag_keyframe+empty_moov+default_base_moof");
  args << path;
  bool ok = false;
  QString errors;
  TestMovie_Run(QStringLiteral("ffmpeg"), args, &ok, &errors);
  return ok ? path : QString();
}

QString TestMovie_Probe(const QString& path, const QString& entries, const QString& streams) {
  QStringList args{QStringLiteral("-v"), QStringLiteral("error")};
  if (!streams.isEmpty()) args << QStringLiteral("-select_streams") << streams;
  args << QStringLiteral("-show_entries") << entries << QStringLiteral("-of")
       << QStringLiteral("default=noprint_wrappers=1:nokey=1") << path;
  return TestMovie_Run(QStringLiteral("ffprobe"), args).trimmed();
}

double TestMovie_Duration(const QString& path) {
  return TestMovie_Probe(path, QStringLiteral("format=duration")).toDouble();
}

QJsonObject TestMovie_ProbeJson(const QString& path, const QStringList& extra) {
  const QString text = TestMovie_Run(
      QStringLiteral("ffprobe"),
      QStringList{"-v", "error", "-print_format", "json", "-show_format", "-show_streams"} + extra + QStringList{path});
  return QJsonDocument::fromJson(text.toUtf8()).object();
}

QJsonObject TestMovie_StreamOfType(const QJsonObject& probe, const QString& type) {
  for (const auto& s : probe.value("streams").toArray())
    if (s.toObject().value("codec_type").toString() == type) return s.toObject();
  return {};
}

double TestMovie_FormatDuration(const QJsonObject& probe) {
  return probe.value("format").toObject().value("duration").toString().toDouble();
}

int TestMovie_DecodableVideoFrames(const QString& path) {
  const QString text = TestMovie_Run(QStringLiteral("ffprobe"), {"-v", "quiet", "-select_streams", "v:0", "-count_frames",
                                                                 "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path});
  return text.trimmed().split(QLatin1Char('\n')).value(0).toInt();
}

DecodedFrames TestMovie_DecodeVideo(const QString& path) {
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

QString TestMovie_FrameAt(const DecodedFrames& frames, double seconds) {
  QString md5;
  for (qsizetype i = 0; i < frames.times.size(); ++i)
    if (frames.times[i] <= seconds + 1e-6) md5 = frames.md5[i];
  return md5;
}

QList<QPair<double, double>> TestMovie_AudioLevels(const QString& path) {
  const QString levels = TestMovie_Run(
      QStringLiteral("ffprobe"),
      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
       QStringLiteral("amovie=%1,asetnsamples=4800,astats=metadata=1:reset=1").arg(path), QStringLiteral("-show_entries"),
       QStringLiteral("frame=pts_time:frame_tags=lavfi.astats.Overall.RMS_level"), QStringLiteral("-of"), QStringLiteral("csv=p=0")});
  QList<QPair<double, double>> rms;
  for (const QString& line : levels.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QStringList f = line.split(QLatin1Char(','));
    if (f.size() >= 2) rms.append({f[0].toDouble(), f[1] == QLatin1String("-inf") ? -1000.0 : f[1].toDouble()});
  }
  return rms;
}

AssetExportSessionStatus TestMovie_RunExport(const AssetExportSessionRef& session, QList<float>* progress) {
  std::atomic<bool> done{false};
  session->exportAsynchronouslyWithCompletionHandler([&done]() { done = true; });
  Test_WaitUntil([&]() {
    if (progress && (progress->isEmpty() || progress->last() != session->progress())) progress->append(session->progress());
    return done.load();
  }, 120000);
  EXPECT_TRUE(done.load());
  return session->status();
}

bool MediaTest_ConfigureCamera(const CaptureDeviceRef& camera, QSize size, uint32_t subtype, const MediaTime& frameDuration,
                               QString* error) {
  if (!camera->lockForConfiguration(error)) return false;
  for (const auto& f : camera->formats())
    if (f->dimensions == size && f->mediaSubType == subtype) camera->setActiveFormat(f);
  camera->setActiveVideoMinFrameDuration(frameDuration);
  camera->setActiveVideoMaxFrameDuration(frameDuration);
  camera->unlockForConfiguration();
  return true;
}

namespace {
// One box of a movie file: its type and where its contents lie.
struct TestBox {
  QByteArray type;
  qint64 body = 0;
  qint64 end = 0;
};

quint64 U_BigEndian(const QByteArray& d, qint64 at, int bytes) {
  quint64 n = 0;
  for (int k = 0; k < bytes && at + k < d.size(); ++k) n = (n << 8) | uint8_t(d[at + k]);
  return n;
}

QList<TestBox> U_Boxes(const QByteArray& d, qint64 from, qint64 to) {
  QList<TestBox> boxes;
  while (from + 8 <= to) {
    quint64 size = U_BigEndian(d, from, 4);
    int header = 8;
    if (size == 1) {
      size = U_BigEndian(d, from + 8, 8);
      header = 16;
    }
    if (size < quint64(header) || from + qint64(size) > to) break;
    boxes.append({d.mid(from + 4, 4), from + header, from + qint64(size)});
    from += qint64(size);
  }
  return boxes;
}

const TestBox* U_Child(const QList<TestBox>& boxes, const char* type) {
  for (const TestBox& box : boxes)
    if (box.type == type) return &box;
  return nullptr;
}
}  // namespace

QList<double> TestMovie_VideoFragmentStarts(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray d = file.readAll();
  const QList<TestBox> top = U_Boxes(d, 0, d.size());
  quint64 videoTrack = 0;
  quint64 timescale = 0;
  if (const TestBox* moov = U_Child(top, "moov")) {
    for (const TestBox& trak : U_Boxes(d, moov->body, moov->end)) {
      if (trak.type != "trak") continue;
      const QList<TestBox> parts = U_Boxes(d, trak.body, trak.end);
      const TestBox* tkhd = U_Child(parts, "tkhd");
      const TestBox* mdia = U_Child(parts, "mdia");
      if (!tkhd || !mdia) continue;
      const QList<TestBox> media = U_Boxes(d, mdia->body, mdia->end);
      const TestBox* hdlr = U_Child(media, "hdlr");
      const TestBox* mdhd = U_Child(media, "mdhd");
      // hdlr: version/flags, pre_defined, then the handler type.
      if (!hdlr || !mdhd || d.mid(hdlr->body + 8, 4) != "vide") continue;
      const bool v1 = uint8_t(d[tkhd->body]) == 1;
      videoTrack = U_BigEndian(d, tkhd->body + (v1 ? 20 : 12), 4);
      const bool m1 = uint8_t(d[mdhd->body]) == 1;
      timescale = U_BigEndian(d, mdhd->body + (m1 ? 20 : 12), 4);
    }
  }
  QList<double> starts;
  if (!videoTrack || !timescale) return starts;
  for (const TestBox& moof : top) {
    if (moof.type != "moof") continue;
    for (const TestBox& traf : U_Boxes(d, moof.body, moof.end)) {
      if (traf.type != "traf") continue;
      const QList<TestBox> parts = U_Boxes(d, traf.body, traf.end);
      const TestBox* tfhd = U_Child(parts, "tfhd");
      const TestBox* tfdt = U_Child(parts, "tfdt");
      if (!tfhd || !tfdt || U_BigEndian(d, tfhd->body + 4, 4) != videoTrack) continue;
      const bool t1 = uint8_t(d[tfdt->body]) == 1;
      starts << double(U_BigEndian(d, tfdt->body + 4, t1 ? 8 : 4)) / double(timescale);
    }
  }
  return starts;
}

void Test_RecordFromVirtualDevices(ZRNAppPrefs& prefs, const QString& folder, int fragmentSeconds) {
  prefs.setSaveTargetDirectory(QUrl::fromLocalFile(folder));
  prefs.setCameraUID(QString::fromLatin1(kVirtualCameraUID));
  prefs.setMicrophoneUID(QString::fromLatin1(kVirtualMicrophoneUID));
  prefs.setFragmentSeconds(fragmentSeconds);
  prefs.setAskForCaptureStop(false);
}
