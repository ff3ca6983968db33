#include "common/ZRNColorWell.h"

#include <QApplication>
#include <QColorDialog>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLinearGradient>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QScreen>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

constexpr qreal kCornerRadius = 4;
const QString kSwatchToolTip = QStringLiteral("Click to choose a color.");
const QString kButtonToolTip = QStringLiteral("Click to show more colours or set your own.");

// The palette, row by row, ten 8-bit colours a row; row 1 is empty and cell (9,0) is a 0.5 grey.
constexpr int kPalette[12][10][3] = {
    {{255, 33, 0}, {255, 136, 0}, {255, 255, 0}, {0, 255, 0}, {0, 255, 255}, {0, 26, 255}, {255, 56, 255}, {137, 30, 135}, {161, 110, 58}, {-1, -1, -1}},
    {},
    {{255, 255, 255}, {255, 255, 255}, {224, 224, 224}, {192, 192, 192}, {160, 160, 160}, {128, 128, 128}, {96, 96, 96}, {64, 64, 64}, {32, 32, 32}, {0, 0, 0}},
    {{0, 48, 65}, {0, 28, 77}, {18, 3, 52}, {41, 6, 54}, {53, 7, 26}, {82, 5, 0}, {80, 26, 0}, {77, 45, 0}, {91, 86, 0}, {34, 54, 16}},
    {{0, 68, 90}, {0, 41, 111}, {25, 12, 73}, {60, 16, 79}, {76, 17, 37}, {119, 17, 0}, {112, 37, 0}, {111, 64, 0}, {130, 123, 0}, {49, 77, 24}},
    {{0, 98, 132}, {0, 58, 160}, {38, 20, 107}, {86, 23, 113}, {109, 24, 54}, {172, 24, 0}, {163, 54, 0}, {159, 93, 0}, {189, 179, 0}, {69, 110, 36}},
    {{0, 129, 171}, {0, 77, 208}, {48, 26, 138}, {111, 30, 148}, {143, 32, 70}, {223, 32, 0}, {212, 70, 0}, {207, 121, 0}, {244, 232, 0}, {91, 146, 46}},
    {{0, 153, 210}, {0, 87, 254}, {67, 32, 170}, {142, 37, 181}, {176, 39, 83}, {255, 56, 20}, {255, 95, 0}, {255, 160, 0}, {255, 251, 57}, {108, 178, 57}},
    {{0, 191, 252}, {50, 125, 254}, {83, 43, 232}, {182, 49, 241}, {227, 51, 111}, {255, 87, 71}, {255, 122, 63}, {255, 170, 55}, {255, 246, 96}, {139, 204, 85}},
    {{73, 208, 253}, {104, 158, 254}, {123, 70, 253}, {245, 77, 253}, {235, 101, 148}, {255, 129, 119}, {255, 155, 114}, {255, 191, 108}, {255, 247, 138}, {168, 216, 128}},
    {{137, 223, 253}, {158, 190, 254}, {167, 129, 253}, {223, 135, 254}, {242, 153, 184}, {255, 172, 165}, {255, 189, 161}, {255, 212, 158}, {255, 250, 177}, {198, 229, 172}},
    {{195, 238, 254}, {206, 223, 254}, {211, 195, 254}, {239, 194, 254}, {248, 204, 220}, {255, 213, 211}, {255, 222, 209}, {255, 233, 207}, {254, 252, 216}, {220, 234, 206}},
};

QString CellKey(int column, int row) { return QStringLiteral("(%1,%2)").arg(column).arg(row); }

QColor GenericWhite(qreal white, qreal alpha = 1.0) { return QColor::fromRgbF(white, white, white, alpha); }

QColor Blend(const QColor& a, const QColor& b, qreal fraction) {
  return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * fraction, a.greenF() + (b.greenF() - a.greenF()) * fraction,
                          a.blueF() + (b.blueF() - a.blueF()) * fraction, a.alphaF() + (b.alphaF() - a.alphaF()) * fraction);
}

// A rectangle whose corners on one side are rounded.
QPainterPath HalfRoundedRect(const QRectF& r, bool leftRounded) {
  QPainterPath path;
  const qreal d = 2 * kCornerRadius;
  if (leftRounded) {
    path.moveTo(r.right(), r.top());
    path.lineTo(r.left() + kCornerRadius, r.top());
    path.arcTo(QRectF(r.left(), r.top(), d, d), 90, 90);
    path.lineTo(r.left(), r.bottom() - kCornerRadius);
    path.arcTo(QRectF(r.left(), r.bottom() - d, d, d), 180, 90);
    path.lineTo(r.right(), r.bottom());
  } else {
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - kCornerRadius, r.top());
    path.arcTo(QRectF(r.right() - d, r.top(), d, d), 90, -90);
    path.lineTo(r.right(), r.bottom() - kCornerRadius);
    path.arcTo(QRectF(r.right() - d, r.bottom() - d, d, d), 0, -90);
    path.lineTo(r.left(), r.bottom());
  }
  path.closeSubpath();
  return path;
}

// The well the shared colour dialog works for.
QPointer<ZRNColorWell> gPanelTarget;

}  // namespace

// ---- the default palette ----

KSUColorGridViewDefaultDelegate::KSUColorGridViewDefaultDelegate() { _generateColors(); }

void KSUColorGridViewDefaultDelegate::_generateColors() {
  m_colorMatrix.clear();
  for (int row = 0; row < 12; ++row) {
    for (int column = 0; column < 10; ++column) {
      QColor color;  // an empty cell
      const int* rgb = kPalette[row][column];
      if (row == 0 && column == 9)
        color = QColor::fromRgbF(0.5, 0.5, 0.5, 1.0);
      else if (row != 1)
        color = QColor::fromRgbF(rgb[0] / 255.0, rgb[1] / 255.0, rgb[2] / 255.0, 1.0);
      m_colorMatrix.insert(CellKey(column, row), color);
    }
  }
}

QColor KSUColorGridViewDefaultDelegate::colorWell(const ZRNColorWell*, int column, int row) const {
  return m_colorMatrix.value(CellKey(column, row));
}

// ---- the well ----

ZRNColorWell::ZRNColorWell(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ZRNColorWell"));
  setAccessibleName(tr("Color"));
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setAcceptDrops(true);
  // Hover over the two regions is followed without a button held.
  setMouseTracking(true);
  if (!m_color.isValid()) U_SetTheColor(QColor::fromRgbF(1, 1, 1, 1));
  m_delegate = std::make_shared<KSUColorGridViewDefaultDelegate>();
}

ZRNColorWell::~ZRNColorWell() {
  if (gPanelTarget == this) {
    QColorDialog* panel = sharedColorPanel();
    panel->disconnect(this);
    gPanelTarget = nullptr;
  }
  if (m_popover && m_colorGridView) m_colorGridView->setParent(nullptr);
  delete m_popover.data();
  delete m_colorGridView;
}

QSize ZRNColorWell::intrinsicContentSizeForScale(qreal scale) { return scale == 2.0 ? QSize(49, 18) : QSize(50, 19); }

QSize ZRNColorWell::sizeHint() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return intrinsicContentSizeForScale(screen ? screen->devicePixelRatio() : 1.0);
}

QRectF ZRNColorWell::_controlColorSwatchFrame() const { return QRectF(0.25, height() - 0.25 - 17, 31, 17); }

QRectF ZRNColorWell::_controlButtonFrame() const {
  const QRectF swatch = _controlColorSwatchFrame();
  return QRectF(swatch.right() + 0.25, swatch.top(), 17, 17);
}

QRectF ZRNColorWell::_mouseOverIndicatorFrame() const {
  return QRectF(_controlColorSwatchFrame().right() - 17, height() - 2 - 13, 13, 13);
}

QString ZRNColorWell::stringForToolTip(const QPointF& point) const {
  if (_controlColorSwatchFrame().contains(point)) return kSwatchToolTip;
  if (_controlButtonFrame().contains(point)) return kButtonToolTip;
  return QString();
}

void ZRNColorWell::setColor(const QColor& color) {
  if (!color.isValid() || color == m_color) return;
  U_SetTheColor(color);
  emit action();
  if (popoverIsShown()) closePopover();
}

void ZRNColorWell::U_SetTheColor(const QColor& color) {
  m_color = color;
  update();
}

bool ZRNColorWell::popoverIsShown() const { return m_popover && m_popover->isVisible(); }

void ZRNColorWell::closePopover() {
  if (m_popover) m_popover->close();
}

QColorDialog* ZRNColorWell::sharedColorPanel() {
  static QPointer<QColorDialog> panel;
  if (!panel) {
    panel = new QColorDialog;
    panel->setObjectName(QStringLiteral("sharedColorPanel"));
    panel->setOption(QColorDialog::ShowAlphaChannel, true);
    panel->setOption(QColorDialog::NoButtons, true);
    panel->setOption(QColorDialog::DontUseNativeDialog, true);
  }
  return panel;
}

// ---- drawing ----

void ZRNColorWell::drawColorSwatchWithFrame(QPainter& painter, const QRectF& frame, const QColor& color, bool shouldDrawBorder) {
  painter.save();
  painter.fillRect(frame, Qt::black);
  QPainterPath triangle;
  // The lower-right half, in screen coordinates (y downwards).
  triangle.moveTo(frame.left(), frame.bottom());
  triangle.lineTo(frame.right(), frame.top());
  triangle.lineTo(frame.right(), frame.bottom());
  triangle.closeSubpath();
  painter.fillPath(triangle, Qt::white);
  painter.fillRect(frame, color);
  if (shouldDrawBorder) {
    painter.setPen(QPen(GenericWhite(0.333, 0.5), 1));
    painter.drawRect(frame);
  }
  painter.restore();
}

void ZRNColorWell::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const bool enabled = isEnabled();
  const QRectF swatch = _controlColorSwatchFrame();
  const QRectF button = _controlButtonFrame();
  const QPainterPath swatchPath = HalfRoundedRect(swatch, true);

  // The swatch: black and white halves show through a transparent colour.
  painter.fillPath(swatchPath, Qt::black);
  QPainterPath lower;
  lower.moveTo(swatch.left() - 4, swatch.bottom() + 4);
  lower.lineTo(swatch.right(), swatch.top());
  lower.lineTo(swatch.right(), swatch.bottom());
  lower.closeSubpath();
  painter.fillPath(lower.intersected(swatchPath), Qt::white);
  painter.fillPath(swatchPath, enabled ? m_color : Blend(m_color, Qt::black, 0.15));
  if (m_shouldDrawMouseOverIndicator) {
    const QRectF indicator = _mouseOverIndicatorFrame();
    QPainterPath oval;
    oval.addEllipse(indicator);
    painter.fillPath(oval, GenericWhite(0.4, 0.4));
    const qreal cx = indicator.center().x(), cy = indicator.center().y() + 1.5;
    painter.setPen(QPen(Qt::white, 1));
    painter.drawPolyline(QPolygonF({QPointF(cx - 3, cy - 3), QPointF(cx, cy), QPointF(cx + 3, cy - 3)}));
  }

  // The button with the colour wheel.
  const QPainterPath buttonPath = HalfRoundedRect(button, false);
  QColor buttonColor = palette().color(QPalette::Button);
  if (m_shouldDrawButtonRegionWithSelectedColor)
    buttonColor = palette().color(QPalette::Highlight);
  else if (m_shouldDrawDarkerButtonRegion)
    buttonColor = GenericWhite(0.825);
  painter.fillPath(buttonPath, buttonColor);
  painter.setOpacity(enabled ? 1.0 : 0.6);
  painter.drawPixmap(button.adjusted(3, 3, -3, -3), QPixmap(QStringLiteral(":/images/KSUColorWheel.png")), QRectF());
  painter.setOpacity(1.0);

  // Outer border and separator.
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(GenericWhite(enabled ? 0.5 : 0.2), 0.5));
  painter.drawRoundedRect(swatch.united(button), kCornerRadius, kCornerRadius);
  painter.setPen(QPen(GenericWhite(enabled ? 0.5 : 0.8), 0.5));
  painter.drawLine(QPointF(swatch.right(), swatch.top()), QPointF(swatch.right(), swatch.bottom()));

  // A colour dragged over the well.
  if (m_shouldDrawFocusRing) {
    const QColor selected = palette().color(QPalette::Highlight);
    QLinearGradient gradient(swatch.bottomLeft(), swatch.topLeft());
    gradient.setColorAt(0, selected);
    gradient.setColorAt(1, Blend(selected, Qt::white, 0.4));
    QPainterPath ring = swatchPath;
    QPainterPath inner;
    inner.addRect(swatch.adjusted(4, 4, -4, -4));
    painter.fillPath(ring.subtracted(inner), gradient);
  }
}

// ---- pointer ----

bool ZRNColorWell::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = stringForToolTip(help->pos());
    if (tip.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(help->globalPos(), tip, this);
    return true;
  }
  return QWidget::event(event);
}

void ZRNColorWell::updateHover(const QPointF& point) {
  if (!isEnabled()) return;
  const bool overSwatch = _controlColorSwatchFrame().contains(point);
  const bool overButton = _controlButtonFrame().contains(point) && !m_shouldDrawButtonRegionWithSelectedColor;
  if (overSwatch != m_shouldDrawMouseOverIndicator || overButton != m_shouldDrawDarkerButtonRegion) {
    m_shouldDrawMouseOverIndicator = overSwatch;
    m_shouldDrawDarkerButtonRegion = overButton;
    update();
  }
}

void ZRNColorWell::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  updateHover(QPointF(-1, -1));
}

void ZRNColorWell::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    m_pressed = true;
    m_pressPoint = event->position().toPoint();
  }
}

void ZRNColorWell::mouseMoveEvent(QMouseEvent* event) {
  if (!m_pressed || !(event->buttons() & Qt::LeftButton)) {
    updateHover(event->position());
    return;
  }
  if ((event->position().toPoint() - m_pressPoint).manhattanLength() < QApplication::startDragDistance()) return;
  m_pressed = false;
  auto* drag = new QDrag(this);
  drag->setMimeData(makeDragData());
  drag->setPixmap(dragImage());
  drag->setHotSpot(QPoint(9, 9));
  drag->exec(Qt::CopyAction | Qt::MoveAction);
}

void ZRNColorWell::mouseReleaseEvent(QMouseEvent* event) {
  const bool wasPressed = m_pressed;
  m_pressed = false;
  if (!isEnabled() || !wasPressed || event->button() != Qt::LeftButton) return;
  const QPointF point = event->position();
  if (_controlColorSwatchFrame().contains(point))
    _handleMouseUpInColorRect();
  else if (_controlButtonFrame().contains(point))
    _handleMouseUpInButtonRect();
}

void ZRNColorWell::_handleMouseUpInColorRect() {
  if (!m_colorGridView) {
    m_colorGridView = new ZRNColorGridView;
    m_colorGridView->setColorWell(this);
  }
  if (popoverIsShown()) {
    closePopover();
    return;
  }
  // A new popover each time; the grid moves into it.
  if (m_popover) {
    m_colorGridView->setParent(nullptr);
    delete m_popover.data();
  }
  auto* popover = new QFrame(this, Qt::Popup);
  popover->setObjectName(QStringLiteral("colorPopover"));
  popover->setAccessibleName(tr("Preset colors"));
  popover->setFrameShape(QFrame::StyledPanel);
  auto* layout = new QVBoxLayout(popover);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_colorGridView);
  m_colorGridView->setFixedSize(m_colorGridView->sizeHint());
  m_colorGridView->show();
  popover->adjustSize();
  // Below the swatch, centred on it.
  const QRectF swatch = _controlColorSwatchFrame();
  const QPoint below = mapToGlobal(QPoint(int(swatch.center().x()), int(swatch.bottom())));
  popover->move(below.x() - popover->width() / 2, below.y() + 2);
  m_popover = popover;
  popover->show();
}

void ZRNColorWell::_handleMouseUpInButtonRect() {
  QColorDialog* panel = sharedColorPanel();
  if (gPanelTarget == this && panel->isVisible()) {
    m_shouldDrawButtonRegionWithSelectedColor = false;
    m_shouldDrawDarkerButtonRegion = true;
    panel->close();
    return;
  }
  // The panel follows one well at a time.
  if (gPanelTarget && gPanelTarget != this) gPanelTarget->handleWindowWillCloseNotification();
  m_shouldDrawDarkerButtonRegion = false;
  m_shouldDrawButtonRegionWithSelectedColor = true;
  update();
  gPanelTarget = this;
  panel->disconnect(this);
  panel->setCurrentColor(m_color);
  connect(panel, &QColorDialog::currentColorChanged, this, [this](const QColor& color) { handleColorPanelColorSelectionAction(color); });
  connect(panel, &QColorDialog::finished, this, [this] { handleWindowWillCloseNotification(); });
  panel->show();
  panel->raise();
}

void ZRNColorWell::handleWindowWillCloseNotification() {
  QColorDialog* panel = sharedColorPanel();
  panel->disconnect(this);
  if (gPanelTarget == this) gPanelTarget = nullptr;
  m_shouldDrawButtonRegionWithSelectedColor = false;
  update();
}

void ZRNColorWell::handleColorPanelColorSelectionAction(const QColor& color) { setColor(color); }

// ---- dragging ----

QMimeData* ZRNColorWell::makeDragData() const {
  auto* data = new QMimeData;
  data->setColorData(m_color);
  return data;
}

QPixmap ZRNColorWell::dragImage() const {
  QPixmap image(18, 18);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF inset = QRectF(0, 0, 18, 18).adjusted(3, 3, -3, -3);
  painter.setBrush(m_color);
  painter.setPen(QPen(GenericWhite(0.333, 0.5), 0));
  painter.drawRoundedRect(inset, 2, 2);
  return image;
}

void ZRNColorWell::dragEnterEvent(QDragEnterEvent* event) {
  // A colour dragged out of this well is not taken back.
  if (event->source() == this) {
    event->ignore();
    return;
  }
  event->setDropAction(Qt::MoveAction);
  event->accept();
  if (event->mimeData()->hasColor()) {
    m_shouldDrawFocusRing = true;
    update();
  }
}

void ZRNColorWell::dragLeaveEvent(QDragLeaveEvent* event) {
  QWidget::dragLeaveEvent(event);
  // The drag went elsewhere: the well no longer promises to take it.
  m_shouldDrawFocusRing = false;
  update();
}

void ZRNColorWell::dropEvent(QDropEvent* event) {
  if (!event->mimeData()->hasColor()) {
    event->ignore();
    return;
  }
  const QColor color = qvariant_cast<QColor>(event->mimeData()->colorData());
  setColor(color);
  m_shouldDrawFocusRing = false;
  update();
  event->setDropAction(Qt::MoveAction);
  event->accept();
}

// ---- the grid ----

ZRNColorGridView::ZRNColorGridView(QWidget* parent) : ZRN_CommonInitView(parent) {
  setObjectName(QStringLiteral("ZRNColorGridView"));
  setAccessibleName(tr("Preset colors"));
  setMouseTracking(false);
}

int ZRNColorGridView::columns() const {
  return m_colorWell && m_colorWell->delegate() ? std::max(0, m_colorWell->delegate()->numberOfColumnsInColorWell(m_colorWell)) : 0;
}

int ZRNColorGridView::rows() const {
  return m_colorWell && m_colorWell->delegate() ? std::max(0, m_colorWell->delegate()->numberOfRowsInColorWell(m_colorWell)) : 0;
}

QColor ZRNColorGridView::colorAt(int column, int row) const {
  if (!m_colorWell || !m_colorWell->delegate()) return QColor();
  return m_colorWell->delegate()->colorWell(m_colorWell, column, row);
}

QRectF ZRNColorGridView::_frameOfTopLeftCell() const { return QRectF(m_borderPadding, m_borderPadding, m_cellWidth, m_cellHeight); }

QRectF ZRNColorGridView::_frameForColorAreaAtColumn(int column, int row) const {
  return _frameOfTopLeftCell().translated(column * (m_cellWidth + m_intercellSpacing), row * (m_cellHeight + m_intercellSpacing));
}

QSize ZRNColorGridView::sizeHint() const {
  const int c = columns(), r = rows();
  const qreal width = 2 * m_borderPadding + c * m_cellWidth + std::max(0, c - 1) * m_intercellSpacing;
  const qreal height = 2 * m_borderPadding + r * m_cellHeight + std::max(0, r - 1) * m_intercellSpacing;
  return QSize(int(width), int(height));
}

bool ZRNColorGridView::cellAt(const QPointF& point, bool last, int* column, int* row) const {
  bool found = false;
  for (int c = 0; c < columns(); ++c) {
    for (int r = 0; r < rows(); ++r) {
      if (!_frameForColorAreaAtColumn(c, r).contains(point)) continue;
      *column = c;
      *row = r;
      found = true;
      if (!last) return true;
    }
  }
  return found;
}

void ZRNColorGridView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  for (int c = 0; c < columns(); ++c) {
    for (int r = 0; r < rows(); ++r) {
      const QColor color = colorAt(c, r);
      if (color.isValid()) ZRNColorWell::drawColorSwatchWithFrame(painter, _frameForColorAreaAtColumn(c, r), color, true);
    }
  }
  if (m_shouldDrawSelectorRing && m_mouseIsDown && m_mouseDownInColumnIndex >= 0 && m_mouseDownInRowIndex >= 0)
    _drawSelectorRectAtColumn(painter, m_mouseDownInColumnIndex, m_mouseDownInRowIndex);
}

void ZRNColorGridView::_drawSelectorRectAtColumn(QPainter& painter, int column, int row) {
  const QColor color = colorAt(column, row);
  if (!color.isValid()) return;
  const QRectF cell = _frameForColorAreaAtColumn(column, row);
  painter.setBrush(Qt::white);
  painter.setPen(QPen(Qt::darkGray, 0.5));
  painter.drawRect(cell.adjusted(-3, -3, 3, 3));
  painter.setBrush(color);
  painter.setPen(QPen(Qt::lightGray, 0.5));
  painter.drawRect(cell.adjusted(1, 1, -1, -1));
}

void ZRNColorGridView::mousePressEvent(QMouseEvent* event) {
  int column = -1, row = -1;
  // A press outside every cell also forgets the cell of an earlier press, so that its release can
  // choose nothing.
  m_mouseDownInColumnIndex = -1;
  m_mouseDownInRowIndex = -1;
  if (!cellAt(event->position(), false, &column, &row)) return;
  m_mouseDownInColumnIndex = column;
  m_mouseDownInRowIndex = row;
  m_mouseIsDown = true;
  m_shouldDrawSelectorRing = true;
  m_mouseDraggedOutsideMouseDownCell = false;
  update();
}

void ZRNColorGridView::mouseMoveEvent(QMouseEvent* event) {
  if (m_mouseDownInColumnIndex < 0 || m_mouseDownInRowIndex < 0) return;
  const bool inside = _frameForColorAreaAtColumn(m_mouseDownInColumnIndex, m_mouseDownInRowIndex).contains(event->position());
  if (inside == !m_mouseDraggedOutsideMouseDownCell) return;
  m_mouseDraggedOutsideMouseDownCell = !inside;
  m_shouldDrawSelectorRing = inside;
  update();
}

void ZRNColorGridView::mouseReleaseEvent(QMouseEvent* event) {
  m_mouseIsDown = false;
  update();
  int column = -1, row = -1;
  if (!cellAt(event->position(), true, &column, &row)) return;
  if (column != m_mouseDownInColumnIndex || row != m_mouseDownInRowIndex) return;
  const QColor color = colorAt(column, row);
  if (color.isValid() && m_colorWell) m_colorWell->setColor(color);
}
