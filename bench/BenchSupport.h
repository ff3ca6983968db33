#pragma once
// Measuring helpers shared by the benchmark programs: each side of a comparison runs as a process of
// its own and is measured from outside, and every figure prints as "name: velmora X, peer Y, ratio Z".

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// User plus system CPU time in seconds of this process (RUSAGE_SELF) or of its ended children
// (RUSAGE_CHILDREN).
inline double Bench_CpuSeconds(int who = RUSAGE_SELF) {
  rusage usage{};
  getrusage(who, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Bench_ChildResult {
  bool ok = false;
  double cpu = 0;      // user + system seconds of the child alone
  double peakMiB = 0;  // its own peak resident memory
  double wall = 0;     // seconds from its start to its end
  QString output;      // what it printed
};

// In the child: standard output into the pipe, then argv in place of this process.
[[noreturn]] inline void Bench_ExecWithOutput(const std::vector<std::string>& argv, const int out[2]) {
  dup2(out[1], 1);
  close(out[0]);
  close(out[1]);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

// Waits for a child whose output pipe is read to its end: its wall time since start, its CPU and peak memory.
inline Bench_ChildResult Bench_ReapChild(pid_t pid, int outFd, const QByteArray& printed,
                                         std::chrono::steady_clock::time_point start) {
  close(outFd);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  Bench_ChildResult r;
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  r.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  r.peakMiB = ru.ru_maxrss / 1024.0;
  r.output = QString::fromUtf8(printed);
  return r;
}

// Starts argv as a child; feed (if any) writes into its standard input; waits and reads its own usage.
inline Bench_ChildResult Bench_RunChild(const std::vector<std::string>& argv,
                                        const std::function<void(int fd)>& feed = {}) {
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if ((feed && pipe(in) != 0) || pipe(out) != 0) return {};
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (feed) {
      dup2(in[0], 0);
      close(in[0]);
      close(in[1]);
    }
    Bench_ExecWithOutput(argv, out);
  }
  close(out[1]);
  if (feed) {
    close(in[0]);
    feed(in[1]);
    close(in[1]);
  }
  QByteArray printed;
  char buf[4096];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) printed.append(buf, n);
  return Bench_ReapChild(pid, out[0], printed, start);
}

// Starts argv as a child and reads its resident memory every intervalMs while it runs: (seconds since
// the start, MiB) pairs in *samples.
inline Bench_ChildResult Bench_RunChildSampled(const std::vector<std::string>& argv, int intervalMs,
                                               std::vector<std::pair<double, double>>* samples) {
  int out[2] = {-1, -1};
  if (pipe(out) != 0) return {};
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    Bench_ExecWithOutput(argv, out);
  }
  close(out[1]);
  QByteArray printed;
  const std::string statm = "/proc/" + std::to_string(pid) + "/statm";
  const double pageMiB = double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
  auto next = start;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= next) {
      if (FILE* f = std::fopen(statm.c_str(), "r")) {
        long size = 0, resident = 0;
        if (std::fscanf(f, "%ld %ld", &size, &resident) == 2)
          samples->emplace_back(std::chrono::duration<double>(now - start).count(), resident * pageMiB);
        std::fclose(f);
      }
      next += std::chrono::milliseconds(intervalMs);
    }
    pollfd p{out[0], POLLIN, 0};
    const int wait = int(std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count()));
    if (poll(&p, 1, wait) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    printed.append(buf, n);
  }
  return Bench_ReapChild(pid, out[0], printed, start);
}

// The least-squares slope of MiB over minutes, from the samples taken at or after fromSeconds.
inline double Bench_MiBPerMinute(const std::vector<std::pair<double, double>>& samples, double fromSeconds) {
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (const auto& [t, mib] : samples) {
    if (t < fromSeconds) continue;
    const double x = t / 60.0;
    n += 1;
    sx += x;
    sy += mib;
    sxx += x * x;
    sxy += x * mib;
  }
  const double d = n * sxx - sx * sx;
  return n >= 2 && d > 0 ? (n * sxy - sx * sy) / d : 0;
}

// Drops a file from the page cache (its written pages are written out first), so that the next reader
// reads it from the disk.
inline bool Bench_DropFromCache(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  ::close(fd);
  return ok;
}

// The machine's load averages, printed with the figures.
inline void Bench_PrintLoad(const char* when) {
  QFile f(QStringLiteral("/proc/loadavg"));
  const QByteArray load = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray("?");
  std::printf("load %s: %s\n", when, load.constData());
  std::fflush(stdout);
}

// Runs a tool to its end, its errors shown; true when it succeeded.
inline bool Bench_RunTool(const QString& program, const QStringList& args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.start(program, args);
  return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline double Bench_Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

inline double Bench_Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, size_t(std::max(1.0, std::ceil(p * double(v.size())))) - 1)];
}

inline void Bench_PrintFigure(const std::string& name, double ours, double peer, const char* unit = "") {
  std::printf("%s: velmora %.3f%s, peer %.3f%s, ratio %.2f\n", name.c_str(), ours, unit, peer, unit,
              peer > 0 ? ours / peer : 0.0);
  std::fflush(stdout);
}

// The range of each side's rounds under a figure, so that a ratio near 1 can be read against the noise.
inline void Bench_PrintSpread(const std::vector<double>& ours, const std::vector<double>& peer) {
  if (ours.empty() || peer.empty()) return;
  const auto [ourLow, ourHigh] = std::minmax_element(ours.begin(), ours.end());
  const auto [peerLow, peerHigh] = std::minmax_element(peer.begin(), peer.end());
  std::printf("  rounds: velmora %.3f-%.3f, peer %.3f-%.3f\n", *ourLow, *ourHigh, *peerLow, *peerHigh);
  std::fflush(stdout);
}

inline int Bench_AllowedCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(0, sizeof set, &set);
  return CPU_COUNT(&set);
}

// A positive whole number from the environment, or the fallback.
inline int Bench_EnvInt(const char* name, int fallback) {
  const int value = qEnvironmentVariableIntValue(name);
  return value > 0 ? value : fallback;
}

inline int Bench_Rounds(int fallback) { return Bench_EnvInt("VELMORA_BENCH_ROUNDS", fallback); }

// Runs the event loop, sleeping between events (so the wait costs no CPU), until done or the time is up.
// done() is asked after every event, so a timed wait ends with the event that ended it.
inline bool Bench_WaitIdle(const std::function<bool()>& done, int timeoutMs = 30000) {
  QDeadlineTimer deadline(timeoutMs);
  QTimer poll;  // wakes the loop now and then to look at the time
  poll.start(20);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// A 1920x1080 30 fps recording with sound of the given length, laid out as the recorder writes it
// (fragments of 2 s, each starting on a key frame: a key frame a second, a fragment cut at the first one
// at least 2 s after the last cut), made once with ffmpeg in the temporary folder's
// sub-folder and kept for later runs. Empty when ffmpeg fails.
inline QString Bench_MakeRecording(const QString& folderName, double seconds) {
  const QString dir = QDir::tempPath() + QLatin1Char('/') + folderName;
  QDir().mkpath(dir);
  const QString path = dir + QStringLiteral("/recording-2s-fragments-%1s.mp4").arg(int(seconds));
  if (QFileInfo::exists(path)) return path;
  std::fprintf(stderr, "making a %.0f s 1920x1080 recording (once)...\n", seconds);
  const QString t = QString::number(seconds);
  const QString part = path + QStringLiteral(".part.mp4");
  if (!Bench_RunTool(QStringLiteral("ffmpeg"),
                     {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=" + t, "-f",
                      "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=" + t, "-c:v", "libx264", "-preset",
                      "ultrafast", "-b:v", "8M", "-g", "30", "-pix_fmt", "yuv420p", "-c:a", "aac", "-movflags",
                      "frag_keyframe+empty_moov+default_base_moof", "-min_frag_duration", "2000000", part}))
    return QString();
  QFile::rename(part, path);
  return path;
}

// Runs both sides once a round, each in turn first, so that neither always meets the warmer machine.
inline void Bench_Alternate(int rounds, const std::function<void(bool velmora)>& runSide) {
  for (int round = 0; round < rounds; ++round)
    for (int side = 0; side < 2; ++side) runSide((side + round) % 2 == 0);
}

// How a recording of Bench_RecordingOfMinutes is coded.
enum class Bench_Coding {
  // 1280x720 at 1 Mbit/s (ultrafast): two hours are made in seconds.
  Light,
  // As the recorder writes it: 1920x1080 at 30 fps and 8 Mbit/s, x264 superfast with zero latency, a key
  // frame a second, AAC sound at 80 kbit/s.
  Recorder,
};

// A recording of the given minutes with 2 s fragments, as the recorder lays them out: one minute
// encoded, joined to itself as often as needed; made once in the temporary folder and kept for later runs.
inline QString Bench_RecordingOfMinutes(int minutes, Bench_Coding coding = Bench_Coding::Light) {
  const bool recorder = coding == Bench_Coding::Recorder;
  const QString dir = QDir::tempPath() + (recorder ? QStringLiteral("/velmora-bench-1080p-8M") : QStringLiteral("/velmora-player-bench-2s"));
  QDir().mkpath(dir);
  const QString path = dir + QStringLiteral("/recording-%1min.mp4").arg(minutes);
  if (QFileInfo::exists(path)) return path;
  const QString minute = dir + QStringLiteral("/minute.mp4");
  if (!QFileInfo::exists(minute)) {
    std::fprintf(stderr, "making one minute of %s (once)...\n", recorder ? "1920x1080 at 8 Mbit/s" : "1280x720");
    const QStringList video =
        recorder ? QStringList{"-c:v", "libx264", "-preset", "superfast", "-tune", "zerolatency", "-b:v", "8M", "-g", "30"}
                 : QStringList{"-c:v", "libx264", "-preset", "ultrafast", "-g", "30", "-b:v", "1M"};
    QStringList args{"-y", "-loglevel", "error", "-f", "lavfi", "-i",
                     recorder ? "testsrc2=size=1920x1080:rate=30" : "testsrc2=size=1280x720:rate=30", "-f", "lavfi", "-i",
                     "sine=frequency=440:sample_rate=48000", "-t", "60"};
    args << video << "-pix_fmt" << "yuv420p" << "-c:a" << "aac";
    if (recorder) args << "-b:a" << "80000";
    args << minute + ".part.mp4";
    if (!Bench_RunTool(QStringLiteral("ffmpeg"), args)) return QString();
    QFile::rename(minute + ".part.mp4", minute);
  }
  const QString list = dir + QStringLiteral("/list-%1.txt").arg(minutes);
  QFile f(list);
  if (!f.open(QIODevice::WriteOnly)) return QString();
  for (int i = 0; i < minutes; ++i) f.write(QStringLiteral("file '%1'\n").arg(minute).toUtf8());
  f.close();
  std::fprintf(stderr, "joining %d minutes into %s (once)...\n", minutes, qPrintable(path));
  if (!Bench_RunTool(QStringLiteral("ffmpeg"), {"-y", "-loglevel", "error", "-f", "concat", "-safe", "0", "-i", list, "-c", "copy", "-movflags",
              "frag_keyframe+empty_moov+default_base_moof", "-min_frag_duration", "2000000", path + ".part.mp4"}))
    return QString();
  QFile::rename(path + ".part.mp4", path);
  return path;
}

// A finished session package of the given minutes (no lock file) holding the recording of
// Bench_RecordingOfMinutes as its movie (a hard link: one file, one page cache), made once beside it.
inline QString Bench_SessionOfMinutes(int minutes) {
  const QString movie = Bench_RecordingOfMinutes(minutes);
  if (movie.isEmpty()) return QString();
  const QString package = QFileInfo(movie).path() + QStringLiteral("/Session %1min.vlvidcapb").arg(minutes);
  const QString inside = package + QStringLiteral("/VLCapturedMovie.mp4");
  QDir().mkpath(package);
  if (QFileInfo(inside).exists() && QFileInfo(inside).size() == QFileInfo(movie).size()) return package;
  QFile::remove(inside);
  if (::link(QFile::encodeName(movie).constData(), QFile::encodeName(inside).constData()) != 0 && !QFile::copy(movie, inside))
    return QString();
  return package;
}
