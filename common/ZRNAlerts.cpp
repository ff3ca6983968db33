#include "common/ZRNAlerts.h"

#include "common/ZRNAlertWindowController.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/gui/DialogRunner.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <mutex>

namespace {

struct AlertRow {
  int alertID;
  const char* mainText;
  const char* explainText;  // nullptr: none
  bool mainHasParams;
  bool explainHasParams;
  const char* okTitle;
  const char* cancelTitle;  // nullptr: no Cancel button
  int otherResult;          // 0: none
  bool runAsSheet;
  bool cancelIsDefault = false;  // Return answers Cancel: the first button would lose what the user made
  unsigned alertType = kAlertTypeWarning;
  bool cancelRemoves = false;  // the second button removes something: Escape and closing do not answer it
};

constexpr int kOther = 9001;
constexpr int kAlertFileNotShown = 20044;
constexpr int kAlertFolderNotShown = 20045;

// Button titles are listed for the "ZRNErrors" translation table; the texts stay as written.
#define ZRN_TITLE(text) QT_TRANSLATE_NOOP("ZRNErrors", text)

const AlertRow kRows[] = {
    {20001, "Do you really want to stop recording?", "This will end the current session.", false, false,
     ZRN_TITLE("Stop"), ZRN_TITLE("Cancel"), kOther, true},
    {20002, "Do you really want to stop recording?",
     "Stopping the recording will end the current session and abort the export in progress.", false, false,
     ZRN_TITLE("Stop"), ZRN_TITLE("Cancel"), kOther, true},
    {20003, "Do you really want to stop recording?",
     "Stopping the recording will end the current session and abort all pending exports.", false, false,
     ZRN_TITLE("Stop"), ZRN_TITLE("Cancel"), kOther, true},
    {20004, "Closing the window will end the current recording session.", nullptr, false, false,
     ZRN_TITLE("Close"), ZRN_TITLE("Cancel"), kOther, true},
    {20005, "Closing the window will end the current recording session and abort the export in progress.",
     nullptr, false, false, ZRN_TITLE("Close"), ZRN_TITLE("Cancel"), kOther, true},
    {20006, "Closing the window will end the current recording session and abort all pending exports.",
     nullptr, false, false, ZRN_TITLE("Close"), ZRN_TITLE("Cancel"), kOther, true},
    {20007, "There is a recording session in progress.\nDo you really want to quit?", nullptr, false, false,
     ZRN_TITLE("Save & Quit"), ZRN_TITLE("Continue Recording"), kOther, false},
    {20008, "Quitting Velmora will end the current recording session and abort the export in progress.",
     nullptr, false, false, ZRN_TITLE("Save & Quit"), ZRN_TITLE("Cancel"), 0, true},
    {20009, "Quitting Velmora will end the current recording session and abort all pending exports.", nullptr,
     false, false, ZRN_TITLE("Save & Quit"), ZRN_TITLE("Cancel"), 0, true},
    {20011, "You are about to reset the program settings to their default values.",
     "Any changes you've made and any values you may have entered will be lost.", false, false,
     ZRN_TITLE("Continue"), ZRN_TITLE("Cancel"), 0, false},
    {20013, "There was a problem opening '%@'.", "The item will be removed from the Recents menu.", true, false,
     ZRN_TITLE("OK"), nullptr, 0, false},
    {20014, "File '%@' is damaged and cannot be opened.", nullptr, true, false, ZRN_TITLE("OK"), nullptr, 0,
     false},
    {20015, "To start a new Live session you must allow Velmora to access the camera.",
     "The program will not have access to the camera until it is quit.", false, false,
     ZRN_TITLE("Quit & Go to Settings"), ZRN_TITLE("Not Now"), 0, false},
    {20016, "Allow Velmora to access the microphone?",
     "Otherwise you will not be able to record sound during a capture session.", false, false,
     ZRN_TITLE("Give Access"), ZRN_TITLE("Not Now"), 0, false},
    {20017, "To setup a video source you must allow Velmora to access the camera.",
     "The program will not have access to the camera until it is restarted.", false, false,
     ZRN_TITLE("Quit & Go to Settings"), ZRN_TITLE("Not Now"), 0, false},
    {20018, "To setup an audio source you must allow Velmora to access the microphone.",
     "The program will not have access to the microphone until it is restarted.", false, false,
     ZRN_TITLE("Quit & Go to Settings"), ZRN_TITLE("Not Now"), 0, false},
    {20019, "The program does not allow for audio capture without a selected camera source.",
     "Please setup your video source and then try again.", false, false, ZRN_TITLE("OK"), nullptr, 0, false},
    {20020, "There is an export in progress.",
     "Are you sure you want to Quit Velmora? Quitting will abort the export.", false, false, ZRN_TITLE("Quit"),
     ZRN_TITLE("Cancel"), 0, false},
    {20021, "There are exports in progress.",
     "Are you sure you want to Quit Velmora? Quitting will abort all pending exports.", false, false,
     ZRN_TITLE("Quit"), ZRN_TITLE("Cancel"), 0, false},
    {20022, "There is an export in progress.",
     "Are you sure you want to close the window? Closing the window now will abort the export.", false, false,
     ZRN_TITLE("Close"), ZRN_TITLE("Don't Close"), 0, false},
    {20023, "There are exports in progress.",
     "Are you sure you want to close the window? Closing the window now will abort all pending exports.", false,
     false, ZRN_TITLE("Close"), ZRN_TITLE("Don't Close"), 0, false},
    {20024, "Velmora can't show \"%@\" in its folder.", "The file has moved since you exported it.", true, true,
     ZRN_TITLE("OK"), ZRN_TITLE("Remove Job"), 0, false, false, kAlertTypeWarning, true},
    {20025, "Velmora can't show \"%@\" in its folder.", "The folder has moved since you exported it.", true,
     true, ZRN_TITLE("OK"), ZRN_TITLE("Remove Job"), 0, false, false, kAlertTypeWarning, true},
    {20027, "File \"%@\" needs to be converted to the new Velmora format.",
     "The new version will replace the old file permanently.", true, false, ZRN_TITLE("Convert"),
     ZRN_TITLE("Cancel"), 0, false},
    // The explanation carries the error's text, so it takes an argument too.
    {20028, "Conversion to the new file format failed.", "Error: %@", true, true, ZRN_TITLE("OK"), nullptr, 0,
     false},
    {20029, "File \"%@\" already exists.", "Do you want to overwrite it?", true, false, ZRN_TITLE("Overwrite"),
     ZRN_TITLE("Cancel"), 0, true},
    {20030, "You are running on battery power and recording takes a lot of energy.", "Do you want to continue?",
     true, false, ZRN_TITLE("Continue"), ZRN_TITLE("Cancel"), 0, true},
    // A recording that ended by itself because its movie could not be written; the argument is the reason.
    {20031, "The recording was stopped because the movie could not be written.",
     "Everything recorded up to the last few seconds has been kept.\nReason: %@", false, true, ZRN_TITLE("OK"),
     nullptr, 0, false},
    // The recording could not begin at all (no session package); the argument is the reason.
    {20032, "The recording could not be started.", "Nothing was recorded.\nReason: %@", false, true, ZRN_TITLE("OK"),
     nullptr, 0, false},
    // Closing a playback window whose marks could not be saved; the argument is the session's name.
    {20033, "The marks of \"%@\" could not be saved.",
     "If you close the window now, the marks made since the session was opened will be lost.", true, false,
     ZRN_TITLE("Close"), ZRN_TITLE("Cancel"), 0, false, true},
    // A session the user may not read; the arguments are its name and the system's reason.
    {20034, "\"%@\" cannot be read.", "Velmora may not open it: %@.", true, true, ZRN_TITLE("OK"), nullptr, 0, false},
    // Told once at the start whose preferences file was damaged; the argument is where the old file was kept.
    {20035, "Velmora's preferences were reset.",
     "The preferences file could not be read, so Velmora started with its original settings. The old file was kept "
     "as \"%@\".",
     false, true, ZRN_TITLE("OK"), nullptr, 0, false},
    // Told once at the start whose preferences file cannot be read at all; the argument names it and says why.
    {20036, "Velmora cannot read its preferences file.",
     "%@\nVelmora starts with its original settings and leaves the file as it is; changes you make now will not be "
     "kept.",
     false, true, ZRN_TITLE("OK"), nullptr, 0, false},
    // First aid's saved logs: where they are (the argument), and why they are not on the Desktop or not whole.
    {20040, "The crash logs were saved as \"%@\".", nullptr, true, false, ZRN_TITLE("OK"), nullptr, 0, false, false,
     kAlertTypeInformational},
    {20041, "The crash logs are kept in \"%@\".", "They could not be put on the Desktop: %@", true, true,
     ZRN_TITLE("OK"), nullptr, 0, false},
    {20042, "The crash logs could not be saved. What was written is kept in \"%@\".", "Reason: %@", true, true,
     ZRN_TITLE("OK"), nullptr, 0, false},
    // 20033 asked by Quit: the same marks, lost by quitting instead of closing.
    {20043, "The marks of \"%@\" could not be saved.",
     "If you quit Velmora now, the marks made since the session was opened will be lost.", true, false,
     ZRN_TITLE("Quit"), ZRN_TITLE("Cancel"), 0, false, true},
    // The desktop did not take a hand-off. The argument names the item; the explanation's argument is where
    // it is, for the user to go there himself.
    {20044, "\u201C%@\u201D cannot be shown in its folder.", "No file manager answered. The file is here:\n%@", true,
     true, ZRN_TITLE("OK"), nullptr, 0, false},
    {20045, "\u201C%@\u201D cannot be shown in its folder.", "No file manager answered. The folder is here:\n%@", true,
     true, ZRN_TITLE("OK"), nullptr, 0, false},
    {20046, "\u201C%@\u201D cannot be opened.", "No program on this desktop opens it. The file is here:\n%@", true,
     true, ZRN_TITLE("OK"), nullptr, 0, false},
    {20047, "\u201C%@\u201D cannot be opened.", "No web browser on this desktop opens it. The address is:\n%@", true,
     true, ZRN_TITLE("OK"), nullptr, 0, false},
    // The crash report's e-mail: the argument is the support address, the explanation's the reason, then
    // (20049) the address again and where the saved logs are.
    {20048, "The email to %@ cannot be prepared.", "%@", true, true, ZRN_TITLE("OK"), nullptr, 0, false},
    {20049, "The email to %@ cannot be prepared.", "%@ The crash logs are saved here; please send them to %@:\n%@",
     true, true, ZRN_TITLE("OK"), nullptr, 0, false},
    // Told once in a run, at the first write of the preferences that fails; the argument names the file and
    // says why.
    {20050, "Velmora cannot write its preferences file.",
     "%@\nVelmora goes on with the settings it has; changes you make now will not be kept.", false, true,
     ZRN_TITLE("OK"), nullptr, 0, false},
    // An export job that made no file (it failed or was cancelled): the file it was to make (the argument) and why.
    {20051, "\"%@\" was not exported.", "Reason: %@", true, true, ZRN_TITLE("OK"), ZRN_TITLE("Remove Job"), 0, false,
     false, kAlertTypeWarning, true},
    // Told once in a run, at the start that could not write its crash lock; the arguments are the lock folder
    // and why it cannot be used.
    {20052, "Velmora will not notice if it crashes.",
     "The crash lock cannot be kept in \"%@\": %@\nUntil this is mended, a crash or a forced quit goes unnoticed at "
     "the next start, and First Aid is not offered.",
     false, true, ZRN_TITLE("OK"), nullptr, 0, false},
    // A session whose recording was stopped before its first picture: its movie is empty, not damaged. The
    // argument is the session's name.
    {20053, "Nothing was recorded in '%@'.",
     "The recording was stopped before its first picture, so there is nothing to play. The session is left as it "
     "is, with any marks it holds.",
     true, false, ZRN_TITLE("OK"), nullptr, 0, false, false, kAlertTypeInformational},
    // An old session folder converted into its package that held more than the conversion read: the folder
    // (the argument) stays with those items (the explanation's argument).
    {20054, "The old session folder \u201C%@\u201D was kept.",
     "The session was converted into its new package. Only the settings and segments that were converted were "
     "removed from the folder; it still holds what the session does not use:\n%@",
     true, true, ZRN_TITLE("OK"), nullptr, 0, false, false, kAlertTypeInformational},
};

#undef ZRN_TITLE

QString key(const char* name) { return QString::fromLatin1(name); }

QVariantMap entryFromRow(const AlertRow& row) {
  QVariantMap entry;
  entry.insert(key(kAlertKeyID), row.alertID);
  entry.insert(key(kAlertKeyMainString), QString::fromUtf8(row.mainText));
  if (row.explainText) entry.insert(key(kAlertKeyExplainString), QString::fromUtf8(row.explainText));
  if (row.mainHasParams) entry.insert(key(kAlertKeyMainHasParams), true);
  if (row.explainHasParams) entry.insert(key(kAlertKeyExplainHasParams), true);
  entry.insert(key(kAlertKeyOKTitle), QString::fromUtf8(row.okTitle));
  if (row.cancelTitle) entry.insert(key(kAlertKeyCancelTitle), QString::fromUtf8(row.cancelTitle));
  if (row.otherResult) entry.insert(key(kAlertKeyOtherResult), row.otherResult);
  if (row.runAsSheet) entry.insert(key(kAlertKeyRunAsSheet), true);
  if (row.cancelIsDefault) entry.insert(key(kAlertKeyCancelIsDefault), true);
  if (row.cancelRemoves) entry.insert(key(kAlertKeyCancelRemoves), true);
  if (row.alertType != kAlertTypeWarning) entry.insert(key(kAlertKeyAlertType), row.alertType);
  if (row.alertID == 20013) {
    entry.insert(key(kAlertKeyHasNoShowAgain), true);
    entry.insert(key(kAlertKeyBeepWhenNoShow), true);
    entry.insert(key(kAlertKeyWarningKey), QStringLiteral("ZrnOpen_RecentDocErr"));
  }
  return entry;
}

std::once_flag gTableOnce;
QList<QVariantMap>* gTable = nullptr;

// The explanation filled with its argument, or with each item of a list in turn.
QString explanationWith(const QString& format, const QVariant& argument) {
  if (argument.typeId() != QMetaType::QVariantList && argument.typeId() != QMetaType::QStringList)
    return Fmt(format, argument);
  const QVariantList items = argument.toList();
  switch (items.size()) {
    case 0: return Fmt(format, QVariant());
    case 1: return Fmt(format, items[0]);
    case 2: return Fmt(format, items[0], items[1]);
    default: return Fmt(format, items[0], items[1], items[2]);
  }
}

// A dialog that ended without one of its own codes (its event loop was ended from outside) counts as
// cancelled.
int normalizedResult(int result) { return result == 0 ? kDialogResultCancel : result; }

}  // namespace

void Alert_BuildAlertTable() {
  std::call_once(gTableOnce, [] {
    auto* table = new QList<QVariantMap>();
    for (const AlertRow& row : kRows) table->append(entryFromRow(row));
    gTable = table;
  });
}

const QList<QVariantMap>& Alert_AlertTable() {
  Alert_BuildAlertTable();
  return *gTable;
}

std::optional<QVariantMap> Alert_EntryForID(int alertID) {
  for (const QVariantMap& entry : Alert_AlertTable()) {
    if (entry.value(key(kAlertKeyID)).toInt() == alertID) return entry;
  }
  return std::nullopt;
}

QString Alert_LocalizedTitle(const QString& title) {
  if (title.isEmpty()) return title;
  const QByteArray source = title.toUtf8();
  return QCoreApplication::translate("ZRNErrors", source.constData());
}

std::unique_ptr<ZRNAlertWindowController> Alert_MakeAlertController(const QVariantMap& entry,
                                                                    const QVariant& argument,
                                                                    const QVariant& explainArgument) {
  QString mainText = entry.value(key(kAlertKeyMainString)).toString();
  QString explainText = entry.value(key(kAlertKeyExplainString)).toString();
  const bool mainHasParams = entry.value(key(kAlertKeyMainHasParams)).toBool();
  const bool explainHasParams = entry.value(key(kAlertKeyExplainHasParams)).toBool();
  QString okTitle = entry.value(key(kAlertKeyOKTitle)).toString();
  if (okTitle.isEmpty()) okTitle = QStringLiteral("OK");
  okTitle = Alert_LocalizedTitle(okTitle);
  const QString cancelTitle = Alert_LocalizedTitle(entry.value(key(kAlertKeyCancelTitle)).toString());
  const QString otherTitle = Alert_LocalizedTitle(entry.value(key(kAlertKeyOtherTitle)).toString());
  const QString windowTitle = entry.value(key(kAlertKeyWindowTitle)).toString();

  // The argument is only ever a value put into a format: Fmt never treats it as a format itself.
  if (mainHasParams && !mainText.isEmpty()) mainText = Fmt(mainText, argument);
  if (explainHasParams && !explainText.isEmpty()) {
    explainText = explanationWith(explainText, explainArgument.isValid() ? explainArgument : argument);
  }

  auto controller = std::make_unique<ZRNAlertWindowController>(entry);
  controller->setupWithText(Gui_DialogMessageHTML(mainText, explainText));
  controller->setupWithOKText(okTitle, cancelTitle, otherTitle);
  if (!windowTitle.isEmpty()) controller->setWindowTitle(windowTitle);
  return controller;
}

int Alert_ShowAlertWithID(int alertID, const QVariant& argument, const QVariant& explainArgument) {
  if (!Dispatch_IsMainThread()) {
    // Windows live on the main thread only; a caller on another thread waits for the answer.
    int result = kAlertResultUnknownID;
    Dispatch_MainSync([&] { result = Alert_ShowAlertWithID(alertID, argument, explainArgument); });
    return result;
  }
  const std::optional<QVariantMap> entry = Alert_EntryForID(alertID);
  if (!entry) {
    ZRNLogger_Log(QStringLiteral("ERR: Alert_ShowAlertWithID: no alert with ID %ld"), static_cast<long>(alertID));
    return kAlertResultUnknownID;
  }
  ZRNLogger_Log(QStringLiteral("alert %ld"), static_cast<long>(alertID));
  // Alerts cannot be hidden by the user in this application: the entries' hiding flags are not read.
  std::unique_ptr<ZRNAlertWindowController> controller = Alert_MakeAlertController(*entry, argument, explainArgument);
  return Alert_RunAlertModal(controller.get());
}

void Alert_ShowHandOffFailure(int alertID, const QVariant& argument, const QVariant& explainArgument) {
  if (!Dispatch_IsMainThread()) {
    Dispatch_MainAsync([alertID, argument, explainArgument] { Alert_ShowHandOffFailure(alertID, argument, explainArgument); });
    return;
  }
  const std::optional<QVariantMap> entry = Alert_EntryForID(alertID);
  if (!entry) {
    ZRNLogger_Log(QStringLiteral("ERR: Alert_ShowHandOffFailure: no alert with ID %ld"), static_cast<long>(alertID));
    return;
  }
  ZRNLogger_Log(QStringLiteral("ATT: alert %ld: %@ (%@)"), static_cast<long>(alertID), argument, explainArgument);
  std::unique_ptr<ZRNAlertWindowController> controller = Alert_MakeAlertController(*entry, argument, explainArgument);
  controller->setObjectName(QStringLiteral("handOffFailureAlert"));
  Alert_RunAlertModal(controller.get());
}

bool Alert_RevealInFolder(const QString& path, bool isFolder) {
  bool shown = false;
  if (!File_RevealInFinder(path, isFolder, &shown)) return false;
  if (!shown) Alert_TellRevealFailed(path, isFolder);
  return true;
}

void Alert_TellRevealFailed(const QString& path, bool isFolder) {
  const QString name = QFileInfo(path).fileName();
  Dispatch_MainAsync([path, name, isFolder] {
    Alert_ShowHandOffFailure(isFolder ? kAlertFolderNotShown : kAlertFileNotShown, name, path);
  });
}

int Alert_RunAlertModal(ZRNBaseDialogWindowController* controller) {
  if (!controller) return kDialogResultCancel;
  const int result = Gui_RunApplicationModal(controller);
  controller->close();
  // An alert ended from outside (termination) answers as Escape does: never with a button that removes.
  if (auto* alert = qobject_cast<ZRNAlertWindowController*>(controller); alert && result == 0) return alert->dismissResult();
  return normalizedResult(result);
}

void Alert_RunAlertSheet(ZRNBaseDialogWindowController* controller, QWidget* parent,
                         std::function<void(int)> completion) {
  if (!controller) return;
  Gui_RunSheet(controller, parent, [completion = std::move(completion)](int result) {
    if (completion) completion(normalizedResult(result));
  });
}
