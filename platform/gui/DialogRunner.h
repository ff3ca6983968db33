#pragma once
// Running dialogs the two ways the application needs: application-modal (a nested event loop in which
// queued main-thread work keeps running, so a dialog raised from inside another one stacks on it and
// the first resumes when it ends) and as a sheet (window-modal over a parent window, answered through
// a completion while the caller's code returns at once).

#include <QString>

#include <functional>

class QDialog;
class QObject;
class QWidget;

// Shows the dialog application-modal and answers the code it ended with (QDialog::done). The dialog is
// hidden afterwards but not deleted: the caller owns it. Once termination has begun it answers
// QDialog::Rejected without showing anything, as does a dialog that termination ended.
int Gui_RunApplicationModal(QDialog* dialog);

// Shows the dialog window-modal over the parent's window and returns at once; the completion runs with
// the dialog's code in a turn of the main loop after it has ended (see Gui_HandleDialogResult). The
// dialog is deleted later. A sheet that termination ends never runs its completion; once termination
// has begun nothing is shown, and a completion still waiting does not run.
void Gui_RunSheet(QDialog* dialog, QWidget* parent, std::function<void(int)> completion);

// What a dialog or panel that has just ended leads to is done in a turn of the main loop of its own:
// the dialog is hidden and its pop-ups (a completion list, an open list of a combo box) are closed at
// once, and `work` runs once the signal handler that ended it, and the key or click that ended it, have
// returned. A modal window, an alert or a long step started from inside the dialog's own signal would
// otherwise run under the dialog's event handlers, which touch the dialog (deleted meanwhile) when
// they resume. Nothing runs when `context` (when given) is gone by then, or once termination has begun.
void Gui_HandleDialogResult(QWidget* dialog, QObject* context, std::function<void()> work);

// Termination: every dialog, sheet and panel of the application that is shown ends at once without its
// answer reaching anybody (its finished/accepted/rejected signals stay silent), so a nested event loop
// returns and nothing acts on a choice the user never made. From then on Gui_TerminationRequested()
// answers true for the rest of the process.
void Gui_EndDialogsForTermination();
bool Gui_TerminationRequested();
// For a process whose event loop runs on after a termination (a test run): dialogs show again.
void Gui_ResetTermination();

// The point sizes dialog texts are set in: the standard system size and the small one beside it.
double Gui_StandardFontSize();
double Gui_SmallFontSize();

// The rich text (HTML) of a dialog's message: the title in bold at the standard size; with an
// explanation, two line breaks at 6 points and the explanation at the small size, not bold.
// Line feeds inside the texts become line breaks; nothing in them is taken as markup.
QString Gui_DialogMessageHTML(const QString& title, const QString& explanation);

// Show-or-hide helpers for top-level windows.
bool Gui_IsWindowShown(const QWidget* window);
// Visible and active: hide it. Visible but behind: bring it to the front and activate it. Hidden: show it.
void Gui_ShowOrHideWindow(QWidget* window);
// Hidden: show it. Visible: hide it.
void Gui_ShowOrHidePalette(QWidget* window);
