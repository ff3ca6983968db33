#include "firstaid/FirstAidLaunch.h"

#include "common/ZRNAppCounters.h"
#include "common/ZRNAppPrefs.h"

void FirstAid_CountNormalLaunch() {
  ZRNAppCounters* counters = ZRNAppCounters::sharedAppCounters();
  const int32_t launches = counters->numLaunches();
  if (launches > 0) counters->setNumLaunches(launches + 1);
  counters->saveToDisk();
  Prefs_Shared().updateNumberOfRunsCurrent();
}

void FirstAid_CountFirstAid() {
  ZRNAppCounters* counters = ZRNAppCounters::sharedAppCounters();
  counters->setNumFirstAids(counters->numFirstAids() + 1);
  counters->saveToDisk();
  Prefs_Shared().updateNumberOfCrashes();
}
