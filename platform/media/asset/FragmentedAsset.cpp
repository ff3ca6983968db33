#include "platform/media/asset/FragmentedAsset.h"
#include "platform/media/asset/AssetTiming.h"

#include "platform/foundation/NotificationCenter.h"

#include <QFile>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

std::shared_ptr<FragmentedAsset> FragmentedAsset::fragmentedAssetWithURL(const QUrl& url) {
  return std::shared_ptr<FragmentedAsset>(new FragmentedAsset(url));
}

std::shared_ptr<FragmentedAsset> FragmentedAsset::fragmentedAssetWithPath(const QString& path) {
  return fragmentedAssetWithURL(QUrl::fromLocalFile(path));
}

int FragmentedAsset::fullProbes() const {
  std::lock_guard lock(m_walkMutex);
  return m_fullProbes;
}

void FragmentedAsset::probe() const {
  std::lock_guard lock(m_walkMutex);
  U_ProbeWhole();
}

void FragmentedAsset::U_ProbeWhole() const {
  ++m_fullProbes;
  struct stat st {};
  const QString path = URL().toLocalFile();
  const bool known = ::stat(QFile::encodeName(path).constData(), &st) == 0;
  const bool finished = probeFile(&m_walk).finished;
  // A finished movie has no walk to go on from: a later refresh probes it whole again.
  m_device = known && !finished ? uint64_t(st.st_dev) : 0;
  m_inode = known && !finished ? uint64_t(st.st_ino) : 0;
  m_walkedEnds = m_walk.trackEnds();
}

bool FragmentedAsset::U_TakeUpGrowth() {
  const ProbeResult known = probeResult();
  if (!known.done || !known.ok || known.timings.empty() || !m_walk.knowsTrackEnds() || m_device == 0) return false;
  const QString path = URL().toLocalFile();
  struct stat st {};
  const int fd = Asset_OpenMovieFile(path, nullptr, &st);
  if (fd < 0) return false;
  bool same = uint64_t(st.st_dev) == m_device && uint64_t(st.st_ino) == m_inode;
  const int64_t before = m_walk.layout().readableLength;
  if (same) {
    MovieFileSource source(fd, st.st_size);
    same = m_walk.walkOn(source) && m_walk.knowsTrackEnds();
  }
  ::close(fd);
  if (!same) return false;
  if (m_walk.layout().readableLength == before) return true;  // nothing new
  ProbeResult grown = known;
  grown.byteLimit = m_walk.layout().readableLength;
  grown.containsFragments = m_walk.layout().completeFragments > 0;
  grown.readablePart = U_WalkedPart(m_walk.layout());
  grown.tracks.clear();
  grown.duration = kMediaTimeZero;
  for (AssetProbeTiming& timing : grown.timings) {
    const auto now = m_walk.trackEnds().find(timing.trackID);
    const auto then = m_walkedEnds.find(timing.trackID);
    if (now == m_walk.trackEnds().end() || then == m_walkedEnds.end() || now->second < then->second) return false;
    // Numbers no movie reaches (a damaged fragment header) are left to a whole probe.
    if (now->second - then->second > INT64_MAX / 4 - timing.duration || timing.start > INT64_MAX / 4) return false;
    // libavformat's length of a fragmented track is where its last fragment's samples end: it moves by
    // exactly what the new fragments add.
    timing.duration += now->second - then->second;
  }
  for (const AssetTrackRef& track : known.tracks) {
    const auto timing = std::find_if(grown.timings.begin(), grown.timings.end(),
                                     [&](const AssetProbeTiming& t) { return t.streamIndex == track->streamIndex(); });
    if (timing == grown.timings.end()) return false;
    auto copy = AssetTrackRef(new AssetTrack(*track));
    copy->m_sourceByteLimit = grown.byteLimit;
    const MediaTime end = MediaTimeMake(std::max<int64_t>(0, timing->start) + timing->duration, timing->timescale);
    copy->m_timeRange = MediaTimeRangeMake(kMediaTimeZero, end);
    grown.duration = MediaTimeMaximum(grown.duration, end);
    grown.tracks.append(copy);
  }
  m_walkedEnds = m_walk.trackEnds();
  setProbeResult(grown);
  Asset_NoteLayout(path, m_device, m_inode, m_walk);
  return true;
}

bool FragmentedAsset::refresh() {
  const ProbeResult before = probeResult();
  {
    std::lock_guard lock(m_walkMutex);
    if (!U_TakeUpGrowth()) U_ProbeWhole();
  }
  const ProbeResult after = probeResult();
  publishProbe(after);
  const bool changed = !before.done || before.duration != after.duration;
  if (changed && before.done)
    NotificationCenter::defaultCenter().post(QString::fromLatin1(kFragmentedAssetDurationDidChangeNotification),
                                             this, {});
  return changed;
}
