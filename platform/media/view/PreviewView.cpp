#include "platform/media/view/PreviewView.h"

#include <QMetaObject>
#include <QPainter>

#include <algorithm>
#include <cmath>

CaptureVideoPreviewView::CaptureVideoPreviewView(QWidget* parent)
    : QWidget(parent), m_self(std::make_shared<std::atomic<CaptureVideoPreviewView*>>(this)) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(160, 90);
}

CaptureVideoPreviewView::~CaptureVideoPreviewView() {
  m_self->store(nullptr);
  detach();
}

void CaptureVideoPreviewView::detach() {
  if (m_session && m_sinkID >= 0) m_session->removePreviewSink(m_sinkID);
  m_sinkID = -1;
  m_session.reset();
}

void CaptureVideoPreviewView::setSession(const CaptureSessionRef& session) {
  if (session == m_session) return;
  detach();
  m_session = session;
  if (!m_session) return;
  auto self = m_self;
  // Frames come as wide as the view shows them; conversion happens off the capture thread.
  m_sinkID = m_session->addPreviewSink(
      [self](const QImage& image) {
        if (CaptureVideoPreviewView* view = self->load()) view->takeFrame(image);
      },
      U_PreviewWidth());
}

int CaptureVideoPreviewView::U_PreviewWidth() const {
  // A wide picture filling a tall view is wider than the view: room for 16:9 at the view's height.
  const double shown = std::max<double>(width(), height() * 16.0 / 9.0) * devicePixelRatioF();
  return std::clamp(int(std::ceil(shown)) + 1, 64, 7680) & ~1;
}

void CaptureVideoPreviewView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (m_session && m_sinkID >= 0) m_session->setPreviewSinkMaxWidth(m_sinkID, U_PreviewWidth());
}

void CaptureVideoPreviewView::takeFrame(const QImage& image) {
  {
    std::lock_guard lock(m_mutex);
    m_frame = image;
  }
  m_framesReceived.fetch_add(1);
  if (m_updateQueued.exchange(true)) return;
  auto self = m_self;
  QMetaObject::invokeMethod(
      this,
      [self] {
        CaptureVideoPreviewView* view = self->load();
        if (!view) return;
        view->m_updateQueued.store(false);
        view->update();
        emit view->frameArrived();
      },
      Qt::QueuedConnection);
}

QImage CaptureVideoPreviewView::currentFrame() const {
  std::lock_guard lock(m_mutex);
  return m_frame;
}

void CaptureVideoPreviewView::setVideoGravity(const QString& gravity) {
  m_gravity = gravity;
  update();
}

void CaptureVideoPreviewView::setBackgroundColor(const QColor& color) {
  m_background = color;
  update();
}

void CaptureVideoPreviewView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), m_background);
  const QImage frame = currentFrame();
  if (frame.isNull()) return;
  QSize target = frame.size();
  if (m_gravity == QLatin1String(kLayerVideoGravityResize)) {
    target = size();
  } else {
    target.scale(size(), m_gravity == QLatin1String(kLayerVideoGravityResizeAspectFill) ? Qt::KeepAspectRatioByExpanding
                                                                                      : Qt::KeepAspectRatio);
  }
  const QRect r(QPoint((width() - target.width()) / 2, (height() - target.height()) / 2), target);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(r, frame);
}
