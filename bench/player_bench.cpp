// Player figures on recordings laid out as the recorder writes them (2 s fragments, a key frame a
// second), each side a process of its own against the same work done by FFmpeg, the sides alternated,
// printed as "name: velmora X, peer Y, ratio Z":
//  - open to first picture of a 10, 60 and 120-minute session, warm and cold (the movie dropped from the
//    page cache before each side's run): a process that opens the session package as the playback window
//    opens it (the real window, offscreen) and waits for its first decoded picture, against
//    `ffmpeg -i movie -frames:v 1 -f null -`;
//  - with a display (DISPLAY set, build/velmora beside the benchmarks): the same sessions opened cold
//    from the launch of `velmora <package>` to the first picture on the screen, against `ffplay movie`,
//    the screen read every few milliseconds for the test picture's colours;
//  - exact seek (on a 150 s 1920x1080 recording at 8 Mbit/s): 50 random zero-tolerance seeks (median and p95) in a process of their own, against the
//    library floor in a process of its own (the demuxer to the key frame before the target, decoding up
//    to the target) with as many decoder threads as our player's; both sides rest the same time between
//    seeks, as a user does, so that neither decodes with caches and threads kept warm by the seek before;
//  - playback (the same recording): CPU of a whole process that opens the movie, seeks to 1:00 and plays 20 s at 1x into a
//    960x540 view, against `ffmpeg -re` doing the same from its start with the pictures scaled to the same
//    size; with a sound device both sides decode and resample the sound, without one neither does (our
//    player makes no sound output then), and the figure's name says which.
// The movies (1280x720, low rate, so that two hours are made in seconds: one minute encoded, then joined
// without re-encoding) are kept in the temporary folder, each in a session package of its own (a hard
// link to the movie). VELMORA_BENCH_ROUNDS sets the rounds of the open figures (default 5) and of the seek
// and playback figures (default 2).

#include "bench/BenchSupport.h"
#include "common/ZRNAppPrefs.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/player/AudioOutput.h"
#include "platform/media/player/Player.h"
#include "platform/media/view/PlayerView.h"
#include "playback/VLPlaybackWC.h"

#include <QApplication>
#include <QDateTime>
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

#include <csignal>
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

// Last: Xlib defines words as macros that other headers use as names.
#ifdef VELMORA_BENCH_SCREEN
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#endif

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

// A home of its own for a side that runs Velmora's windows: the user's preferences are neither read nor
// changed, and the note shown at a first start counts as just shown.
QString U_BenchHome() {
  static const QString home = [] {
    const QString dir = QDir::tempPath() + QStringLiteral("/velmora-player-bench-home");
    for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
      QDir().mkpath(dir + QLatin1Char('/') + QLatin1String(v));
    QFile::setPermissions(dir + QStringLiteral("/XDG_RUNTIME_DIR"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return dir;
  }();
  return home;
}

void U_UseBenchHome() {
  for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
    setenv(v, (U_BenchHome() + QLatin1Char('/') + QLatin1String(v)).toUtf8().constData(), 1);
}

// Our side of the open figure, in a child process: the session package opened by the real playback
// window, as the application opens it, up to the first picture of its player.
int U_OpenSide(const QString& package) {
  UserDefaults::resetStandard();
  Prefs_RegisterDefaultPrefs();
  ZRNAppPrefs prefs;
  gZRNAppPrefs = &prefs;
  auto* window = new VLPlaybackWC;
  window->openSavedSession(QUrl::fromLocalFile(package));
  const auto shown = [&] {
    const auto item = window->player() ? window->player()->currentItem() : nullptr;
    return item && (item->status() == PlayerItemStatus::Failed || item->currentVideoFrame());
  };
  const bool ok = Bench_WaitIdle(shown, 120000) && window->player()->currentItem()->currentVideoFrame();
  delete window;
  return ok ? 0 : 1;
}

void BM_OpenToFirstPicture(benchmark::State& state) {
  const int minutes = int(state.range(0));
  const bool cold = state.range(1) != 0;
  const QString package = Bench_SessionOfMinutes(minutes);
  const QString movie = package + QStringLiteral("/VLCapturedMovie.mp4");
  if (package.isEmpty()) {
    state.SkipWithError("could not make the session");
    return;
  }
  const int rounds = Bench_Rounds(5);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    Bench_Alternate(rounds, [&](bool velmora) {
      if (cold && !Bench_DropFromCache(movie)) state.SkipWithError("cannot drop the movie from the page cache");
      const Bench_ChildResult r = velmora ? Bench_RunChild({gSelf.toStdString(), "--open-side", package.toStdString()})
                                          : Bench_RunChild({"ffmpeg", "-v", "error", "-threads", "4", "-i", movie.toStdString(),
                                                            "-frames:v", "1", "-f", "null", "-"});
      const double t = r.ok ? r.wall : -1;
      if (t < 0) state.SkipWithError(velmora ? "our playback window failed" : "ffmpeg failed");
      (velmora ? ours : theirs).push_back(t);
    });
  }
  Bench_PrintFigure("open to first picture, playback window, " + std::to_string(minutes) + "-minute session, " +
                        (cold ? "cold" : "warm"),
                    Bench_Median(ours), Bench_Median(theirs), " s");
  Bench_PrintSpread(ours, theirs);
}
BENCHMARK(BM_OpenToFirstPicture)
    ->Args({10, 0})->Args({10, 1})->Args({60, 0})->Args({60, 1})->Args({120, 0})->Args({120, 1})
    ->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

#ifdef VELMORA_BENCH_SCREEN
// The X screen read as a user sees it: the share of its pixels in the strong colours of the test
// picture (a window's own greys and the desktop's black have none).
class ScreenWatch {
 public:
  ScreenWatch() {
    m_display = XOpenDisplay(nullptr);
    if (!m_display || !XShmQueryExtension(m_display)) return;
    const int screen = DefaultScreen(m_display);
    m_width = DisplayWidth(m_display, screen);
    m_height = DisplayHeight(m_display, screen);
    m_image = XShmCreateImage(m_display, DefaultVisual(m_display, screen), unsigned(DefaultDepth(m_display, screen)),
                              ZPixmap, nullptr, &m_shm, unsigned(m_width), unsigned(m_height));
    if (!m_image || m_image->bits_per_pixel != 32) return;
    m_shm.shmid = shmget(IPC_PRIVATE, size_t(m_image->bytes_per_line) * size_t(m_height), IPC_CREAT | 0600);
    if (m_shm.shmid < 0) return;
    m_shm.shmaddr = m_image->data = static_cast<char*>(shmat(m_shm.shmid, nullptr, 0));
    m_shm.readOnly = False;
    m_ok = m_shm.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(m_display, &m_shm);
    XSync(m_display, False);
    shmctl(m_shm.shmid, IPC_RMID, nullptr);
  }
  ~ScreenWatch() {
    if (m_ok) XShmDetach(m_display, &m_shm);
    if (m_shm.shmaddr && m_shm.shmaddr != reinterpret_cast<char*>(-1)) shmdt(m_shm.shmaddr);
    if (m_image) {
      m_image->data = nullptr;
      XDestroyImage(m_image);
    }
    if (m_display) XCloseDisplay(m_display);
  }
  bool ok() const { return m_ok; }
  // The share of colourful pixels now, of every fourth pixel of every fourth row.
  double colourful() {
    if (!m_ok || !XShmGetImage(m_display, DefaultRootWindow(m_display), m_image, 0, 0, AllPlanes)) return 0;
    int64_t seen = 0, strong = 0;
    for (int y = 0; y < m_height; y += 4) {
      const auto* row = reinterpret_cast<const uint32_t*>(m_image->data + int64_t(y) * m_image->bytes_per_line);
      for (int x = 0; x < m_width; x += 4, ++seen) {
        const int r = int(row[x] >> 16 & 0xff), g = int(row[x] >> 8 & 0xff), b = int(row[x] & 0xff);
        if (std::max({r, g, b}) - std::min({r, g, b}) > 96) ++strong;
      }
    }
    return seen ? double(strong) / double(seen) : 0;
  }

 private:
  Display* m_display = nullptr;
  XImage* m_image = nullptr;
  XShmSegmentInfo m_shm{};
  int m_width = 0, m_height = 0;
  bool m_ok = false;
};

#else
// Without Xlib the screen cannot be read: the figure on the screen is left out.
class ScreenWatch {
 public:
  bool ok() const { return false; }
  double colourful() { return 0; }
};
#endif

// Starts argv with the environment changed as given (a value of nullptr unsets), its output dropped;
// the seconds from the start until the screen shows the test picture (negative when it never did within
// the time), then the child is ended with SIGTERM and waited for.
double U_TimeToPictureOnScreen(ScreenWatch& screen, const std::vector<std::string>& argv,
                               const std::vector<std::pair<const char*, const char*>>& env) {
  const double before = screen.colourful();
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [name, value] : env) value ? setenv(name, value, 1) : unsetenv(name);
    const int null = ::open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  double seconds = -1;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(60)) {
    if (screen.colourful() > before + 0.03) {
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      break;
    }
    if (waitpid(pid, nullptr, WNOHANG) == pid) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  kill(pid, SIGTERM);
  int status = 0;
  for (int n = 0; n < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++n) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (waitpid(pid, &status, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  // Until the window has gone from the screen.
  for (int n = 0; n < 500 && screen.colourful() > before + 0.01; ++n) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return seconds;
}

void BM_WindowOnScreenAgainstFfplay(benchmark::State& state) {
  const int minutes = int(state.range(0));
  const bool cold = state.range(1) != 0;
  const QString velmora = QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../velmora"));
  if (qEnvironmentVariableIsEmpty("DISPLAY") || !QFileInfo(velmora).isExecutable()) {
    state.SkipWithError("needs a display (DISPLAY) and build/velmora");
    return;
  }
  ScreenWatch screen;
  if (!screen.ok()) {
    state.SkipWithError("cannot read the screen (MIT-SHM)");
    return;
  }
  const QString package = Bench_SessionOfMinutes(minutes);
  const QString movie = package + QStringLiteral("/VLCapturedMovie.mp4");
  if (package.isEmpty()) {
    state.SkipWithError("could not make the session");
    return;
  }
  U_BenchHome();
  const auto homeVar = [](const char* v) { return (U_BenchHome() + QLatin1Char('/') + QLatin1String(v)).toStdString(); };
  const std::string home = homeVar("HOME"), config = homeVar("XDG_CONFIG_HOME"), data = homeVar("XDG_DATA_HOME"),
                    stateDir = homeVar("XDG_STATE_HOME"), cache = homeVar("XDG_CACHE_HOME"), runtime = homeVar("XDG_RUNTIME_DIR");
  const std::vector<std::pair<const char*, const char*>> ourEnv{
      {"QT_QPA_PLATFORM", "xcb"}, {"HOME", home.c_str()}, {"XDG_CONFIG_HOME", config.c_str()},
      {"XDG_DATA_HOME", data.c_str()}, {"XDG_STATE_HOME", stateDir.c_str()}, {"XDG_CACHE_HOME", cache.c_str()},
      {"XDG_RUNTIME_DIR", runtime.c_str()}};
  const std::vector<std::string> ours{velmora.toStdString(), package.toStdString()};
  const std::vector<std::string> peer{"ffplay", "-v", "error", movie.toStdString()};
  if (!Bench_RunChild({gSelf.toStdString(), "--prepare-home"}).ok) {
    state.SkipWithError("cannot prepare Velmora's home");
    return;
  }
  // Once each, not counted: the first start of Velmora in a new home seeds its folders.
  U_TimeToPictureOnScreen(screen, ours, ourEnv);
  U_TimeToPictureOnScreen(screen, peer, {});
  const int rounds = Bench_Rounds(5);
  std::vector<double> ourTimes, peerTimes;
  for (auto _ : state) {
    Bench_Alternate(rounds, [&](bool velmoraSide) {
      if (cold && !Bench_DropFromCache(movie)) state.SkipWithError("cannot drop the movie from the page cache");
      const double t = velmoraSide ? U_TimeToPictureOnScreen(screen, ours, ourEnv) : U_TimeToPictureOnScreen(screen, peer, {});
      if (t < 0) state.SkipWithError(velmoraSide ? "Velmora showed no picture" : "ffplay showed no picture");
      (velmoraSide ? ourTimes : peerTimes).push_back(t);
    });
  }
  Bench_PrintFigure("launch to first picture on the screen, playback window against ffplay, " + std::to_string(minutes) +
                        "-minute session, " + (cold ? "cold" : "warm"),
                    Bench_Median(ourTimes), Bench_Median(peerTimes), " s");
  Bench_PrintSpread(ourTimes, peerTimes);
}
BENCHMARK(BM_WindowOnScreenAgainstFfplay)
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
// 960x540 view, sought to 1:00 and played kPlaySeconds at 1x (with its sound when there is a sound
// device); prints "sound=1" when the sound was played.
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
  bool sound = false;
  Bench_WaitIdle([&] {
    sound = sound || player.isFollowingAudioClock();
    return MediaTimeGetSeconds(player.currentTime()) >= 60.0 + kPlaySeconds;
  }, 120000);
  player.setRate(0.0f);
  std::printf("sound=%d\n", sound ? 1 : 0);
  return 0;
}

void BM_PlayCpuAgainstFfmpeg(benchmark::State& state) {
  const QString movie = U_FullRateMovie();
  const int rounds = Bench_Rounds(2);
  // Without a sound device our player makes no sound output and decodes no sound: the peer then leaves
  // the sound out too, so that both sides do the same work.
  const bool withSound = AudioOutput::hasDefaultDevice();
  std::vector<double> ours, theirs;
  bool soundDiffered = false;
  for (auto _ : state) {
    Bench_Alternate(rounds, [&](bool velmora) {
      // Both from the start of their process: opening, seeking and playing the same stretch at its
      // pace (-re), pictures scaled to the view's size (and the sound decoded and resampled as played).
      std::vector<std::string> peer{"ffmpeg", "-loglevel", "error", "-threads", "4", "-re", "-ss", "60", "-t",
                                    std::to_string(int(kPlaySeconds)), "-i", movie.toStdString(), "-map", "0:v", "-vf",
                                    "scale=960:540:flags=bilinear,format=bgra", "-f", "null", "-"};
      if (withSound)
        for (const char* a : {"-map", "0:a", "-af", "aresample=48000,aformat=sample_fmts=s16:channel_layouts=stereo", "-f", "null", "-"})
          peer.push_back(a);
      const Bench_ChildResult r = velmora ? Bench_RunChild({gSelf.toStdString(), "--play-side", movie.toStdString()})
                                          : Bench_RunChild(peer);
      if (!r.ok) state.SkipWithError(velmora ? "our player failed" : "ffmpeg failed");
      if (velmora && r.output.contains(QStringLiteral("sound=1")) != withSound) soundDiffered = true;
      (velmora ? ours : theirs).push_back(r.cpu / kPlaySeconds);
    });
  }
  if (soundDiffered) std::printf("our player's sound output did not match the sound device's presence in every round\n");
  Bench_PrintFigure(std::string("playback CPU per movie second at 1x, 960x540 view, ") +
                        (withSound ? "with sound on both sides" : "without sound on both sides (no sound device)"),
                    Bench_Median(ours), Bench_Median(theirs), " s");
  Bench_PrintSpread(ours, theirs);
}
BENCHMARK(BM_PlayCpuAgainstFfmpeg)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--prepare-home") {
    // The note of a first start counts as just shown, so that a launch goes straight to its window.
    U_UseBenchHome();
    QCoreApplication app(argc, argv);
    UserDefaults::resetStandard();
    Prefs_RegisterDefaultPrefs();
    ZRNAppPrefs prefs;
    gZRNAppPrefs = &prefs;
    Prefs_MigratePreferences();  // else the first launch would take the preferences for an old version's
    UserDefaults::standard().setObject(QStringLiteral("HVNoteDate"), QDateTime::currentDateTimeUtc());
    return UserDefaults::standard().synchronize() ? 0 : 1;
  }
  if (argc == 3 && std::string(argv[1]) == "--open-side") {
    // The window is drawn offscreen: a windowing system's start-up is not part of this figure.
    U_UseBenchHome();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's word on every window it cannot size would stand between the figures.
    static QtMessageHandler standard = nullptr;
    standard = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
      if (standard && !message.contains(QLatin1String("propagateSizeHints"))) standard(type, context, message);
    });
    QApplication app(argc, argv);
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
