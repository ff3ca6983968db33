#include "playback/ZRNAVPlayerView.h"

#include "playback/ZRNSynchroMovieControllerView.h"

#include <QKeyEvent>
#include <QPainter>

ZRNAVPlayerView::ZRNAVPlayerView(QWidget* parent) : PlayerView(parent) {
  // It takes the keys of playing and stepping: a listener who lands on it hears what it is.
  setAccessibleName(QStringLiteral("Video"));
}

ZRNSynchroMovieControllerView* ZRNAVPlayerView::synchroController() const { return m_synchroController; }

void ZRNAVPlayerView::setSynchroController(ZRNSynchroMovieControllerView* controller) { m_synchroController = controller; }

void ZRNAVPlayerView::keyPressEvent(QKeyEvent* event) {
  // Modifiers are not looked at: Shift-space still plays.
  switch (event->key()) {
    case Qt::Key_Space:
      if (m_synchroController) m_synchroController->togglePlay();
      return;
    case Qt::Key_Left:
    case Qt::Key_MediaPrevious:
      if (m_synchroController) m_synchroController->stepBackwards(this);
      return;
    case Qt::Key_Right:
    case Qt::Key_MediaNext:
      if (m_synchroController) m_synchroController->stepForward(this);
      return;
    default:
      break;
  }
  // A key that produces no character (a lone modifier, say) is dropped.
  if (event->text().isEmpty()) {
    event->accept();
    return;
  }
  PlayerView::keyPressEvent(event);
}

void ZRNAVPlayerView::paintEvent(QPaintEvent* event) {
  PlayerView::paintEvent(event);
  if (!hasFocus()) return;
  // The focus mark: a frame in the highlight colour along the view's edge, over the picture, so that
  // the keys' place shows whatever the picture's size.
  QPainter painter(this);
  constexpr int kMarkWidth = 3;
  QPen pen(palette().color(QPalette::Highlight), kMarkWidth);
  pen.setJoinStyle(Qt::MiterJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRectF(rect()).adjusted(kMarkWidth / 2.0, kMarkWidth / 2.0, -kMarkWidth / 2.0, -kMarkWidth / 2.0));
}

void ZRNAVPlayerView::focusInEvent(QFocusEvent* event) {
  PlayerView::focusInEvent(event);
  update();
}

void ZRNAVPlayerView::focusOutEvent(QFocusEvent* event) {
  PlayerView::focusOutEvent(event);
  update();
}
