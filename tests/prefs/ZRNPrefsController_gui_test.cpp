#include "prefs/ZRNPrefsController.h"

#include "prefs/PrefsTestSupport.h"
#include "prefs/UpdatesPrefsTabController.h"
#include "prefs/VLCameraPrefsTabVC.h"
#include "prefs/VLExportPrefsTabVC.h"

#include "platform/system/SUUpdater.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

using PrefsWindow = PrefsWindowFixture;

TEST_F(PrefsWindow, OpensOnTheModuleShownLastAndFallsBackToTheCameraModule) {
  const struct {
    const char* stored;
    const char* shown;
  } rows[] = {{"UpdatesPrefsPane", "UpdatesPrefsPane"},
              {"ExportPrefsPane", "ExportPrefsPane"},
              {"NoSuchPane", "CameraPrefsPane"},
              {nullptr, "CameraPrefsPane"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.stored ? row.stored : "(none)");
    UserDefaults::standard().setObject(kMBPreferencesSelectionKey, row.stored ? QVariant(QString(row.stored)) : QVariant());
    ZRNPrefsController::releaseSharedController();
    ZRNPrefsController* controller = openWindow();
    ASSERT_NE(controller->currentModule(), nullptr);
    EXPECT_EQ(controller->currentModule()->identifier(), row.shown);
    EXPECT_EQ(controller->windowTitle(), controller->currentModule()->windowTitle());
    EXPECT_TRUE(controller->toolbarItem(row.shown)->isChecked());
    EXPECT_TRUE(controller->currentModule()->view()->isVisible());
  }
  // A module chosen on the tool bar is the one remembered.
  ZRNPrefsController* controller = ZRNPrefsController::sharedPreferencesController();
  controller->toolbarItem("ExportPrefsPane")->trigger();
  EXPECT_EQ(controller->currentModule()->identifier(), "ExportPrefsPane");
  EXPECT_EQ(UserDefaults::standard().stringForKey(kMBPreferencesSelectionKey), "ExportPrefsPane");
}

TEST_F(PrefsWindow, ToolbarOffersTheThreeModulesInOrderWithNamesAndLabels) {
  ZRNPrefsController* controller = openWindow();
  QStringList names;
  for (QAction* item : controller->toolbar()->actions()) {
    names << item->objectName();
    EXPECT_TRUE(item->isVisible());
    EXPECT_FALSE(item->text().isEmpty());
    EXPECT_FALSE(item->icon().isNull()) << item->objectName().toStdString();
  }
  EXPECT_EQ(names, QStringList({"CameraPrefsPane", "ExportPrefsPane", "UpdatesPrefsPane"}));
  EXPECT_EQ(controller->toolbarAllowedItemIdentifiers(), names);
  EXPECT_TRUE(controller->cameraTab()->isEnabled());
}

TEST_F(PrefsWindow, SwitchingModulesKeepsTheTopEdgeAndFitsTheModule) {
  UserDefaults::standard().setObject(kMBPreferencesSelectionKey, QString("CameraPrefsPane"));
  ZRNPrefsController* controller = openWindow();
  ASSERT_NO_FATAL_FAILURE(waitForResize(controller));
  controller->move(100, 120);
  ASSERT_TRUE(Test_WaitUntil([&] { return controller->frameGeometry().top() == 120; }));
  const QRect tall = controller->geometry();
  // The window shows the whole module, its own minimum size included: nothing on its right is cut off.
  auto shownWhole = [](QWidget* module) {
    return module->parentWidget() && module->parentWidget()->rect().contains(module->geometry()) &&
           module->width() >= module->minimumWidth() && module->height() >= module->minimumHeight();
  };
  EXPECT_TRUE(shownWhole(controller->cameraTab()));

  controller->toolbarItem("ExportPrefsPane")->trigger();
  ASSERT_NO_FATAL_FAILURE(waitForResize(controller));
  ASSERT_TRUE(Test_WaitUntil([&] { return controller->geometry().height() != tall.height(); }));
  EXPECT_TRUE(shownWhole(controller->exportTab()));
  const QRect shortRect = controller->geometry();
  EXPECT_LT(shortRect.height(), tall.height());
  EXPECT_EQ(shortRect.top(), tall.top());
  EXPECT_EQ(shortRect.left(), tall.left());
  EXPECT_TRUE(controller->exportTab()->isVisible());
  EXPECT_FALSE(controller->cameraTab()->isVisible());

  controller->toolbarItem("CameraPrefsPane")->trigger();
  ASSERT_NO_FATAL_FAILURE(waitForResize(controller));
  ASSERT_TRUE(Test_WaitUntil([&] { return controller->geometry().height() == tall.height(); }));
  EXPECT_EQ(controller->geometry().top(), tall.top());
}

TEST_F(PrefsWindow, ClosingOrdersTheWindowOutAndShowingItAgainKeepsTheModule) {
  ZRNPrefsController* controller = openWindow();
  controller->selectModuleWithIdentifier("UpdatesPrefsPane");
  EXPECT_FALSE(ZRNPrefsController::isONAndShowingCameraSettings());
  controller->selectModuleWithIdentifier("CameraPrefsPane");
  EXPECT_TRUE(ZRNPrefsController::isONAndShowingCameraSettings());
  bool told = true;
  ZRNPrefsController::setWindowShownHandler([&](bool shown) { told = shown; });
  controller->close();
  EXPECT_FALSE(told);
  EXPECT_FALSE(controller->isVisible());
  EXPECT_FALSE(ZRNPrefsController::isONAndShowingCameraSettings());
  EXPECT_EQ(ZRNPrefsController::sharedPreferencesController(), controller);
  controller->showWindow();
  EXPECT_TRUE(told);
  EXPECT_EQ(controller->currentModule()->identifier(), "CameraPrefsPane");
  ZRNPrefsController::setWindowShownHandler({});
}

namespace {
// What the user sees cut off: a control narrower or lower than its own smallest size, a one-line text
// wider than its label, or any part outside the window's content.
QStringList cutControls(MBPreferencesController* controller, QWidget* module) {
  QStringList cut;
  QWidget* content = controller->centralWidget();
  for (QWidget* control : module->findChildren<QWidget*>()) {
    if (!control->isVisibleTo(controller) || control->isWindow()) continue;
    if (!qobject_cast<QPushButton*>(control) && !qobject_cast<QComboBox*>(control) && !qobject_cast<QLabel*>(control)) continue;
    const QString name = control->objectName().isEmpty() ? QString::fromLatin1(control->metaObject()->className()) : control->objectName();
    const QRect inContent(control->mapTo(content, QPoint(0, 0)), control->size());
    const QSize least = control->minimumSizeHint();
    bool whole = content->rect().contains(inContent) && control->width() >= least.width() && control->height() >= least.height();
    if (auto* label = qobject_cast<QLabel*>(control); label && !label->wordWrap() && label->textFormat() != Qt::RichText)
      whole = whole && label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width();
    if (!whole) cut << name;
  }
  return cut;
}
}  // namespace

TEST_F(PrefsWindow, EveryModuleShowsEachOfItsControlsWhole) {
  // The longest last-check text a date makes: a Wednesday in September at a two-digit hour.
  UserDefaults::standard().setObject(QString::fromLatin1(kSULastCheckTimeKey), QDateTime(QDate(2026, 9, 30), QTime(10, 45)).toUTC());
  ZRNPrefsController* controller = openWindow();
  for (const char* identifier : {"CameraPrefsPane", "ExportPrefsPane", "UpdatesPrefsPane", "CameraPrefsPane"}) {
    SCOPED_TRACE(identifier);
    controller->selectModuleWithIdentifier(identifier);
    ASSERT_NO_FATAL_FAILURE(waitForResize(controller));
    Test_ProcessEvents(20);
    QWidget* module = controller->currentModule()->view();
    EXPECT_EQ(cutControls(controller, module).join(' ').toStdString(), "");
    // The window is the module's size: no bigger than its larger hint either.
    const QSize wanted = module->sizeHint().expandedTo(module->minimumSizeHint()).expandedTo(module->minimumSize());
    EXPECT_EQ(controller->centralWidget()->size(), wanted);
  }
  EXPECT_TRUE(controller->updatesTab()->findChild<QLabel*>("lastCheckText")->text().contains("September 30, 2026"));
}

TEST_F(PrefsWindow, KeyboardSwitchesModulesAndClosesTheWindow) {
  UserDefaults::standard().setObject(kMBPreferencesSelectionKey, QString("CameraPrefsPane"));
  ZRNPrefsController* controller = openWindow();
  QApplication::setActiveWindow(controller);
  ASSERT_TRUE(Test_WaitUntil([&] { return controller->isActiveWindow(); }));
  // The buttons are in the Tab order.
  for (const char* identifier : {"CameraPrefsPane", "ExportPrefsPane", "UpdatesPrefsPane"})
    EXPECT_TRUE(controller->toolbarButton(identifier)->focusPolicy() & Qt::TabFocus) << identifier;
  controller->toolbarButton("CameraPrefsPane")->setFocus(Qt::TabFocusReason);
  const struct {
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* shown;
  } steps[] = {{Qt::Key_Right, Qt::NoModifier, "ExportPrefsPane"},   {Qt::Key_Down, Qt::NoModifier, "UpdatesPrefsPane"},
               {Qt::Key_Right, Qt::NoModifier, "CameraPrefsPane"},   {Qt::Key_Left, Qt::NoModifier, "UpdatesPrefsPane"},
               {Qt::Key_PageUp, Qt::ControlModifier, "ExportPrefsPane"}, {Qt::Key_PageDown, Qt::ControlModifier, "UpdatesPrefsPane"},
               {Qt::Key_PageDown, Qt::ControlModifier, "CameraPrefsPane"}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.shown);
    QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : controller;
    QTest::keyClick(focus, Qt::Key(step.key), step.modifiers);
    ASSERT_EQ(controller->currentModule()->identifier(), step.shown);
    EXPECT_TRUE(controller->toolbarItem(step.shown)->isChecked());
    // The focus follows the module chosen with the arrows.
    EXPECT_EQ(QApplication::focusWidget(), controller->toolbarButton(step.shown));
  }
  bool told = true;
  ZRNPrefsController::setWindowShownHandler([&](bool shown) { told = shown; });
  for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
    SCOPED_TRACE(QKeySequence(keys).toString().toStdString());
    controller->showWindow();
    QApplication::setActiveWindow(controller);
    ASSERT_TRUE(Test_WaitUntil([&] { return controller->isActiveWindow(); }));
    told = true;
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : controller, keys.key(), keys.keyboardModifiers());
    EXPECT_FALSE(controller->isVisible());
    EXPECT_FALSE(told);
    EXPECT_EQ(ZRNPrefsController::sharedPreferencesController(), controller);
  }
  ZRNPrefsController::setWindowShownHandler({});
}

TEST_F(PrefsWindow, ToolbarReadsAsNamedButtonsWithTheShownOneChecked) {
  UserDefaults::standard().setObject(kMBPreferencesSelectionKey, QString("ExportPrefsPane"));
  ZRNPrefsController* controller = openWindow();
  QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(controller->toolbar());
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->text(QAccessible::Name), "Preferences modules");
  for (const char* identifier : {"CameraPrefsPane", "ExportPrefsPane", "UpdatesPrefsPane"}) {
    SCOPED_TRACE(identifier);
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(controller->toolbarButton(identifier));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->role(), QAccessible::Button);
    EXPECT_TRUE(button->state().checkable);
    EXPECT_EQ(button->text(QAccessible::Name), controller->moduleForIdentifier(identifier)->title());
    EXPECT_EQ(button->state().checked, QString(identifier) == "ExportPrefsPane");
  }
}
