#pragma once
// The live picture of a capture session: a widget that paints the newest preview frame, scaled to fit
// with its aspect kept on a background colour. Frames arrive from the session's preview thread and only
// the latest one is kept, so a slow paint never holds up capture.

#include "platform/media/capture/CaptureSession.h"

#include <QColor>
#include <QImage>
#include <QWidget>

class QPainter;

#include <atomic>
#include <memory>
#include <mutex>

inline constexpr const char* kLayerVideoGravityResizeAspect = "AVLayerVideoGravityResizeAspect";
inline constexpr const char* kLayerVideoGravityResizeAspectFill = "AVLayerVideoGravityResizeAspectFill";
inline constexpr const char* kLayerVideoGravityResize = "AVLayerVideoGravityResize";

class CaptureVideoPreviewView : public QWidget {
  Q_OBJECT
 public:
  explicit CaptureVideoPreviewView(QWidget* parent = nullptr);
  ~CaptureVideoPreviewView() override;

  CaptureSessionRef session() const { return m_session; }
  // Follows another session (or none); the last picture stays until the new session's first frame.
  void setSession(const CaptureSessionRef& session);
  QString videoGravity() const { return m_gravity; }
  void setVideoGravity(const QString& gravity);
  QColor backgroundColor() const { return m_background; }
  void setBackgroundColor(const QColor& color);

  // The newest frame shown, as an image (null before the first); frames received since the view was
  // made; frames painted straight onto the window's backing store (the rest were drawn from an image).
  QImage currentFrame() const;
  int framesReceived() const { return m_framesReceived.load(); }
  int framesPaintedInPlace() const { return m_framesPaintedInPlace; }

 signals:
  void frameArrived();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void detach();
  // The picture width the view shows at its size on its screen, in device pixels: the pictures come
  // that wide, so that they are painted as they come, without a second scaling.
  int U_PreviewWidth() const;
  // Where a picture of the given aspect is shown, in device pixels of the view.
  QSize U_ShownSize(const QSizeF& picture) const;
  void U_FollowPictureAspect(const QSize& picture);
  void takeFrame(const PreviewPicture& picture);
  PreviewPicture U_CurrentPicture() const;
  // Converts a YUV picture straight into the window's backing store at target (in the view's device
  // pixels); false, with nothing written, where that cannot be done safely.
  bool U_ConvertInPlace(QPainter& painter, const PreviewPicture& picture, const QRect& target);

  CaptureSessionRef m_session;
  int m_sinkID = -1;
  QString m_gravity = QString::fromLatin1(kLayerVideoGravityResizeAspect);
  QColor m_background = Qt::black;
  mutable std::mutex m_mutex;
  PreviewPicture m_frame;
  // Main thread only.
  PreviewPictureConverter m_inPlace;
  FFmpegImageScaler m_images{FFmpegScaleQuality::FastBilinear};
  int m_framesPaintedInPlace = 0;
  std::atomic<int> m_framesReceived{0};
  std::atomic<bool> m_updateQueued{false};
  QSize m_pictureAspect;     // of the pictures that arrived last (main thread)
  int m_requestedWidth = 0;  // the width last asked of the session
  // Shared with the sink so a frame arriving after the view is gone finds it cleared.
  std::shared_ptr<std::atomic<CaptureVideoPreviewView*>> m_self;
};
