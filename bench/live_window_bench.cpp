// The live window recording as a user records: a process of its own opens the real live window on the
// virtual camera and microphone at 1280x720 or 1920x1080, 30 fps (preview showing, 2 s fragments), names
// the recording, records for VELMORA_BENCH_SECONDS (default 20) and stops. Against it, ffmpeg encodes the
// same lavfi sources, in the pixel format the window's camera delivers, with the same encoder settings
// for the same length: once without a preview and once converting a 960x540 preview picture of every
// frame beside the recording. Both sides' CPU time and peak memory come from their own resource usage
// (wait4), alternated over VELMORA_BENCH_ROUNDS rounds (default 3).
// The memory figure records VELMORA_BENCH_MEMORY_MINUTES (default 10) at 720p with a playback window
// following the growing movie, and prints the slope of the resident memory (sampled every 5 s, from the
// second minute on) against ffmpeg recording as long.

#include "bench/BenchSupport.h"
#include "capture/VLLiveWC.h"
#include "playback/VLProgressivePlayWC.h"
#include "session/VLDocument.h"
#include "platform/foundation/NotificationCenter.h"
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

constexpr int kFPS = 30;
constexpr int kKBPS = 8000;
constexpr int kFragmentSeconds = 2;

QString gSelf;


// The child: the real live window records for the given seconds into folder; with follow, a playback
// window follows the growing movie from the moment it is playable, as a coach reviews while recording.
int windowSide(int width, int height, int seconds, const QString& folder, bool follow) {
  UserDefaults::resetStandard();
  Prefs_RegisterDefaultPrefs();
  ZRNAppPrefs prefs;
  gZRNAppPrefs = &prefs;
  prefs.setSaveTargetDirectory(QUrl::fromLocalFile(folder));
  prefs.setMovieSize(QSizeF(width, height));
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
  QPointer<VLProgressivePlayWC> playback;
  NotificationObservation started;
  if (follow)
    started = NotificationObservation(
        NotificationCenter::defaultCenter(),
        NotificationCenter::defaultCenter().addObserver(QStringLiteral("VLMovieStarted"), live, live, [&](const Notification& note) {
          if (playback) return;
          playback = new VLProgressivePlayWC;
          playback->setLiveDocument(live->vlDocument());
          playback->resize(960, 700);
          playback->show();
          playback->openLiveFootage(note.userInfo.value(QStringLiteral("targetURL")).toUrl());
        }));
  if (!Bench_WaitIdle([&] { return live->savePanel() && live->savePanel()->isVisible(); }, 20000)) return 2;
  QMetaObject::invokeMethod(live->savePanel(), "accept");
  if (!Bench_WaitIdle([&] { return live->recordButton()->isEnabled(); }, 20000)) return 3;
  live->recordButton()->click();
  if (!Bench_WaitIdle([&] { return live->isRecording(); }, 20000)) return 4;
  Bench_WaitIdle([] { return false; }, seconds * 1000);
  if (follow && !playback) std::fprintf(stderr, "the playback window never opened\n");
  live->recordButton()->click();
  if (!Bench_WaitIdle([&] { return !live->isRecording(); }, 60000)) return 5;
  const QString movie = live->capturedMovieURL().toLocalFile();
  Bench_WaitIdle([&] { return !QFileInfo::exists(QFileInfo(movie).path() + QStringLiteral("/VLRecording.lock")); }, 60000);
  std::printf("movie=%s\n", qPrintable(movie));
  delete playback.data();
  delete live;
  VirtualDevices_Unplug(true, true);
  return 0;
}

// The lavfi graphs of the virtual camera (in the format the live window picks: of the accepted ones at
// that size, the one whose rates reach highest) and microphone.
std::pair<QString, QString> sourceGraphs(int width, int height) {
  VirtualDevices_Plug(true, true);
  auto camera = CaptureDevice::deviceWithUniqueID(QString::fromLatin1(kVirtualCameraUID));
  auto microphone = CaptureDevice::deviceWithUniqueID(QString::fromLatin1(kVirtualMicrophoneUID));
  CaptureDeviceFormatRef format;
  double best = -1;
  for (const auto& f : camera->formats()) {
    if (f->dimensions != QSize(width, height)) continue;
    for (const FrameRateRange& r : f->videoSupportedFrameRateRanges)
      if (r.minFrameRate <= kFPS && kFPS <= r.maxFrameRate && r.maxFrameRate > best) {
        best = r.maxFrameRate;
        format = f;
      }
  }
  std::printf("camera format at %dx%d: %s\n", width, height, format ? qPrintable(format->nativeFormat) : "none");
  const QString video = format ? VirtualDevices_SourceGraph(*camera, *format, kFPS) : QString();
  const QString audio = VirtualDevices_SourceGraph(*microphone, *microphone->formats().front(), 0);
  VirtualDevices_Unplug(true, true);
  return {video, audio};
}

std::vector<std::string> peerRecording(const std::pair<QString, QString>& graphs, int seconds, const QString& out,
                                       bool preview) {
  std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                graphs.first.toStdString(), "-f", "lavfi", "-i", graphs.second.toStdString(), "-t",
                                std::to_string(seconds), "-map", "0:v", "-map", "1:a", "-c:v", "libx264", "-preset",
                                "superfast", "-tune", "zerolatency", "-b:v", std::to_string(kKBPS * 1024), "-g",
                                std::to_string(kFPS), "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "80000", "-movflags",
                                "frag_keyframe+empty_moov+default_base_moof", "-min_frag_duration",
                                std::to_string(kFragmentSeconds * 1000000), out.toStdString()};
  if (preview) {
    // Every camera picture converted for a 960x540 preview, as a preview window would take it.
    for (const std::string& a : {std::string("-map"), std::string("0:v"), std::string("-t"), std::to_string(seconds),
                                 std::string("-vf"), std::string("scale=960:540:flags=fast_bilinear,format=bgra"),
                                 std::string("-f"), std::string("null"), std::string("-")})
      argv.push_back(a);
  }
  return argv;
}

double movieSeconds(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed().toDouble();
}

void BM_LiveWindowAgainstFFmpeg(benchmark::State& state) {
  const int width = int(state.range(0)), height = int(state.range(1));
  const int seconds = Bench_EnvInt("VELMORA_BENCH_SECONDS", 20);
  const int rounds = Bench_Rounds(3);
  QTemporaryDir dir;
  const auto graphs = sourceGraphs(width, height);
  std::vector<double> ours, plain, previewed, ourPeak, plainPeak, previewedPeak;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      for (int side = 0; side < 3; ++side) {
        const int who = (side + round) % 3;  // 0: ours, 1: ffmpeg, 2: ffmpeg with a preview
        if (who == 0) {
          const QString folder = dir.path() + QStringLiteral("/round%1").arg(round);
          QDir().mkpath(folder);
          const Bench_ChildResult r = Bench_RunChild({gSelf.toStdString(), "--window-side", std::to_string(width),
                                                      std::to_string(height), std::to_string(seconds), folder.toStdString()});
          const QString movie = r.output.section(QStringLiteral("movie="), 1).trimmed();
          const double recorded = movieSeconds(movie);
          if (!r.ok || recorded <= 0) state.SkipWithError("the live window did not record");
          ours.push_back(r.cpu / std::max(1e-3, recorded));
          ourPeak.push_back(r.peakMiB);
        } else {
          const QString out = dir.path() + QStringLiteral("/ffmpeg.mp4");
          const Bench_ChildResult r = Bench_RunChild(peerRecording(graphs, seconds, out, who == 2));
          if (!r.ok) state.SkipWithError("ffmpeg failed");
          (who == 1 ? plain : previewed).push_back(r.cpu / std::max(1e-3, movieSeconds(out)));
          (who == 1 ? plainPeak : previewedPeak).push_back(r.peakMiB);
        }
      }
    }
  }
  const std::string size = std::to_string(height) + "p30";
  Bench_PrintFigure("live window recording " + size + " with preview against ffmpeg without one, CPU s per recorded s",
                    Bench_Median(ours), Bench_Median(plain));
  Bench_PrintSpread(ours, plain);
  Bench_PrintFigure("live window recording " + size + " with preview against ffmpeg with a 960x540 preview, CPU s per recorded s",
                    Bench_Median(ours), Bench_Median(previewed));
  Bench_PrintSpread(ours, previewed);
  Bench_PrintFigure("live window recording " + size + " peak memory MiB (peer: ffmpeg with a preview)",
                    Bench_Median(ourPeak), Bench_Median(previewedPeak));
  Bench_PrintSpread(ourPeak, previewedPeak);
  Bench_PrintLoad("after this figure");
}
BENCHMARK(BM_LiveWindowAgainstFFmpeg)->Args({1280, 720})->Args({1920, 1080})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_MemoryOverARecording(benchmark::State& state) {
  const int seconds = Bench_EnvInt("VELMORA_BENCH_MEMORY_MINUTES", 10) * 60;
  QTemporaryDir dir;
  const auto graphs = sourceGraphs(1280, 720);
  std::vector<std::pair<double, double>> ours, theirs;
  Bench_ChildResult us, them;
  for (auto _ : state) {
    us = Bench_RunChildSampled({gSelf.toStdString(), "--window-side", "1280", "720", std::to_string(seconds),
                                dir.path().toStdString(), "follow"},
                               5000, &ours);
    them = Bench_RunChildSampled(peerRecording(graphs, seconds, dir.path() + QStringLiteral("/ffmpeg.mp4"), true), 5000, &theirs);
    if (!us.ok || !them.ok) state.SkipWithError("a recording failed");
  }
  const auto at = [](const std::vector<std::pair<double, double>>& s, double t) {
    double v = 0;
    for (const auto& [when, mib] : s)
      if (when <= t) v = mib;
    return v;
  };
  std::printf("resident memory of our side at 1, %d minutes: %.1f, %.1f MiB\n", seconds / 60, at(ours, 60), at(ours, seconds));
  Bench_PrintFigure("memory slope of a " + std::to_string(seconds / 60) + "-minute recording with a playback window following, MiB per minute",
                    Bench_MiBPerMinute(ours, 60), Bench_MiBPerMinute(theirs, 60));
  Bench_PrintFigure("peak memory of that recording, MiB", us.peakMiB, them.peakMiB);
  Bench_PrintLoad("after this figure");
}
BENCHMARK(BM_MemoryOverARecording)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  if (argc >= 6 && std::string(argv[1]) == "--window-side") {
    // A home of its own, so the run neither reads nor changes the user's preferences.
    static QTemporaryDir home;
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"}) {
      const QString path = home.path() + QLatin1Char('/') + QLatin1String(v);
      QDir().mkpath(path);
      setenv(v, path.toUtf8().constData(), 1);
    }
    QApplication app(argc, argv);
    return windowSide(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), QString::fromLocal8Bit(argv[5]),
                      argc > 6 && std::string(argv[6]) == "follow");
  }
  QApplication app(argc, argv);
  gSelf = QCoreApplication::applicationFilePath();
  std::printf("cores allowed: %d\n", Bench_AllowedCores());
  Bench_PrintLoad("before");
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
