#include "app/ZRNStartupNoteWC.h"
#include "support/TestSupport.h"
#include "tests/app/DialogTestSupport.h"

#include <QCheckBox>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

TEST(StartupNote, ShowsItsTextWithBothButtonsAndADisabledAgreeBox) {
  ZRNStartupNoteWC note;
  EXPECT_EQ(note.objectName(), QStringLiteral("ZRNStartupNoteWC"));
  ASSERT_NE(note.agreeCheck(), nullptr);
  EXPECT_EQ(note.agreeCheck(), note.findChild<QCheckBox*>(QStringLiteral("agreeCheck")));
  EXPECT_FALSE(note.agreeCheck()->isEnabled());
  ASSERT_NE(note.licenseText(), nullptr);
  EXPECT_EQ(note.licenseText(), note.findChild<QTextBrowser*>(QStringLiteral("licenseText")));
  EXPECT_TRUE(note.licenseText()->toPlainText().contains(QStringLiteral("Welcome to Velmora")));
  for (QPushButton* button : {note.okBtn(), note.cancelBtn()}) {
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->isHidden()) << button->objectName().toStdString();
    EXPECT_TRUE(button->isEnabled()) << button->objectName().toStdString();
  }
  EXPECT_TRUE(note.otherBtn()->isHidden());
  EXPECT_TRUE(note.explainTextfield()->isHidden());
}

TEST(StartupNote, ReturnPressesNothingAndEachButtonAnswers) {
  bool openAfterReturn = false;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
    QTest::keyClick(modal, Qt::Key_Return);
    openAfterReturn = modal->isVisible();
  });
  EXPECT_EQ(ZRNStartupNoteWC_RunModal(), -1000);
  EXPECT_TRUE(openAfterReturn);

  Test_AnswerNextModal(QStringLiteral("cancelBtn"));
  EXPECT_EQ(ZRNStartupNoteWC_RunModal(), -1001);
}
