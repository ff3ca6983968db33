// Taking up one new fragment of a recording in progress, at 10, 60 and 120 minutes: the file gains one
// fragment (2 s, as the recorder writes it), then the fragmented asset takes it up (refresh) and the
// player's decoder, waiting at the old end, carries on into it up to its first new picture. Against it,
// the way a reader without a walk to go on from does the same: a whole probe of the grown file and a
// reader opened on all of it. Each figure is the median over VELMORA_BENCH_ROUNDS fragments (default
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
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

std::vector<PlayerSegment> U_Segments(const AssetRef& asset) {
  std::vector<PlayerSegment> out;
  for (const AssetTrackSegment& s : asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo)).value(0)->segments())
    out.push_back({s.sourcePath, s.timeMapping.source, s.timeMapping.target, s.sourceByteLimit});
  return out;
}

// Waits until the decoder has queued a picture at or after `after` (or reached its end).
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
        if (unit.picture && MediaTimeCompare(unit.itemTime, after) >= 0) return true;
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

bool U_Append(const QString& from, const QString& to, int64_t begin, int64_t end) {
  QFile in(from), out(to);
  if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::Append) || !in.seek(begin)) return false;
  const QByteArray bytes = in.read(end - begin);
  return out.write(bytes) == bytes.size() && out.flush();
}

void U_Figure(int minutes, int rounds) {
  const QString movie = Bench_RecordingOfMinutes(minutes);
  if (movie.isEmpty()) return;
  std::vector<int64_t> moofs;
  {
    const int fd = ::open(QFile::encodeName(movie).constData(), O_RDONLY);
    MovieFileSource source(fd);
    moofs = Asset_FinishedFragmentIndex(source);
    ::close(fd);
  }
  if (int(moofs.size()) < rounds + 2) return;
  // The recording as it stood `rounds` fragments before its end.
  const QString growing = QFileInfo(movie).path() + QStringLiteral("/growing.mp4");
  QFile::remove(growing);
  if (!QFile::copy(movie, growing) || !QFile::resize(growing, moofs[moofs.size() - 1 - rounds])) return;
  auto asset = FragmentedAsset::fragmentedAssetWithPath(growing);
  asset->tracks();
  Decoder decoder(MediaType::Video, U_Segments(asset));
  Waiter waiter(decoder);
  decoder.seek(asset->duration(), kMediaTimeZero);  // at the end, as a player showing the live edge
  std::vector<double> ours, peer, refreshes;
  for (int r = 0; r < rounds; ++r) {
    const size_t next = moofs.size() - 1 - rounds + r;
    if (!waiter.drain()) std::fprintf(stderr, "the decoder did not reach the end\n");
    const MediaTime oldEnd = asset->duration();
    if (!U_Append(movie, growing, moofs[next], moofs[next + 1])) return;
    QElapsedTimer timer;
    timer.start();
    asset->refresh();
    refreshes.push_back(timer.nsecsElapsed() / 1e6);

    decoder.extendSegments(U_Segments(asset));
    if (!waiter.waitFor(oldEnd)) std::fprintf(stderr, "no new picture after %d min\n", minutes);
    ours.push_back(timer.nsecsElapsed() / 1e6);
    // The same fragment taken up by a whole probe and a reader of the whole grown file.
    timer.restart();
    auto whole = Asset::assetWithPath(growing);
    Decoder fresh(MediaType::Video, U_Segments(whole));
    Waiter freshWaiter(fresh);
    fresh.seek(oldEnd, kMediaTimeZero);
    if (!freshWaiter.waitFor(oldEnd)) std::fprintf(stderr, "no new picture from the whole file\n");
    peer.push_back(timer.nsecsElapsed() / 1e6);
  }
  Bench_PrintFigure("take-up of one new fragment, " + std::to_string(minutes) +
                        "-minute recording (peer: probe and reader of the whole grown file)",
                    Bench_Median(ours), Bench_Median(peer), " ms");
  std::printf("  of which the asset's refresh: %.3f ms; whole probes during the take-ups: %d\n", Bench_Median(refreshes),
              asset->fullProbes() - 1);
  QFile::remove(growing);
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
