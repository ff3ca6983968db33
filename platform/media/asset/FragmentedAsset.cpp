#include "platform/media/asset/FragmentedAsset.h"

#include "platform/foundation/NotificationCenter.h"

std::shared_ptr<FragmentedAsset> FragmentedAsset::fragmentedAssetWithURL(const QUrl& url) {
  return std::shared_ptr<FragmentedAsset>(new FragmentedAsset(url));
}

std::shared_ptr<FragmentedAsset> FragmentedAsset::fragmentedAssetWithPath(const QString& path) {
  return fragmentedAssetWithURL(QUrl::fromLocalFile(path));
}

bool FragmentedAsset::refresh() {
  const ProbeResult before = probeResult();
  probe();
  const ProbeResult after = probeResult();
  publishProbe(after);
  const bool changed = !before.done || before.duration != after.duration;
  if (changed && before.done)
    NotificationCenter::defaultCenter().post(QString::fromLatin1(kFragmentedAssetDurationDidChangeNotification),
                                             this, {});
  return changed;
}
