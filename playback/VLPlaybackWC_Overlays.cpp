// The playback window's overlays: the synchronized layer over the player's picture and the overlay
// tree of the window's project inside it.

#include "playback/VLPlaybackWC.h"

#include "composition/ZRNAVCaptureProject.h"
#include "platform/media/player/Player.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/ZRNSynchronizedLayerView.h"

CALayerRef VLPlaybackWC::syncLayer() const { return m_syncLayerView ? m_syncLayerView->layer() : nullptr; }

void VLPlaybackWC::U_AddSyncLayerToPlayerItem(const std::shared_ptr<PlayerItem>& item) {
  if (!item || !m_player || !m_playerView) return;
  if (m_syncLayerView) m_syncLayerView->deleteLater();
  m_syncLayerView = new ZRNSynchronizedLayerView(m_player.get(), m_playerView, m_windowAVProject->videoSize());
  const QString super = QStringLiteral("superlayer");
  for (CAConstraintAttribute a : {CAConstraintAttribute::MidY, CAConstraintAttribute::MidX, CAConstraintAttribute::Width,
                                  CAConstraintAttribute::Height})
    m_syncLayerView->layer()->addConstraint(CAConstraint::constraintWithAttribute(a, super, a));
  m_windowAVProject->setSynchroLayer(m_syncLayerView->layer());
  // The overlays' contents are laid out for the layer's size: a new size lays them out again.
  connect(m_syncLayerView, &ZRNSynchronizedLayerView::layerResized, this, [this] {
    if (!syncLayer() || syncLayer()->sublayers().isEmpty()) return;
    const QSizeF natural = m_windowAVProject->editedComposition()->naturalSize();
    for (const ZRNEditRef& e : m_windowAVProject->getVideoOverlayEdits())
      U_PrepareOverlayAgain(e, natural);
  });
}

void VLPlaybackWC::U_PrepareOverlayAgain(const ZRNEditRef& e, const QSizeF& naturalSize) {
  auto* edit = dynamic_cast<ZRNSrcBaseCAEdit*>(e.get());
  const CALayerRef sync = syncLayer();
  if (!edit || !edit->caLayer() || !sync) return;
  const QList<CALayerRef> content = edit->caLayer()->sublayers();
  if (!content.isEmpty()) content.first()->removeFromSuperlayer();
  edit->U_PrepareOverlayForFrameSize(naturalSize, sync->bounds().size());
}

void VLPlaybackWC::U_AddOverlays(const CALayerRef& layer) {
  const CALayerRef sync = syncLayer();
  if (!sync || !layer) return;
  sync->setConstraintLayoutManager(true);
  layer->setAutoresizingMask(kCALayerWidthSizable | kCALayerHeightSizable);
  layer->setContentsGravity(QString::fromLatin1(kCAGravityResizeAspect));
  layer->setFrame(sync->bounds());
  const QString super = QStringLiteral("superlayer");
  for (CAConstraintAttribute a : {CAConstraintAttribute::MidY, CAConstraintAttribute::MidX, CAConstraintAttribute::Width,
                                  CAConstraintAttribute::Height})
    layer->addConstraint(CAConstraint::constraintWithAttribute(a, super, a));
  sync->addSublayer(layer);
  const QSizeF natural = m_windowAVProject->editedComposition()->naturalSize();
  for (const ZRNEditRef& e : m_windowAVProject->getVideoOverlayEdits()) U_PrepareOverlayAgain(e, natural);
  if (m_syncLayerView) m_syncLayerView->update();
}
