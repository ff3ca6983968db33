#pragma once
// The playback window's player view: space plays or pauses, the arrow keys step picture by picture,
// all through the transport bar. While it has the keys it shows a mark around the picture.

#include "platform/media/view/PlayerView.h"

#include <QPointer>

class ZRNSynchroMovieControllerView;

class ZRNAVPlayerView : public PlayerView {
  Q_OBJECT

 public:
  explicit ZRNAVPlayerView(QWidget* parent = nullptr);

  ZRNSynchroMovieControllerView* synchroController() const;
  void setSynchroController(ZRNSynchroMovieControllerView* controller);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QPointer<ZRNSynchroMovieControllerView> m_synchroController;
};
