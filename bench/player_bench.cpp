// Player figures on recordings laid out as the recorder writes them (2 s fragments, a key frame a
// second), each side a process of its own against the same work done by FFmpeg, the sides alternated,
// printed as "name: velmora X, peer Y, ratio Z":
//  - open to first picture of a 10, 60 and 120-minute recording, warm and cold (the file dropped from the
//    page cache before each side's run): a process that opens the movie in a player and waits for its
//    first picture, against `ffmpeg -i movie -frames:v 1 -f null -`;
//  - exact seek (on a 150 s 1920x1080 recording at 8 Mbit/s): 50 random zero-tolerance seeks (median and p95) in a process of their own, against the
//    library floor in a process of its own (the demuxer to the key frame before the target, decoding up
//    to the target) with as many decoder threads as our player's; both sides rest the same time between
//    seeks, as a user does, so that neither decodes with caches and threads kept warm by the seek before;
//  - playback (the same recording): CPU of a whole process that opens the movie, seeks to 1:00 and plays 20 s at 1x into a
//    960x540 view with its sound, against `ffmpeg -re` doing the same from its start (decoding the sound
//    too, and the pictures scaled to the same size).
// The movies (1280x720, low rate, so that two hours are made in seconds: one minute encoded, then joined
// without re-encoding) are kept in the temporary folder. VELMORA_BENCH_ROUNDS sets the rounds of the open
// figures (default 5) and of the seek and playback figures (default 2).

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
#include <libavutil/cpu.h>
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
#include <thread>
#include <vector>

namespace {

constexpr double kPlaySeconds = 20.0;

QString gSelf;

// The seek and playback figures read a 1920x1080 recording at the recorder's rate (8 Mbit/s), where the
// decoding a seek needs weighs as it does in a recording; VELMORA_BENCH_MOVIE replaces it.
QString U_FullRateMovie() {
  const QString given = qEnvironmentVariable("VELMORA_BENCH_MOVIE");
  return !given.isEmpty() && QFileInfo::exists(given) ? given
                                                      : Bench_MakeRecording(QStringLiteral("velmora-player-bench-2s"), 150);
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
  const bool cold = state.range(1) != 0;
  const QString movie = Bench_RecordingOfMinutes(minutes);
  if (movie.isEmpty()) {
    state.SkipWithError("could not make the movie");
    return;
  }
  const int rounds = Bench_Rounds(5);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    Bench_Alternate(rounds, [&](bool velmora) {
      if (cold && !Bench_DropFromCache(movie)) state.SkipWithError("cannot drop the movie from the page cache");
      const Bench_ChildResult r = velmora ? Bench_RunChild({gSelf.toStdString(), "--open-side", movie.toStdString()})
                                          : Bench_RunChild({"ffmpeg", "-v", "error", "-threads", "4", "-i", movie.toStdString(),
                                                            "-frames:v", "1", "-f", "null", "-"});
      const double t = r.ok ? r.wall : -1;
      if (t < 0) state.SkipWithError(velmora ? "our player failed" : "ffmpeg failed");
      (velmora ? ours : theirs).push_back(t);
    });
  }
  Bench_PrintFigure("open to first picture, " + std::to_string(minutes) + "-minute recording, " + (cold ? "cold" : "warm"),
                    Bench_Median(ours), Bench_Median(theirs), " s");
}
BENCHMARK(BM_OpenToFirstPicture)
    ->Args({10, 0})->Args({10, 1})->Args({60, 0})->Args({60, 1})->Args({120, 0})->Args({120, 1})
    ->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

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
    // As many threads as the player's decoder uses (FFmpeg_OpenDecoder).
    m_dec->thread_count = std::clamp(av_cpu_count(), 1, 4);
    m_dec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
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
  // The movie's length in seconds, as the stream analysis found it.
  double duration() const { return m_in && m_in->duration > 0 ? double(m_in->duration) / AV_TIME_BASE : 0; }
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

constexpr int kSeeks = 50;
// The rest between two seeks, the same on both sides: long enough for our player to have filled its
// queues again (its read-ahead is not counted in the next seek), and what a user's seeks leave between
// them. A floor that seeks back to back would decode with caches and threads still warm.
constexpr int kSeekRestMs = 300;

std::vector<double> U_SeekTargets(double duration) {
  std::mt19937 random(20261206);
  std::uniform_real_distribution<double> pick(0.0, duration - 0.1);
  std::vector<double> targets;
  for (int i = 0; i < kSeeks; ++i) targets.push_back(pick(random));
  return targets;
}

// Our side of the seek figure, in a process of its own: the player loaded, then every seek timed from
// the call to the picture of the target shown; prints one line of milliseconds per seek.
int U_SeekSide(const QString& movie) {
  auto item = PlayerItem::itemWithPath(movie);
  Player player(item);
  if (!Bench_WaitIdle([&] { return item->status() == PlayerItemStatus::ReadyToPlay && item->currentVideoFrame(); })) return 1;
  for (const double target : U_SeekTargets(MediaTimeGetSeconds(item->duration()))) {
    bool done = false;
    QElapsedTimer timer;
    timer.start();
    player.seekToTime(MediaTimeMakeWithSeconds(target, 1000), kMediaTimeZero, kMediaTimeZero, [&](bool) { done = true; });
    if (!Bench_WaitIdle([&] { return done; })) return 1;
    std::printf("%.3f\n", timer.nsecsElapsed() / 1e6);
    Bench_WaitIdle([] { return false; }, kSeekRestMs);
  }
  return 0;
}

// The floor's side, in a process of its own, the same targets.
int U_FloorSide(const QString& movie) {
  FloorSeeker floor(movie);
  const double duration = floor.duration();
  if (!(duration > 0)) return 1;
  for (const double target : U_SeekTargets(duration)) {
    QElapsedTimer timer;
    timer.start();
    floor.seek(target);
    std::printf("%.3f\n", timer.nsecsElapsed() / 1e6);
    std::this_thread::sleep_for(std::chrono::milliseconds(kSeekRestMs));
  }
  return 0;
}

void BM_ExactSeek(benchmark::State& state) {
  const QString movie = U_FullRateMovie();
  const int rounds = Bench_Rounds(2);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    Bench_Alternate(rounds, [&](bool velmora) {
      const Bench_ChildResult r =
          Bench_RunChild({gSelf.toStdString(), velmora ? "--seek-side" : "--floor-side", movie.toStdString()});
      if (!r.ok) state.SkipWithError(velmora ? "our seeks failed" : "the floor's seeks failed");
      for (const QString& line : r.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        (velmora ? ours : theirs).push_back(line.toDouble());
    });
  }
  std::printf("exact seek: %d decoder threads on each side, %d ms between seeks\n", std::clamp(av_cpu_count(), 1, 4), kSeekRestMs);
  Bench_PrintFigure("exact seek median, 1080p recording", Bench_Median(ours), Bench_Median(theirs), " ms");
  Bench_PrintFigure("exact seek p95, 1080p recording", Bench_Percentile(ours, 0.95), Bench_Percentile(theirs, 0.95), " ms");
}
BENCHMARK(BM_ExactSeek)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// Our side of the playback figure, a process of its own from its start: the movie opened into a
// 960x540 view, sought to 1:00 and played kPlaySeconds at 1x with its sound.
int U_PlaySide(const QString& movie) {
  auto item = PlayerItem::itemWithPath(movie);
  Player player(item);
  PlayerView view;
  view.resize(960, 540);
  view.setPlayer(&player);
  view.show();
  if (!Bench_WaitIdle([&] { return item->status() == PlayerItemStatus::ReadyToPlay && item->currentVideoFrame(); })) return 1;
  bool done = false;
  player.seekToTime(MediaTimeMake(60, 1), kMediaTimeZero, kMediaTimeZero, [&](bool) { done = true; });
  if (!Bench_WaitIdle([&] { return done; })) return 1;
  player.setRate(1.0f);
  Bench_WaitIdle([&] { return MediaTimeGetSeconds(player.currentTime()) >= 60.0 + kPlaySeconds; }, 120000);
  player.setRate(0.0f);
  return 0;
}

void BM_PlayCpuAgainstFfmpeg(benchmark::State& state) {
  const QString movie = U_FullRateMovie();
  const int rounds = Bench_Rounds(2);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    Bench_Alternate(rounds, [&](bool velmora) {
      // Both from the start of their process: opening, seeking and playing the same stretch at its
      // pace (-re), pictures scaled to the view's size and the sound decoded and resampled as played.
      const Bench_ChildResult r =
          velmora ? Bench_RunChild({gSelf.toStdString(), "--play-side", movie.toStdString()})
                  : Bench_RunChild({"ffmpeg", "-loglevel", "error", "-threads", "4", "-re", "-ss", "60", "-t",
                                    std::to_string(int(kPlaySeconds)), "-i", movie.toStdString(), "-map", "0:v", "-vf",
                                    "scale=960:540:flags=bilinear,format=bgra", "-f", "null", "-", "-map", "0:a",
                                    "-af", "aresample=48000,aformat=sample_fmts=s16:channel_layouts=stereo", "-f",
                                    "null", "-"});
      if (!r.ok) state.SkipWithError(velmora ? "our player failed" : "ffmpeg failed");
      (velmora ? ours : theirs).push_back(r.cpu / kPlaySeconds);
    });
  }
  Bench_PrintFigure("playback CPU per movie second at 1x, 960x540 view, with sound", Bench_Median(ours),
                    Bench_Median(theirs), " s");
}
BENCHMARK(BM_PlayCpuAgainstFfmpeg)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--open-side") {
    // The player needs no screen to read a movie; a windowing system's start-up is not part of it.
    QCoreApplication app(argc, argv);
    return U_OpenSide(QString::fromLocal8Bit(argv[2]));
  }
  if (argc == 3 && std::string(argv[1]) == "--floor-side") return U_FloorSide(QString::fromLocal8Bit(argv[2]));
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc == 3 && std::string(argv[1]) == "--seek-side") return U_SeekSide(QString::fromLocal8Bit(argv[2]));
  if (argc == 3 && std::string(argv[1]) == "--play-side") return U_PlaySide(QString::fromLocal8Bit(argv[2]));
  gSelf = QCoreApplication::applicationFilePath();
  std::printf("cores allowed: %d\n", Bench_AllowedCores());
  Bench_PrintLoad("before");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  Bench_PrintLoad("after");
  return 0;
}
