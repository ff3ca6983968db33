#include "common/ZRNColorWell.h"

#include "support/TestSupport.h"

#include <QColorDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

QColor Rgb(int r, int g, int b) { return QColor::fromRgbF(r / 255.0, g / 255.0, b / 255.0, 1.0); }

// Press on one point of a widget and release on another, as a user's click or slide does.
void PressRelease(QWidget* widget, QPointF press, QPointF release) {
  QMouseEvent down(QEvent::MouseButtonPress, press, widget->mapToGlobal(press), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &down);
  if (press != release) {
    QMouseEvent move(QEvent::MouseMove, release, widget->mapToGlobal(release), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
  }
  QMouseEvent up(QEvent::MouseButtonRelease, release, widget->mapToGlobal(release), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &up);
}

// Drops the data on the well: enter, then drop. Answers whether the drop was taken.
bool Drop(ZRNColorWell& well, QMimeData* data) {
  const QPointF at = well._controlColorSwatchFrame().center();
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&well, &enter);
  QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&well, &drop);
  return drop.isAccepted();
}

}  // namespace

TEST(ColorWellPalette, DefaultPaletteCells) {
  KSUColorGridViewDefaultDelegate palette;
  EXPECT_EQ(palette.numberOfColumnsInColorWell(nullptr), 10);
  EXPECT_EQ(palette.numberOfRowsInColorWell(nullptr), 12);
  for (int column = 0; column < 10; ++column) EXPECT_FALSE(palette.colorWell(nullptr, column, 1).isValid()) << column;
  const struct {
    int column, row;
    QColor color;
  } cells[] = {{0, 0, Rgb(255, 33, 0)},     {8, 0, Rgb(161, 110, 58)},   {9, 0, QColor::fromRgbF(0.5, 0.5, 0.5)},
               {0, 2, Rgb(255, 255, 255)},  {9, 2, Rgb(0, 0, 0)},        {2, 3, Rgb(18, 3, 52)},
               {5, 7, Rgb(255, 56, 20)},    {9, 11, Rgb(220, 234, 206)}, {8, 11, Rgb(254, 252, 216)}};
  for (const auto& cell : cells) {
    SCOPED_TRACE(testing::Message() << cell.column << "," << cell.row);
    EXPECT_EQ(palette.colorWell(nullptr, cell.column, cell.row), cell.color);
  }
  EXPECT_FALSE(palette.colorWell(nullptr, 10, 0).isValid());
  EXPECT_EQ(palette.colorMatrix().size(), 120);
}

TEST(ColorWell, SizeRuleRegionsAndToolTips) {
  EXPECT_EQ(ZRNColorWell::intrinsicContentSizeForScale(2.0), QSize(49, 18));
  EXPECT_EQ(ZRNColorWell::intrinsicContentSizeForScale(1.0), QSize(50, 19));
  EXPECT_EQ(ZRNColorWell::intrinsicContentSizeForScale(3.0), QSize(50, 19));
  ZRNColorWell well;
  well.resize(well.sizeHint());
  EXPECT_EQ(well.color(), QColor::fromRgbF(1, 1, 1, 1));
  EXPECT_FALSE(well.accessibleName().isEmpty());
  EXPECT_EQ(well.stringForToolTip(QPointF(10, 10)), "Click to choose a color.");
  EXPECT_EQ(well.stringForToolTip(QPointF(40, 10)), "Click to show more colours or set your own.");
  EXPECT_EQ(well._controlButtonFrame().left(), well._controlColorSwatchFrame().right() + 0.25);

  // Hovering marks the region under the pointer, and only that one.
  auto moveTo = [&](QPointF at) {
    QMouseEvent move(QEvent::MouseMove, at, well.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&well, &move);
  };
  moveTo(well._controlColorSwatchFrame().center());
  EXPECT_TRUE(well.shouldDrawMouseOverIndicator());
  EXPECT_FALSE(well.shouldDrawDarkerButtonRegion());
  moveTo(well._controlButtonFrame().center());
  EXPECT_FALSE(well.shouldDrawMouseOverIndicator());
  EXPECT_TRUE(well.shouldDrawDarkerButtonRegion());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&well, &leave);
  EXPECT_FALSE(well.shouldDrawDarkerButtonRegion());
  well.setEnabled(false);
  moveTo(well._controlColorSwatchFrame().center());
  EXPECT_FALSE(well.shouldDrawMouseOverIndicator());
}

TEST(ColorWell, SettingAColorSendsTheActionOnlyForANewValidColor) {
  ZRNColorWell well;
  QSignalSpy actions(&well, &ZRNColorWell::action);
  well.setColor(Qt::red);
  EXPECT_EQ(well.color(), QColor(Qt::red));
  EXPECT_EQ(actions.count(), 1);
  well.setColor(Qt::red);
  well.setColor(QColor());
  EXPECT_EQ(well.color(), QColor(Qt::red));
  EXPECT_EQ(actions.count(), 1);
  well.U_SetTheColor(Qt::blue);
  EXPECT_EQ(well.color(), QColor(Qt::blue));
  EXPECT_EQ(actions.count(), 1);
}

TEST(ColorWell, DropsSetTheColorOnceAndDragsCarryIt) {
  ZRNColorWell well;
  well.resize(well.sizeHint());
  QSignalSpy actions(&well, &ZRNColorWell::action);
  QMimeData color;
  color.setColorData(QColor(10, 200, 30, 128));
  EXPECT_TRUE(Drop(well, &color));
  EXPECT_EQ(well.color(), QColor(10, 200, 30, 128));
  EXPECT_EQ(actions.count(), 1);
  EXPECT_FALSE(well.shouldDrawFocusRing());
  // The same colour again changes nothing; text is no colour.
  EXPECT_TRUE(Drop(well, &color));
  EXPECT_EQ(actions.count(), 1);
  QMimeData text;
  text.setText("red");
  EXPECT_FALSE(Drop(well, &text));
  EXPECT_EQ(actions.count(), 1);

  std::unique_ptr<QMimeData> out(well.makeDragData());
  EXPECT_TRUE(out->hasFormat("application/x-color"));
  EXPECT_EQ(qvariant_cast<QColor>(out->colorData()), QColor(10, 200, 30, 128));
  EXPECT_EQ(well.dragImage().size(), QSize(18, 18));
}

TEST(ColorWell, GridChoosesOnlyWherePressAndReleaseMeet) {
  ZRNColorWell well;
  well.resize(well.sizeHint());
  well.show();
  QSignalSpy actions(&well, &ZRNColorWell::action);
  const QPointF swatch = well._controlColorSwatchFrame().center();
  PressRelease(&well, swatch, swatch);
  ASSERT_TRUE(well.popoverIsShown());
  ZRNColorGridView* grid = well.colorGridView();
  EXPECT_EQ(grid->sizeHint(), QSize(150, 178));
  EXPECT_EQ(grid->_frameForColorAreaAtColumn(0, 0), QRectF(6, 6, 12, 12));
  EXPECT_EQ(grid->_frameForColorAreaAtColumn(9, 11), QRectF(6 + 9 * 14, 6 + 11 * 14, 12, 12));

  auto cell = [&](int column, int row) { return grid->_frameForColorAreaAtColumn(column, row).center(); };
  PressRelease(grid, cell(0, 0), cell(1, 0));     // different cells
  PressRelease(grid, QPointF(1, 1), cell(0, 0));  // pressed outside every cell, after a press on (0,0)
  PressRelease(grid, cell(3, 1), cell(3, 1));     // an empty cell
  EXPECT_EQ(actions.count(), 0);
  EXPECT_EQ(well.color(), QColor::fromRgbF(1, 1, 1, 1));
  EXPECT_TRUE(well.popoverIsShown());

  PressRelease(grid, cell(9, 0), cell(9, 0));
  EXPECT_EQ(well.color(), QColor::fromRgbF(0.5, 0.5, 0.5));
  EXPECT_EQ(actions.count(), 1);
  EXPECT_FALSE(well.popoverIsShown());

  // A click on the swatch opens a new popover (the old one is gone: an address could be reused), the next
  // closes it.
  const QPointer<QFrame> first = well.popover();
  ASSERT_FALSE(first.isNull());
  PressRelease(&well, swatch, swatch);
  ASSERT_TRUE(well.popoverIsShown());
  EXPECT_TRUE(first.isNull());
  PressRelease(&well, swatch, swatch);
  EXPECT_FALSE(well.popoverIsShown());
}

TEST(ColorWell, ButtonOpensAndClosesTheSharedColorPanel) {
  ZRNColorWell well;
  well.resize(well.sizeHint());
  well.show();
  QSignalSpy actions(&well, &ZRNColorWell::action);
  const QPointF button = well._controlButtonFrame().center();
  PressRelease(&well, button, button);
  QColorDialog* panel = ZRNColorWell::sharedColorPanel();
  ASSERT_TRUE(panel->isVisible());
  EXPECT_TRUE(panel->testOption(QColorDialog::ShowAlphaChannel));
  EXPECT_EQ(panel->currentColor(), well.color());
  EXPECT_TRUE(well.shouldDrawButtonRegionWithSelectedColor());
  panel->setCurrentColor(QColor(1, 2, 3));
  EXPECT_EQ(well.color(), QColor(1, 2, 3));
  EXPECT_EQ(actions.count(), 1);
  PressRelease(&well, button, button);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_FALSE(well.shouldDrawButtonRegionWithSelectedColor());

  // Closed by its own close button, the panel lets the well go.
  PressRelease(&well, button, button);
  ASSERT_TRUE(panel->isVisible());
  panel->reject();
  EXPECT_FALSE(well.shouldDrawButtonRegionWithSelectedColor());
  panel->setCurrentColor(QColor(4, 5, 6));
  EXPECT_EQ(well.color(), QColor(1, 2, 3));

  // Disabled, the well opens nothing.
  well.setEnabled(false);
  PressRelease(&well, button, button);
  EXPECT_FALSE(panel->isVisible());
}
