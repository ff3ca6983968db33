// A capture session on the virtual camera at 1920x1080, 30 fps, for 30 s (VELMORA_BENCH_SECONDS to
// change): frames delivered per second, frames dropped or late, CPU seconds per second of capture, and
// the preview's latency (from a frame's arrival to its preview image being handed over).

#include "bench/BenchSupport.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/media/capture/CaptureSession.h"
#include "platform/media/capture/VirtualDevices.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

double NowSeconds() { return MediaTimeGetSeconds(HostClock_Now()); }

class Counter : public CaptureSampleBufferDelegate {
 public:
  void captureOutput(CaptureOutput*, const SampleBufferRef& buffer) override {
    std::lock_guard lock(mutex);
    times.push_back(MediaTimeGetSeconds(buffer->presentationTimeStamp()));
    latest = times.back();
  }
  void captureOutputDidDrop(CaptureOutput*, const MediaTime&) override { dropped.fetch_add(1); }
  std::mutex mutex;
  std::vector<double> times;
  double latest = 0;
  std::atomic<int> dropped{0};
};

void BM_VirtualCamera1080p30(benchmark::State& state) {
  const char* env = std::getenv("VELMORA_BENCH_SECONDS");
  const int seconds = env ? std::max(1, std::atoi(env)) : 30;
  VirtualDevices_Plug(true, false);
  auto camera = CaptureDevice::deviceWithUniqueID(kVirtualCameraUID);
  QString error;
  camera->lockForConfiguration(&error);
  camera->setActiveFormat(camera->formats()[0]);  // 1920x1080 '2vuy'
  camera->setActiveVideoMinFrameDuration(MediaTimeMake(1000, 30000));
  camera->setActiveVideoMaxFrameDuration(MediaTimeMake(1000, 30000));
  camera->unlockForConfiguration();

  for (auto _ : state) {
    auto session = std::make_shared<CaptureSession>();
    session->addInput(CaptureDeviceInput::deviceInputWithDevice(camera, &error));
    auto queue = DispatchQueue::create(QStringLiteral("bench.samples"));
    Counter counter;
    auto output = std::make_shared<CaptureVideoDataOutput>();
    output->setVideoSettings(AV_PIX_FMT_BGRA, QSize(1920, 1080));
    output->setAlwaysDiscardsLateVideoFrames(true);
    output->setSampleBufferDelegate(&counter, queue);
    session->addOutput(output);
    std::mutex latencyMutex;
    std::vector<double> latencies;
    session->addPreviewSink(
        [&](const PreviewPicture&) {
          double latest;
          {
            std::lock_guard lock(counter.mutex);
            latest = counter.latest;
          }
          if (latest <= 0) return;
          std::lock_guard lock(latencyMutex);
          latencies.push_back(NowSeconds() - latest);
        },
        1280);

    const double cpu0 = Bench_CpuSeconds();
    const double wall0 = NowSeconds();
    session->startRunning();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    session->stopRunning();
    queue->sync([] {});
    const double wall = NowSeconds() - wall0;
    const double cpu = Bench_CpuSeconds() - cpu0;
    output->setSampleBufferDelegate(nullptr, nullptr);

    std::lock_guard lock(counter.mutex);
    int late = 0;
    for (size_t i = 1; i < counter.times.size(); ++i)
      if (counter.times[i] - counter.times[i - 1] > 1.5 / 30.0) ++late;
    std::sort(latencies.begin(), latencies.end());
    state.counters["frames_per_second"] = double(counter.times.size()) / wall;
    state.counters["frames_dropped"] = counter.dropped.load();
    state.counters["gaps_over_1.5_frames"] = late;
    state.counters["cpu_seconds_per_second"] = cpu / wall;
    state.counters["preview_latency_median_ms"] = latencies.empty() ? 0 : latencies[latencies.size() / 2] * 1000;
    state.counters["preview_images_per_second"] = double(latencies.size()) / wall;
  }
  VirtualDevices_Unplug(true, false);
}

}  // namespace

BENCHMARK(BM_VirtualCamera1080p30)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_MAIN();
