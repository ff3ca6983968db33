// Termination ends whatever dialog is up (application-modal, sheet, panel) without the end counting as
// an answer, and shows none after it.

#include "platform/gui/DialogRunner.h"

#include "support/TestSupport.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

TEST(DialogTermination, EndsEveryDialogWithoutAnAnswerAndShowsNoneAfter) {
  QMainWindow window;
  window.show();
  // A sheet over the window and a panel of its own, each with someone waiting for the answer.
  int sheetAnswers = 0;
  auto* sheet = new QDialog;
  Gui_RunSheet(sheet, &window, [&](int) { ++sheetAnswers; });
  QFileDialog panel(&window);
  panel.setOption(QFileDialog::DontUseNativeDialog, true);
  int panelAnswers = 0;
  QObject::connect(&panel, &QDialog::finished, [&](int) { ++panelAnswers; });
  panel.open();
  ASSERT_TRUE(Test_WaitUntil([&] { return sheet->isVisible() && panel.isVisible(); }));

  // An application-modal dialog, whose nested loop is where termination arrives.
  QDialog modal;
  QPointer<QDialog> sheetGuard(sheet);
  bool modalWasShown = false;
  QTimer::singleShot(0, [&] {
    modalWasShown = modal.isVisible();
    Gui_EndDialogsForTermination();
  });
  EXPECT_EQ(Gui_RunApplicationModal(&modal), int(QDialog::Rejected));
  EXPECT_TRUE(modalWasShown);
  EXPECT_TRUE(Gui_TerminationRequested());
  Test_ProcessEvents(50);
  EXPECT_FALSE(modal.isVisible());
  EXPECT_FALSE(panel.isVisible());
  EXPECT_TRUE(sheetGuard.isNull() || !sheetGuard->isVisible());
  EXPECT_EQ(sheetAnswers, 0);
  EXPECT_EQ(panelAnswers, 0);

  // Once termination has begun nothing shows: a modal answers Cancel at once, a sheet never runs.
  QDialog later;
  int laterAnswers = 0;
  bool shownLater = false;
  QTimer::singleShot(0, [&] { shownLater = later.isVisible(); later.accept(); });
  EXPECT_EQ(Gui_RunApplicationModal(&later), int(QDialog::Rejected));
  auto* laterSheet = new QDialog;
  QPointer<QDialog> laterSheetGuard(laterSheet);
  Gui_RunSheet(laterSheet, &window, [&](int) { ++laterAnswers; });
  Test_ProcessEvents(50);
  EXPECT_FALSE(shownLater);
  EXPECT_TRUE(Test_WaitUntil([&] { return laterSheetGuard.isNull(); })) << "never shown, and let go";
  EXPECT_EQ(laterAnswers, 0);
  Gui_ResetTermination();
}

// What a dialog leads to runs once the key that ended it has been handled, with the dialog's completion
// list closed; it does not run once its receiver is gone or termination has begun.
TEST(DialogResult, RunsInATurnOfItsOwnAfterTheDialogAndItsListHaveGone) {
  QMainWindow window;
  window.show();
  enum Ending { SheetCompletion, DialogResult, ReceiverGone, Terminating };
  for (const Ending ending : {SheetCompletion, DialogResult, ReceiverGone, Terminating}) {
    SCOPED_TRACE(ending);
    auto* dialog = new QDialog;
    auto* field = new QLineEdit(dialog);
    field->setCompleter(new QCompleter(QStringList{QStringLiteral("Derby"), QStringLiteral("Dortmund")}, dialog));
    int ran = 0;
    auto receiver = std::make_unique<QObject>();
    if (ending == SheetCompletion) {
      Gui_RunSheet(dialog, &window, [&](int) { ++ran; });
    } else {
      QObject::connect(dialog, &QDialog::finished, dialog, [&, dialog] {
        Gui_HandleDialogResult(dialog, receiver.get(), [&] { ++ran; });
      });
      dialog->open();
    }
    ASSERT_TRUE(Test_WaitUntil([&] { return dialog->isVisible(); }));
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("D"));
    ASSERT_TRUE(Test_WaitUntil([&] { return field->completer()->popup()->isVisible(); }));
    QPointer<QWidget> list = field->completer()->popup();
    dialog->reject();
    EXPECT_EQ(ran, 0) << "ran inside the dialog's own signal";
    EXPECT_TRUE(!list || !list->isVisible()) << "the completion list outlived its dialog";
    if (ending == ReceiverGone) receiver.reset();
    if (ending == Terminating) Gui_EndDialogsForTermination();
    Test_ProcessEvents(50);
    EXPECT_EQ(ran, ending == SheetCompletion || ending == DialogResult ? 1 : 0);
    if (ending != SheetCompletion) delete dialog;
    Gui_ResetTermination();
  }
}
