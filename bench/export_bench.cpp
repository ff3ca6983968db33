// Pass-through export speed: our export of a whole recording and of a 2-minute range, against
// `ffmpeg -c copy` of the same range and against `cp` of the file (the disk's limit), in the same run.
// VELMORA_BENCH_SECONDS sets the recording's length (default 600 s of 1920x1080 at 30 fps); the source
// is made once with ffmpeg and kept in the temporary folder for later runs.

#include "platform/media/Asset.h"
#include "platform/media/ExportSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <future>
#include <map>
#include <string>
#include <vector>

namespace {

QString gSource;
double gSeconds = 600.0;
QString gOutDir;
std::map<std::string, std::vector<double>> gTimes;

bool run(const QString& program, const QStringList& args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.start(program, args);
  return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString makeSource() {
  const QString dir = QDir::tempPath() + QStringLiteral("/velmora-export-bench");
  QDir().mkpath(dir);
  const QString path = dir + QStringLiteral("/recording-%1s.mp4").arg(int(gSeconds));
  if (QFileInfo::exists(path)) return path;
  std::fprintf(stderr, "making a %.0f s 1920x1080 recording (once)...\n", gSeconds);
  const QString t = QString::number(gSeconds);
  const QString part = path + QStringLiteral(".part.mp4");
  // Laid out as the recorder writes: fragments of 2 s, each starting on a key frame.
  if (!run(QStringLiteral("ffmpeg"),
           {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=" + t, "-f", "lavfi",
            "-i", "sine=frequency=440:sample_rate=48000:duration=" + t, "-c:v", "libx264", "-preset", "ultrafast",
            "-b:v", "8M", "-g", "30", "-pix_fmt", "yuv420p", "-c:a", "aac", "-movflags",
            "frag_keyframe+empty_moov+default_base_moof", "-frag_duration", "2000000", part}))
    return QString();
  QFile::rename(part, path);
  return path;
}

QString freshOutput(const char* name) {
  const QString out = gOutDir + QStringLiteral("/") + QString::fromLatin1(name);
  QFile::remove(out);
  return out;
}

void ourExport(benchmark::State& state, const char* name, double start, double length) {
  for (auto _ : state) {
    const QString out = freshOutput("ours.mp4");
    QElapsedTimer timer;
    timer.start();
    auto session = AssetExportSession::exportSessionWithAsset(Asset::assetWithPath(gSource),
                                                              QString::fromLatin1(AVAssetExportPresetPassthrough));
    session->setOutputURL(QUrl::fromLocalFile(out));
    session->setOutputFileType(QString::fromLatin1(kExportFileTypeMPEG4));
    if (length > 0)
      session->setTimeRange(MediaTimeRangeMake(MediaTimeMakeWithSeconds(start, 600), MediaTimeMakeWithSeconds(length, 600)));
    std::promise<void> done;
    session->exportAsynchronouslyWithCompletionHandler([&done]() { done.set_value(); });
    done.get_future().wait();
    const double seconds = timer.nsecsElapsed() / 1e9;
    state.SetIterationTime(seconds);
    gTimes[name].push_back(seconds);
    if (session->status() != AssetExportSessionStatus::Completed) state.SkipWithError(session->error().toStdString().c_str());
  }
}

void ffmpegCopy(benchmark::State& state, const char* name, double start, double length) {
  for (auto _ : state) {
    const QString out = freshOutput("ffmpeg.mp4");
    QStringList args{"-v", "error", "-y"};
    if (length > 0) args << "-ss" << QString::number(start);
    args << "-i" << gSource;
    if (length > 0) args << "-t" << QString::number(length);
    args << "-c" << "copy" << out;
    QElapsedTimer timer;
    timer.start();
    const bool ok = run(QStringLiteral("ffmpeg"), args);
    const double seconds = timer.nsecsElapsed() / 1e9;
    state.SetIterationTime(seconds);
    gTimes[name].push_back(seconds);
    if (!ok) state.SkipWithError("ffmpeg failed");
  }
}

void copyFile(benchmark::State& state) {
  for (auto _ : state) {
    const QString out = freshOutput("cp.mp4");
    QElapsedTimer timer;
    timer.start();
    const bool ok = run(QStringLiteral("cp"), {gSource, out});
    const double seconds = timer.nsecsElapsed() / 1e9;
    state.SetIterationTime(seconds);
    gTimes["cp whole file"].push_back(seconds);
    if (!ok) state.SkipWithError("cp failed");
  }
}

double median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (qEnvironmentVariableIsSet("VELMORA_BENCH_SECONDS")) gSeconds = qEnvironmentVariable("VELMORA_BENCH_SECONDS").toDouble();
  gSource = makeSource();
  if (gSource.isEmpty()) {
    std::fprintf(stderr, "could not make the source recording\n");
    return 1;
  }
  gOutDir = QDir::tempPath() + QStringLiteral("/velmora-export-bench/out");
  QDir().mkpath(gOutDir);
  const double rangeLength = std::min(120.0, gSeconds / 2);
  const double rangeStart = (gSeconds - rangeLength) / 2 + 0.5;  // between key frames

  benchmark::RegisterBenchmark("PassThrough/whole/velmora", ourExport, "velmora whole", 0.0, -1.0)
      ->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PassThrough/whole/ffmpeg-copy", ffmpegCopy, "ffmpeg whole", 0.0, -1.0)
      ->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PassThrough/range/velmora", ourExport, "velmora range", rangeStart, rangeLength)
      ->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PassThrough/range/ffmpeg-copy", ffmpegCopy, "ffmpeg range", rangeStart, rangeLength)
      ->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PassThrough/whole/cp", copyFile)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  const double cp = median(gTimes["cp whole file"]);
  std::printf("\nmedian seconds (recording %.0f s, range %.0f s from %.1f s):\n", gSeconds, rangeLength, rangeStart);
  for (const auto& [name, times] : gTimes) std::printf("  %-16s %8.3f\n", name.c_str(), median(times));
  const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
  std::printf("whole: velmora / ffmpeg -c copy = %.2f, velmora / cp = %.2f\n",
              ratio(median(gTimes["velmora whole"]), median(gTimes["ffmpeg whole"])), ratio(median(gTimes["velmora whole"]), cp));
  std::printf("range: velmora / ffmpeg -c copy = %.2f\n",
              ratio(median(gTimes["velmora range"]), median(gTimes["ffmpeg range"])));
  QDir(gOutDir).removeRecursively();
  return 0;
}
