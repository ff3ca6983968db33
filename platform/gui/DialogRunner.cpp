#include "platform/gui/DialogRunner.h"

#include "platform/gui/WindowPlacement.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QCompleter>
#include <QDialog>
#include <QFont>
#include <QPointer>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {
std::atomic<bool> gTerminationRequested{false};
}  // namespace

bool Gui_TerminationRequested() { return gTerminationRequested.load(); }

void Gui_ResetTermination() { gTerminationRequested = false; }

void Gui_EndDialogsForTermination() {
  gTerminationRequested = true;
  // Every window of the application, sheets and panels with a parent included. Signals are blocked
  // first: ending the dialog must not look like an answer to whoever waits for one. done() still hides
  // it, which ends a nested exec() loop.
  for (QWidget* window : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(window);
    if (!dialog || !dialog->isVisible()) continue;
    dialog->blockSignals(true);
    dialog->done(QDialog::Rejected);
  }
}

int Gui_RunApplicationModal(QDialog* dialog) {
  if (!dialog || Gui_TerminationRequested()) return QDialog::Rejected;
  dialog->setWindowModality(Qt::ApplicationModal);
  // exec() spins a nested event loop: posted main-thread work, timers and further dialogs all run
  // inside it, and it returns only when this dialog has ended.
  const int result = dialog->exec();
  dialog->hide();
  return Gui_TerminationRequested() ? int(QDialog::Rejected) : result;
}

void Gui_RunSheet(QDialog* dialog, QWidget* parent, std::function<void(int)> completion) {
  if (!dialog) return;
  if (Gui_TerminationRequested()) {
    dialog->deleteLater();
    return;
  }
  QWidget* window = parent ? parent->window() : nullptr;
  // A sheet stays a dialog window (the window type keeps its title bar); its parent makes it transient for
  // the parent window, and the modality blocks only that window.
  if (window && dialog->parentWidget() != window) dialog->setParent(window, dialog->windowFlags());
  dialog->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
  QPointer<QDialog> guard(dialog);
  QObject::connect(dialog, &QDialog::finished, dialog, [guard, completion = std::move(completion)](int result) {
    // The completion may open the next sheet, an alert or a window: it runs once the sheet's handlers
    // have returned.
    Gui_HandleDialogResult(guard, nullptr, [completion, result] {
      if (completion) completion(result);
    });
    if (guard) guard->deleteLater();
  }, Qt::SingleShotConnection);
  dialog->open();
}

void Gui_HandleDialogResult(QWidget* dialog, QObject* context, std::function<void()> work) {
  if (dialog) {
    // A completion list is a window of the completer, not of the dialog: it is closed through its owner.
    for (QCompleter* completer : dialog->findChildren<QCompleter*>())
      if (QWidget* popup = completer->popup(); popup && popup->isVisible()) popup->hide();
    for (QWidget* child : dialog->findChildren<QWidget*>())
      if (child->isWindow() && child->windowType() == Qt::Popup && child->isVisible()) child->hide();
    dialog->hide();
  }
  const bool hadContext = context != nullptr;
  QPointer<QObject> guard(context);
  QMetaObject::invokeMethod(qApp, [hadContext, guard, work = std::move(work)] {
    if ((hadContext && !guard) || Gui_TerminationRequested() || !work) return;
    work();
  }, Qt::QueuedConnection);
}

double Gui_StandardFontSize() {
  const double size = QApplication::font().pointSizeF();
  return size > 0 ? size : 10.0;
}

double Gui_SmallFontSize() {
  // The small size relates to the standard one as 11 to 13 points, never below 7 points.
  return std::max(7.0, std::round(Gui_StandardFontSize() * 11.0 / 13.0 * 2.0) / 2.0);
}

QString Gui_DialogMessageHTML(const QString& title, const QString& explanation) {
  // Line separators keep the whole message in one paragraph, so each run keeps its own size.
  const QString lineBreak{QChar(QChar::LineSeparator)};
  QTextDocument document;
  QTextCursor cursor(&document);
  QTextCharFormat titleFormat;
  titleFormat.setFontWeight(QFont::Bold);
  titleFormat.setFontPointSize(Gui_StandardFontSize());
  cursor.insertText(QString(title).replace(QLatin1Char('\n'), lineBreak), titleFormat);
  if (!explanation.isEmpty()) {
    QTextCharFormat gapFormat = titleFormat;
    gapFormat.setFontPointSize(6.0);
    cursor.insertText(lineBreak + lineBreak, gapFormat);
    QTextCharFormat explainFormat;
    explainFormat.setFontWeight(QFont::Normal);
    explainFormat.setFontPointSize(Gui_SmallFontSize());
    cursor.insertText(QString(explanation).replace(QLatin1Char('\n'), lineBreak), explainFormat);
  }
  return document.toHtml();
}

bool Gui_IsWindowShown(const QWidget* window) { return window && window->isVisible(); }

void Gui_ShowOrHideWindow(QWidget* window) {
  if (!window) return;
  if (window->isVisible() && window->isActiveWindow()) {
    window->hide();
  } else if (window->isVisible()) {
    window->raise();
    window->activateWindow();
  } else {
    Gui_ShowWindowInArea(window);
    window->raise();
    window->activateWindow();
  }
}

void Gui_ShowOrHidePalette(QWidget* window) {
  if (!window) return;
  if (window->isVisible()) {
    window->hide();
  } else {
    window->show();
  }
}
