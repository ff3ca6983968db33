#pragma once
// Keeps a fragmented asset up to date while its file grows: at every minding interval the file is
// re-read on the minder's own queue, and the asset posts its duration-change notification
// ("AVAssetDurationDidChangeNotification", object: the asset, on that queue) when a new fragment arrived.
// Made and destroyed on the main thread; no refresh runs after the destructor returns... except one that
// had already started, which only touches the asset (kept alive by that refresh).

#include "platform/media/asset/FragmentedAsset.h"

#include <QObject>

#include <atomic>
#include <memory>

class DispatchQueue;
class QTimer;

class FragmentedAssetMinder : public QObject {
  Q_OBJECT
 public:
  // An interval that is not positive minds once a second.
  FragmentedAssetMinder(FragmentedAssetRef asset, double mindingIntervalSeconds, QObject* parent = nullptr);
  ~FragmentedAssetMinder() override;

  FragmentedAssetRef asset() const { return m_asset; }
  double mindingInterval() const { return m_interval; }
  void setMindingInterval(double seconds);
  // Refreshes that found a longer movie (for the log and the tests).
  int durationChanges() const { return m_changes->load(); }

 private:
  void U_Mind();

  FragmentedAssetRef m_asset;
  double m_interval = 1.0;
  QTimer* m_timer;
  std::shared_ptr<DispatchQueue> m_queue;
  std::shared_ptr<std::atomic<bool>> m_busy = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<std::atomic<int>> m_changes = std::make_shared<std::atomic<int>>(0);
};
