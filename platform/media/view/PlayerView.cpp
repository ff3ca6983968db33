#include "platform/media/view/PlayerView.h"

#include "platform/media/player/Player.h"

#include <QPainter>

PlayerView::PlayerView(QWidget* parent) : QWidget(parent), m_scaler(FFmpegScaleQuality::Bilinear) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
}

PlayerView::~PlayerView() = default;

void PlayerView::setPlayer(Player* player) {
  if (m_connection) disconnect(m_connection);
  m_player = player;
  if (player) m_connection = connect(player, &Player::videoFrameChanged, this, &PlayerView::U_FrameChanged);
  U_FrameChanged();
}

void PlayerView::U_FrameChanged() {
  SampleBufferRef frame = m_player && m_player->currentItem() ? m_player->currentItem()->currentVideoFrame() : nullptr;
  if (frame == m_frame && !m_image.isNull()) return;
  m_frame = frame;
  U_Render();
  update();
}

QRect PlayerView::videoRect() const {
  if (!m_frame || !m_frame->frame()) return {};
  const QSize source = m_frame->dimensions();
  if (source.isEmpty() || width() <= 0 || height() <= 0) return {};
  const QSize fitted = source.scaled(size(), Qt::KeepAspectRatio);
  return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void PlayerView::U_Render() {
  const QRect target = videoRect();
  if (target.isEmpty()) {
    m_image = QImage();
    return;
  }
  if (!m_scaler.scale(m_frame->frame(), target.size(), QImage::Format_RGB32, &m_image)) m_image = QImage();
}

void PlayerView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  U_Render();
}

void PlayerView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (m_image.isNull()) {
    painter.fillRect(rect(), Qt::black);
    return;
  }
  // Black only beside the picture: the picture covers the rest, every frame.
  const QRect picture(videoRect().topLeft(), m_image.size());
  const QRegion bars = QRegion(rect()).subtracted(picture);
  for (const QRect& bar : bars) painter.fillRect(bar, Qt::black);
  painter.drawImage(picture.topLeft(), m_image);
}
