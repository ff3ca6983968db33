#pragma once
// The numbered alerts: one catalogue of entries (texts, button titles, flags) built once, and the
// functions that show an entry and answer which button ended it. Answers: -1000 the first button,
// -1001 Cancel, the entry's "ErrorOtherResult" for a third button. Escape, closing the window and an
// alert ended from outside choose nothing that removes or changes anything: they answer Cancel where
// Cancel keeps things as they are, OK where OK is the only button, and kAlertResultNoAnswer where the
// second button removes something ("ErrorCancelRemoves").
//
// Texts are shown as stored; only the button titles are translated (context "ZRNErrors").

#include <QList>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class QWidget;
class ZRNAlertWindowController;
class ZRNBaseDialogWindowController;

// Keys of a catalogue entry; an absent key counts as NO, empty or 0.
inline constexpr const char* kAlertKeyID = "ErrorID";
inline constexpr const char* kAlertKeyMainString = "ErrorMainString";
inline constexpr const char* kAlertKeyExplainString = "ErrorExplainString";
inline constexpr const char* kAlertKeyMainHasParams = "ErrorMainHasParams";
inline constexpr const char* kAlertKeyExplainHasParams = "ErrorExplainHasParams";
inline constexpr const char* kAlertKeyOKTitle = "ErrorOKTitle";
inline constexpr const char* kAlertKeyHasCancel = "ErrorHasCancel";
inline constexpr const char* kAlertKeyCancelTitle = "ErrorCancelTitle";
inline constexpr const char* kAlertKeyHasOther = "ErrorHasOther";
inline constexpr const char* kAlertKeyOtherTitle = "ErrorOtherTitle";
inline constexpr const char* kAlertKeyOtherResult = "ErrorOtherResult";
inline constexpr const char* kAlertKeyHasNoShowAgain = "ErrorHasNoShowAgain";
inline constexpr const char* kAlertKeyBeepWhenNoShow = "ErrorBeepWhenNoShow";
inline constexpr const char* kAlertKeyWarningKey = "ErrorWarningKey";
inline constexpr const char* kAlertKeyWindowTitle = "ErrorWindowTitle";
inline constexpr const char* kAlertKeyAlertType = "ErrorAlertType";
inline constexpr const char* kAlertKeyRunAsSheet = "ErrorRunAsSheet";
// The Cancel button is the default one (Return answers Cancel, as Escape does): for questions whose first
// button throws away what the user made.
inline constexpr const char* kAlertKeyCancelIsDefault = "ErrorCancelIsDefault";
// The second button removes something ("Remove Job"): only that button may answer it, never Escape or the
// window's closing.
inline constexpr const char* kAlertKeyCancelRemoves = "ErrorCancelRemoves";

// Values of "ErrorAlertType": the icon the alert shows. A warning unless the entry says otherwise.
inline constexpr unsigned kAlertTypeWarning = 0;
inline constexpr unsigned kAlertTypeInformational = 1;

// The answer for an alert ID that the catalogue does not hold: logged, nothing shown.
inline constexpr int kAlertResultUnknownID = -1001;
// The answer of an alert whose second button removes something when it was ended without a button:
// neither button's answer, so the caller keeps things as they are.
inline constexpr int kAlertResultNoAnswer = -1010;

// Builds the catalogue once; later calls do nothing.
void Alert_BuildAlertTable();
// The catalogue in ID order.
const QList<QVariantMap>& Alert_AlertTable();
// The entry with the ID, or nothing.
std::optional<QVariantMap> Alert_EntryForID(int alertID);

// A button title through the "ZRNErrors" table (the title itself when the table has no entry).
QString Alert_LocalizedTitle(const QString& title);

// Shows the alert application-modal and answers its result. The argument fills the texts the entry
// marks as taking one; the explanation takes explainArgument when one is given (alert 20028 passes
// the error's text there), else the argument; a list fills the explanation's placeholders in turn. An
// unknown ID is logged and answers -1001.
int Alert_ShowAlertWithID(int alertID, const QVariant& argument = QVariant(),
                          const QVariant& explainArgument = QVariant());

// The controller of an entry with its texts and buttons set, ready to run.
std::unique_ptr<ZRNAlertWindowController> Alert_MakeAlertController(const QVariantMap& entry,
                                                                    const QVariant& argument = QVariant(),
                                                                    const QVariant& explainArgument = QVariant());

// Tells the user that the desktop did not take a hand-off (opening a file, showing it in its folder,
// preparing an email) with one of the catalogue's alerts for it: its title names what could not be done,
// its explanation why and where the file is, so that the user can go there himself (the text can be
// selected and copied, with the keyboard too). Logged, then shown application-modal on the main thread (a
// caller on another thread does not wait for it). The alert's object name is "handOffFailureAlert".
void Alert_ShowHandOffFailure(int alertID, const QVariant& argument, const QVariant& explainArgument);
// The hand-off failure for an item the desktop would not show in its folder; asked on the next turn of
// the main queue, so that the control that asked has finished its click.
void Alert_TellRevealFailed(const QString& path, bool isFolder);
// Shows the item in its folder (File_RevealInFinder) and tells the user when no file manager took it. NO
// when the item does not exist (nothing is shown or told then).
bool Alert_RevealInFolder(const QString& path, bool isFolder);
// Runs any of the application's dialogs application-modal and answers its result. Main-thread work
// keeps running meanwhile, and a dialog run from inside stacks on this one.
int Alert_RunAlertModal(ZRNBaseDialogWindowController* controller);

// Runs the dialog as a sheet over the parent's window and returns at once; the completion gets the
// result. The sheet owns the controller from here on and deletes it after the completion.
void Alert_RunAlertSheet(ZRNBaseDialogWindowController* controller, QWidget* parent,
                         std::function<void(int)> completion);
