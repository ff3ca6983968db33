// A new export's row comes into view on top of a long history, whichever way the export was asked for,
// and the keys stay with what had them.

#include "playback/JobsTableTestSupport.h"

#include "platform/foundation/NotificationCenter.h"
#include "playback/ZRNAVPlayerView.h"

#include <QApplication>
#include <QCompleter>
#include <QFileDialog>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>

// With the history scrolled down, a new export's row (on top) comes into view, and the keys stay with
// what had them: the picture, or the history itself.
TEST_F(JobsTable, ANewJobsRowIsScrolledIntoViewAndTheFocusStays) {
  auto finished = finishedClip();
  ASSERT_NE(finished, nullptr);
  for (int i = 0; i < 20; ++i) JobsTest_AddCopy(window->jobsController(), *finished, kJobStatusFinished);
  pane->updateInterface();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  QTableView* table = window->jobTableView();
  QScrollBar* bar = table->verticalScrollBar();
  const auto topRow = [&] { return table->visualRect(table->model()->index(0, 0)); };
  for (QWidget* focused : std::initializer_list<QWidget*>{window->playerView(), table}) {
    SCOPED_TRACE(focused->objectName().toStdString());
    focused->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(Test_WaitUntil([&] { return QApplication::focusWidget() == focused && bar->maximum() > 0; }));
    // The keys' row at the end of the history, or only the view scrolled there.
    if (focused == table) QTest::keyClick(table, Qt::Key_End);
    bar->setValue(bar->maximum());
    ASSERT_FALSE(table->viewport()->rect().intersects(topRow()));
    auto job = requestClip(1000, 3000);
    ASSERT_TRUE(job && waitUntilFinished(job));
    EXPECT_TRUE(table->viewport()->rect().contains(topRow()));
    EXPECT_EQ(QApplication::focusWidget(), focused);
  }
}

// Asked for by its keys while a low row of a long history has them, a session movie is named in its
// panel and Return pressed, over the panel's completion list too. The job comes in a turn of its own,
// once the panel and its list are gone; when the window has the keys again, the new row is in view and
// the keys are on the row that had them.
TEST_F(JobsTable, ASessionMovieNamedInItsPanelComesIntoViewAndTheKeysGoBackToTheirRow) {
  auto finished = finishedClip();
  ASSERT_NE(finished, nullptr);
  for (int i = 0; i < 20; ++i) JobsTest_AddCopy(window->jobsController(), *finished, kJobStatusFinished);
  pane->updateInterface();
  const QString folder = Test_MakeTempDir(QStringLiteral("movies"));
  QFile completed(folder + QStringLiteral("/Final Replay.mov"));
  ASSERT_TRUE(completed.open(QIODevice::WriteOnly));
  ZRNAppPrefs().setSaveTargetDirectory(QUrl::fromLocalFile(folder));
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  QTableView* table = window->jobTableView();
  const auto topRow = [&] { return table->visualRect(table->model()->index(0, 0)); };
  // When the job comes: whether the panel's signal had returned, and whether the panel or its list showed.
  bool signalReturned = false;
  bool cameAfterSignal = false;
  bool panelShowed = true;
  QPointer<QFileDialog> panel;
  QPointer<QWidget> list;
  NotificationObservation added(NotificationCenter::defaultCenter(),
      NotificationCenter::defaultCenter().addObserver(kZRNNotification_JobChange, nullptr, [&](const Notification& note) {
        if (ZRNJobsController::codeOfNotification(note) != kJobChangeAdded) return;
        cameAfterSignal = signalReturned;
        panelShowed = (panel && panel->isVisible()) || (list && list->isVisible());
      }));
  const struct {
    const char* typed;
    bool completing;  // the completion list shows when Return is pressed
  } cases[] = {{"Semi Final", false}, {"Fin", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    table->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(Test_WaitUntil([&] { return QApplication::focusWidget() == table; }));
    QTest::keyClick(table, Qt::Key_End);
    const auto keyJob = window->jobsController()->jobAtIndex(pane->keyRow());
    ASSERT_FALSE(table->viewport()->rect().intersects(topRow()));
    const int64_t before = window->jobsController()->numberOfJobs();
    QTest::keyClick(table, Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(Test_WaitUntil([&] { return window->exportSavePanel() && window->exportSavePanel()->isVisible(); }));
    panel = window->exportSavePanel();
    signalReturned = cameAfterSignal = false;
    panelShowed = true;
    // Connected after the window's handler, so it runs once that has returned.
    QObject::connect(panel, &QFileDialog::finished, panel, [&] { signalReturned = true; });
    auto* name = panel->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(name && name->completer());
    list = name->completer()->popup();
    ASSERT_TRUE(Test_WaitUntil([&] { return QApplication::focusWidget() == name; }));
    name->clear();
    QTest::keyClicks(name, QString::fromLatin1(c.typed));
    if (c.completing) {
      ASSERT_TRUE(Test_WaitUntil([&] { return list->isVisible(); }));
    }
    QTest::keyClick(list->isVisible() ? list.data() : name, Qt::Key_Return);
    ASSERT_TRUE(Test_WaitUntil([&] { return !panel && window->jobsController()->numberOfJobs() == before + 1; }));
    EXPECT_TRUE(cameAfterSignal);
    EXPECT_FALSE(panelShowed);
    EXPECT_EQ(window->jobsController()->jobAtIndex(0)->exportSettings()->value(kExportSettingsTargetPath).toString(),
              folder + QLatin1Char('/') + QLatin1String(c.typed) + QStringLiteral(".mov"));
    // The window manager gives the window back its keys once the panel has gone; offscreen nobody does.
    if (!window->isActiveWindow()) window->activateWindow();
    ASSERT_TRUE(Test_WaitUntil([&] { return QApplication::focusWidget() == table; }));
    EXPECT_TRUE(table->viewport()->rect().contains(topRow()));
    EXPECT_EQ(pane->keyRow(), window->jobsController()->indexOfJob(keyJob.get()));
    EXPECT_EQ(table->currentIndex().row(), pane->keyRow());
  }
}
