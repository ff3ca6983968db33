// Taking up one new fragment of a recording in progress, at 10, 60 and 120 minutes of movies made as the
// recorder writes them (1920x1080 at 30 fps and 8 Mbit/s with AAC sound, 2 s fragments): the file gains
// one fragment, then the fragmented asset takes it up (refresh) and the player's two decoders, pictures
// and sound, each waiting at the old end, carry on into it up to their first new picture and sound. Against it,
// the way a reader without a walk to go on from does the same: a whole probe of the grown file and both
// decoders opened on all of it. Each figure is the median over VELMORA_BENCH_ROUNDS fragments (default
// 7), printed as "name: velmora X, peer Y, ratio Z" with the machine's load.

#include "bench/BenchSupport.h"
#include "platform/media/asset/Asset.h"
#include "platform/media/asset/Decoder.h"
#include "platform/media/asset/FragmentedAsset.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <condition_variable>
#include <memory>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::vector<PlayerSegment> U_Segments(const AssetRef& asset, const char* mediaType) {
  std::vector<PlayerSegment> out;
  const AssetTrackRef track = asset->tracksWithMediaType(QString::fromLatin1(mediaType)).value(0);
  if (!track) return out;
  for (const AssetTrackSegment& s : track->segments())
    out.push_back({s.sourcePath, s.timeMapping.source, s.timeMapping.target, s.sourceByteLimit});
  return out;
}

// Waits until the decoder has queued a picture or sound at or after `after` (or reached its end).
class Waiter {
 public:
  explicit Waiter(Decoder& decoder) : m_decoder(decoder) {
    decoder.setReadyHandler([this] {
      std::lock_guard lock(m_mutex);
      m_cv.notify_all();
    });
  }
  bool waitFor(const MediaTime& after) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::seconds(30), [&] {
      DecodedUnit unit;
      while (m_decoder.peek(unit)) {
        if ((unit.picture || !unit.pcm.isEmpty()) && MediaTimeCompare(unit.itemTime, after) >= 0) return true;
        m_decoder.pop(unit);
      }
      return false;
    });
  }
  // Takes everything queued until the decoder has nothing more to give (a player at the live edge).
  bool drain() {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::seconds(30), [&] {
      DecodedUnit unit;
      while (m_decoder.pop(unit)) {
      }
      return m_decoder.atEnd();
    });
  }

 private:
  Decoder& m_decoder;
  std::mutex m_mutex;
  std::condition_variable m_cv;
};

// A player's two decoders over an asset's first video and sound tracks. The waiters go last, after the
// decoders' threads have ended.
struct PlayerDecoders {
  explicit PlayerDecoders(const AssetRef& asset)
      : video(MediaType::Video, U_Segments(asset, kMediaTypeVideo)), audio(MediaType::Audio, U_Segments(asset, kMediaTypeAudio)) {
    videoWaiter = std::make_unique<Waiter>(video);
    audioWaiter = std::make_unique<Waiter>(audio);
  }
  void seek(const MediaTime& time) {
    video.seek(time, kMediaTimeZero);
    audio.seek(time, kMediaTimeZero);
  }
  bool drain() { return videoWaiter->drain() && audioWaiter->drain(); }
  void extend(const AssetRef& asset) {
    video.extendSegments(U_Segments(asset, kMediaTypeVideo));
    audio.extendSegments(U_Segments(asset, kMediaTypeAudio));
  }
  bool waitFor(const MediaTime& after) { return videoWaiter->waitFor(after) && audioWaiter->waitFor(after); }

  std::unique_ptr<Waiter> videoWaiter, audioWaiter;
  Decoder video, audio;
};

void U_Figure(int minutes, int rounds) {
  const QString movie = Bench_RecordingOfMinutes(minutes, Bench_Coding::Recorder);
  if (movie.isEmpty()) return;
  std::vector<int64_t> moofs;
  {
    const int fd = ::open(QFile::encodeName(movie).constData(), O_RDONLY);
    MovieFileSource source(fd);
    moofs = Asset_FinishedFragmentIndex(source);
    ::close(fd);
  }
  if (int(moofs.size()) < rounds + 2) return;
  // The recording as it stood `rounds` fragments before its end: the movie itself, cut there, gains its
  // own fragments back one by one and is whole again at the end (a copy of two hours would cost more than
  // the figure). Cut short by a crash it is gone, and made again by the next run.
  const QString growing = QFileInfo(movie).path() + QStringLiteral("/growing.mp4");
  QFile::remove(growing);
  const int64_t cut = moofs[moofs.size() - 1 - rounds];
  QByteArray tail;
  {
    QFile in(movie);
    if (!in.open(QIODevice::ReadOnly) || !in.seek(cut)) return;
    tail = in.readAll();
  }
  if (!QFile::rename(movie, growing) || !QFile::resize(growing, cut)) return;
  const auto appendTail = [&](int64_t from, int64_t to) {
    QFile out(growing);
    return out.open(QIODevice::Append) && out.write(tail.constData() + (from - cut), to - from) == to - from && out.flush();
  };
  auto asset = FragmentedAsset::fragmentedAssetWithPath(growing);
  asset->tracks();
  PlayerDecoders decoders(asset);
  decoders.seek(asset->duration());  // at the end, as a player showing the live edge
  std::vector<double> ours, peer, refreshes;
  for (int r = 0; r < rounds; ++r) {
    const size_t next = moofs.size() - 1 - rounds + r;
    if (!decoders.drain()) std::fprintf(stderr, "the decoders did not reach the end\n");
    const MediaTime oldEnd = asset->duration();
    if (!appendTail(moofs[next], moofs[next + 1])) break;
    QElapsedTimer timer;
    timer.start();
    asset->refresh();
    refreshes.push_back(timer.nsecsElapsed() / 1e6);
    decoders.extend(asset);
    if (!decoders.waitFor(oldEnd)) std::fprintf(stderr, "no new picture or sound after %d min\n", minutes);
    ours.push_back(timer.nsecsElapsed() / 1e6);
    // The same fragment taken up by a whole probe and both decoders reading the whole grown file.
    timer.restart();
    auto whole = Asset::assetWithPath(growing);
    PlayerDecoders fresh(whole);
    fresh.seek(oldEnd);
    if (!fresh.waitFor(oldEnd)) std::fprintf(stderr, "no new picture or sound from the whole file\n");
    peer.push_back(timer.nsecsElapsed() / 1e6);
  }
  const int wholeProbes = asset->fullProbes() - 1;
  // The movie whole again, under its own name.
  const int64_t have = QFileInfo(growing).size();
  if (have >= cut && appendTail(have, cut + tail.size())) QFile::rename(growing, movie);
  else QFile::remove(growing);
  Bench_PrintFigure("take-up of one new fragment, pictures and sound, " + std::to_string(minutes) +
                        "-minute 1080p recording at 8 Mbit/s (peer: probe and decoders of the whole grown file)",
                    Bench_Median(ours), Bench_Median(peer), " ms");
  std::printf("  of which the asset's refresh: %.3f ms; whole probes during the take-ups: %d\n", Bench_Median(refreshes),
              wholeProbes);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::printf("cores allowed: %d\n", Bench_AllowedCores());
  Bench_PrintLoad("before");
  const int rounds = Bench_Rounds(7);
  for (const int minutes : {10, 60, 120}) U_Figure(minutes, rounds);
  Bench_PrintLoad("after");
  return 0;
}
