// The live window recording as a user records: a process of its own opens the real live window on the
// virtual camera and microphone at 1280x720 and 30 fps (preview showing, 2 s fragments), names the
// recording, records for VELMORA_BENCH_SECONDS (default 20) and stops. Against it, ffmpeg encodes the
// same lavfi sources with the same encoder settings for the same length. Both sides' CPU time comes
// from their own resource usage (wait4), alternated over VELMORA_BENCH_ROUNDS rounds (default 3), and
// prints as "name: velmora X, peer Y, ratio Z".

#include "capture/VLLiveWC.h"
#include "common/ZRNAppPrefs.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/CaptureDevice.h"
#include "platform/media/VirtualDevices.h"

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

int benchSeconds() {
  const int s = qEnvironmentVariableIntValue("VELMORA_BENCH_SECONDS");
  return s > 0 ? s : 20;
}

// Runs the event loop, sleeping between events, until done or the time is up.
bool waitIdle(const std::function<bool()>& done, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done() || deadline.hasExpired()) loop.quit();
  });
  poll.start(50);
  if (!done()) loop.exec();
  return done();
}

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
  if (!waitIdle([&] { return live->savePanel() && live->savePanel()->isVisible(); }, 20000)) return 2;
  QMetaObject::invokeMethod(live->savePanel(), "accept");
  if (!waitIdle([&] { return live->recordButton()->isEnabled(); }, 20000)) return 3;
  live->recordButton()->click();
  if (!waitIdle([&] { return live->isRecording(); }, 20000)) return 4;
  waitIdle([] { return false; }, seconds * 1000);
  live->recordButton()->click();
  if (!waitIdle([&] { return !live->isRecording(); }, 60000)) return 5;
  const QString movie = live->capturedMovieURL().toLocalFile();
  waitIdle([&] { return !QFileInfo::exists(QFileInfo(movie).path() + QStringLiteral("/VLRecording.lock")); }, 60000);
  std::printf("movie=%s\n", qPrintable(movie));
  delete live;
  VirtualDevices_Unplug(true, true);
  return 0;
}

struct ChildResult {
  bool ok = false;
  double cpu = 0;
  QString output;
};

ChildResult runChild(const std::vector<std::string>& argv) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  QByteArray printed;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) printed.append(buf, n);
  close(out[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  ChildResult r;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  r.output = QString::fromUtf8(printed);
  return r;
}

double movieSeconds(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed().toDouble();
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void BM_LiveWindowAgainstFFmpeg(benchmark::State& state) {
  const int seconds = benchSeconds();
  const int rounds = qEnvironmentVariableIntValue("VELMORA_BENCH_ROUNDS") > 0 ? qEnvironmentVariableIntValue("VELMORA_BENCH_ROUNDS") : 3;
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
          const ChildResult r = runChild({gSelf.toStdString(), "--window-side", std::to_string(seconds), folder.toStdString()});
          const QString movie = r.output.section(QStringLiteral("movie="), 1).trimmed();
          const double recorded = movieSeconds(movie);
          if (!r.ok || recorded <= 0) state.SkipWithError("the live window did not record");
          ours.push_back(r.cpu / std::max(1e-3, recorded));
        } else {
          const QString out = dir.path() + QStringLiteral("/ffmpeg.mp4");
          const ChildResult r = runChild(
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
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(0, sizeof set, &set);
  std::printf("cores allowed: %d\n", CPU_COUNT(&set));
  const double a = median(ours), b = median(theirs);
  std::printf("live window recording 720p30 with preview, CPU s per recorded s: velmora %.3f, peer %.3f, ratio %.2f\n", a,
              b, b > 0 ? a / b : 0.0);
  std::fflush(stdout);
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
