// The live window recording as a user records: a process of its own opens the real live window on the
// virtual camera and microphone at 1280x720 and 30 fps (preview showing, 2 s fragments), names the
// recording, records for VELMORA_BENCH_SECONDS (default 20) and stops. Against it, ffmpeg encodes the
// same lavfi sources with the same encoder settings for the same length. Both sides' CPU time comes
// from their own resource usage (wait4), alternated over VELMORA_BENCH_ROUNDS rounds (default 3), and
// prints as "name: velmora X, peer Y, ratio Z".

#include "bench/BenchSupport.h"
#include "capture/VLLiveWC.h"
#include "common/ZRNAppPrefs.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/capture/CaptureDevice.h"
#include "platform/media/capture/VirtualDevices.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFPS = 30;
constexpr int kKBPS = 8000;
constexpr int kFragmentSeconds = 2;

QString gSelf;


// The child: the real live window records for the given seconds into folder.
int windowSide(int seconds, const QString& folder) {
  UserDefaults::resetStandard();
  Prefs_RegisterDefaultPrefs();
  ZRNAppPrefs prefs;
  gZRNAppPrefs = &prefs;
  prefs.setSaveTargetDirectory(QUrl::fromLocalFile(folder));
  prefs.setMovieSize(QSizeF(kWidth, kHeight));
  prefs.setCaptureFPS(kFPS);
  prefs.setFragmentSeconds(kFragmentSeconds);
  prefs.setSegmentKBPS(kKBPS);
  prefs.setAskForCaptureStop(false);
  VirtualDevices_Plug(true, true);
  prefs.setCameraUID(QString::fromLatin1(kVirtualCameraUID));
  prefs.setMicrophoneUID(QString::fromLatin1(kVirtualMicrophoneUID));
  auto* live = new VLLiveWC;
  live->resize(960, 640);
  live->show();
  if (!Bench_WaitIdle([&] { return live->savePanel() && live->savePanel()->isVisible(); }, 20000)) return 2;
  QMetaObject::invokeMethod(live->savePanel(), "accept");
  if (!Bench_WaitIdle([&] { return live->recordButton()->isEnabled(); }, 20000)) return 3;
  live->recordButton()->click();
  if (!Bench_WaitIdle([&] { return live->isRecording(); }, 20000)) return 4;
  Bench_WaitIdle([] { return false; }, seconds * 1000);
  live->recordButton()->click();
  if (!Bench_WaitIdle([&] { return !live->isRecording(); }, 60000)) return 5;
  const QString movie = live->capturedMovieURL().toLocalFile();
  Bench_WaitIdle([&] { return !QFileInfo::exists(QFileInfo(movie).path() + QStringLiteral("/VLRecording.lock")); }, 60000);
  std::printf("movie=%s\n", qPrintable(movie));
  delete live;
  VirtualDevices_Unplug(true, true);
  return 0;
}

double movieSeconds(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed().toDouble();
}

void BM_LiveWindowAgainstFFmpeg(benchmark::State& state) {
  const int seconds = Bench_EnvInt("VELMORA_BENCH_SECONDS", 20);
  const int rounds = Bench_Rounds(3);
  QTemporaryDir dir;
  VirtualDevices_Plug(true, true);
  auto camera = CaptureDevice::deviceWithUniqueID(QString::fromLatin1(kVirtualCameraUID));
  auto microphone = CaptureDevice::deviceWithUniqueID(QString::fromLatin1(kVirtualMicrophoneUID));
  CaptureDeviceFormatRef format;
  for (const auto& f : camera->formats())
    if (f->dimensions == QSize(kWidth, kHeight) && !format) format = f;
  const QString videoGraph = VirtualDevices_SourceGraph(*camera, *format, kFPS);
  const QString audioGraph = VirtualDevices_SourceGraph(*microphone, *microphone->formats().front(), 0);
  VirtualDevices_Unplug(true, true);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      for (int side = 0; side < 2; ++side) {
        const bool velmora = (side + round) % 2 == 0;
        if (velmora) {
          const QString folder = dir.path() + QStringLiteral("/round%1").arg(round);
          QDir().mkpath(folder);
          const Bench_ChildResult r = Bench_RunChild({gSelf.toStdString(), "--window-side", std::to_string(seconds), folder.toStdString()});
          const QString movie = r.output.section(QStringLiteral("movie="), 1).trimmed();
          const double recorded = movieSeconds(movie);
          if (!r.ok || recorded <= 0) state.SkipWithError("the live window did not record");
          ours.push_back(r.cpu / std::max(1e-3, recorded));
        } else {
          const QString out = dir.path() + QStringLiteral("/ffmpeg.mp4");
          const Bench_ChildResult r = Bench_RunChild(
              {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i", videoGraph.toStdString(), "-f",
               "lavfi", "-i", audioGraph.toStdString(), "-t", std::to_string(seconds), "-c:v", "libx264", "-preset",
               "superfast", "-tune", "zerolatency", "-b:v", std::to_string(kKBPS * 1024), "-g", std::to_string(kFPS),
               "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "80000", "-movflags",
               "frag_keyframe+empty_moov+default_base_moof", "-frag_duration", std::to_string(kFragmentSeconds * 1000000),
               out.toStdString()});
          if (!r.ok) state.SkipWithError("ffmpeg failed");
          theirs.push_back(r.cpu / std::max(1e-3, movieSeconds(out)));
        }
      }
    }
  }
  std::printf("cores allowed: %d\n", Bench_AllowedCores());
  Bench_PrintFigure("live window recording 720p30 with preview, CPU s per recorded s", Bench_Median(ours), Bench_Median(theirs));
}
BENCHMARK(BM_LiveWindowAgainstFFmpeg)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc == 4 && std::string(argv[1]) == "--window-side") {
    // A home of its own, so the run neither reads nor changes the user's preferences.
    static QTemporaryDir home;
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
      const QString path = home.path() + QLatin1Char('/') + QLatin1String(v);
      QDir().mkpath(path);
      setenv(v, path.toUtf8().constData(), 1);
    }
    QApplication app(argc, argv);
    return windowSide(std::atoi(argv[2]), QString::fromLocal8Bit(argv[3]));
  }
  QApplication app(argc, argv);
  gSelf = QCoreApplication::applicationFilePath();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
