// Player figures on 1920x1080 recordings laid out as the recorder writes them (2 s fragments), each
// against the same work done by FFmpeg, printed as "name: velmora X, peer Y, ratio Z":
//  - open to first picture of a 1, 10 and 60-minute recording: a process that opens the movie in a
//    player and waits for its first picture, against `ffmpeg -i movie -frames:v 1 -f null -`, alternated;
//  - exact seek: 50 random zero-tolerance seeks (median and p95), against the library floor: seeking
//    the demuxer to the key frame before the target and decoding up to the target;
//  - playback: CPU per second of playing at 1x into a 960x540 view, against `ffmpeg` decoding the same
//    stretch at the same pace and scaling it to the same size.
// The movies are made once (a minute encoded by ffmpeg, then joined without re-encoding) and kept in
// the temporary folder; VELMORA_BENCH_MOVIE replaces the 10-minute one; VELMORA_BENCH_ROUNDS sets the
// rounds of the open figures (default 5) and of the playback figure (default 2).

#include "bench/BenchSupport.h"
#include "platform/media/player/Player.h"
#include "platform/media/view/PlayerView.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kPlaySeconds = 20.0;

QString gSelf;

// A recording of the given minutes: one minute encoded, joined to itself as often as needed.
QString U_MakeMovie(int minutes) {
  const QString dir = QDir::tempPath() + QStringLiteral("/velmora-player-bench");
  QDir().mkpath(dir);
  const QString path = dir + QStringLiteral("/recording-%1min.mp4").arg(minutes);
  if (QFileInfo::exists(path)) return path;
  const QString minute = dir + QStringLiteral("/minute.mp4");
  if (!QFileInfo::exists(minute)) {
    std::fprintf(stderr, "making one minute of 1920x1080 (once)...\n");
    if (!Bench_RunTool(QStringLiteral("ffmpeg"), {"-y", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30", "-f", "lavfi", "-i",
                "sine=frequency=440:sample_rate=48000", "-t", "60", "-c:v", "libx264", "-preset", "ultrafast", "-g",
                "30", "-b:v", "8M", "-pix_fmt", "yuv420p", "-c:a", "aac", minute + ".part.mp4"}))
      return QString();
    QFile::rename(minute + ".part.mp4", minute);
  }
  const QString list = dir + QStringLiteral("/list.txt");
  QFile f(list);
  if (!f.open(QIODevice::WriteOnly)) return QString();
  for (int i = 0; i < minutes; ++i) f.write(QStringLiteral("file '%1'\n").arg(minute).toUtf8());
  f.close();
  std::fprintf(stderr, "joining %d minutes into %s (once)...\n", minutes, qPrintable(path));
  if (!Bench_RunTool(QStringLiteral("ffmpeg"), {"-y", "-loglevel", "error", "-f", "concat", "-safe", "0", "-i", list, "-c", "copy", "-movflags",
              "frag_keyframe+empty_moov+default_base_moof", "-frag_duration", "2000000", path + ".part.mp4"}))
    return QString();
  QFile::rename(path + ".part.mp4", path);
  return path;
}

QString U_TenMinuteMovie() {
  const QString given = qEnvironmentVariable("VELMORA_BENCH_MOVIE");
  return !given.isEmpty() && QFileInfo::exists(given) ? given : U_MakeMovie(10);
}

// Our side of the open figure, in a child process: a player item of the movie up to its first picture.
int U_OpenSide(const QString& movie) {
  auto item = PlayerItem::itemWithPath(movie);
  Player player(item);
  return Bench_WaitIdle([&] { return item->status() != PlayerItemStatus::Unknown && (item->status() == PlayerItemStatus::Failed || item->currentVideoFrame()); },
                120000) &&
                 item->currentVideoFrame()
             ? 0
             : 1;
}

void BM_OpenToFirstPicture(benchmark::State& state) {
  const int minutes = int(state.range(0));
  const QString movie = U_MakeMovie(minutes);
  if (movie.isEmpty()) {
    state.SkipWithError("could not make the movie");
    return;
  }
  const int rounds = Bench_Rounds(5);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      for (int side = 0; side < 2; ++side) {
        const bool velmora = (side + round) % 2 == 0;
        const Bench_ChildResult r = velmora ? Bench_RunChild({gSelf.toStdString(), "--open-side", movie.toStdString()})
                                            : Bench_RunChild({"ffmpeg", "-v", "error", "-i", movie.toStdString(), "-frames:v",
                                                              "1", "-f", "null", "-"});
        const double t = r.ok ? r.wall : -1;
        if (t < 0) state.SkipWithError(velmora ? "our player failed" : "ffmpeg failed");
        (velmora ? ours : theirs).push_back(t);
      }
    }
  }
  Bench_PrintFigure("open to first picture, " + std::to_string(minutes) + "-minute recording", Bench_Median(ours), Bench_Median(theirs), " s");
}
BENCHMARK(BM_OpenToFirstPicture)->Arg(1)->Arg(10)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The library floor of an exact seek: the demuxer to the key frame at or before the target, then
// decoding until the picture shown at the target (the decoder kept open, as a player keeps it).
class FloorSeeker {
 public:
  explicit FloorSeeker(const QString& path) {
    if (avformat_open_input(&m_in, QFile::encodeName(path).constData(), nullptr, nullptr) < 0) return;
    avformat_find_stream_info(m_in, nullptr);
    const AVCodec* codec = nullptr;
    m_stream = av_find_best_stream(m_in, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    m_dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(m_dec, m_in->streams[m_stream]->codecpar);
    m_dec->thread_count = 4;
    avcodec_open2(m_dec, codec, nullptr);
    m_pkt = av_packet_alloc();
    m_frame = av_frame_alloc();
  }
  ~FloorSeeker() {
    av_frame_free(&m_frame);
    av_packet_free(&m_pkt);
    avcodec_free_context(&m_dec);
    avformat_close_input(&m_in);
  }
  void seek(double seconds) {
    const AVRational tb = m_in->streams[m_stream]->time_base;
    const int64_t target = int64_t(seconds / av_q2d(tb));
    av_seek_frame(m_in, m_stream, target, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(m_dec);
    for (;;) {
      if (av_read_frame(m_in, m_pkt) < 0) return;
      if (m_pkt->stream_index == m_stream) avcodec_send_packet(m_dec, m_pkt);
      av_packet_unref(m_pkt);
      while (avcodec_receive_frame(m_dec, m_frame) == 0) {
        const int64_t pts = m_frame->best_effort_timestamp;
        const int64_t duration = m_frame->pkt_duration > 0 ? m_frame->pkt_duration : int64_t(1 / (30 * av_q2d(tb)));
        if (pts + duration > target) return;  // the picture shown at the target
      }
    }
  }

 private:
  AVFormatContext* m_in = nullptr;
  AVCodecContext* m_dec = nullptr;
  AVPacket* m_pkt = nullptr;
  AVFrame* m_frame = nullptr;
  int m_stream = -1;
};

void BM_ExactSeek(benchmark::State& state) {
  const QString movie = U_TenMinuteMovie();
  auto item = PlayerItem::itemWithPath(movie);
  Player player(item);
  if (!Bench_WaitIdle([&] { return item->status() == PlayerItemStatus::ReadyToPlay && item->currentVideoFrame(); })) {
    state.SkipWithError("movie did not load");
    return;
  }
  FloorSeeker floor(movie);
  std::mt19937 random(20261206);
  std::uniform_real_distribution<double> pick(0.0, MediaTimeGetSeconds(item->duration()) - 0.1);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    const double target = pick(random);
    bool done = false;
    QElapsedTimer timer;
    timer.start();
    player.seekToTime(MediaTimeMakeWithSeconds(target, 1000), kMediaTimeZero, kMediaTimeZero, [&](bool) { done = true; });
    Bench_WaitIdle([&] { return done; });
    ours.push_back(timer.nsecsElapsed() / 1e6);
    timer.restart();
    floor.seek(target);
    theirs.push_back(timer.nsecsElapsed() / 1e6);
    state.SetIterationTime(ours.back() / 1000);
  }
  Bench_PrintFigure("exact seek median, 10-minute recording", Bench_Median(ours), Bench_Median(theirs), " ms");
  Bench_PrintFigure("exact seek p95, 10-minute recording", Bench_Percentile(ours, 0.95), Bench_Percentile(theirs, 0.95), " ms");
}
BENCHMARK(BM_ExactSeek)->Iterations(50)->UseManualTime()->Unit(benchmark::kMillisecond);

// CPU seconds of playing kPlaySeconds from the first minute at 1x into a 960x540 view.
double U_PlayerCpu(const QString& movie) {
  auto item = PlayerItem::itemWithPath(movie);
  Player player(item);
  PlayerView view;
  view.resize(960, 540);
  view.setPlayer(&player);
  view.show();
  Bench_WaitIdle([&] { return item->status() == PlayerItemStatus::ReadyToPlay && item->currentVideoFrame(); });
  bool done = false;
  player.seekToTime(MediaTimeMake(60, 1), kMediaTimeZero, kMediaTimeZero, [&](bool) { done = true; });
  Bench_WaitIdle([&] { return done; });
  const double cpuBefore = Bench_CpuSeconds(RUSAGE_SELF);
  player.setRate(1.0f);
  Bench_WaitIdle([&] { return MediaTimeGetSeconds(player.currentTime()) >= 60.0 + kPlaySeconds; }, 120000);
  player.setRate(0.0f);
  return Bench_CpuSeconds(RUSAGE_SELF) - cpuBefore;
}

void BM_PlayCpuAgainstFfmpeg(benchmark::State& state) {
  const QString movie = U_TenMinuteMovie();
  const int rounds = Bench_Rounds(2);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      for (int side = 0; side < 2; ++side) {
        if ((side + round) % 2 == 0) {
          ours.push_back(U_PlayerCpu(movie) / kPlaySeconds);
          continue;
        }
        // The same pictures decoded and scaled to the view's size at the same pace (-re reads the
        // movie at its own rate). Decoding at full speed costs less CPU per picture than the same
        // decoding spread over real time, where the cores wait between pictures: not the same work.
        const double childBefore = Bench_CpuSeconds(RUSAGE_CHILDREN);
        Bench_RunTool(QStringLiteral("ffmpeg"), {"-loglevel", "error", "-re", "-ss", "60", "-t", QString::number(kPlaySeconds), "-i", movie,
                                                 "-an", "-vf", "scale=960:540:flags=bilinear,format=bgra", "-f", "null", "-"});
        theirs.push_back((Bench_CpuSeconds(RUSAGE_CHILDREN) - childBefore) / kPlaySeconds);
      }
    }
  }
  Bench_PrintFigure("playback CPU per movie second at 1x, 960x540 view", Bench_Median(ours), Bench_Median(theirs), " s");
}
BENCHMARK(BM_PlayCpuAgainstFfmpeg)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--open-side") {
    // The player needs no screen to read a movie; a windowing system's start-up is not part of it.
    QCoreApplication app(argc, argv);
    return U_OpenSide(QString::fromLocal8Bit(argv[2]));
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  gSelf = QCoreApplication::applicationFilePath();
  std::printf("cores allowed: %d\n", Bench_AllowedCores());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
