#pragma once
// A movie that is still being written in fragments. It reads up to its last complete fragment; each
// refresh takes up what was appended since the last one and, when the movie has grown, posts the
// duration-change notification. Taking up a fragment reads only that fragment's boxes: the walk over
// the file goes on from where it ended, and the tracks' ends move by what the new fragments add. The
// file is probed afresh only when it is not the one walked any more (replaced, or shorter). The first
// probe reads every fragment header from the disk once: the walk keeps what it read for the demuxer that
// opens the movie next. A movie its writer finished (closed by its fragment index) is not walked at all:
// it opens from that index, as a plain asset does.

#include "platform/media/asset/Asset.h"

#include <map>
#include <mutex>

// Posted (object: the asset) on the refreshing thread when a refresh finds a new duration.
inline constexpr const char* kFragmentedAssetDurationDidChangeNotification = "AVAssetDurationDidChangeNotification";

class FragmentedAsset : public Asset {
 public:
  static std::shared_ptr<FragmentedAsset> fragmentedAssetWithURL(const QUrl& url);
  static std::shared_ptr<FragmentedAsset> fragmentedAssetWithPath(const QString& path);

  // Takes up what the file gained now (on the calling thread). Answers whether the duration changed.
  bool refresh();
  // Refreshes that had to probe the whole file again (for the tests and the benchmarks).
  int fullProbes() const;

 protected:
  void probe() const override;

 private:
  explicit FragmentedAsset(const QUrl& url) : Asset(url) {}
  // The probe's walk and the track ends it found; walked on by refreshes. Called with m_walkMutex held.
  void U_ProbeWhole() const;
  // Takes the growth up from the walk alone; false when only a whole probe can tell.
  bool U_TakeUpGrowth();

  mutable std::mutex m_walkMutex;
  mutable MovieLayoutWalk m_walk;
  mutable std::map<uint32_t, int64_t> m_walkedEnds;  // the walk's track ends the probe's numbers belong to
  mutable uint64_t m_device = 0, m_inode = 0;
  mutable int m_fullProbes = 0;
};

using FragmentedAssetRef = std::shared_ptr<FragmentedAsset>;
