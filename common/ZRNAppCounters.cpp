#include "common/ZRNAppCounters.h"

#include "platform/foundation/UserDefaults.h"

namespace {
const QString kNumLaunches = QStringLiteral("numLaunches");
const QString kNumFirstAids = QStringLiteral("numFirstAids");
const QString kNumExports = QStringLiteral("numExports");
}  // namespace

ZRNAppCounters::ZRNAppCounters() : m_numLaunches(-1), m_numFirstAids(-1), m_numExports(-1) {}

ZRNAppCounters* ZRNAppCounters::sharedAppCounters() {
  static ZRNAppCounters* shared = new ZRNAppCounters();
  return shared;
}

void ZRNAppCounters::reset() {
  m_numLaunches = -1;
  m_numFirstAids = 0;
  m_numExports = 0;
}

void ZRNAppCounters::saveToDisk() const {
  UserDefaults& defaults = UserDefaults::standard();
  defaults.setObject(QString::fromLatin1(kZRNAppCountersKey), dictionaryToSave());
  defaults.synchronize();
}

void ZRNAppCounters::loadFromDictionary(const QVariantMap& dictionary) {
  // Stored numbers are 32-bit; a wider one keeps its low 32 bits, as a 32-bit read of it would.
  if (dictionary.contains(kNumLaunches)) m_numLaunches = static_cast<int32_t>(dictionary.value(kNumLaunches).toLongLong());
  if (dictionary.contains(kNumFirstAids)) m_numFirstAids = static_cast<int32_t>(dictionary.value(kNumFirstAids).toLongLong());
  if (dictionary.contains(kNumExports)) m_numExports = static_cast<int32_t>(dictionary.value(kNumExports).toLongLong());
}

QVariantMap ZRNAppCounters::dictionaryToSave() const {
  return QVariantMap{{kNumLaunches, m_numLaunches},
                     {kNumFirstAids, m_numFirstAids},
                     {kNumExports, m_numExports}};
}
