// The dark windows read in every state: their controls, enabled or not, are dark boxes with readable
// text, and the radio buttons of First Aid stand out from the window.

#include "app/VLConvertLegacySessionWC.h"
#include "capture/ZRNWaitingForDeviceWC.h"
#include "firstaid/ZRNFirstAidWindowController.h"
#include "support/ContrastSupport.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

namespace {

// Every push button of the window, disabled and then enabled: a dark box with text that reads (dimmed
// when disabled).
void DarkTest_ExpectButtonsRead(QWidget* window) {
  const QList<QPushButton*> buttons = window->findChildren<QPushButton*>();
  ASSERT_FALSE(buttons.isEmpty());
  for (QPushButton* button : buttons) {
    if (!button->isVisibleTo(window) || button->text().isEmpty()) continue;
    SCOPED_TRACE(button->objectName().toStdString());
    const bool was = button->isEnabled();
    for (bool enabled : {false, true}) {
      button->setEnabled(enabled);
      const Test_Reading reading = Test_ReadControl(button);
      EXPECT_LT(reading.boxLuminance, 0.15) << (enabled ? "enabled" : "disabled");
      EXPECT_GE(reading.textContrast, enabled ? 4.5 : 3.0) << (enabled ? "enabled" : "disabled");
    }
    button->setEnabled(was);
  }
}

}  // namespace

TEST(DarkWindows, ButtonsReadEnabledAndDisabled) {
  const struct {
    const char* name;
    std::function<QWidget*()> make;
  } windows[] = {
      {"first aid",
       [] {
         auto* w = new ZRNFirstAidWindowController;
         w->setBombed(true);
         return w;
       }},
      {"waiting for a camera", [] { return new ZRNWaitingWindowController(QStringLiteral("usb-cam-1"), QStringLiteral("Cam One")); }},
      {"conversion of an old session", [] { return new VLConvertLegacySessionWC; }},
  };
  for (const auto& w : windows) {
    SCOPED_TRACE(w.name);
    std::unique_ptr<QWidget> window(w.make());
    window->show();
    ASSERT_TRUE(Test_WaitUntil([&] { return window->isVisible(); }));
    DarkTest_ExpectButtonsRead(window.get());
  }
}

// The rings of First Aid's radio buttons and check box stand out from the window (3:1, as for any
// mark that must be seen), and the chosen one's dot too.
TEST(DarkWindows, FirstAidRadioButtonsStandOutFromTheWindow) {
  ZRNFirstAidWindowController window;
  window.setBombed(true);
  window.show();
  ASSERT_TRUE(Test_WaitUntil([&] { return window.isVisible(); }));
  const QColor background = window.palette().color(QPalette::Window);
  QList<QAbstractButton*> marks;
  for (QRadioButton* radio : window.findChildren<QRadioButton*>()) marks << radio;
  marks << window.clearLogsCheck();
  ASSERT_GE(marks.size(), 4);
  for (QAbstractButton* mark : marks) {
    SCOPED_TRACE(mark->objectName().toStdString());
    QStyleOptionButton option;
    option.initFrom(mark);
    const bool radio = qobject_cast<QRadioButton*>(mark) != nullptr;
    const QRect indicator = mark->style()->subElementRect(radio ? QStyle::SE_RadioButtonIndicator : QStyle::SE_CheckBoxIndicator,
                                                          &option, mark);
    const QImage image = Test_Render(&window, QRect(mark->mapTo(&window, indicator.topLeft()), indicator.size()));
    EXPECT_GE(Test_StrongestContrastAgainst(image, background), mark->isEnabled() ? 4.5 : 3.0);
  }
  // The chosen option's dot is white on the field.
  QRadioButton* chosen = window.saveLogsBtn();
  ASSERT_TRUE(chosen->isChecked());
  QStyleOptionButton option;
  option.initFrom(chosen);
  const QRect indicator = chosen->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, chosen);
  const QImage dot = Test_Render(&window, QRect(chosen->mapTo(&window, indicator.center() - QPoint(1, 1)), QSize(3, 3)));
  EXPECT_GT(Test_Luminance(dot.pixelColor(1, 1)), 0.7);
}

// A context menu opened from a dark window is dark too.
TEST(DarkWindows, MenusOpenedFromADarkWindowAreDark) {
  ZRNWaitingWindowController dialog(QStringLiteral("usb-cam-1"), QStringLiteral("Cam One"));
  dialog.show();
  QMenu menu(&dialog);
  menu.addAction(QStringLiteral("Copy"));
  menu.addAction(QStringLiteral("Select All"));
  menu.popup(dialog.mapToGlobal(QPoint(10, 10)));
  ASSERT_TRUE(Test_WaitUntil([&] { return menu.isVisible(); }));
  const QImage image = Test_Render(&menu);
  EXPECT_LT(Test_Luminance(Test_DominantColor(image)), 0.1);
  EXPECT_GE(Test_TextContrast(image), 4.5);
  menu.close();
}
