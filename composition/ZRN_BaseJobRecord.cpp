#include "composition/ZRN_BaseJobRecord.h"

ZRN_BaseJobRecord::ZRN_BaseJobRecord() = default;

bool ZRN_BaseJobRecord::cancelled() const {
  std::lock_guard lock(m_lock);
  return m_cancelled;
}

void ZRN_BaseJobRecord::setCancelled(bool cancelled) {
  std::lock_guard lock(m_lock);
  m_cancelled = cancelled;
}
