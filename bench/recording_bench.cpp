// Recording cost at 1920x1080 and 30 fps, against the ffmpeg tool with the same codec settings:
//  - BM_RecordingAgainstFFmpeg: pre-rendered test-pattern frames delivered in real time straight to the
//    asset writer, and the same frames piped into ffmpeg (VELMORA_BENCH_SECONDS, default 10);
//  - BM_RecorderFromVirtualCamera: the whole recording path (virtual camera, capture session, recorder,
//    writer) and ffmpeg encoding the same lavfi source (VELMORA_BENCH_CAMERA_SECONDS, default 60).
// Figures: CPU seconds per recorded second (ours and ffmpeg's, and their ratio), frames delivered,
// refused and written, peak resident memory, and the time from the stop to the finished file.

#include "bench/BenchSupport.h"
#include "session/VLDocument.h"
#include "capture/ZRNRecorder.h"
#include "platform/foundation/MediaTime.h"
#include "platform/media/AssetWriter.h"
#include "platform/media/CaptureSession.h"
#include "platform/media/SampleBuffer.h"
#include "platform/media/VirtualDevices.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <QDir>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QtEndian>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <chrono>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFPS = 30;
constexpr int kKBPS = 8000;
constexpr int kDistinctFrames = 30;

int benchSeconds() {
  const int s = qEnvironmentVariableIntValue("VELMORA_BENCH_SECONDS");
  return s > 0 ? s : 10;
}

// One second of the test pattern the virtual camera shows (lavfi testsrc2), rendered once by the ffmpeg
// tool; the recording cycles through it.
std::vector<AVFrame*> makePattern() {
  std::vector<AVFrame*> frames;
  QProcess p;
  p.start(QStringLiteral("ffmpeg"),
          {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
           QStringLiteral("testsrc2=size=%1x%2:rate=%3").arg(kWidth).arg(kHeight).arg(kFPS), "-frames:v",
           QString::number(kDistinctFrames), "-pix_fmt", "bgra", "-f", "rawvideo", "pipe:1"});
  p.waitForFinished(120000);
  const QByteArray raw = p.readAllStandardOutput();
  const qsizetype frameBytes = qsizetype(kWidth) * kHeight * 4;
  for (int i = 0; i < kDistinctFrames && (i + 1) * frameBytes <= raw.size(); ++i) {
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_BGRA;
    f->width = kWidth;
    f->height = kHeight;
    av_frame_get_buffer(f, 0);
    for (int y = 0; y < kHeight; ++y)
      memcpy(f->data[0] + y * f->linesize[0], raw.constData() + i * frameBytes + qsizetype(y) * kWidth * 4, size_t(kWidth) * 4);
    frames.push_back(f);
  }
  return frames;
}

long peakRssMiB(int who) {
  struct rusage ru;
  getrusage(who, &ru);
  return ru.ru_maxrss / 1024;
}

int packetsIn(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                                      "stream=nb_read_packets", "-of", "csv=p=0", path});
  p.waitForFinished(120000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed().toInt();
}

// The lengths of a fragmented movie's fragments, in seconds: the differences between the decode times
// (tfdt) of the first track's successive fragments, on the time scale of that track's media header.
QList<double> fragmentLengths(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray d = file.readAll();
  const auto u32 = [&](qint64 at) { return at + 4 <= d.size() ? qFromBigEndian<quint32>(d.constData() + at) : 0u; };
  const auto u64 = [&](qint64 at) { return at + 8 <= d.size() ? qFromBigEndian<quint64>(d.constData() + at) : 0ull; };
  // Calls visit(type, body, end) for each box in [from, to).
  const auto walk = [&](qint64 from, qint64 to, const auto& visit) {
    while (from + 8 <= to) {
      quint64 size = u32(from);
      qint64 body = from + 8;
      if (size == 1) {
        size = u64(from + 8);
        body += 8;
      }
      if (size < 8 || from + qint64(size) > to) return;
      visit(d.mid(from + 4, 4), body, from + qint64(size));
      from += qint64(size);
    }
  };
  double timescale = 0;
  QList<double> starts;
  walk(0, d.size(), [&](const QByteArray& type, qint64 body, qint64 end) {
    const auto into = [&](const QByteArray& want, const auto& then) {
      walk(body, end, [&](const QByteArray& t, qint64 b, qint64 e) {
        if (t == want) then(b, e);
      });
    };
    if (type == "moov") {
      walk(body, end, [&](const QByteArray& t, qint64 b, qint64 e) {
        if (t != "trak" || timescale > 0) return;
        walk(b, e, [&](const QByteArray& t2, qint64 b2, qint64 e2) {
          if (t2 != "mdia") return;
          walk(b2, e2, [&](const QByteArray& t3, qint64 b3, qint64) {
            if (t3 == "mdhd") timescale = u32(b3 + (d[b3] == 1 ? 20 : 12));
          });
        });
      });
    } else if (type == "moof") {
      bool first = true;
      into("traf", [&](qint64 b, qint64 e) {
        walk(b, e, [&](const QByteArray& t, qint64 tb, qint64) {
          if (t != "tfdt" || !first || timescale <= 0) return;
          first = false;
          starts << double(d[tb] == 1 ? u64(tb + 4) : u32(tb + 4)) / timescale;
        });
      });
    }
  });
  QList<double> lengths;
  for (qsizetype i = 1; i < starts.size(); ++i) lengths << starts[i] - starts[i - 1];
  return lengths;
}

QString lengthsText(const QList<double>& lengths) {
  QStringList parts;
  for (double l : lengths) parts << QString::number(l, 'f', 3);
  return QStringLiteral("[") + parts.join(QStringLiteral(", ")) + QStringLiteral("]");
}

struct Pace {
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  void waitFor(int frame) const {
    std::this_thread::sleep_until(start + std::chrono::microseconds(int64_t(frame) * 1000000 / kFPS));
  }
};

void BM_RecordingAgainstFFmpeg(benchmark::State& state) {
  av_log_set_level(AV_LOG_ERROR);
  const int seconds = benchSeconds();
  const int frames = seconds * kFPS;
  const std::vector<AVFrame*> pattern = makePattern();
  if (pattern.size() != size_t(kDistinctFrames)) {
    state.SkipWithError("the ffmpeg tool did not render the test pattern");
    return;
  }
  QTemporaryDir dir;

  for (auto _ : state) {
    // --- our writer
    const QString ours = dir.path() + QStringLiteral("/ours.mp4");
    auto writer = AssetWriter::create(ours, kAVFileTypeMPEG4);
    writer->setMovieFragmentInterval(MediaTimeMake(5, 1));
    auto input = AssetWriterInput::create(
        MediaType::Video,
        QVariantMap{{AVVideoCodecKey, AVVideoCodecTypeH264},
                    {AVVideoWidthKey, double(kWidth)},
                    {AVVideoHeightKey, double(kHeight)},
                    {AVVideoCompressionPropertiesKey,
                     QVariantMap{{AVVideoExpectedSourceFrameRateKey, float(kFPS)},
                                 {AVVideoMaxKeyFrameIntervalKey, float(kFPS)},
                                 {AVVideoAverageBitRateKey, kKBPS * 1024}}}});
    input->setExpectsMediaDataInRealTime(true);
    writer->addInput(input);
    const double cpu0 = Bench_CpuSeconds(RUSAGE_SELF);
    writer->startWriting();
    const MediaTime base = HostClock_Now();
    writer->startSessionAtSourceTime(base);
    int refused = 0;
    Pace pace;
    for (int i = 0; i < frames; ++i) {
      pace.waitFor(i);
      auto buffer = std::make_shared<SampleBuffer>(MediaType::Video, av_frame_clone(pattern[i % kDistinctFrames]),
                                                   base + MediaTimeMake(int64_t(i) * 1000000000 / kFPS, kHostClockTimescale),
                                                   kMediaTimeInvalid);
      if (!input->isReadyForMoreMediaData() || !input->appendSampleBuffer(buffer)) ++refused;
    }
    const auto stop = std::chrono::steady_clock::now();
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    input->markAsFinished();
    writer->finishWritingWithCompletionHandler([&] {
      std::lock_guard lock(m);
      done = true;
      cv.notify_all();
    });
    {
      std::unique_lock lock(m);
      cv.wait(lock, [&] { return done; });
    }
    const double stopToFinished = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stop).count();
    const double ourCpu = Bench_CpuSeconds(RUSAGE_SELF) - cpu0;
    const long ourPeak = peakRssMiB(RUSAGE_SELF);

    // --- the ffmpeg tool, fed the same frames at the same pace through a pipe
    const QString theirs = dir.path() + QStringLiteral("/ffmpeg.mp4");
    int pipefd[2];
    if (pipe(pipefd) != 0) state.SkipWithError("pipe failed");
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(pipefd[0], 0);
      close(pipefd[0]);
      close(pipefd[1]);
      const QByteArray out = theirs.toUtf8();
      const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
      const std::string rate = std::to_string(kFPS);
      const std::string bitrate = std::to_string(kKBPS * 1024);
      execlp("ffmpeg", "ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt", "bgra", "-s",
             size.c_str(), "-r", rate.c_str(), "-i", "pipe:0", "-c:v", "libx264", "-preset", "superfast", "-tune",
             "zerolatency", "-b:v", bitrate.c_str(), "-g", rate.c_str(), "-pix_fmt", "yuv420p", "-movflags",
             "frag_keyframe+empty_moov+default_base_moof", "-min_frag_duration", "5000000", out.constData(),
             static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipefd[0]);
    const double childCpu0 = Bench_CpuSeconds(RUSAGE_CHILDREN);
    Pace ffPace;
    for (int i = 0; i < frames; ++i) {
      ffPace.waitFor(i);
      const AVFrame* f = pattern[i % kDistinctFrames];
      for (int y = 0; y < kHeight; ++y) {
        const uint8_t* row = f->data[0] + y * f->linesize[0];
        size_t left = size_t(kWidth) * 4;
        while (left > 0) {
          const ssize_t n = write(pipefd[1], row, left);
          if (n <= 0) break;
          row += n;
          left -= size_t(n);
        }
      }
    }
    const auto ffStop = std::chrono::steady_clock::now();
    close(pipefd[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    const double ffStopToFinished = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - ffStop).count();
    const double ffCpu = Bench_CpuSeconds(RUSAGE_CHILDREN) - childCpu0;

    const int written = packetsIn(ours);
    state.counters["recorded_s"] = seconds;
    state.counters["frames_delivered"] = frames;
    state.counters["frames_refused"] = refused;
    state.counters["frames_written"] = written;
    state.counters["cpu_s_per_rec_s"] = ourCpu / seconds;
    state.counters["ffmpeg_cpu_s_per_rec_s"] = ffCpu / seconds;
    state.counters["cpu_ratio_vs_ffmpeg"] = ffCpu > 0 ? ourCpu / ffCpu : 0;
    state.counters["peak_rss_MiB"] = double(ourPeak);
    state.counters["ffmpeg_peak_rss_MiB"] = double(peakRssMiB(RUSAGE_CHILDREN));
    state.counters["stop_to_finished_ms"] = stopToFinished;
    state.counters["ffmpeg_stop_to_finished_ms"] = ffStopToFinished;
    std::printf("writer fragments (5 s each): %s\n", qPrintable(lengthsText(fragmentLengths(ours))));
    std::printf("recorded %d s: %d frames delivered, %d refused, %d written; CPU %.2f s/s (ffmpeg %.2f s/s, ratio %.2f); "
                "peak %ld MiB; stop to finished %.0f ms (ffmpeg %.0f ms)\n",
                seconds, frames, refused, written, ourCpu / seconds, ffCpu / seconds, ffCpu > 0 ? ourCpu / ffCpu : 0.0,
                ourPeak, stopToFinished, ffStopToFinished);
  }
  for (AVFrame* f : pattern) {
    AVFrame* g = f;
    av_frame_free(&g);
  }
}

}  // namespace

// The recorder, counting the video frames the camera delivers while it records.
class CountingRecorder : public ZRNRecorder {
 public:
  using ZRNRecorder::ZRNRecorder;
  void captureOutput(CaptureOutput* output, const SampleBufferRef& buffer) override {
    if (output && output->mediaType() == MediaType::Video && isRecording()) ++delivered;
    ZRNRecorder::captureOutput(output, buffer);
  }
  std::atomic<int> delivered{0};
};

void waitWithEvents(const std::function<bool()>& done, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void BM_RecorderFromVirtualCamera(benchmark::State& state) {
  av_log_set_level(AV_LOG_ERROR);
  const int seconds = qEnvironmentVariableIntValue("VELMORA_BENCH_CAMERA_SECONDS") > 0
                          ? qEnvironmentVariableIntValue("VELMORA_BENCH_CAMERA_SECONDS")
                          : 60;
  QTemporaryDir dir;
  VirtualDevices_Plug(true, false);
  auto camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
  QString error;
  CaptureDeviceFormatRef format;
  if (camera && camera->lockForConfiguration(&error)) {
    for (const auto& f : camera->formats())
      if (f->dimensions == QSize(kWidth, kHeight) && !format) format = f;
    if (format) camera->setActiveFormat(format);
    camera->setActiveVideoMinFrameDuration(MediaTimeMake(1, kFPS));
    camera->setActiveVideoMaxFrameDuration(MediaTimeMake(1, kFPS));
    camera->unlockForConfiguration();
  }
  if (!format) {
    state.SkipWithError("no 1920x1080 format on the virtual camera");
    return;
  }
  for (auto _ : state) {
    auto session = std::make_shared<CaptureSession>();
    session->beginConfiguration();
    session->addInput(CaptureDeviceInput::deviceInputWithDevice(camera, &error));
    session->commitConfiguration();
    session->startRunning();
    auto document = std::make_shared<VLDocument>();
    document->setCaptureFileType(QString::fromLatin1(kAVFileTypeMPEG4));
    document->setVideoCodecType(QString::fromLatin1(AVVideoCodecTypeH264));
    document->setFrameSize(QSizeF(kWidth, kHeight));
    document->setVideoFPS(kFPS);
    document->setSegmentKBPS(kKBPS);
    document->setSegmentSeconds(5);
    document->setCaptureAudio(false);
    auto sessionQueue = DispatchQueue::create(QStringLiteral("bench.session"));
    auto writingQueue = DispatchQueue::create(QStringLiteral("bench.writing"));
    int owner = 0;
    CountingRecorder recorder(&owner, sessionQueue, writingQueue);
    recorder.setDocument(document);
    recorder.setCaptureSession(session);
    const double cpu0 = Bench_CpuSeconds(RUSAGE_SELF);
    sessionQueue->async([&] {
      recorder.resetForNewRecording();
      recorder.startWriterInPackage(QUrl::fromLocalFile(dir.path()), QStringLiteral("mp4"));
    });
    waitWithEvents([&] {
      return recorder.movieStarted() && MediaTimeGetSeconds(recorder.lastSampleTime() - recorder.movieStartTime()) >= seconds;
    },
                   (seconds + 30) * 1000);
    const auto stop = std::chrono::steady_clock::now();
    std::atomic<bool> finished{false};
    recorder.U_StopCapturing(true, [&](bool) { finished = true; });
    waitWithEvents([&] { return finished.load(); }, 120000);
    const double stopToFinished = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stop).count();
    session->stopRunning();
    const double ourCpu = Bench_CpuSeconds(RUSAGE_SELF) - cpu0;
    const QString ours = dir.path() + QStringLiteral("/VLCapturedMovie.mp4");
    const int written = packetsIn(ours);

    // ffmpeg on the same source graph, paced by the same real-time filter.
    const QString graph = VirtualDevices_SourceGraph(*camera, *format, kFPS);
    const QString theirs = dir.path() + QStringLiteral("/ffmpeg.mp4");
    const double childCpu0 = Bench_CpuSeconds(RUSAGE_CHILDREN);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i", graph, "-t", QString::number(seconds),
                  "-c:v", "libx264", "-preset", "superfast", "-tune", "zerolatency", "-b:v", QString::number(kKBPS * 1024),
                  "-g", QString::number(kFPS), "-pix_fmt", "yuv420p", "-movflags",
                  "frag_keyframe+empty_moov+default_base_moof", "-min_frag_duration", "5000000", theirs});
    ffmpeg.waitForFinished((seconds + 60) * 1000);
    const double ffCpu = Bench_CpuSeconds(RUSAGE_CHILDREN) - childCpu0;
    const double recorded = MediaTimeGetSeconds(recorder.lastSampleTime() - recorder.movieStartTime());

    state.counters["recorded_s"] = recorded;
    state.counters["frames_delivered"] = recorder.delivered.load();
    state.counters["frames_written"] = written;
    state.counters["cpu_s_per_rec_s"] = ourCpu / recorded;
    state.counters["ffmpeg_cpu_s_per_rec_s"] = ffCpu / seconds;
    state.counters["cpu_ratio_vs_ffmpeg"] = ffCpu > 0 ? (ourCpu / recorded) / (ffCpu / seconds) : 0;
    state.counters["peak_rss_MiB"] = double(peakRssMiB(RUSAGE_SELF));
    state.counters["stop_to_finished_ms"] = stopToFinished;
    // Every fragment but the last should last the fragment length (to within a picture).
    std::printf("virtual camera fragments (%.0f s each): %s\n", double(document->segmentSeconds()),
                qPrintable(lengthsText(fragmentLengths(ours))));
    std::printf("virtual camera %.1f s: %d frames delivered, %d written; CPU %.2f s/s (ffmpeg %.2f s/s, ratio %.2f); "
                "peak %ld MiB; stop to finished %.0f ms\n",
                recorded, recorder.delivered.load(), written, ourCpu / recorded, ffCpu / seconds,
                ffCpu > 0 ? (ourCpu / recorded) / (ffCpu / seconds) : 0.0, peakRssMiB(RUSAGE_SELF), stopToFinished);
  }
  VirtualDevices_Unplug(true, false);
}

BENCHMARK(BM_RecordingAgainstFFmpeg)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_RecorderFromVirtualCamera)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
  // The recorder reports its stop on the main queue, which needs an application object.
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
