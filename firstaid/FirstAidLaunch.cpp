#include "firstaid/FirstAidLaunch.h"

#include "app/ZRNAppCounters.h"
#include "app/ZRNAppPrefs.h"

namespace {
// The preferences keep no state of their own, so a stand-in reads and writes the same values when the
// launch has not made the shared object (tools, tests).
template <typename Fn>
void withPrefs(Fn fn) {
  if (gZRNAppPrefs) {
    fn(*gZRNAppPrefs);
  } else {
    ZRNAppPrefs prefs;
    fn(prefs);
  }
}
}  // namespace

void FirstAid_CountNormalLaunch() {
  ZRNAppCounters* counters = ZRNAppCounters::sharedAppCounters();
  const int32_t launches = counters->numLaunches();
  if (launches > 0) counters->setNumLaunches(launches + 1);
  counters->saveToDisk();
  withPrefs([](ZRNAppPrefs& prefs) { prefs.updateNumberOfRunsCurrent(); });
}

void FirstAid_CountFirstAid() {
  ZRNAppCounters* counters = ZRNAppCounters::sharedAppCounters();
  counters->setNumFirstAids(counters->numFirstAids() + 1);
  counters->saveToDisk();
  withPrefs([](ZRNAppPrefs& prefs) { prefs.updateNumberOfCrashes(); });
}
