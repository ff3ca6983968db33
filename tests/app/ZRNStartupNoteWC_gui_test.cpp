#include "app/ZRNStartupNoteWC.h"
#include "support/TestSupport.h"
#include "support/DialogTestSupport.h"

#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

TEST(StartupNote, ReturnPressesNothingAndEachButtonAnswers) {
  bool openAfterReturn = false;
  QString text;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
    text = modal->findChild<QTextBrowser*>(QStringLiteral("licenseText"))->toPlainText();
    QTest::keyClick(modal, Qt::Key_Return);
    openAfterReturn = modal->isVisible();
  });
  EXPECT_EQ(ZRNStartupNoteWC_RunModal(), -1000);
  EXPECT_TRUE(openAfterReturn);
  EXPECT_TRUE(text.contains(QStringLiteral("Welcome to Velmora")));

  Test_AnswerNextModal(QStringLiteral("cancelBtn"));
  EXPECT_EQ(ZRNStartupNoteWC_RunModal(), -1001);
}
