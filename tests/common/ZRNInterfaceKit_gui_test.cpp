#include "common/ZRNDraggableObject.h"
#include "common/ZRNDrawnViews.h"
#include "common/ZRNEmptyTableNote.h"
#include "common/ZRNImageTint.h"
#include "common/ZRN_InfoPopoverVC.h"
#include "support/TestSupport.h"

#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTableView>

#include <gtest/gtest.h>

#include <memory>

namespace {

// What the view paints on a transparent canvas of its size.
QImage Paint(QWidget* view, QSize size) {
  view->resize(size);
  QImage image(size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  view->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

bool Opaque(const QImage& image, int x, int y, QColor color) {
  const QColor pixel = image.pixelColor(x, y);
  return pixel.alpha() == 255 && pixel.red() == color.red() && pixel.green() == color.green() && pixel.blue() == color.blue();
}

}  // namespace

TEST(DrawnViews, SeparatorsFillWithTheirGreyAndTheTwoMiddleGreysMatch) {
  Gray50LineView gray50;
  Gray40LineView gray40;
  const QImage a = Paint(&gray50, QSize(4, 2));
  const QImage b = Paint(&gray40, QSize(4, 2));
  EXPECT_EQ(a.pixel(0, 0), b.pixel(0, 0));
  EXPECT_EQ(a.pixel(3, 1), b.pixel(0, 0));
  EXPECT_EQ(qGray(a.pixel(0, 0)), 102);
  Gray71LineView gray71;
  EXPECT_EQ(qGray(Paint(&gray71, QSize(2, 2)).pixel(1, 1)), 181);
}

TEST(DrawnViews, ADottedLineDrawsOnePointDashesWithTwoPointGapsStartingOneIntoThePattern) {
  ZRNDottedLineView line;
  line.setLineColor(Qt::black);
  const QImage image = Paint(&line, QSize(30, 1));
  QString pattern;
  for (int x = 0; x < 30; ++x) pattern += image.pixelColor(x, 0).alpha() > 127 ? QLatin1Char('#') : QLatin1Char('.');
  // The line runs along the middle of its first point, so the first dash follows a gap of 2.5 points.
  EXPECT_EQ(pattern.toStdString(), "...#..#..#..#..#..#..#..#..#..");
  // Standing upright, the same pattern runs downward.
  const QImage upright = Paint(&line, QSize(1, 9));
  QString down;
  for (int y = 0; y < 9; ++y) down += upright.pixelColor(0, y).alpha() > 127 ? QLatin1Char('#') : QLatin1Char('.');
  EXPECT_EQ(down.toStdString(), "...#..#..");
}

TEST(DrawnViews, ARoundedViewKeepsAWideOutlineInsideItsRectangle) {
  ZRNRoundedView view;
  view.setFillColor(Qt::red);
  view.setStrokeColor(Qt::blue);
  view.setStrokeWidth(2);
  view.setCornerRadius(3);
  const QImage image = Paint(&view, QSize(40, 20));
  // The whole outline is inside: both of its rows at the top and bottom edges are fully covered.
  EXPECT_TRUE(Opaque(image, 20, 0, Qt::blue));
  EXPECT_TRUE(Opaque(image, 20, 1, Qt::blue));
  EXPECT_TRUE(Opaque(image, 20, 2, Qt::red));
  EXPECT_TRUE(Opaque(image, 20, 19, Qt::blue));
  EXPECT_TRUE(Opaque(image, 0, 10, Qt::blue));
  EXPECT_TRUE(Opaque(image, 39, 10, Qt::blue));
  // The corners are rounded: the very corner pixel is not fully painted.
  EXPECT_LT(image.pixelColor(0, 0).alpha(), 255);
  // A repaint of a part in the middle draws the middle of the shape, not a small shape of its own.
  QImage part(40, 20, QImage::Format_ARGB32);
  part.fill(Qt::transparent);
  view.render(&part, QPoint(10, 5), QRegion(10, 5, 20, 10), QWidget::DrawChildren);
  EXPECT_TRUE(Opaque(part, 10, 5, Qt::red));
}

TEST(DrawnViews, AFramedViewRoundsItsFillOnlyAboveRadiusOne) {
  ZRN_FramedView view;
  view.setBackgroundColor(Qt::green);
  view.setFrameWidth(0);
  view.setCornerRadius(1.0f);
  EXPECT_TRUE(Opaque(Paint(&view, QSize(20, 20)), 0, 0, Qt::green));
  view.setCornerRadius(1.5f);
  const QImage rounded = Paint(&view, QSize(20, 20));
  EXPECT_LT(rounded.pixelColor(0, 0).alpha(), 255);
  EXPECT_TRUE(Opaque(rounded, 10, 0, Qt::green));
  // The frame is square around a rounded fill.
  view.setFrameWidth(1);
  view.setFrameColor(Qt::black);
  EXPECT_TRUE(Opaque(Paint(&view, QSize(20, 20)), 0, 0, Qt::black));
}

TEST(DrawnViews, ASquarePictureBadgeIsCentredInAWideArea) {
  ZRNTypeBadgeView badge;
  badge.setBackColor(QColor());
  badge.setLineColor(QColor());
  badge.setLineWidth(2);
  badge.setHasPicture(true);
  QImage picture(10, 10, QImage::Format_ARGB32);
  picture.fill(Qt::red);
  badge.setBadgeImage(picture);
  const QImage image = Paint(&badge, QSize(40, 20));
  // The area less the line inset is 38 x 18; the picture takes the centred 18 x 18 square.
  EXPECT_EQ(image.pixelColor(10, 10).alpha(), 0);
  EXPECT_TRUE(Opaque(image, 13, 10, Qt::red));
  EXPECT_TRUE(Opaque(image, 26, 3, Qt::red));
  EXPECT_TRUE(Opaque(image, 26, 16, Qt::red));
  EXPECT_EQ(image.pixelColor(29, 10).alpha(), 0);
  EXPECT_EQ(image.pixelColor(20, 0).alpha(), 0);
  // A badge hidden on purpose draws no picture.
  badge.setHidden(true);
  EXPECT_EQ(Paint(&badge, QSize(40, 20)).pixelColor(20, 10).alpha(), 0);
}

TEST(DrawnViews, ATitleBadgeWithoutLineColourDrawsOnlyItsBackground) {
  ZRNTypeBadgeView badge;
  badge.setBackColor(Qt::blue);
  badge.setLineColor(QColor());
  badge.setLineWidth(1);
  badge.setTitle(QStringLiteral("M"));
  const QImage image = Paint(&badge, QSize(30, 16));
  for (int y = 2; y < 14; ++y)
    for (int x = 2; x < 28; ++x) ASSERT_TRUE(Opaque(image, x, y, Qt::blue)) << x << "," << y;
  // With a line colour the title shows in it.
  badge.setLineColor(Qt::white);
  const QImage titled = Paint(&badge, QSize(30, 16));
  bool white = false;
  for (int y = 2; y < 14 && !white; ++y)
    for (int x = 4; x < 26 && !white; ++x) white = qGray(titled.pixel(x, y)) > 200;
  EXPECT_TRUE(white);
}

TEST(ImageTint, TheFlatTintKeepsAlphaAndReplacesColour) {
  QImage image(3, 1, QImage::Format_ARGB32);
  image.setPixelColor(0, 0, QColor(10, 200, 30, 255));
  image.setPixelColor(1, 0, QColor(200, 10, 30, 128));
  image.setPixelColor(2, 0, QColor(0, 0, 0, 0));
  const QImage tinted = ksu4TintedImageWithColor(image, QColor(0, 0, 255)).convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(tinted.pixelColor(0, 0), QColor(0, 0, 255, 255));
  const QColor half = tinted.pixelColor(1, 0);
  EXPECT_EQ(half.alpha(), 128);
  EXPECT_EQ(half.red(), 0);
  EXPECT_EQ(half.green(), 0);
  EXPECT_GE(half.blue(), 253);
  EXPECT_EQ(tinted.pixelColor(2, 0).alpha(), 0);
}

TEST(ImageTint, TheFilterTintMovesHalfWayAndWithoutAColourCopiesUnchanged) {
  QImage image(2, 1, QImage::Format_ARGB32);
  image.setPixelColor(0, 0, QColor(255, 255, 255, 255));
  image.setPixelColor(1, 0, QColor(0, 0, 0, 77));
  EXPECT_EQ(ksu5ImageTintedWithColor(image, QColor()), image);
  // White (luminance 1) goes half-way toward red: (255, 128, 128); black stays black, alpha stays.
  const QImage tinted = ksu5ImageTintedWithColor(image, QColor(255, 0, 0));
  EXPECT_EQ(tinted.pixelColor(0, 0), QColor(255, 128, 128, 255));
  EXPECT_EQ(tinted.pixelColor(1, 0), QColor(0, 0, 0, 77));
}

TEST(EmptyTableNote, TheNoteAndTheGridFollowTheRowsAndThePaneFormBuildsItsNoteOnlyWhenAsked) {
  QTableView table;
  QStandardItemModel model(0, 1);
  table.setModel(&model);
  table.resize(200, 120);
  ZRNEmptyTableNoteObj note;
  note.setTheDataView(&table);
  note.setupForEmptyTable(true);
  ASSERT_NE(note.emptyTableTextV(), nullptr);
  EXPECT_EQ(note.emptyTableTextV()->text(), QStringLiteral("No Data"));
  EXPECT_TRUE(note.emptyTableTextV()->isVisibleTo(&table));
  EXPECT_EQ(note.emptyTableTextV()->geometry(), table.rect());
  EXPECT_EQ(ZRN_TableGridStyleMask(&table), kZRNTableGridNone);
  model.appendRow(new QStandardItem(QStringLiteral("row")));
  note.setupForEmptyTable(false);
  EXPECT_FALSE(note.emptyTableTextV()->isVisibleTo(&table));
  EXPECT_EQ(ZRN_TableGridStyleMask(&table), kZRNTableGridDashedHorizontal);

  QTableView other;
  other.resize(200, 120);
  other.show();
  ZRNEmptyTableNoteVC pane;
  pane.setTheDataView(&other);
  pane.setupForEmptyTable(true);
  EXPECT_EQ(pane.emptyTableTextV(), nullptr);
  EXPECT_EQ(ZRN_TableGridStyleMask(&other), kZRNTableGridNone);
  pane.U_SetupEmptyTableView();
  pane.setupForEmptyTable(true);
  ASSERT_NE(pane.emptyTableTextV(), nullptr);
  EXPECT_TRUE(pane.emptyTableTextV()->isVisibleTo(&other));
  EXPECT_EQ(pane.emptyTableTextV()->width(), 200 - 24);
  other.resize(300, 120);
  EXPECT_EQ(pane.emptyTableTextV()->width(), 300 - 24);
}

TEST(DraggableObject, ADragNamesItsObjectOnlyWhileTheObjectLives) {
  EXPECT_EQ(ZRNDraggableObject::dndUTI(), QStringLiteral("application/x-org.velmora.Velmora.draggableObjectUTI"));
  auto object = std::make_unique<ZRNDraggableObject>();
  EXPECT_EQ(object->writableTypesForPasteboard(), QStringList{ZRNDraggableObject::dndUTI()});
  EXPECT_TRUE(object->pasteboardPropertyListForType(QStringLiteral("text/plain")).isEmpty());
  std::unique_ptr<QMimeData> data(object->mimeData());
  EXPECT_EQ(ZRNDraggableObject::objectFromMimeData(data.get()), object.get());
  // A drag naming an object that is gone (or any address from elsewhere) names nothing.
  object.reset();
  EXPECT_EQ(ZRNDraggableObject::objectFromMimeData(data.get()), nullptr);
  QMimeData garbage;
  garbage.setData(ZRNDraggableObject::dndUTI(), QByteArray("\x00\x00\x7f\xff\x12\x34\x56\x78", 8));
  EXPECT_EQ(ZRNDraggableObject::objectFromMimeData(&garbage), nullptr);
}

// A popover is placed where it is wholly on the screen: below its anchor when there is room, else above
// it, pushed in from the edges, and a text taller than the screen scrolls inside it.
TEST(InfoPopover, StaysInsideTheAvailableAreaOfTheScreen) {
  QWidget window;
  window.resize(300, 200);
  auto* anchor = new QPushButton(QStringLiteral("i"), &window);
  anchor->setGeometry(10, 170, 40, 24);
  window.show();
  const QRect area = window.screen()->availableGeometry();
  QString tall;
  for (int i = 0; i < 200; ++i) tall += QStringLiteral("<p>Line %1</p>").arg(i);
  const struct {
    const char* name;
    QPoint windowAt;
    QString html;
    bool above;
    bool scrolls;
  } cases[] = {
      {"room below", area.topLeft(), QStringLiteral("<p>Short</p>"), false, false},
      {"at the bottom", QPoint(area.left(), area.bottom() - 200), QStringLiteral("<p>Short</p>"), true, false},
      {"at the right edge", QPoint(area.right() - 40, area.top()), QStringLiteral("<p>Short</p>"), false, false},
      {"taller than the screen", area.topLeft(), tall, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    window.move(c.windowAt);
    Test_ProcessEvents();
    auto* content = new ZRN_InfoPopoverVC(QStringLiteral("ZRN_InfoPopover"));
    std::unique_ptr<QFrame> popover(ZRN_MakeInfoPopover(&window, content, QStringLiteral("popover"), QStringLiteral("Info")));
    content->setWebViewPsaxnoTo(c.html);
    ZRN_PlaceInfoPopover(popover.get(), content, anchor);
    popover->show();
    const QRect shown = popover->frameGeometry();
    EXPECT_TRUE(area.contains(shown)) << shown.x() << "," << shown.y() << " " << shown.width() << "x" << shown.height();
    const int anchorTop = anchor->mapToGlobal(QPoint(0, 0)).y();
    if (!c.scrolls) EXPECT_EQ(shown.bottom() < anchorTop, c.above);
    EXPECT_EQ(content->theWebView()->verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded, c.scrolls);
  }
}
