#include "playback/ZRNSynchronizedLayerView.h"

#include "platform/layers/LayerRenderer.h"
#include "platform/media/player/Player.h"
#include "platform/media/view/PlayerView.h"

#include <QEvent>
#include <QPainter>

ZRNSynchronizedLayerView::ZRNSynchronizedLayerView(Player* player, PlayerView* view, const QSizeF& videoSize)
    : QWidget(view), m_player(player), m_view(view), m_videoSize(videoSize), m_layer(CALayer::layer()) {
  setObjectName(QStringLiteral("syncLayer"));
  setAccessibleName(QStringLiteral("Overlays"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  m_layer->setAutoresizingMask(kCALayerWidthSizable | kCALayerHeightSizable);
  m_layer->setContentsGravity(QString::fromLatin1(kCAGravityCenter));
  if (view) view->installEventFilter(this);
  if (player) connect(player, &Player::videoFrameChanged, this, qOverload<>(&QWidget::update));
  U_FollowView();
  show();
}

QRectF ZRNSynchronizedLayerView::layerFrame(const QSizeF& videoSize, const QSizeF& viewSize, const QRect& videoRect) {
  if (videoSize == viewSize && !videoRect.isEmpty())
    return QRectF(videoRect.x(), viewSize.height() - videoRect.y() - videoRect.height(), videoRect.width(),
                  videoRect.height());
  if (!(videoSize.width() > 0) || !(videoSize.height() > 0)) return QRectF(QPointF(0, 0), viewSize);
  const double scale = std::min(viewSize.width() / videoSize.width(), viewSize.height() / videoSize.height());
  const QSizeF fitted = videoSize * scale;
  return QRectF(QPointF((viewSize.width() - fitted.width()) / 2, (viewSize.height() - fitted.height()) / 2), fitted);
}

void ZRNSynchronizedLayerView::U_FollowView() {
  if (!m_view) return;
  setGeometry(m_view->rect());
  const QSizeF before = m_layer->bounds().size();
  m_layer->setFrame(layerFrame(m_videoSize, QSizeF(m_view->size()), m_view->videoRect()));
  raise();
  update();
  if (m_layer->bounds().size() != before) emit layerResized();
}

bool ZRNSynchronizedLayerView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == m_view && event->type() == QEvent::Resize) U_FollowView();
  return QWidget::eventFilter(watched, event);
}

void ZRNSynchronizedLayerView::paintEvent(QPaintEvent*) {
  if (!m_player) return;
  const MediaTime now = m_player->currentTime();
  const double seconds = now.isNumeric() ? MediaTimeGetSeconds(now) : 0.0;
  // The layer sits in the view's own space: the widget's, with y upwards.
  QPainter painter(this);
  LayerRenderer_Render(painter, m_layer, QSizeF(size()), seconds);
}
