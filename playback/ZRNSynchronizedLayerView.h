#pragma once
// The player's synchronized overlay layer: a layer tree painted over the player view's picture at the
// player's current time, so that faded overlays and changing texts follow playback, seeks and steps.
// It covers the player view and lets every mouse and key event through to it.

#include "platform/layers/CALayer.h"

#include <QPointer>
#include <QSizeF>
#include <QWidget>

class Player;
class PlayerView;

class ZRNSynchronizedLayerView : public QWidget {
  Q_OBJECT

 public:
  // A new synchronized layer over the view for the player's item, placed over the picture of a movie
  // of videoSize (see layerFrame).
  ZRNSynchronizedLayerView(Player* player, PlayerView* view, const QSizeF& videoSize);

  // The synchronized layer: in the view's space (y upwards, the view's size), over the picture.
  CALayerRef layer() const { return m_layer; }
  // Where the layer goes in a view of that size: the picture's rectangle when the movie has the view's
  // size, otherwise the movie's size fitted into the view with its aspect kept, centred.
  static QRectF layerFrame(const QSizeF& videoSize, const QSizeF& viewSize, const QRect& videoRect);

 signals:
  // The layer took a new size with the player view.
  void layerResized();

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void U_FollowView();

  QPointer<Player> m_player;
  QPointer<PlayerView> m_view;
  QSizeF m_videoSize;
  CALayerRef m_layer;
};
