#pragma once
// A widget that shows the picture of a Player: scaled with libswscale to fit the widget, keeping its
// aspect ratio, on black.

#include "platform/media/io/FFmpegUtil.h"
#include "platform/media/io/SampleBuffer.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

#include "platform/media/player/Player.h"

class PlayerView : public QWidget {
  Q_OBJECT

 public:
  explicit PlayerView(QWidget* parent = nullptr);
  ~PlayerView() override;

  Player* player() const { return m_player; }
  void setPlayer(Player* player);
  // The rectangle the picture fills inside the widget (empty when there is no picture).
  QRect videoRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void U_FrameChanged();
  void U_Render();

  QPointer<Player> m_player;
  QMetaObject::Connection m_connection;
  SampleBufferRef m_frame;
  QImage m_image;
  FFmpegImageScaler m_scaler;
};
