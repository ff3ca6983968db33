#include "common/ZRNAlertWindowController.h"
#include "common/ZRNAlerts.h"
#include "common/ZRNAppSetup.h"
#include "common/ZRNLogger.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/gui/DialogRunner.h"
#include "support/TestSupport.h"
#include "support/DialogTestSupport.h"

#include <QAccessible>
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

struct CatalogueRow {
  int alertID;
  const char* mainText;
  const char* explainText;  // nullptr: none
  const char* okTitle;
  const char* cancelTitle;  // nullptr: no Cancel button
  bool mainHasParams;
  bool explainHasParams;
  int otherResult;
  bool sheet;
  bool cancelIsDefault = false;
  bool informational = false;
};

const CatalogueRow kCatalogue[] = {
    {20001, "Do you really want to stop recording?", "This will end the current session.", "Stop", "Cancel", false,
     false, 9001, true},
    {20002, "Do you really want to stop recording?",
     "Stopping the recording will end the current session and abort the export in progress.", "Stop", "Cancel",
     false, false, 9001, true},
    {20003, "Do you really want to stop recording?",
     "Stopping the recording will end the current session and abort all pending exports.", "Stop", "Cancel", false,
     false, 9001, true},
    {20004, "Closing the window will end the current recording session.", nullptr, "Close", "Cancel", false, false,
     9001, true},
    {20005, "Closing the window will end the current recording session and abort the export in progress.", nullptr,
     "Close", "Cancel", false, false, 9001, true},
    {20006, "Closing the window will end the current recording session and abort all pending exports.", nullptr,
     "Close", "Cancel", false, false, 9001, true},
    {20007, "There is a recording session in progress.\nDo you really want to quit?", nullptr, "Save & Quit",
     "Continue Recording", false, false, 9001, false},
    {20008, "Quitting Velmora will end the current recording session and abort the export in progress.", nullptr,
     "Save & Quit", "Cancel", false, false, 0, true},
    {20009, "Quitting Velmora will end the current recording session and abort all pending exports.", nullptr,
     "Save & Quit", "Cancel", false, false, 0, true},
    {20011, "You are about to reset the program settings to their default values.",
     "Any changes you've made and any values you may have entered will be lost.", "Continue", "Cancel", false, false,
     0, false},
    {20013, "There was a problem opening '%@'.", "The item will be removed from the Recents menu.", "OK", nullptr,
     true, false, 0, false},
    {20014, "File '%@' is damaged and cannot be opened.", nullptr, "OK", nullptr, true, false, 0, false},
    {20015, "To start a new Live session you must allow Velmora to access the camera.",
     "The program will not have access to the camera until it is quit.", "Quit & Go to Settings", "Not Now", false,
     false, 0, false},
    {20016, "Allow Velmora to access the microphone?",
     "Otherwise you will not be able to record sound during a capture session.", "Give Access", "Not Now", false,
     false, 0, false},
    {20017, "To setup a video source you must allow Velmora to access the camera.",
     "The program will not have access to the camera until it is restarted.", "Quit & Go to Settings", "Not Now",
     false, false, 0, false},
    {20018, "To setup an audio source you must allow Velmora to access the microphone.",
     "The program will not have access to the microphone until it is restarted.", "Quit & Go to Settings",
     "Not Now", false, false, 0, false},
    {20019, "The program does not allow for audio capture without a selected camera source.",
     "Please setup your video source and then try again.", "OK", nullptr, false, false, 0, false},
    {20020, "There is an export in progress.", "Are you sure you want to Quit Velmora? Quitting will abort the export.",
     "Quit", "Cancel", false, false, 0, false},
    {20021, "There are exports in progress.",
     "Are you sure you want to Quit Velmora? Quitting will abort all pending exports.", "Quit", "Cancel", false,
     false, 0, false},
    {20022, "There is an export in progress.",
     "Are you sure you want to close the window? Closing the window now will abort the export.", "Close",
     "Don't Close", false, false, 0, false},
    {20023, "There are exports in progress.",
     "Are you sure you want to close the window? Closing the window now will abort all pending exports.", "Close",
     "Don't Close", false, false, 0, false},
    {20024, "Velmora can't show \"%@\" in its folder.", "The file has moved since you exported it.", "OK",
     "Remove Job", true, true, 0, false},
    {20025, "Velmora can't show \"%@\" in its folder.", "The folder has moved since you exported it.", "OK",
     "Remove Job", true, true, 0, false},
    {20027, "File \"%@\" needs to be converted to the new Velmora format.",
     "The new version will replace the old file permanently.", "Convert", "Cancel", true, false, 0, false},
    {20028, "Conversion to the new file format failed.", "Error: %@", "OK", nullptr, true, true, 0, false},
    {20029, "File \"%@\" already exists.", "Do you want to overwrite it?", "Overwrite", "Cancel", true, false, 0,
     true},
    {20030, "You are running on battery power and recording takes a lot of energy.", "Do you want to continue?",
     "Continue", "Cancel", true, false, 0, true},
    {20031, "The recording was stopped because the movie could not be written.",
     "Everything recorded up to the last few seconds has been kept.\nReason: %@", "OK", nullptr, false, true, 0,
     false},
    {20032, "The recording could not be started.", "Nothing was recorded.\nReason: %@", "OK", nullptr, false, true, 0,
     false},
    {20033, "The marks of \"%@\" could not be saved.",
     "If you close the window now, the marks made since the session was opened will be lost.", "Close", "Cancel", true,
     false, 0, false, true},
    {20034, "\"%@\" cannot be read.", "Velmora may not open it: %@.", "OK", nullptr, true, true, 0, false},
    {20035, "Velmora's preferences were reset.",
     "The preferences file could not be read, so Velmora started with its original settings. The old file was kept "
     "as \"%@\".",
     "OK", nullptr, false, true, 0, false},
    {20036, "Velmora cannot read its preferences file.",
     "%@\nVelmora starts with its original settings and leaves the file as it is; changes you make now will not be "
     "kept.",
     "OK", nullptr, false, true, 0, false},
    {20040, "The crash logs were saved as \"%@\".", nullptr, "OK", nullptr, true, false, 0, false, false, true},
    {20041, "The crash logs are kept in \"%@\".", "They could not be put on the Desktop: %@", "OK", nullptr, true, true, 0,
     false},
    {20042, "The crash logs could not be saved. What was written is kept in \"%@\".", "Reason: %@", "OK", nullptr, true,
     true, 0, false},
    {20043, "The marks of \"%@\" could not be saved.",
     "If you quit Velmora now, the marks made since the session was opened will be lost.", "Quit", "Cancel", true, false,
     0, false, true},
    {20044, "\u201C%@\u201D cannot be shown in its folder.", "No file manager answered. The file is here:\n%@", "OK", nullptr,
     true, true, 0, false},
    {20045, "\u201C%@\u201D cannot be shown in its folder.", "No file manager answered. The folder is here:\n%@", "OK",
     nullptr, true, true, 0, false},
    {20046, "\u201C%@\u201D cannot be opened.", "No program on this desktop opens it. The file is here:\n%@", "OK", nullptr,
     true, true, 0, false},
    {20047, "\u201C%@\u201D cannot be opened.", "No web browser on this desktop opens it. The address is:\n%@", "OK",
     nullptr, true, true, 0, false},
    {20048, "The email to %@ cannot be prepared.", "%@", "OK", nullptr, true, true, 0, false},
    {20049, "The email to %@ cannot be prepared.", "%@ The crash logs are saved here; please send them to %@:\n%@", "OK",
     nullptr, true, true, 0, false},
    {20050, "Velmora cannot write its preferences file.",
     "%@\nVelmora goes on with the settings it has; changes you make now will not be kept.", "OK", nullptr, false, true, 0,
     false},
    {20051, "\"%@\" was not exported.", "Reason: %@", "OK", "Remove Job", true, true, 0, false},
    {20052, "Velmora will not notice if it crashes.",
     "The crash lock cannot be kept in \"%@\": %@\nUntil this is mended, a crash or a forced quit goes unnoticed at the "
     "next start, and First Aid is not offered.",
     "OK", nullptr, false, true, 0, false},
    {20053, "Nothing was recorded in '%@'.",
     "The recording was stopped before its first picture, so there is nothing to play. The session is left as it is, "
     "with any marks it holds.",
     "OK", nullptr, true, false, 0, false, false, true},
    {20054, "The old session folder \u201C%@\u201D was kept.",
     "The session was converted into its new package. Only the settings and segments that were converted were "
     "removed from the folder; it still holds what the session does not use:\n%@",
     "OK", nullptr, true, true, 0, false, false, true},
};

QString str(const char* key) { return QString::fromLatin1(key); }

// The character format of the run of a rich-text label that holds `text`.
QTextCharFormat formatOf(const QLabel* label, const QString& text) {
  QTextDocument document;
  document.setHtml(label->text());
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
    for (auto it = block.begin(); !it.atEnd(); ++it)
      if (it.fragment().text().contains(text)) return it.fragment().charFormat();
  ADD_FAILURE() << "no run holds " << text.toStdString();
  return {};
}

// A button's title as it is drawn: "&&" is one "&", a single "&" only marks the next letter.
QString shownTitle(const QAbstractButton* button) {
  const QString text = button->text();
  QString shown;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text.at(i) == QLatin1Char('&') && i + 1 < text.size()) ++i;
    shown += text.at(i);
  }
  return shown;
}

}  // namespace

TEST(AlertCatalogue, HoldsEveryEntryExactly) {
  const QList<QVariantMap>& table = Alert_AlertTable();
  ASSERT_EQ(table.size(), static_cast<qsizetype>(std::size(kCatalogue)));
  for (const CatalogueRow& row : kCatalogue) {
    SCOPED_TRACE(row.alertID);
    const std::optional<QVariantMap> found = Alert_EntryForID(row.alertID);
    ASSERT_TRUE(found.has_value());
    const QVariantMap& entry = *found;
    EXPECT_EQ(entry.value(str(kAlertKeyID)).toInt(), row.alertID);
    EXPECT_EQ(entry.value(str(kAlertKeyMainString)).toString(), QString::fromUtf8(row.mainText));
    EXPECT_EQ(entry.value(str(kAlertKeyExplainString)).toString(),
              row.explainText ? QString::fromUtf8(row.explainText) : QString());
    EXPECT_EQ(entry.value(str(kAlertKeyOKTitle)).toString(), QString::fromUtf8(row.okTitle));
    EXPECT_EQ(entry.value(str(kAlertKeyCancelTitle)).toString(),
              row.cancelTitle ? QString::fromUtf8(row.cancelTitle) : QString());
    EXPECT_EQ(entry.value(str(kAlertKeyMainHasParams)).toBool(), row.mainHasParams);
    EXPECT_EQ(entry.value(str(kAlertKeyExplainHasParams)).toBool(), row.explainHasParams);
    EXPECT_EQ(entry.value(str(kAlertKeyOtherResult)).toInt(), row.otherResult);
    EXPECT_EQ(entry.value(str(kAlertKeyRunAsSheet)).toBool(), row.sheet);
    EXPECT_EQ(entry.value(str(kAlertKeyHasNoShowAgain)).toBool(), row.alertID == 20013);
    EXPECT_EQ(entry.value(str(kAlertKeyWarningKey)).toString(),
              row.alertID == 20013 ? QStringLiteral("ZrnOpen_RecentDocErr") : QString());

    // The window made from the entry: its buttons and their titles.
    auto controller = Alert_MakeAlertController(entry, QStringLiteral("X"));
    ASSERT_TRUE(controller->okBtn() && controller->cancelBtn() && controller->otherBtn());
    // Titles read as written ("Save & Quit"), with no letter taken for a shortcut.
    EXPECT_EQ(shownTitle(controller->okBtn()), QString::fromUtf8(row.okTitle));
    EXPECT_TRUE(controller->okBtn()->shortcut().isEmpty());
    EXPECT_EQ(controller->cancelBtn()->isHidden(), row.cancelTitle == nullptr);
    if (row.cancelTitle) {
      EXPECT_EQ(shownTitle(controller->cancelBtn()), QString::fromUtf8(row.cancelTitle));
    }
    EXPECT_TRUE(controller->otherBtn()->isHidden());
    EXPECT_TRUE(controller->dontShowAgainCheck()->isHidden());
    // Return answers Cancel where the first button would throw away what the user made.
    EXPECT_EQ(controller->cancelBtn()->isDefault(), row.cancelIsDefault);
    EXPECT_EQ(controller->okBtn()->isDefault(), !row.cancelIsDefault);
    // No platform but this one is named.
    EXPECT_FALSE(QString::fromUtf8(row.mainText).contains(QStringLiteral("Finder")));
    // Only a success shows the information sign; everything else warns.
    const QStyle::StandardPixmap sign = row.informational ? QStyle::SP_MessageBoxInformation : QStyle::SP_MessageBoxWarning;
    EXPECT_EQ(controller->alertIcon()->pixmap().toImage(),
              controller->style()->standardIcon(sign).pixmap(64, 64).toImage());
  }
  for (int missing : {20010, 20012, 20026, 20000, 20037, 20055}) EXPECT_FALSE(Alert_EntryForID(missing)) << missing;
}

TEST(AlertDialog, ArgumentsAreShownAsTextAndTheExplanationIsSmaller) {
  const struct {
    int id;
    const char* argument;
    const char* explainArgument;
    const char* shown;
  } cases[] = {{20013, "Cup Final 100%.vlvidcapb", "",
                "There was a problem opening 'Cup Final 100%.vlvidcapb'.\n\nThe item will be removed from the Recents menu."},
               {20014, "<b>a&b</b>.mov", "", "File '<b>a&b</b>.mov' is damaged and cannot be opened."},
               {20028, "Derby 2019", "The settings file is damaged.",
                "Conversion to the new file format failed.\n\nError: The settings file is damaged."}};
  for (const auto& c : cases) {
    auto controller = Alert_MakeAlertController(*Alert_EntryForID(c.id), QString::fromUtf8(c.argument),
                                                QString::fromUtf8(c.explainArgument));
    EXPECT_EQ(Test_LabelText(controller->mainTextfield()), QString::fromUtf8(c.shown)) << c.id;
  }
  auto controller = Alert_MakeAlertController(*Alert_EntryForID(20013), QStringLiteral("Cup"));
  const QTextCharFormat title = formatOf(controller->mainTextfield(), QStringLiteral("There was a problem"));
  const QTextCharFormat explanation = formatOf(controller->mainTextfield(), QStringLiteral("The item will be removed"));
  EXPECT_GE(title.fontWeight(), QFont::Bold);
  EXPECT_DOUBLE_EQ(title.fontPointSize(), Gui_StandardFontSize());
  EXPECT_LT(explanation.fontWeight(), QFont::Bold);
  EXPECT_DOUBLE_EQ(explanation.fontPointSize(), Gui_SmallFontSize());
}

// Escape, closing the window and quitting choose nothing that removes something: an alert whose second
// button removes ("Remove Job") ends without an answer, Cancel answers where it keeps things as they are,
// and an alert with only OK ends as OK.
TEST(AlertDialog, EscapeClosingAndQuittingNeverChooseAButtonThatRemoves) {
  const std::set<int> secondButtonRemoves = {20024, 20025, 20051};
  const struct {
    const char* name;
    std::function<void(QWidget*)> end;
  } ways[] = {
      {"Escape", [](QWidget* modal) { QTest::keyClick(modal->focusWidget(), Qt::Key_Escape); }},
      {"the window closed", [](QWidget* modal) { modal->close(); }},
      {"quitting", [](QWidget*) { Gui_EndDialogsForTermination(); }},
  };
  for (const CatalogueRow& row : kCatalogue) {
    for (const auto& way : ways) {
      SCOPED_TRACE(std::to_string(row.alertID) + ", " + way.name);
      bool stayedOpen = false;
      Test_AnswerNextModal(QString(), [&](QWidget* modal) {
        way.end(modal);
        stayedOpen = modal->isVisible();
        if (stayedOpen) modal->findChild<QPushButton*>(QStringLiteral("okBtn"))->click();
      });
      const int answer = Alert_ShowAlertWithID(row.alertID, QStringLiteral("clip.mp4"));
      Gui_ResetTermination();
      EXPECT_FALSE(stayedOpen);
      EXPECT_EQ(answer, secondButtonRemoves.contains(row.alertID) ? kAlertResultNoAnswer
                        : row.cancelTitle                         ? kDialogResultCancel
                                                                  : kDialogResultFirst);
    }
  }
}

TEST(AlertDialog, AnAlertRaisedInsideAnotherStacksAndTheFirstResumes) {
  std::vector<QString> events;
  int innerResult = 0;
  bool queuedWorkRan = false;
  bool firstModalAgain = false;
  Test_AnswerNextModal(QString(), [&](QWidget* first) {
    // Work queued on the main thread keeps running while an alert is open.
    Dispatch_MainAsync([&] { queuedWorkRan = true; });
    ASSERT_TRUE(Test_WaitUntil([&] { return queuedWorkRan; }, 5000));
    events.push_back(QStringLiteral("first shown"));
    Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* second) {
      events.push_back(Test_LabelText(second->findChild<QLabel*>(QStringLiteral("mainTextfield"))).section('\n', 0, 0));
    }, first);
    innerResult = Alert_ShowAlertWithID(20019);
    events.push_back(QStringLiteral("second ended"));
    firstModalAgain = QApplication::activeModalWidget() == first && first->isVisible();
    Test_AnswerNextModal(QStringLiteral("cancelBtn"));
  });
  const int outerResult = Alert_ShowAlertWithID(20011);
  EXPECT_EQ(innerResult, -1000);
  EXPECT_EQ(outerResult, -1001);
  EXPECT_TRUE(firstModalAgain);
  EXPECT_EQ(events, (std::vector<QString>{
                        QStringLiteral("first shown"),
                        QStringLiteral("The program does not allow for audio capture without a selected camera source."),
                        QStringLiteral("second ended")}));
}

TEST(AlertDialog, SheetAnswersThroughItsCompletion) {
  QWidget parent;
  parent.resize(400, 300);
  parent.show();
  QPointer<ZRNAlertWindowController> sheet =
      Alert_MakeAlertController(*Alert_EntryForID(20029), QStringLiteral("clip.mp4")).release();
  std::vector<int> answers;
  Alert_RunAlertSheet(sheet, &parent, [&](int result) { answers.push_back(result); });
  // The caller goes on at once; the sheet is window-modal over the parent.
  EXPECT_TRUE(answers.empty());
  ASSERT_TRUE(Test_WaitUntil([&] { return sheet && sheet->isVisible(); }));
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
  QTest::keyClick(sheet, Qt::Key_Escape);
  ASSERT_TRUE(Test_WaitUntil([&] { return !answers.empty() && sheet.isNull(); }));
  EXPECT_EQ(answers, std::vector<int>{-1001});
}

TEST(AlertDialog, UnknownIDIsLoggedAndShowsNothing) {
  ZRNLogger_Start(1);
  bool modalShown = false;
  for (int unknown : {20010, 20012, 20026, 0, -5}) {
    const int result = Alert_ShowAlertWithID(unknown, QStringLiteral("ignored"));
    EXPECT_EQ(result, -1001) << unknown;
    modalShown = modalShown || QApplication::activeModalWidget() != nullptr;
  }
  ZRNLogger_Stop();
  EXPECT_FALSE(modalShown);
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    EXPECT_FALSE(qobject_cast<ZRNAlertWindowController*>(widget) && widget->isVisible());
  }
  QFile log(ZRNAppSetup::sharedAppSetup()->zrnDebugLogPathFor(QStringLiteral("Debug")));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(log.readAll());
  for (const char* id : {"20010", "20012", "20026"}) {
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("ERR: .*\\b%1\\b").arg(QLatin1String(id))))) << id;
  }
}

namespace {
// Selects the whole text of the dialog's message with the keyboard (Tab from the button the dialog opens
// on, then Ctrl+A) and copies it (Ctrl+C): what reaches the clipboard, or nothing when Tab did not reach
// the text.
QString copiedWithTheKeyboard(QWidget* modal) {
  QGuiApplication::clipboard()->clear();
  auto* label = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"));
  QTest::keyClick(modal->focusWidget(), Qt::Key_Tab);
  if (modal->focusWidget() != label) return QString();
  QTest::keyClick(label, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(label, Qt::Key_C, Qt::ControlModifier);
  return QGuiApplication::clipboard()->text();
}
}  // namespace

// Alert 20041 cut its reason line when the home path was long: the window kept the height of its layout
// and a long folder name ran out on the right. Every alert's text now wraps (long names too) and the
// window is as tall as the wrapped text, within the screen.
TEST(AlertDialog, EveryTextWrapsAndStaysWholeWithALongHomePath) {
  const QString folder = Test_HomePath() + QStringLiteral("/Mannschaftsaufnahmen_Sportverein_Grossstadt_Jugendabteilung_2026");
  const QString path = folder + QStringLiteral("/Desktop/Velmora_CrashLogs.zip");
  const QString reason = path + QStringLiteral(" could not be written (creating a new copy): No space left on device");
  for (const QVariantMap& entry : Alert_AlertTable()) {
    const int alertID = entry.value(str(kAlertKeyID)).toInt();
    SCOPED_TRACE(alertID);
    bool inspected = false;
    Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
      inspected = true;
      auto* label = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"));
      ASSERT_NE(label, nullptr);
      const QRect shown(label->mapTo(modal, QPoint(0, 0)), label->size());
      EXPECT_TRUE(modal->rect().contains(shown));
      EXPECT_GE(label->height(), label->heightForWidth(label->width())) << "the last lines are cut";
      // As the label lays its text out, no line is wider than the label: the long folder name breaks
      // inside itself, and the text holds nothing the user did not give it.
      const auto* laidOut = label->findChild<QTextDocument*>();
      ASSERT_NE(laidOut, nullptr);
      EXPECT_LE(laidOut->idealWidth(), label->contentsRect().width()) << "a line runs out on the right";
      EXPECT_FALSE(label->text().contains(QChar(0x200B)));
      const QRect area = modal->screen()->availableGeometry();
      EXPECT_LE(modal->width(), area.width());
      EXPECT_LE(modal->height(), area.height());
      // The wrapped text is still all of it.
      if (entry.value(str(kAlertKeyMainHasParams)).toBool() && entry.value(str(kAlertKeyMainString)).toString().contains(QStringLiteral("%@")))
        EXPECT_TRUE(Test_LabelText(label).contains(path));
    });
    Alert_ShowAlertWithID(alertID, path, QVariantList{reason, QStringLiteral("support@example.org"), path});
    EXPECT_TRUE(inspected);
  }
}

// The desktop's hand-off failures were made up where they happened and their text could be selected with
// the mouse only: they are alerts of the catalogue, and Tab reaches their text to copy the path whole.
// The text is the path itself, and the alert leaves the clipboard to whoever copies into it.
TEST(AlertDialog, HandOffFailuresAreCatalogueAlertsWhosePathCopiesWithTheKeyboard) {
  const QString folder = Test_MakeTempDir(QStringLiteral("Aufnahmen_der_Spiele_und_Trainings_des_Sportvereins"));
  const QString file = folder + QStringLiteral("/VLClip_105 Heimmannschaft_gegen_Gastmannschaft.mp4");
  {
    QFile movie(file);
    ASSERT_TRUE(movie.open(QIODevice::WriteOnly));
  }
  const struct {
    const char* name;
    QString path;
    bool isFolder;
    int alertID;
  } cases[] = {{"a file", file, false, 20044}, {"a folder", folder, true, 20045}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QString told, copied, objectName, heard;
    const QString othersCopy = QStringLiteral("a\u200Bword");
    bool othersKept = false;
    Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
      objectName = modal->objectName();
      auto* label = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"));
      told = Test_LabelText(label);
      // What a screen reader reads out when Tab reaches the text.
      QAccessibleInterface* text = QAccessible::queryAccessibleInterface(label);
      if (text && text->role() == QAccessible::StaticText) heard = text->text(QAccessible::Name);
      // What another program copies while the alert is open stays as it was copied.
      QGuiApplication::clipboard()->setText(othersCopy);
      QCoreApplication::processEvents();
      othersKept = QGuiApplication::clipboard()->text() == othersCopy;
      copied = copiedWithTheKeyboard(modal);
    });
    // Offscreen no file manager answers.
    ASSERT_TRUE(Alert_RevealInFolder(c.path, c.isFolder));
    ASSERT_TRUE(Test_WaitUntil([&] { return !told.isEmpty(); }));
    const QString name = QFileInfo(c.path).fileName();
    EXPECT_EQ(objectName, QStringLiteral("handOffFailureAlert"));
    EXPECT_EQ(told, Test_LabelText(Alert_MakeAlertController(*Alert_EntryForID(c.alertID), name, c.path)->mainTextfield()));
    EXPECT_TRUE(told.startsWith(QStringLiteral("\u201C") + name + QStringLiteral("\u201D cannot be shown in its folder.")))
        << told.toStdString();
    EXPECT_TRUE(copied.split(QLatin1Char('\n')).contains(c.path)) << copied.toStdString();
    EXPECT_TRUE(heard.contains(c.path)) << heard.toStdString();
    EXPECT_TRUE(othersKept);
  }
}
