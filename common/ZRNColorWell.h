#pragma once
// A compact colour control: a swatch showing the colour, which opens a popover with a grid of preset
// colours, and a small button that opens the shared colour dialog. Colours can be dragged out of the
// well and dropped onto it ("application/x-color"). The preset colours come from a delegate; the
// default one holds a palette of 10 columns and 12 rows.

#include "common/ZRNBaseClasses.h"

#include <QColor>
#include <QFrame>
#include <QMap>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <memory>

class QColorDialog;
class QMimeData;
class ZRNColorGridView;
class ZRNColorWell;

// Where the well's preset colours come from. An invalid colour is an empty cell.
class ZRNColorWellDelegate {
 public:
  virtual ~ZRNColorWellDelegate() = default;
  virtual int numberOfColumnsInColorWell(const ZRNColorWell* well) const = 0;
  virtual int numberOfRowsInColorWell(const ZRNColorWell* well) const = 0;
  virtual QColor colorWell(const ZRNColorWell* well, int column, int row) const = 0;
};

// The default palette: ten pure colours, an empty row, a grey ramp, then nine rows of one hue per
// column from dark to light.
class KSUColorGridViewDefaultDelegate : public ZRNColorWellDelegate {
 public:
  KSUColorGridViewDefaultDelegate();

  int numberOfColumnsInColorWell(const ZRNColorWell*) const override { return 10; }
  int numberOfRowsInColorWell(const ZRNColorWell*) const override { return 12; }
  // The entry under "(column,row)"; invalid for an empty cell or a key the palette lacks.
  QColor colorWell(const ZRNColorWell* well, int column, int row) const override;

  const QMap<QString, QColor>& colorMatrix() const { return m_colorMatrix; }
  void setColorMatrix(const QMap<QString, QColor>& matrix) { m_colorMatrix = matrix; }

 private:
  void _generateColors();
  QMap<QString, QColor> m_colorMatrix;
};

class ZRNColorWell : public QWidget {
  Q_OBJECT
 public:
  explicit ZRNColorWell(QWidget* parent = nullptr);
  ~ZRNColorWell() override;

  QColor color() const { return m_color; }
  // Ignores an invalid colour and the colour already held; otherwise stores it, redraws, sends the
  // action and closes the popover.
  void setColor(const QColor& color);
  // The same without the checks and without the action.
  void U_SetTheColor(const QColor& color);

  std::shared_ptr<ZRNColorWellDelegate> delegate() const { return m_delegate; }
  void setDelegate(std::shared_ptr<ZRNColorWellDelegate> delegate) { m_delegate = std::move(delegate); }

  // The size the well asks for: 49 x 18 on a screen of scale 2, else 50 x 19.
  static QSize intrinsicContentSizeForScale(qreal scale);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

  // The regions, in the widget's coordinates.
  QRectF _controlColorSwatchFrame() const;
  QRectF _controlButtonFrame() const;
  QRectF _mouseOverIndicatorFrame() const;
  QString stringForToolTip(const QPointF& point) const;

  bool shouldDrawMouseOverIndicator() const { return m_shouldDrawMouseOverIndicator; }
  bool shouldDrawDarkerButtonRegion() const { return m_shouldDrawDarkerButtonRegion; }
  bool shouldDrawButtonRegionWithSelectedColor() const { return m_shouldDrawButtonRegionWithSelectedColor; }
  bool shouldDrawFocusRing() const { return m_shouldDrawFocusRing; }
  ZRNColorGridView* colorGridView() const { return m_colorGridView; }
  // The popover while it exists (shown or closed by a click elsewhere).
  QFrame* popover() const { return m_popover; }
  bool popoverIsShown() const;
  // The shared colour dialog, made on first use.
  static QColorDialog* sharedColorPanel();

  // What a drag out of the well carries, and the picture it shows.
  QMimeData* makeDragData() const;
  QPixmap dragImage() const;

  // Draws a colour cell: black, a white lower-right triangle, then the colour (so transparent colours
  // show both), and a border when asked for.
  static void drawColorSwatchWithFrame(QPainter& painter, const QRectF& frame, const QColor& color, bool shouldDrawBorder);

 signals:
  // The control's action: the user chose a colour.
  void action();

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void _handleMouseUpInColorRect();
  void _handleMouseUpInButtonRect();
  void handleWindowWillCloseNotification();
  void handleColorPanelColorSelectionAction(const QColor& color);
  void updateHover(const QPointF& point);
  void closePopover();

  QColor m_color;
  std::shared_ptr<ZRNColorWellDelegate> m_delegate;
  bool m_shouldDrawMouseOverIndicator = false;
  bool m_shouldDrawDarkerButtonRegion = false;
  bool m_shouldDrawButtonRegionWithSelectedColor = false;
  bool m_shouldDrawFocusRing = false;
  ZRNColorGridView* m_colorGridView = nullptr;
  QPointer<QFrame> m_popover;
  QPoint m_pressPoint;
  bool m_pressed = false;
};

// The grid of the popover. Cells are 12 x 12 points, 2 apart, 6 from the border; row 0 at the top.
class ZRNColorGridView : public ZRN_CommonInitView {
  Q_OBJECT
 public:
  explicit ZRNColorGridView(QWidget* parent = nullptr);

  ZRNColorWell* colorWell() const { return m_colorWell; }
  void setColorWell(ZRNColorWell* well) { m_colorWell = well; }

  qreal borderPadding() const { return m_borderPadding; }
  qreal intercellSpacing() const { return m_intercellSpacing; }
  qreal cellWidth() const { return m_cellWidth; }
  qreal cellHeight() const { return m_cellHeight; }

  QRectF _frameOfTopLeftCell() const;
  QRectF _frameForColorAreaAtColumn(int column, int row) const;
  QSize sizeHint() const override;

  bool shouldDrawSelectorRing() const { return m_shouldDrawSelectorRing; }
  bool mouseIsDown() const { return m_mouseIsDown; }
  int mouseDownInColumnIndex() const { return m_mouseDownInColumnIndex; }
  int mouseDownInRowIndex() const { return m_mouseDownInRowIndex; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int columns() const;
  int rows() const;
  QColor colorAt(int column, int row) const;
  // The first (or last) cell holding the point, columns outer and rows inner.
  bool cellAt(const QPointF& point, bool last, int* column, int* row) const;
  void _drawSelectorRectAtColumn(QPainter& painter, int column, int row);

  QPointer<ZRNColorWell> m_colorWell;
  qreal m_borderPadding = 6;
  qreal m_intercellSpacing = 2;
  qreal m_cellWidth = 12;
  qreal m_cellHeight = 12;
  bool m_shouldDrawSelectorRing = false;
  int m_mouseDownInColumnIndex = -1;
  int m_mouseDownInRowIndex = -1;
  bool m_mouseIsDown = false;
  bool m_mouseDraggedOutsideMouseDownCell = false;
};
