#include "app/ZRNAppDelegate_FirstAid.h"

#include "app/VLConvertLegacySessionWC.h"
#include "app/ZRNAppDelegate.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "firstaid/ZRNFirstAidWindowController.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/system/ProcessIdentity.h"

#include <QPointer>

void U_CheckForPreviousCrash(ZRNAppDelegate* delegate) {
  // Runs that ended without quitting may have left conversion work and their own folder in the temporary
  // folder.
  Dispatch_GlobalAsync([] {
    Legacy_RemoveLeftovers();
    File_RemoveTemporaryFoldersOfEndedRuns();
  });
  switch (FirstAid_CheckForPreviousCrash()) {
    case FirstAidStartup::AfterCrash:
      doSpecialApplicationStartup_YES(delegate);
      break;
    case FirstAidStartup::OnRequest:
      doSpecialApplicationStartup_NO(delegate);
      break;
    case FirstAidStartup::Normal:
      delegate->finishNormalApplicationStartup();
      break;
  }
}

void doSpecialApplicationStartup_YES(ZRNAppDelegate* delegate) { showFirstAidWindowForAppStartup(delegate, true, true); }

void doSpecialApplicationStartup_NO(ZRNAppDelegate* delegate) { showFirstAidWindowForAppStartup(delegate, true, false); }

void showFirstAidWindow(ZRNAppDelegate* delegate) { showFirstAidWindowForAppStartup(delegate, false, false); }

void showFirstAidWindowForAppStartup(ZRNAppDelegate* delegate, bool atLaunch, bool afterCrash) {
  const FirstAidChoice choice = FirstAid_RunWindow(afterCrash);
  U_ClearCrashSemaphore(false, true);
  // Quit (or a termination signal) while the window was up: the run ends, nothing more starts.
  if (delegate->appIsQuitting()) return;
  if (choice.result == kDialogResultFirst) {
    switch (choice.action) {
      case kFirstAid_ActionEmail:
        U_EmailOurCrashLogs(delegate, choice.userText, choice.cleanUp, atLaunch);
        return;
      case kFirstAid_ActionSaveLogs:
        U_CreateCrashLogsZip(delegate, atLaunch);
        return;
      case kFirstAid_ActionReset:
        U_ClearPrefsAndRelaunchApp(delegate);
        return;
    }
    return;
  }
  if (atLaunch) delegate->finishNormalApplicationStartup();
}

void U_CreateCrashLogsZip(ZRNAppDelegate* delegate, bool atLaunch) {
  QPointer<ZRNAppDelegate> guard(delegate);
  Dispatch_GlobalAsync([guard, atLaunch] {
    const FirstAidSavedLogs saved = UU_CreateCrashLogsZip();
    Dispatch_MainAsync([guard, saved, atLaunch] {
      // The user hears where the logs are (or why not) before the start goes on; a run that is quitting
      // has only its log to say it.
      if (!guard || guard->appIsQuitting()) return;
      FirstAid_TellSavedLogs(saved);
      if (atLaunch && guard) guard->finishNormalApplicationStartup();
    });
  });
}

void U_EmailOurCrashLogs(ZRNAppDelegate* delegate, const QString& userText, bool cleanUp, bool atLaunch) {
  QPointer<ZRNAppDelegate> guard(delegate);
  Dispatch_GlobalAsync([guard, userText, cleanUp, atLaunch] {
    const QUrl archive = UU_EmailOurCrashLogs(userText, cleanUp);
    Dispatch_MainAsync([guard, archive, atLaunch] {
      if (!guard) return;
      // Deleted when the application terminates.
      if (!archive.isEmpty()) guard->setLogsForEmailURL(archive);
      if (atLaunch) guard->finishNormalApplicationStartup();
    });
  });
}

void U_ClearPrefsAndRelaunchApp(ZRNAppDelegate* delegate) {
  // The write end of the tool's input stays open on purpose: it closes when this process ends.
  FirstAid_ResetPreferencesAndStartRelaunch(FirstAid_RelaunchToolPath(), Process_OwnExecutable().path);
  delegate->terminate();
}
