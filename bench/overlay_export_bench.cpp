// Overlay cost of a highest-quality export: a 1920x1080 30 fps recording (VELMORA_BENCH_SECONDS, default 60 s)
// exported by a capture project with a badge, a score title and a match-time title, against the same export
// without overlays, in the same run. The time spent compositing the overlays is measured around the animation
// tool on every frame and printed per frame, beside the encode time per frame of the plain export.
//
// Runs with its own temporary preferences; the source is made once with ffmpeg and kept in the temporary
// folder for later runs.

#include "bench/BenchSupport.h"
#include "common/ZRNAppPrefs.h"
#include "composition/ZRNAVCaptureProject.h"
#include "platform/layers/LayerRenderer.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <future>
#include <map>
#include <string>

namespace {

QString gSource;
QString gFolder;
double gSeconds = 60.0;
std::map<std::string, double> gWall;
std::map<std::string, double> gCpu;
std::map<std::string, int64_t> gFrames;
double gOverlaySeconds = 0.0;
double gOverlayCpu = 0.0;

double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Times the overlay tool's two steps on each frame and hands the frame on to it.
class TimedTool : public VideoCompositionCoreAnimationTool {
 public:
  explicit TimedTool(VideoCompositionCoreAnimationToolRef tool) : m_tool(std::move(tool)) {}
  bool prepareFrameAtTime(const MediaTime& time) override {
    ++m_frames;
    return timed([&] { return m_tool->prepareFrameAtTime(time); });
  }
  void compositeOntoFrame(QImage& frame, const MediaTime& time) const override {
    timed([&] {
      m_tool->compositeOntoFrame(frame, time);
      return true;
    });
  }
  double seconds() const { return m_seconds; }
  double cpu() const { return m_cpu; }
  int64_t frames() const { return m_frames; }

 private:
  template <typename F>
  bool timed(const F& step) const {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = threadCpuSeconds();
    const bool result = step();
    m_cpu += threadCpuSeconds() - cpu;
    m_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
  }
  VideoCompositionCoreAnimationToolRef m_tool;
  mutable double m_seconds = 0.0;
  mutable double m_cpu = 0.0;
  int64_t m_frames = 0;
};


std::shared_ptr<ZRNAVCaptureProject> project(bool overlays) {
  auto p = std::make_shared<ZRNAVCaptureProject>();
  if (overlays) {
    const QVariantMap title{{QStringLiteral("size"), 48}, {QStringLiteral("margin"), 30}};
    QVariantMap score = title, clock = title;
    score.insert(QStringLiteral("placement"), QStringLiteral("tr"));
    score.insert(QStringLiteral("formatString"), QStringLiteral("%@ %@ %.0f:%.0f"));
    clock.insert(QStringLiteral("placement"), QStringLiteral("bl"));
    clock.insert(QStringLiteral("formatString"), QStringLiteral("%@ "));
    p->setSpecs({{QStringLiteral("graphics"),
                  QVariantList{QVariantMap{{QStringLiteral("info"), QVariantMap{{QStringLiteral("path"), QStringLiteral("badge.png")}}}}}},
                 {QStringLiteral("titles"), QVariantList{QVariantMap{{QStringLiteral("info"), score}}}},
                 {QStringLiteral("timecodes"), QVariantList{QVariantMap{{QStringLiteral("info"), clock}}}}},
                QSizeF(1920, 1080), {}, gFolder);
  }
  p->setVideoSize(QSizeF(1920, 1080));
  p->setUseAudio(true);
  p->setSegmentAssetsArray({Asset::assetWithPath(gSource)});
  ZRNMatchPeriod period(1);
  period.setStartMillis(0);
  period.setEndMillis(int64_t(gSeconds * 1000));
  p->setPeriods({period});
  QList<ZRNGoalTag> goals;
  for (int64_t at : {int64_t(gSeconds * 300), int64_t(gSeconds * 700)}) {
    ZRNGoalTag goal;
    goal.setTeamNum(at < gSeconds * 500 ? 1 : 2);
    goal.setEventMillis(at);
    goals.append(goal);
  }
  p->setMatchGoals(goals);
  return p;
}

void exportProject(benchmark::State& state, const char* name, bool overlays) {
  for (auto _ : state) {
    auto p = project(overlays);
    const QString out = gFolder + QStringLiteral("/out.mp4");
    QFile::remove(out);
    QElapsedTimer timer;
    timer.start();
    const double cpu = Bench_CpuSeconds();
    AssetExportSessionRef session = p->makeExportable(QString::fromLatin1(AVAssetExportPresetHighestQuality));
    std::shared_ptr<TimedTool> timed;
    if (auto tool = session->videoComposition()->animationTool()) {
      timed = std::make_shared<TimedTool>(tool);
      session->videoComposition()->setAnimationTool(timed);
    } else if (overlays) {
      state.SkipWithError("the overlays did not reach the export");
    }
    session->setOutputURL(QUrl::fromLocalFile(out));
    std::promise<void> done;
    session->exportAsynchronouslyWithCompletionHandler([&done]() { done.set_value(); });
    done.get_future().wait();
    const double seconds = timer.nsecsElapsed() / 1e9;
    state.SetIterationTime(seconds);
    gWall[name] = seconds;
    gCpu[name] = Bench_CpuSeconds() - cpu;
    gFrames[name] = int64_t(gSeconds * 30);
    if (timed) {
      gOverlaySeconds = timed->seconds();
      gOverlayCpu = timed->cpu();
      gFrames[name] = timed->frames();
    }
    if (session->status() != AssetExportSessionStatus::Completed) state.SkipWithError(session->error().toStdString().c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Fonts need a GUI application; preferences go to a temporary folder, never the user's.
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
  qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
  qputenv("XDG_STATE_HOME", (home.path() + QStringLiteral("/state")).toUtf8());
  QApplication app(argc, argv);
  if (qEnvironmentVariableIsSet("VELMORA_BENCH_SECONDS")) gSeconds = qEnvironmentVariable("VELMORA_BENCH_SECONDS").toDouble();
  gSource = Bench_MakeRecording(QStringLiteral("velmora-overlay-bench"), gSeconds);
  if (gSource.isEmpty()) {
    std::fprintf(stderr, "could not make the source recording\n");
    return 1;
  }
  gFolder = home.path();
  // The application's own badge.
  if (!QFile::copy(QStringLiteral(":/overlays/images/tessaro_badge.png"), gFolder + QStringLiteral("/badge.png"))) {
    std::fprintf(stderr, "could not copy the badge\n");
    return 1;
  }
  ZRNAppPrefs prefs;
  prefs.setShowMatchTimes(true);

  benchmark::RegisterBenchmark("HighestQuality/plain", exportProject, "plain", false)
      ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("HighestQuality/overlays", exportProject, "overlays", true)
      ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  const double frames = double(std::max<int64_t>(1, gFrames["overlays"]));
  const double plainFrames = double(std::max<int64_t>(1, gFrames["plain"]));
  const auto percent = [](double part, double whole) { return whole > 0 ? 100.0 * part / whole : 0.0; };
  std::printf("\n%.0f s of 1920x1080 at 30 fps, highest quality, badge + score + match time:\n", gSeconds);
  std::printf("  plain export         wall %8.2f s  cpu %8.2f s  (%.2f ms wall, %.2f ms cpu per frame)\n", gWall["plain"],
              gCpu["plain"], 1000 * gWall["plain"] / plainFrames, 1000 * gCpu["plain"] / plainFrames);
  std::printf("  with overlays        wall %8.2f s  cpu %8.2f s\n", gWall["overlays"], gCpu["overlays"]);
  std::printf("  overlay compositing  %.3f ms wall, %.3f ms cpu per frame\n", 1000 * gOverlaySeconds / frames,
              1000 * gOverlayCpu / frames);
  std::printf("  overlay cost per frame / plain export time per frame: %.1f %% (wall), %.1f %% (cpu)\n",
              percent(gOverlaySeconds / frames, gWall["plain"] / plainFrames), percent(gOverlayCpu / frames, gCpu["plain"] / plainFrames));
  std::printf("  whole-export difference: %+.1f %% wall, %+.1f %% cpu (the machine's load moves the wall figure)\n",
              percent(gWall["overlays"] - gWall["plain"], gWall["plain"]), percent(gCpu["overlays"] - gCpu["plain"], gCpu["plain"]));
  return 0;
}
