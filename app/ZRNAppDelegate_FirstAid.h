#pragma once
// The delegate's side of first aid: the crash check at launch, the First Aid window, and what its
// actions do to the launch (the normal start follows Cancel and the log actions; a reset ends the run
// and the relaunch tool starts Velmora again).

#include "firstaid/CrashLock.h"
#include "firstaid/FirstAidLogs.h"

class ZRNAppDelegate;

// At the end of did-finish-launching: first aid after a crash (counted) or with Ctrl+Alt held, else the
// normal start.
void U_CheckForPreviousCrash(ZRNAppDelegate* delegate);
void doSpecialApplicationStartup_YES(ZRNAppDelegate* delegate);
void doSpecialApplicationStartup_NO(ZRNAppDelegate* delegate);
// The window from the menu: reset preselected, nothing follows Cancel.
void showFirstAidWindow(ZRNAppDelegate* delegate);
// Runs the window; afterwards the locks of copies no longer running go, whatever was chosen.
void showFirstAidWindowForAppStartup(ZRNAppDelegate* delegate, bool atLaunch, bool afterCrash);
// The actions. The archive and the mail are made on a worker; at launch the normal start follows on the
// main thread once they are done.
void U_CreateCrashLogsZip(ZRNAppDelegate* delegate, bool atLaunch);
void U_EmailOurCrashLogs(ZRNAppDelegate* delegate, const QString& userText, bool cleanUp, bool atLaunch);
void U_ClearPrefsAndRelaunchApp(ZRNAppDelegate* delegate);
