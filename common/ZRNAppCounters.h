#pragma once
// Usage counters kept in the user defaults under "ZRNAppCounters".
//
// The shared object starts every run at -1 and nothing reads the stored dictionary back at launch, so each
// save replaces what earlier runs stored with this run's values.

#include <QVariantMap>

#include <cstdint>

class ZRNAppCounters {
 public:
  ZRNAppCounters();
  static ZRNAppCounters* sharedAppCounters();

  int32_t numLaunches() const { return m_numLaunches; }
  void setNumLaunches(int32_t value) { m_numLaunches = value; }
  int32_t numFirstAids() const { return m_numFirstAids; }
  void setNumFirstAids(int32_t value) { m_numFirstAids = value; }
  int32_t numExports() const { return m_numExports; }
  void setNumExports(int32_t value) { m_numExports = value; }

  void reset();
  void saveToDisk() const;
  // Takes each counter whose key is present; absent keys leave the counter as it is.
  void loadFromDictionary(const QVariantMap& dictionary);
  QVariantMap dictionaryToSave() const;

 private:
  // Touched on the main thread only.
  int32_t m_numLaunches;
  int32_t m_numFirstAids;
  int32_t m_numExports;
};

inline const char* const kZRNAppCountersKey = "ZRNAppCounters";
