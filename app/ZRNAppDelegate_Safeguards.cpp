// What the delegate tells or asks so that nothing goes in silence: marks that could not be saved before a
// quit, a preferences file that could not be read at this start, and preferences that cannot be written.

#include "app/ZRNAppDelegate.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNLogger.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/gui/DialogRunner.h"
#include "playback/VLPlaybackWC.h"
#include "playback/VLProgressivePlayWC.h"

namespace {
constexpr int kAlertPreferencesReset = 20035;
constexpr int kAlertPreferencesUnreadable = 20036;
constexpr int kAlertPreferencesNotWritten = 20050;

// The reason names the file at its start; the alert shows that name in quotes, as its other texts do.
QString U_QuotedFileReason(const QString& path, const QString& reason) {
  QString sentence = reason.startsWith(path) ? Fmt("\"%@\"%@", path, reason.mid(path.size())) : Fmt("\"%@\": %@", path, reason);
  if (!sentence.endsWith(QLatin1Char('.'))) sentence += QLatin1Char('.');
  return sentence;
}
}  // namespace

bool ZRNAppDelegate::U_AskAboutUnsavedMarks(QList<QPointer<QWidget>>& agreed) {
  QList<QPointer<QWidget>> windows = m_playbackWindows;
  // The recording's own playback window holds marks too; closing it only hides it, quitting loses them.
  if (m_capturePlaybackWC) windows.append(QPointer<QWidget>(m_capturePlaybackWC.data()));
  for (const QPointer<QWidget>& window : windows) {
    auto* playback = qobject_cast<VLPlaybackWC*>(window.data());
    if (!playback || !playback->hasUnsavedMarks()) continue;
    // The question names the session; its window comes forward so that the user sees which one.
    bringDocWindowToFront(playback);
    if (!playback->U_AskToLoseUnsavedMarks(true)) {
      ZRNLogger_Log(QStringLiteral("quit cancelled: the marks of %@ are not saved"), playback->windowTitle());
      return false;
    }
    // The answer may have let the window go (a termination signal meanwhile): only what is left counts.
    if (window) agreed.append(window);
  }
  return true;
}

void ZRNAppDelegate::U_TellPreferencesFileProblem() {
  // A write that fails later in the run (the folder made read-only, the file replaced by a link) would
  // lose every change made after it without a word: the first one is told. The writer may be any thread,
  // and the alert must not hold it up: it is shown on the main queue.
  UserDefaults::standard().setWriteFailureHandler([](const QString& path, const QString& reason) {
    const QString told = U_QuotedFileReason(path, reason);
    Dispatch_MainAsync([told] {
      if (Gui_TerminationRequested()) return;
      Alert_ShowAlertWithID(kAlertPreferencesNotWritten, QVariant(), told);
    });
  });
  QString path, reason;
  switch (UserDefaults::standard().takeFileProblem(&path, &reason)) {
    case UserDefaults::FileProblem::None:
      return;
    case UserDefaults::FileProblem::SetAside:
      Alert_ShowAlertWithID(kAlertPreferencesReset, QVariant(), path);
      return;
    case UserDefaults::FileProblem::Unreadable:
      Alert_ShowAlertWithID(kAlertPreferencesUnreadable, QVariant(), Fmt("\"%@\": %@.", path, reason));
      return;
  }
}
