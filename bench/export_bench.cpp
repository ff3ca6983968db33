// Pass-through export speed against the tools a user would reach for, every side timed the same way:
// a process of its own from its start to its end, the sides alternated in each round.
//  - a 2-minute clip: our export against `ffmpeg -ss -i -t -c copy`; both results are checked to open on
//    the picture shown at the clip's start;
//  - the whole session: our export against `cp` of the file (the disk's limit), each side followed by a
//    `sync` of what it wrote, so that neither ends with its output still in the page cache;
//  - each of these warm (the source in the page cache) and cold (the source dropped from it with
//    posix_fadvise(DONTNEED) before each side's run), and the disk's own rate from the synced copies;
//  - a 20-second clip re-encoded at the highest quality against ffmpeg with the same x264 settings,
//    with each result's PSNR against the source.
// VELMORA_BENCH_SECONDS sets the recording's length (default 600 s of 1920x1080 at 30 fps, made once
// with ffmpeg and kept in the temporary folder); VELMORA_BENCH_ROUNDS the rounds (default 5).
// Figures print as "name: velmora X, peer Y, ratio Z".

#include "bench/BenchSupport.h"
#include "platform/media/asset/Asset.h"
#include "platform/media/export/ExportSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString gSelf;
QString gSource;
double gSeconds = 600.0;
QString gOutDir;

// Our side, in a child process: the export a user starts, from opening the movie to the closed file.
int exportSide(const QString& source, const QString& out, double start, double length, const char* preset) {
  QFile::remove(out);  // as the peers overwrite theirs
  auto session = AssetExportSession::exportSessionWithAsset(Asset::assetWithPath(source), QString::fromLatin1(preset));
  session->setOutputURL(QUrl::fromLocalFile(out));
  session->setOutputFileType(QString::fromLatin1(kExportFileTypeMPEG4));
  if (length > 0)
    session->setTimeRange(MediaTimeRangeMake(MediaTimeMakeWithSeconds(start, 600), MediaTimeMakeWithSeconds(length, 600)));
  std::promise<void> done;
  session->exportAsynchronouslyWithCompletionHandler([&done]() { done.set_value(); });
  done.get_future().wait();
  if (session->status() == AssetExportSessionStatus::Completed) return 0;
  std::fprintf(stderr, "export failed: %s\n", qPrintable(session->error()));
  return 1;
}

// MD5 of the picture a movie shows at a time: the last one that starts at or before it.
QString pictureShownAt(const QString& path, double at) {
  const double from = std::max(0.0, at - 1.0);
  QProcess p;
  p.start(QStringLiteral("ffmpeg"), {"-v", "error", "-ss", QString::number(from, 'f', 6), "-i", path, "-t", "1.5", "-an",
                                     "-f", "framemd5", "-"});
  p.waitForFinished(-1);
  double tb = 0;
  QString shown;
  for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'))) {
    if (line.startsWith(QLatin1String("#tb 0:"))) {
      const QStringList r = line.mid(6).trimmed().split(QLatin1Char('/'));
      if (r.size() == 2 && r[1].toDouble() > 0) tb = r[0].toDouble() / r[1].toDouble();
      continue;
    }
    const QStringList f = line.split(QLatin1Char(','));
    if (line.startsWith(QLatin1Char('#')) || f.size() < 6) continue;
    if (from + f[2].trimmed().toDouble() * tb <= at + 1e-6) shown = f[5].trimmed();
  }
  return shown;
}

// A command followed by a sync of the file it wrote, as one child.
std::vector<std::string> synced(const std::vector<std::string>& command, const QString& written) {
  std::string line;
  for (const std::string& a : command) line += "'" + a + "' ";
  return {"sh", "-c", line + "&& sync '" + written.toStdString() + "'"};
}

// Our export against a peer command, alternated, warm or cold; both outputs are left for the caller to
// check. Answers the peer's median time.
double compare(benchmark::State& state, const std::string& name, const std::vector<std::string>& ours,
               const std::vector<std::string>& peer, bool cold) {
  const int rounds = Bench_Rounds(5);
  std::vector<double> ourTimes, peerTimes;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      for (int side = 0; side < 2; ++side) {
        const bool velmora = (side + round) % 2 == 0;
        if (cold && !Bench_DropFromCache(gSource)) state.SkipWithError("cannot drop the source from the page cache");
        const Bench_ChildResult r = Bench_RunChild(velmora ? ours : peer);
        const double t = r.ok ? r.wall : -1;
        if (t < 0) state.SkipWithError(velmora ? "our export failed" : "the peer failed");
        (velmora ? ourTimes : peerTimes).push_back(t);
      }
    }
  }
  Bench_PrintFigure(name + (cold ? ", cold" : ", warm"), Bench_Median(ourTimes), Bench_Median(peerTimes), " s");
  return Bench_Median(peerTimes);
}

void BM_Clip(benchmark::State& state) {
  const double length = std::min(120.0, gSeconds / 2);
  // Halfway into the recording and between key frames (on a picture's start).
  const double start = std::floor((gSeconds - length) / 2) + 0.5;
  const QString ours = gOutDir + QStringLiteral("/ours-clip.mp4");
  const QString peer = gOutDir + QStringLiteral("/ffmpeg-clip.mp4");
  compare(state,
          "pass-through clip of " + std::to_string(int(length)) + " s from a " + std::to_string(int(gSeconds)) +
              " s recording",
          synced({gSelf.toStdString(), "--export-side", gSource.toStdString(), ours.toStdString(), std::to_string(start),
                  std::to_string(length)}, ours),
          synced({"ffmpeg", "-v", "error", "-y", "-ss", std::to_string(start), "-i", gSource.toStdString(), "-t",
                  std::to_string(length), "-c", "copy", peer.toStdString()}, peer),
          state.range(0) != 0);
  const QString wanted = pictureShownAt(gSource, start);
  std::printf("clip opens on the picture shown at its start: velmora %s, ffmpeg %s\n",
              pictureShownAt(ours, 0) == wanted ? "yes" : "no", pictureShownAt(peer, 0) == wanted ? "yes" : "no");
}

void BM_WholeSession(benchmark::State& state) {
  const QString ours = gOutDir + QStringLiteral("/ours-whole.mp4");
  const QString copy = gOutDir + QStringLiteral("/cp-whole.mp4");
  const double copied =
      compare(state, "whole-session pass-through of a " + std::to_string(int(gSeconds)) + " s recording against cp, synced",
              synced({gSelf.toStdString(), "--export-side", gSource.toStdString(), ours.toStdString(), "0", "-1"}, ours),
              synced({"cp", gSource.toStdString(), copy.toStdString()}, copy), state.range(0) != 0);
  std::printf("the disk's own rate (cp and sync, %s): %.0f MB/s\n", state.range(0) ? "cold" : "warm",
              copied > 0 ? QFileInfo(gSource).size() / copied / 1e6 : 0.0);
}

// Mean PSNR (all planes, and the chroma planes) of a movie against a stretch of the source.
QString psnr(const QString& movie, double start, double length) {
  QProcess p;
  p.start(QStringLiteral("ffmpeg"), {"-v", "info", "-nostats", "-i", movie, "-ss", QString::number(start, 'f', 6), "-t",
                                     QString::number(length), "-i", gSource, "-lavfi", "[0:v][1:v]psnr", "-f", "null", "-"});
  p.waitForFinished(-1);
  const QString log = QString::fromUtf8(p.readAllStandardError());
  const qsizetype at = log.lastIndexOf(QStringLiteral("PSNR y:"));
  return at < 0 ? QStringLiteral("?") : log.mid(at + 5).section(QLatin1Char(' '), 0, 3);
}

// A 20-second clip re-encoded ("highest quality", nothing drawn on it) against ffmpeg with the same
// encoder settings; both are compared with the source.
void BM_ReEncode(benchmark::State& state) {
  const double length = 20;
  const double start = std::floor(gSeconds / 2);
  const QString ours = gOutDir + QStringLiteral("/ours-encoded.mp4");
  const QString peer = gOutDir + QStringLiteral("/ffmpeg-encoded.mp4");
  compare(state, "re-encoded 20 s clip, same x264 settings",
          {gSelf.toStdString(), "--encode-side", gSource.toStdString(), ours.toStdString(), std::to_string(start),
           std::to_string(length)},
          {"ffmpeg", "-v", "error", "-y", "-ss", std::to_string(start), "-i", gSource.toStdString(), "-t",
           std::to_string(length), "-c:v", "libx264", "-preset", "medium", "-crf", "18", "-pix_fmt", "yuv420p", "-c:a",
           "aac", "-b:a", "256k", peer.toStdString()}, false);
  std::printf("re-encoded clip PSNR against the source: velmora %s, ffmpeg %s\n", qPrintable(psnr(ours, start, length)),
              qPrintable(psnr(peer, start, length)));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  gSelf = QCoreApplication::applicationFilePath();
  const QStringList args = QCoreApplication::arguments();
  if (args.size() == 6 && args[1] == QLatin1String("--export-side"))
    return exportSide(args[2], args[3], args[4].toDouble(), args[5].toDouble(), AVAssetExportPresetPassthrough);
  if (args.size() == 6 && args[1] == QLatin1String("--encode-side"))
    return exportSide(args[2], args[3], args[4].toDouble(), args[5].toDouble(), AVAssetExportPresetHighestQuality);
  if (qEnvironmentVariableIsSet("VELMORA_BENCH_SECONDS")) gSeconds = qEnvironmentVariable("VELMORA_BENCH_SECONDS").toDouble();
  gSource = Bench_MakeRecording(QStringLiteral("velmora-export-bench"), gSeconds);
  if (gSource.isEmpty()) {
    std::fprintf(stderr, "could not make the source recording\n");
    return 1;
  }
  gOutDir = QDir::tempPath() + QStringLiteral("/velmora-export-bench/out");
  QDir().mkpath(gOutDir);
  std::printf("cores allowed: %d\n", Bench_AllowedCores());
  Bench_PrintLoad("before");
  benchmark::RegisterBenchmark("PassThrough/clip", BM_Clip)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
  benchmark::RegisterBenchmark("PassThrough/whole", BM_WholeSession)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
  benchmark::RegisterBenchmark("ReEncode/clip", BM_ReEncode)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  QDir(gOutDir).removeRecursively();
  return 0;
}
