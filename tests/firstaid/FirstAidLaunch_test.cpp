#include "firstaid/FirstAidLaunch.h"

#include "common/ZRNAppCounters.h"
#include "common/ZRNAppPrefs.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {
const QString kCounters = QStringLiteral("ZRNAppCounters");

QVariantMap counters(int launches, int firstAids, int exports) {
  return {{QStringLiteral("numLaunches"), launches},
          {QStringLiteral("numFirstAids"), firstAids},
          {QStringLiteral("numExports"), exports}};
}

// What a later run finds on disk.
QVariantMap storedOnDisk() { return PropertyList_ReadFile(StandardLocations::preferencesFilePath()).toMap(); }

// A new run: the defaults are read from the file again and the shared counters start over.
void startNewRun() {
  UserDefaults::resetStandard();
  *ZRNAppCounters::sharedAppCounters() = ZRNAppCounters();
}
}  // namespace

TEST(LaunchCounting, TwoNormalLaunchesStoreThisRunsCountersAndTwoRuns) {
  UserDefaults::resetStandard();
  QFile::remove(StandardLocations::preferencesFilePath());
  // An earlier version's counters are not read back: every run starts at -1 and overwrites them.
  UserDefaults::standard().setObject(kCounters, counters(7, 2, 40));
  UserDefaults::standard().setInteger(QStringLiteral("RunCounterCurrent"), 5);
  UserDefaults::standard().synchronize();

  for (int run = 0; run < 2; ++run) {
    startNewRun();
    FirstAid_CountNormalLaunch();
  }

  const QVariantMap stored = storedOnDisk();
  const QVariantMap storedCounters = stored.value(kCounters).toMap();
  EXPECT_EQ(storedCounters.keys(), counters(0, 0, 0).keys());
  for (const QString& key : storedCounters.keys()) EXPECT_EQ(storedCounters.value(key).toLongLong(), -1) << qPrintable(key);
  EXPECT_EQ(stored.value(QStringLiteral("RunCounterCurrent")).toLongLong(), 7);
}

TEST(LaunchCounting, APositiveLaunchCountGrowsAndAFirstAidIsCounted) {
  startNewRun();
  QFile::remove(StandardLocations::preferencesFilePath());
  startNewRun();
  ZRNAppCounters* shared = ZRNAppCounters::sharedAppCounters();
  shared->loadFromDictionary(counters(3, 0, 1));
  FirstAid_CountNormalLaunch();
  EXPECT_EQ(shared->numLaunches(), 4);
  FirstAid_CountFirstAid();

  startNewRun();
  const QVariantMap stored = storedOnDisk();
  EXPECT_EQ(stored.value(kCounters).toMap().value(QStringLiteral("numLaunches")).toInt(), 4);
  EXPECT_EQ(stored.value(kCounters).toMap().value(QStringLiteral("numFirstAids")).toInt(), 1);
  EXPECT_EQ(stored.value(QStringLiteral("RunCounterCurrent")).toLongLong(), 1);
  EXPECT_EQ(stored.value(QStringLiteral("CrashCounter")).toLongLong(), 1);
}

TEST(LaunchCounting, CountersLoadOnlyThePresentKeysAndResetAsDocumented) {
  ZRNAppCounters loaded;
  loaded.loadFromDictionary({{QStringLiteral("numExports"), 12}, {QStringLiteral("numLaunches"), qint64(0x100000005)}});
  EXPECT_EQ(loaded.dictionaryToSave(), counters(5, -1, 12)) << "absent keys stay -1, wider numbers keep 32 bits";
  loaded.reset();
  EXPECT_EQ(loaded.dictionaryToSave(), counters(-1, 0, 0));
}
