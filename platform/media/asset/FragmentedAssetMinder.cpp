#include "platform/media/asset/FragmentedAssetMinder.h"

#include "platform/foundation/DispatchQueue.h"

#include <QTimer>

#include <cmath>

FragmentedAssetMinder::FragmentedAssetMinder(FragmentedAssetRef asset, double mindingIntervalSeconds, QObject* parent)
    : QObject(parent),
      m_asset(std::move(asset)),
      m_timer(new QTimer(this)),
      m_queue(DispatchQueue::create(QStringLiteral("org.velmora.fragment-minder"))) {
  connect(m_timer, &QTimer::timeout, this, &FragmentedAssetMinder::U_Mind);
  setMindingInterval(mindingIntervalSeconds);
}

FragmentedAssetMinder::~FragmentedAssetMinder() { m_timer->stop(); }

void FragmentedAssetMinder::setMindingInterval(double seconds) {
  m_interval = std::isfinite(seconds) && seconds > 0 ? seconds : 1.0;
  m_timer->start(static_cast<int>(std::lround(m_interval * 1000.0)));
}

void FragmentedAssetMinder::U_Mind() {
  // A slow disk never piles refreshes up: one at a time.
  if (!m_asset || m_busy->exchange(true)) return;
  m_queue->async([asset = m_asset, busy = m_busy, changes = m_changes] {
    if (asset->refresh()) changes->fetch_add(1);
    busy->store(false);
  });
}
