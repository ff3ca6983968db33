// Recording cost against the ffmpeg tool, each side a process of its own, the sides alternated:
//  - writer: the same UYVY test-pattern frames written at the camera's pace through a pipe into our
//    asset writer (in a child process of this program) and into ffmpeg, with a 1 kHz tone beside them;
//  - camera: the whole path (virtual camera and microphone, capture session, recorder, writer) against
//    ffmpeg encoding the same lavfi sources, at 1920x1080 and 1280x720, 30 fps, 2 s fragments.
// CPU time and peak memory come from each child's own resource usage (wait4), so neither this
// program's buffers nor the other side count. Every figure is printed as
// "name: velmora X, peer Y, ratio Z", with the cores the run was allowed to use.
// VELMORA_BENCH_SECONDS sets the writer's length (default 10), VELMORA_BENCH_CAMERA_SECONDS the
// camera's (default 20), VELMORA_BENCH_ROUNDS the rounds per figure (default 3 for the writer, 5 for the
// camera, whose figures spread more from run to run).

#include "bench/BenchSupport.h"
#include "capture/ZRNRecorder.h"
#include "platform/foundation/MediaTime.h"
#include "platform/media/writer/AssetWriter.h"
#include "platform/media/capture/CaptureSession.h"
#include "platform/media/io/SampleBuffer.h"
#include "platform/media/capture/VirtualDevices.h"
#include "session/VLDocument.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QtEndian>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kFPS = 30;
constexpr int kKBPS = 8000;
constexpr int kFragmentSeconds = 2;
constexpr int kDistinctFrames = 30;
constexpr int kSampleRate = 48000;

QString gSelf;

// ---- measuring one child --------------------------------------------------------------------------

// A value the child printed as "key=value".
double printed(const QString& output, const char* key) {
  const QString k = QString::fromLatin1(key) + QLatin1Char('=');
  for (const QString& word : output.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
    if (word.startsWith(k)) return word.mid(k.size()).toDouble();
  return -1;
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

std::vector<std::string> ffmpegEncodeArgs(const QString& out) {
  return {"-c:v",      "libx264", "-preset", "superfast", "-tune", "zerolatency", "-b:v", std::to_string(kKBPS * 1024),
          "-g",        std::to_string(kFPS), "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "80000", "-movflags",
          "frag_keyframe+empty_moov+default_base_moof", "-frag_duration", std::to_string(kFragmentSeconds * 1000000),
          out.toStdString()};
}

// ---- the sides run in child processes ---------------------------------------------------------------


// Our writer fed from standard input: UYVY frames of width x height at the camera's pace (the parent
// paces them), with sound made here at the same pace.
int writerSide(int width, int height, const QString& path) {
  auto writer = AssetWriter::create(path, kAVFileTypeMPEG4);
  writer->setMovieFragmentInterval(MediaTimeMake(kFragmentSeconds, 1));
  auto video = AssetWriterInput::create(
      MediaType::Video, QVariantMap{{AVVideoCodecKey, AVVideoCodecTypeH264},
                                    {AVVideoWidthKey, double(width)},
                                    {AVVideoHeightKey, double(height)},
                                    {AVVideoCompressionPropertiesKey,
                                     QVariantMap{{AVVideoExpectedSourceFrameRateKey, float(kFPS)},
                                                 {AVVideoMaxKeyFrameIntervalKey, float(kFPS)},
                                                 {AVVideoAverageBitRateKey, kKBPS * 1024}}}});
  auto audio = AssetWriterInput::create(MediaType::Audio, QVariantMap{{AVFormatIDKey, kAudioFormatMPEG4AAC},
                                                                      {AVNumberOfChannelsKey, 2},
                                                                      {AVSampleRateKey, double(kSampleRate)},
                                                                      {AVEncoderBitRateKey, 80000}});
  video->setExpectsMediaDataInRealTime(true);
  audio->setExpectsMediaDataInRealTime(true);
  writer->addInput(video);
  writer->addInput(audio);
  writer->startWriting();
  const MediaTime base = HostClock_Now();
  writer->startSessionAtSourceTime(base);
  FFmpegFramePool pool;
  const size_t rowBytes = size_t(width) * 2;
  int frames = 0, refused = 0;
  int64_t samples = 0;
  for (;; ++frames) {
    FFmpegFramePtr f = pool.frame(AV_PIX_FMT_UYVY422, width, height);
    bool complete = true;
    for (int y = 0; y < height && complete; ++y) {
      uint8_t* row = f->data[0] + y * f->linesize[0];
      for (size_t got = 0; got < rowBytes;) {
        const ssize_t n = read(0, row + got, rowBytes - got);
        if (n <= 0) {
          complete = false;
          break;
        }
        got += size_t(n);
      }
    }
    if (!complete) break;
    const MediaTime pts = base + MediaTimeMake(int64_t(frames) * 1000000000 / kFPS, kHostClockTimescale);
    auto buffer = std::make_shared<SampleBuffer>(MediaType::Video, std::move(f), pts, kMediaTimeInvalid);
    if (!video->isReadyForMoreMediaData() || !video->appendSampleBuffer(buffer)) ++refused;
    // The tone up to the next picture's time.
    const int64_t until = int64_t(frames + 1) * kSampleRate / kFPS;
    FFmpegFramePtr a = FFmpeg_MakeFrame();
    a->format = AV_SAMPLE_FMT_S16;
    a->sample_rate = kSampleRate;
    av_channel_layout_default(&a->ch_layout, 2);
    a->nb_samples = int(until - samples);
    av_frame_get_buffer(a.get(), 0);
    auto* s = reinterpret_cast<int16_t*>(a->data[0]);
    for (int i = 0; i < a->nb_samples; ++i) s[2 * i] = s[2 * i + 1] = int16_t(8000 * std::sin(2 * M_PI * 1000 * double(samples + i) / kSampleRate));
    const MediaTime apts = base + MediaTimeMake(samples * 1000000000 / kSampleRate, kHostClockTimescale);
    samples = until;
    audio->appendSampleBuffer(std::make_shared<SampleBuffer>(MediaType::Audio, std::move(a), apts, kMediaTimeInvalid));
  }
  video->markAsFinished();
  audio->markAsFinished();
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  writer->finishWritingWithCompletionHandler([&] {
    std::lock_guard lock(m);
    done = true;
    cv.notify_all();
  });
  std::unique_lock lock(m);
  cv.wait(lock, [&] { return done; });
  std::printf("delivered=%d refused=%d\n", frames, refused);
  return writer->status() == AssetWriterStatusCompleted ? 0 : 1;
}

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

int cameraSide(int width, int height, int seconds, const QString& folder) {
  VirtualDevices_Plug(true, true);
  auto camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
  auto microphone = CaptureDevice::deviceWithUniqueID(kVirtualMicrophoneUID);
  QString error;
  CaptureDeviceFormatRef format;
  if (camera && camera->lockForConfiguration(&error)) {
    for (const auto& f : camera->formats())
      if (f->dimensions == QSize(width, height) && !format) format = f;
    if (format) camera->setActiveFormat(format);
    camera->setActiveVideoMinFrameDuration(MediaTimeMake(1, kFPS));
    camera->setActiveVideoMaxFrameDuration(MediaTimeMake(1, kFPS));
    camera->unlockForConfiguration();
  }
  if (!format || !microphone) {
    std::fprintf(stderr, "no %dx%d format on the virtual camera, or no virtual microphone\n", width, height);
    return 1;
  }
  auto session = std::make_shared<CaptureSession>();
  session->beginConfiguration();
  session->addInput(CaptureDeviceInput::deviceInputWithDevice(camera, &error));
  session->addInput(CaptureDeviceInput::deviceInputWithDevice(microphone, &error));
  session->commitConfiguration();
  session->startRunning();
  auto document = std::make_shared<VLDocument>();
  document->setCaptureFileType(QString::fromLatin1(kAVFileTypeMPEG4));
  document->setVideoCodecType(QString::fromLatin1(AVVideoCodecTypeH264));
  document->setFrameSize(QSizeF(width, height));
  document->setVideoFPS(kFPS);
  document->setSegmentKBPS(kKBPS);
  document->setSegmentSeconds(kFragmentSeconds);
  document->setCaptureAudio(true);
  document->setAudioCaptureRate(kSampleRate);
  auto sessionQueue = DispatchQueue::create(QStringLiteral("bench.session"));
  auto writingQueue = DispatchQueue::create(QStringLiteral("bench.writing"));
  int owner = 0;
  CountingRecorder recorder(&owner, sessionQueue, writingQueue);
  recorder.setDocument(document);
  recorder.setCaptureSession(session);
  sessionQueue->async([&] {
    recorder.resetForNewRecording();
    recorder.startWriterInPackage(QUrl::fromLocalFile(folder), QStringLiteral("mp4"));
  });
  Bench_WaitIdle([&] {
    return recorder.movieStarted() && MediaTimeGetSeconds(recorder.lastSampleTime() - recorder.movieStartTime()) >= seconds;
  }, (seconds + 30) * 1000);
  std::atomic<bool> finished{false};
  recorder.U_StopCapturing(true, [&](bool) { finished = true; });
  Bench_WaitIdle([&] { return finished.load(); }, 120000);
  session->stopRunning();
  std::printf("delivered=%d recorded=%.3f\n", recorder.delivered.load(),
              MediaTimeGetSeconds(recorder.lastSampleTime() - recorder.movieStartTime()));
  VirtualDevices_Unplug(true, true);
  return finished.load() ? 0 : 1;
}

// ---- the comparisons ---------------------------------------------------------------------------------

int packetsIn(const QString& path) {
  QProcess p;
  p.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
                                      "stream=nb_read_packets", "-of", "csv=p=0", path});
  p.waitForFinished(120000);
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed().toInt();
}

// One second of the virtual camera's test pattern in UYVY, rendered once by the ffmpeg tool.
QByteArray renderPattern(int width, int height) {
  QProcess p;
  p.start(QStringLiteral("ffmpeg"), {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                                     QStringLiteral("testsrc2=size=%1x%2:rate=%3").arg(width).arg(height).arg(kFPS),
                                     "-frames:v", QString::number(kDistinctFrames), "-pix_fmt", "uyvy422", "-f",
                                     "rawvideo", "pipe:1"});
  p.waitForFinished(120000);
  return p.readAllStandardOutput();
}

// Writes the pattern into fd at the camera's pace for the given length.
void feedPattern(int fd, const QByteArray& pattern, int frameBytes, int seconds) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < seconds * kFPS; ++i) {
    std::this_thread::sleep_until(start + std::chrono::microseconds(int64_t(i) * 1000000 / kFPS));
    const char* p = pattern.constData() + qsizetype(i % kDistinctFrames) * frameBytes;
    for (size_t left = size_t(frameBytes); left > 0;) {
      const ssize_t n = write(fd, p, left);
      if (n <= 0) return;
      p += n;
      left -= size_t(n);
    }
  }
}

void BM_WriterAgainstFFmpeg(benchmark::State& state) {
  av_log_set_level(AV_LOG_ERROR);
  const int width = 1920, height = 1080;
  const int seconds = Bench_EnvInt("VELMORA_BENCH_SECONDS", 10);
  const int rounds = Bench_Rounds(3);
  const QByteArray pattern = renderPattern(width, height);
  const int frameBytes = width * height * 2;
  if (pattern.size() < qsizetype(frameBytes) * kDistinctFrames) {
    state.SkipWithError("the ffmpeg tool did not render the test pattern");
    return;
  }
  QTemporaryDir dir;
  std::vector<double> ours, theirs, ourPeak, theirPeak;
  int refused = 0, written = 0;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      for (int side = 0; side < 2; ++side) {
        const bool velmora = (side + round) % 2 == 0;
        const QString out = dir.path() + (velmora ? QStringLiteral("/ours.mp4") : QStringLiteral("/ffmpeg.mp4"));
        QFile::remove(out);
        const auto feed = [&](int fd) { feedPattern(fd, pattern, frameBytes, seconds); };
        Bench_ChildResult r;
        if (velmora) {
          r = Bench_RunChild({gSelf.toStdString(), "--writer-side", std::to_string(width), std::to_string(height), out.toStdString()},
                       feed);
          refused = std::max(refused, int(printed(r.output, "refused")));
          written = packetsIn(out);
        } else {
          std::vector<std::string> args{"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "rawvideo",
                                        "-pix_fmt", "uyvy422", "-s", std::to_string(width) + "x" + std::to_string(height),
                                        "-r", std::to_string(kFPS), "-i", "pipe:0", "-f", "lavfi", "-i",
                                        "sine=frequency=1000:sample_rate=48000", "-shortest"};
          for (const std::string& a : ffmpegEncodeArgs(out)) args.push_back(a);
          r = Bench_RunChild(args, feed);
        }
        if (!r.ok) state.SkipWithError(velmora ? "our writer failed" : "ffmpeg failed");
        (velmora ? ours : theirs).push_back(r.cpu / seconds);
        (velmora ? ourPeak : theirPeak).push_back(r.peakMiB);
      }
    }
  }
  std::printf("cores allowed: %d\n", Bench_AllowedCores());
  Bench_PrintFigure("writer 1080p30 H.264+AAC CPU s per recorded s", Bench_Median(ours), Bench_Median(theirs), "");
  Bench_PrintFigure("writer 1080p30 peak memory MiB", Bench_Median(ourPeak), Bench_Median(theirPeak), "");
  std::printf("writer 1080p30 frames: %d delivered, %d refused, %d written\n", seconds * kFPS, refused, written);
  std::printf("writer 1080p30 fragment lengths (s):");
  for (double f : fragmentLengths(dir.path() + QStringLiteral("/ours.mp4"))) std::printf(" %.3f", f);
  std::printf("\n");
}

void cameraAgainstFFmpeg(benchmark::State& state, int width, int height) {
  av_log_set_level(AV_LOG_ERROR);
  const int seconds = Bench_EnvInt("VELMORA_BENCH_CAMERA_SECONDS", 20);
  const int rounds = Bench_Rounds(5);
  QTemporaryDir dir;
  VirtualDevices_Plug(true, true);
  auto camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
  auto microphone = CaptureDevice::deviceWithUniqueID(kVirtualMicrophoneUID);
  CaptureDeviceFormatRef format;
  for (const auto& f : camera->formats())
    if (f->dimensions == QSize(width, height) && !format) format = f;
  const QString videoGraph = VirtualDevices_SourceGraph(*camera, *format, kFPS);
  const QString audioGraph = VirtualDevices_SourceGraph(*microphone, *microphone->formats().front(), 0);
  VirtualDevices_Unplug(true, true);
  std::vector<double> ours, theirs, ourPeak, theirPeak;
  int dropped = 0, delivered = 0, written = 0;
  QList<double> fragments;
  for (auto _ : state) {
    for (int round = 0; round < rounds; ++round) {
      for (int side = 0; side < 2; ++side) {
        const bool velmora = (side + round) % 2 == 0;
        Bench_ChildResult r;
        double recorded = seconds;
        if (velmora) {
          const QString folder = dir.path() + QStringLiteral("/package");
          QDir(folder).removeRecursively();
          QDir().mkpath(folder);
          r = Bench_RunChild({gSelf.toStdString(), "--camera-side", std::to_string(width), std::to_string(height),
                        std::to_string(seconds), folder.toStdString()});
          recorded = std::max(0.001, printed(r.output, "recorded"));
          const QString movie = folder + QStringLiteral("/VLCapturedMovie.mp4");
          delivered = int(printed(r.output, "delivered"));
          written = packetsIn(movie);
          // Pictures from the first to the last one written, at the camera's rate.
          const int expected = int(std::llround(recorded * kFPS)) + 1;
          dropped = std::max(dropped, expected - written);
          fragments = fragmentLengths(movie);
        } else {
          const QString out = dir.path() + QStringLiteral("/ffmpeg.mp4");
          std::vector<std::string> args{"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                        videoGraph.toStdString(), "-f", "lavfi", "-i", audioGraph.toStdString(), "-t",
                                        std::to_string(seconds)};
          for (const std::string& a : ffmpegEncodeArgs(out)) args.push_back(a);
          r = Bench_RunChild(args);
        }
        if (!r.ok) state.SkipWithError(velmora ? "our recording failed" : "ffmpeg failed");
        (velmora ? ours : theirs).push_back(r.cpu / recorded);
        (velmora ? ourPeak : theirPeak).push_back(r.peakMiB);
      }
    }
  }
  const std::string label = "camera " + std::to_string(height) + "p30";
  std::printf("cores allowed: %d\n", Bench_AllowedCores());
  Bench_PrintFigure((label + " to file CPU s per recorded s").c_str(), Bench_Median(ours), Bench_Median(theirs), "");
  Bench_PrintFigure((label + " peak memory MiB").c_str(), Bench_Median(ourPeak), Bench_Median(theirPeak), "");
  std::printf("%s frames dropped (worst round): %d (last round: %d delivered while recording, %d written)\n",
              label.c_str(), std::max(0, dropped), delivered, written);
  std::printf("%s fragment lengths (s):", label.c_str());
  for (double f : fragments) std::printf(" %.3f", f);
  std::printf("\n");
  std::fflush(stdout);
}

void BM_Camera1080AgainstFFmpeg(benchmark::State& state) { cameraAgainstFFmpeg(state, 1920, 1080); }
void BM_Camera720AgainstFFmpeg(benchmark::State& state) { cameraAgainstFFmpeg(state, 1280, 720); }

}  // namespace

BENCHMARK(BM_WriterAgainstFFmpeg)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Camera1080AgainstFFmpeg)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_Camera720AgainstFFmpeg)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

int main(int argc, char** argv) {
  // The recorder reports its stop on the main queue, which needs an application object.
  QCoreApplication app(argc, argv);
  gSelf = QCoreApplication::applicationFilePath();
  const QStringList args = QCoreApplication::arguments();
  if (args.size() == 5 && args[1] == QLatin1String("--writer-side"))
    return writerSide(args[2].toInt(), args[3].toInt(), args[4]);
  if (args.size() == 6 && args[1] == QLatin1String("--camera-side"))
    return cameraSide(args[2].toInt(), args[3].toInt(), args[4].toInt(), args[5]);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
