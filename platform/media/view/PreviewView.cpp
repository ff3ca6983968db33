#include "platform/media/view/PreviewView.h"

#include "platform/foundation/ThreadSanitizer.h"

#include <QMetaObject>
#include <QPaintEngine>
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
  m_requestedWidth = U_PreviewWidth();
  m_sinkID = m_session->addPreviewSink(
      [self](const PreviewPicture& picture) {
        if (CaptureVideoPreviewView* view = self->load()) view->takeFrame(picture);
      },
      m_requestedWidth);
}

QSize CaptureVideoPreviewView::U_ShownSize(const QSizeF& picture) const {
  const QSize view = (QSizeF(size()) * devicePixelRatioF()).toSize();
  if (m_gravity == QLatin1String(kLayerVideoGravityResize) || picture.isEmpty()) return view;
  return picture.scaled(QSizeF(view), m_gravity == QLatin1String(kLayerVideoGravityResizeAspectFill)
                                          ? Qt::KeepAspectRatioByExpanding
                                          : Qt::KeepAspectRatio)
      .toSize();
}

int CaptureVideoPreviewView::U_PreviewWidth() const {
  // Before the first picture its aspect is not known: room for 16:9 at the view's height.
  const QSize shown = U_ShownSize(m_pictureAspect.isEmpty() ? QSizeF(16, 9) : QSizeF(m_pictureAspect));
  return std::clamp(shown.width(), 64, 7680) & ~1;
}

void CaptureVideoPreviewView::U_FollowPictureAspect(const QSize& picture) {
  m_pictureAspect = picture;
  const int wanted = U_PreviewWidth();
  if (wanted == m_requestedWidth || !m_session || m_sinkID < 0) return;
  m_requestedWidth = wanted;
  m_session->setPreviewSinkMaxWidth(m_sinkID, wanted);
}

void CaptureVideoPreviewView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  U_FollowPictureAspect(m_pictureAspect);
}

void CaptureVideoPreviewView::takeFrame(const PreviewPicture& picture) {
  {
    std::lock_guard lock(m_mutex);
    m_frame = picture;
  }
  m_framesReceived.fetch_add(1);
  if (m_updateQueued.exchange(true)) return;
  auto self = m_self;
  QMetaObject::invokeMethod(
      this,
      Tsan_HandOver([self] {
        CaptureVideoPreviewView* view = self->load();
        if (!view) return;
        view->m_updateQueued.store(false);
        // A camera of another aspect than the last one: pictures exactly as wide as shown from now on.
        // (Pictures come in even sizes, so their own aspect wavers by a pixel's worth: that is no change.)
        const QSize picture = view->U_CurrentPicture().size();
        const QSize known = view->m_pictureAspect;
        if (!picture.isEmpty() &&
            (known.isEmpty() || std::abs(double(picture.width()) * known.height() / (double(picture.height()) * known.width()) - 1) > 0.01))
          view->U_FollowPictureAspect(picture);
        view->update();
        emit view->frameArrived();
      }),
      Qt::QueuedConnection);
}

PreviewPicture CaptureVideoPreviewView::U_CurrentPicture() const {
  std::lock_guard lock(m_mutex);
  return m_frame;
}

QImage CaptureVideoPreviewView::currentFrame() const {
  const PreviewPicture picture = U_CurrentPicture();
  if (!picture.yuv()) return picture.image();
  FFmpegImageScaler images(FFmpegScaleQuality::FastBilinear);
  return images.image(picture);
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
  const PreviewPicture picture = U_CurrentPicture();
  if (picture.isNull()) {
    p.fillRect(rect(), m_background);
    return;
  }
  const double dpr = devicePixelRatioF();
  const QSize size = picture.size();
  const QSize shown = U_ShownSize(QSizeF(m_pictureAspect.isEmpty() ? size : m_pictureAspect));
  // Pictures come as large as they are shown (to a pixel or two of rounding): copied as they are. A
  // picture of the size before a resize is scaled until the next one comes at the new size.
  const bool exact = std::abs(size.width() - shown.width()) <= 2 && std::abs(size.height() - shown.height()) <= 2;
  const QSize drawn = exact ? size : shown;
  const QPoint origin(int(std::floor((width() * dpr - drawn.width()) / 2)), int(std::floor((height() * dpr - drawn.height()) / 2)));
  const QRectF target(QPointF(origin) / dpr, QSizeF(drawn) / dpr);
  // Only the bars beside the picture are filled: the picture covers the rest.
  const QRegion bars = QRegion(rect()) - QRegion(target.toRect());
  for (const QRect& bar : bars) p.fillRect(bar, m_background);
  if (exact && U_ConvertInPlace(p, picture, QRect(origin, drawn))) {
    ++m_framesPaintedInPlace;
    return;
  }
  // An exact picture fills its target pixel for pixel: drawn without scaling, and without marking the
  // image with the screen's pixel ratio (which would copy the whole picture while the converter still
  // holds it).
  if (!exact) p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(target, m_images.image(picture));
}

bool CaptureVideoPreviewView::U_ConvertInPlace(QPainter& painter, const PreviewPicture& picture, const QRect& target) {
  // Only the raster engine painting a window's image, mapping the view by whole pixels (no scaling
  // for the screen), with the whole picture inside what is being painted now: elsewhere the image holds
  // other widgets' pixels, which are not painted again.
  QPaintEngine* engine = painter.paintEngine();
  if (!picture.yuv() || !engine || engine->type() != QPaintEngine::Raster || painter.hasClipping()) return false;
  QPaintDevice* device = engine->paintDevice();
  if (!device || device->devType() != QInternal::Image) return false;
  auto* image = static_cast<QImage*>(device);
  const QImage::Format format = image->format();
  if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 && format != QImage::Format_ARGB32_Premultiplied) ||
      !image->isDetached() || image->devicePixelRatio() != devicePixelRatioF())
    return false;
  const QTransform& transform = painter.deviceTransform();
  if (transform.type() > QTransform::TxTranslate || transform.dx() != std::round(transform.dx()) ||
      transform.dy() != std::round(transform.dy()))
    return false;
  const QRect onImage = target.translated(int(transform.dx()), int(transform.dy()));
  if (!image->rect().contains(onImage)) return false;
  const QRegion clip = engine->systemClip();
  if (!clip.isEmpty() && !(QRegion(onImage) - clip).isEmpty()) return false;
  painter.beginNativePainting();
  uchar* topLeft = const_cast<uchar*>(image->constBits()) + qsizetype(onImage.y()) * image->bytesPerLine() + qsizetype(onImage.x()) * 4;
  const bool converted = m_inPlace.convertInto(picture, topLeft, image->bytesPerLine());
  painter.endNativePainting();
  return converted;
}
