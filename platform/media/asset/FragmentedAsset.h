#pragma once
// A movie that is still being written in fragments. It reads up to its last complete fragment; each
// refresh re-reads the file and, when the movie has grown, posts the duration-change notification.

#include "platform/media/asset/Asset.h"

// Posted (object: the asset) on the refreshing thread when a refresh finds a new duration.
inline constexpr const char* kFragmentedAssetDurationDidChangeNotification = "AVAssetDurationDidChangeNotification";

class FragmentedAsset : public Asset {
 public:
  static std::shared_ptr<FragmentedAsset> fragmentedAssetWithURL(const QUrl& url);
  static std::shared_ptr<FragmentedAsset> fragmentedAssetWithPath(const QString& path);

  // Re-reads the file now (on the calling thread). Answers whether the duration changed.
  bool refresh();

 private:
  explicit FragmentedAsset(const QUrl& url) : Asset(url) {}
};

using FragmentedAssetRef = std::shared_ptr<FragmentedAsset>;
