#include "firstaid/ZRNFirstAidWindowController.h"

#include "firstaid/FirstAidLogs.h"
#include "support/AccessibilitySupport.h"
#include "support/DialogTestSupport.h"
#include "support/TestSupport.h"
#include "support/ZipTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

TEST(FirstAidWindow, AfterACrashAndOnRequestTheWindowTakesItsForm) {
  // No mail program here takes attachments, so after a crash saving the logs is preselected.
  ASSERT_FALSE(FirstAid_MailerCanAttach(QStringLiteral("Mail")));
  const struct {
    const char* name;
    bool afterCrash;
    int height;
    bool heading;
    int action;
    const char* okTitle;
    int buttonsTop;
  } cases[] = {{"after a crash", true, 442, true, kFirstAid_ActionSaveLogs, "Save logs", 46},
               {"on request", false, 412, false, kFirstAid_ActionReset, "Reset", 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ZRNFirstAidWindowController window;
    const int resetY = window.resetSettingsBtn()->y();
    const int explainY = window.resetExplain()->y();
    window.setBombed(c.afterCrash);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QRadioButton* chosen = c.afterCrash ? window.saveLogsBtn() : window.resetSettingsBtn();
    EXPECT_EQ(window.height(), c.height);
    EXPECT_EQ(window.title()->isVisible(), c.heading);
    EXPECT_EQ(window.title()->text(), QStringLiteral("App quit unexpectedly"));
    EXPECT_EQ(window.selectedAction(), c.action);
    EXPECT_EQ(window.okBtn()->text(), QString::fromLatin1(c.okTitle));
    EXPECT_EQ(window.okBtn()->accessibleName(), QString::fromLatin1(c.okTitle));
    EXPECT_TRUE(window.cancelBtn()->isVisible());
    EXPECT_EQ(window.buttonsTopDistance(), c.buttonsTop);
    // The buttons sit below that distance, inside the window.
    EXPECT_EQ(window.okBtn()->y(), window.enclosingView()->height() + c.buttonsTop);
    EXPECT_LE(window.okBtn()->geometry().bottom(), c.height);
    EXPECT_EQ(window.saveLogsBtn()->isChecked(), c.action == kFirstAid_ActionSaveLogs);
    EXPECT_EQ(window.resetSettingsBtn()->isChecked(), c.action == kFirstAid_ActionReset);
    EXPECT_FALSE(window.prepareEmailBtn()->isChecked());
    // Without the heading the reset option moves up into its place.
    EXPECT_EQ(window.resetSettingsBtn()->y(), c.afterCrash ? resetY : resetY - 28);
    EXPECT_EQ(window.resetExplain()->y(), c.afterCrash ? explainY : explainY - 28);
    // The user's text belongs to the e-mail only.
    EXPECT_TRUE(window.userText()->isReadOnly());
    EXPECT_FALSE(window.clearLogsCheck()->isEnabled());
    EXPECT_TRUE(window.expanded());
    // Dark, whatever the desktop's theme.
    EXPECT_LT(window.palette().color(QPalette::Window).lightness(), 80);
    for (QWidget* control : std::initializer_list<QWidget*>{window.resetSettingsBtn(), window.saveLogsBtn(), window.prepareEmailBtn(),
                                                             window.userText(), window.clearLogsCheck(), window.okBtn(), window.cancelBtn()})
      EXPECT_FALSE(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty()) << control->objectName().toStdString();
    // The keys start on the chosen action, so Space (to act) never picks the reset instead.
    EXPECT_EQ(QApplication::focusWidget(), chosen);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(window.selectedAction(), c.action);
    EXPECT_EQ(window.resetSettingsBtn()->isChecked(), c.action == kFirstAid_ActionReset);
  }
}

// Each choice is read by its whole text, in either form of the window and after each choice (the OK
// button's title follows it); the explanation beside the reset is its description.
TEST(FirstAidWindow, EveryControlIsReadAsTheWindowShowsIt) {
  const struct {
    const char* state;
    bool afterCrash;
    QRadioButton* (ZRNFirstAidWindowController::*choice)() const;
  } states[] = {{"after a crash", true, nullptr},
                {"on request", false, nullptr},
                {"e-mail chosen", false, &ZRNFirstAidWindowController::prepareEmailBtn},
                {"reset chosen", true, &ZRNFirstAidWindowController::resetSettingsBtn},
                {"logs chosen", false, &ZRNFirstAidWindowController::saveLogsBtn}};
  for (const auto& state : states) {
    SCOPED_TRACE(state.state);
    ZRNFirstAidWindowController window;
    window.setBombed(state.afterCrash);
    window.show();
    ASSERT_TRUE(Test_WaitUntil([&] { return window.isVisible(); }));
    if (state.choice) (window.*state.choice)()->click();
    EXPECT_EQ(Test_NamesApartFromScreen(&window, {}, {window.title(), window.resetExplain()}).join("; ").toStdString(), "");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.resetSettingsBtn())->text(QAccessible::Description).toStdString(),
              window.resetExplain()->text().toStdString());
  }
}

TEST(FirstAidWindow, TheRadioButtonsChooseTheActionAndItsTitle) {
  ZRNFirstAidWindowController window;
  window.setBombed(true);
  window.show();
  window.prepareEmailBtn()->click();
  EXPECT_EQ(window.selectedAction(), kFirstAid_ActionEmail);
  EXPECT_EQ(window.okBtn()->text(), QStringLiteral("Prepare email"));
  EXPECT_TRUE(window.prepareEmailBtn()->isChecked());
  EXPECT_FALSE(window.saveLogsBtn()->isChecked());
  EXPECT_FALSE(window.userText()->isReadOnly());
  EXPECT_TRUE(window.clearLogsCheck()->isEnabled());
  EXPECT_EQ(window.userText()->palette().color(QPalette::Text), QColor(Qt::white));
  window.userText()->setPlainText(QStringLiteral("It stopped during the second half."));
  window.clearLogsCheck()->setChecked(true);
  EXPECT_EQ(window.textToAdd(), QStringLiteral("It stopped during the second half."));
  EXPECT_TRUE(window.cleanUpLogs());

  window.resetSettingsBtn()->click();
  EXPECT_EQ(window.selectedAction(), kFirstAid_ActionReset);
  EXPECT_EQ(window.okBtn()->text(), QStringLiteral("Reset"));
  EXPECT_FALSE(window.expanded());
  EXPECT_TRUE(window.userText()->isReadOnly());
  EXPECT_FALSE(window.clearLogsCheck()->isEnabled());
  EXPECT_EQ(window.userText()->palette().color(QPalette::Text).alpha(), 178) << "dimmed while it is not used";

  window.saveLogsBtn()->click();
  EXPECT_EQ(window.selectedAction(), kFirstAid_ActionSaveLogs);
  EXPECT_EQ(window.okBtn()->text(), QStringLiteral("Save logs"));
  // Anything else pressed changes nothing.
  window.buttonPressed(window.okBtn());
  EXPECT_EQ(window.selectedAction(), kFirstAid_ActionSaveLogs);
}

TEST(FirstAidWindow, AResetIsConfirmedFirstAndAnythingButContinueKeepsTheWindow) {
  ZRNFirstAidWindowController window;
  window.setBombed(false);
  window.show();
  QString alertText;
  Test_AnswerNextModal(QStringLiteral("cancelBtn"), [&](QWidget* modal) { alertText = Test_LabelsText(modal); }, &window);
  window.okBtn()->click();
  EXPECT_TRUE(alertText.contains(QStringLiteral("You are about to reset the program settings to their default values.")))
      << alertText.toStdString();
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.result(), 0);

  Test_AnswerNextModal(QStringLiteral("okBtn"), {}, &window);
  window.okBtn()->click();
  EXPECT_EQ(window.result(), kDialogResultFirst);
  EXPECT_FALSE(window.isVisible());
}

TEST(FirstAidReport, NamesTheDesktopsMailProgramOrNone) {
  const QString root = Test_MakeTempDir(QStringLiteral("mailer"));
  const QByteArray oldPath = qgetenv("PATH"), oldData = qgetenv("XDG_DATA_HOME"), oldDirs = qgetenv("XDG_DATA_DIRS");
  qputenv("PATH", QFile::encodeName(root + QStringLiteral("/bin:")) + oldPath);
  qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/share")));
  qputenv("XDG_DATA_DIRS", QFile::encodeName(root + QStringLiteral("/none")));
  auto write = [](const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
  };
  const struct {
    const char* handler;  // what xdg-mime answers
    const char* shown;
  } rows[] = {{"", "none"}, {"gone.desktop", "none"}, {"evolution.desktop", "evolution"}};
  write(root + QStringLiteral("/share/applications/evolution.desktop"), "[Desktop Entry]\nExec=evolution %U\n");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.handler);
    write(root + QStringLiteral("/bin/xdg-mime"), QByteArray("#!/bin/sh\necho ") + row.handler + "\n");
    const QString report = U_PrepareCrashLog(QString(), false);
    EXPECT_TRUE(report.startsWith(QStringLiteral("\n") + QString(35, '-') + QStringLiteral("Mail program:  ") + row.shown + QStringLiteral("\n")))
        << report.left(80).toStdString();
  }
  qputenv("PATH", oldPath);
  qputenv("XDG_DATA_HOME", oldData);
  qputenv("XDG_DATA_DIRS", oldDirs);
}

TEST(FirstAidLogs, ACrashReportThatIsAPipeIsPassedOverAtOnce) {
  const QString reports = FirstAid_UserDiagnosticReportsPath();
  ASSERT_TRUE(QDir().mkpath(reports));
  const QString real = reports + QStringLiteral("/velmora_2026-12-07-101010.crash");
  const QString pipe = reports + QStringLiteral("/velmora_2026-12-07-101011.crash");
  {
    QFile file(real);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("THE REAL REPORT\n");
  }
  ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
  // Both readers of the reports (the e-mail's text and the archive) on a worker: a reader that opened
  // the pipe would wait for a writer for ever, so it is released before the test fails.
  std::future<std::pair<QString, QString>> done = std::async(std::launch::async, [] {
    const QString report = U_PrepareCrashLog(QString(), false);
    return std::make_pair(report, FirstAid_CreateCrashLogsZip(report));
  });
  const bool atOnce = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
    const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
  }
  const auto [report, archive] = done.get();
  EXPECT_TRUE(atOnce) << "a reader waited on the pipe";
  EXPECT_TRUE(report.contains(QStringLiteral("THE REAL REPORT")));
  ASSERT_FALSE(archive.isEmpty());
  QString error;
  const QList<QVariantMap> entries = Test_PythonZipEntries(archive, &error);
  ASSERT_FALSE(entries.isEmpty()) << error.toStdString();
  for (const QVariantMap& entry : entries) EXPECT_FALSE(entry.value("name").toString().contains(QStringLiteral("101011")));
  QFile::remove(archive);
  QFile::remove(pipe);
  QFile::remove(real);
}
