// Player figures on a 10-minute 1920x1080 recording:
//  - exact-seek latency: 50 random zero-tolerance seeks, median and worst;
//  - CPU per second of playback at 1x (picture shown in a 960x540 view), against `ffmpeg -i <file> -f null -`
//    decoding the same stretch in the same run.
// The movie is made once with the ffmpeg command line (set VELMORA_BENCH_MOVIE to reuse one).

#include "bench/BenchSupport.h"
#include "platform/media/Player.h"
#include "platform/media/PlayerView.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double kPlaySeconds = 20.0;

QString gMovie;

// Runs the event loop (sleeping between events, so the wait itself costs no CPU) until done.
bool U_Wait(const std::function<bool()>& done, int timeoutMs = 30000) {
  QDeadlineTimer deadline(timeoutMs);
  QTimer poll;
  poll.start(2);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

QString U_MakeMovie() {
  const QString given = qEnvironmentVariable("VELMORA_BENCH_MOVIE");
  if (!given.isEmpty() && QFileInfo::exists(given)) return given;
  const QString path = QDir::tempPath() + QStringLiteral("/velmora-player-bench-1080p-600s.mp4");
  if (QFileInfo::exists(path)) return path;
  std::fprintf(stderr, "making %s (10 minutes of 1920x1080)...\n", qPrintable(path));
  QProcess ffmpeg;
  ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  ffmpeg.start(QStringLiteral("ffmpeg"),
               {"-y", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30", "-f", "lavfi", "-i",
                "sine=frequency=440:sample_rate=48000", "-t", "600", "-c:v", "libx264", "-preset", "ultrafast", "-g",
                "30", "-b:v", "8M", "-pix_fmt", "yuv420p", "-c:a", "aac", "-movflags",
                "frag_keyframe+empty_moov+default_base_moof", "-frag_duration", "2000000", "-threads", "3", path});
  ffmpeg.waitForFinished(-1);
  return ffmpeg.exitCode() == 0 ? path : QString();
}

void BM_ExactSeek(benchmark::State& state) {
  auto item = PlayerItem::itemWithPath(gMovie);
  Player player(item);
  if (!U_Wait([&] { return item->status() == PlayerItemStatus::ReadyToPlay && item->currentVideoFrame(); })) {
    state.SkipWithError("movie did not load");
    return;
  }
  std::mt19937 random(20261206);
  std::uniform_real_distribution<double> pick(0.0, MediaTimeGetSeconds(item->duration()) - 0.1);
  std::vector<double> millis;
  for (auto _ : state) {
    const MediaTime target = MediaTimeMakeWithSeconds(pick(random), 1000);
    bool done = false;
    QElapsedTimer timer;
    timer.start();
    player.seekToTime(target, kMediaTimeZero, kMediaTimeZero, [&](bool) { done = true; });
    U_Wait([&] { return done; });
    const double seconds = timer.nsecsElapsed() / 1e9;
    state.SetIterationTime(seconds);
    millis.push_back(seconds * 1000.0);
  }
  std::sort(millis.begin(), millis.end());
  state.counters["median_ms"] = millis[millis.size() / 2];
  state.counters["worst_ms"] = millis.back();
}
BENCHMARK(BM_ExactSeek)->Iterations(50)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PlayCpuAgainstFfmpeg(benchmark::State& state) {
  for (auto _ : state) {
    auto item = PlayerItem::itemWithPath(gMovie);
    Player player(item);
    PlayerView view;
    view.resize(960, 540);
    view.setPlayer(&player);
    view.show();
    U_Wait([&] { return item->status() == PlayerItemStatus::ReadyToPlay && item->currentVideoFrame(); });
    bool done = false;
    player.seekToTime(MediaTimeMake(60, 1), kMediaTimeZero, kMediaTimeZero, [&](bool) { done = true; });
    U_Wait([&] { return done; });
    const double cpuBefore = Bench_CpuSeconds(RUSAGE_SELF);
    player.setRate(1.0f);
    U_Wait([&] { return MediaTimeGetSeconds(player.currentTime()) >= 60.0 + kPlaySeconds; }, 120000);
    player.setRate(0.0f);
    const double playerCpu = Bench_CpuSeconds(RUSAGE_SELF) - cpuBefore;

    const double childBefore = Bench_CpuSeconds(RUSAGE_CHILDREN);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-loglevel", "error", "-ss", "60", "-t", QString::number(kPlaySeconds), "-i",
                                            gMovie, "-f", "null", "-"});
    ffmpeg.waitForFinished(-1);
    const double ffmpegCpu = Bench_CpuSeconds(RUSAGE_CHILDREN) - childBefore;
    state.counters["player_cpu_s_per_s"] = playerCpu / kPlaySeconds;
    state.counters["ffmpeg_cpu_s_per_s"] = ffmpegCpu / kPlaySeconds;
  }
}
BENCHMARK(BM_PlayCpuAgainstFfmpeg)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  gMovie = U_MakeMovie();
  if (gMovie.isEmpty()) {
    std::fprintf(stderr, "could not make the benchmark movie\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
