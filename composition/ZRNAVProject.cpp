#include "composition/ZRNAVProject.h"

#include "composition/ZRNImageOverlayEdit.h"
#include "composition/ZRNTitleEdit.h"
#include "platform/foundation/Fmt.h"
#include "platform/layers/LayerRenderer.h"

#include <QDir>
#include <QFileInfo>

ZRNAVProject::ZRNAVProject() = default;

ZRNAVProject::~ZRNAVProject() { U_ClearExportThings(); }

void ZRNAVProject::U_ClearExportThings() {
  m_fExportedComposition.reset();
  m_fExportedVideoComposition.reset();
  m_fExportedAudioMix.reset();
}

void ZRNAVProject::U_ClearEdits() {
  m_edits.clear();
  m_fOverlaysLayer.reset();
  m_fAudioMix.reset();
  m_fEditedComposition.reset();
  U_ClearExportThings();
}

bool ZRNAVProject::hasSoundTrack() const {
  if (m_disableAudio) return false;
  if (clipsHaveSoundtrack()) return true;
  return hasAudioEditsToMix();
}

MutableCompositionRef ZRNAVProject::U_NewClearCompositionWithSize(const QSizeF& size) {
  auto composition = MutableComposition::composition();
  composition->setNaturalSize(size);
  composition->addMutableTrackWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  composition->addMutableTrackWithMediaType(QString::fromLatin1(kMediaTypeAudio));
  if (needsAudioMix()) composition->addMutableTrackWithMediaType(QString::fromLatin1(kMediaTypeAudio));
  return composition;
}

bool ZRNAVProject::needsAudioMix() const {
  for (const ZRNEditRef& e : m_edits)
    if (ZRNEdit_IsExactly<ZRNSoundEdit>(e.get()) && !e->discardAudio()) return true;
  return false;
}

bool ZRNAVProject::needsSizeTransform() const {
  for (const ZRNEditRef& e : getVideoEdits()) {
    const AssetTrackRef track = videoTrackForKey(e->assetKey());
    const QSizeF natural = track ? track->naturalSize() : QSizeF(qQNaN(), qQNaN());
    // A size that cannot be compared counts as different.
    if (!(natural.width() == m_videoSize.width()) || !(natural.height() == m_videoSize.height())) return true;
  }
  return false;
}

bool ZRNAVProject::hasOverlayEdits() const { return !getVideoOverlayEdits().isEmpty(); }

QList<ZRNEditRef> ZRNAVProject::getVideoOverlayEdits() const {
  QList<ZRNEditRef> list;
  for (const ZRNEditRef& e : m_edits)
    if (ZRNEdit_IsExactly<ZRNTitleEdit>(e.get()) || ZRNEdit_IsExactly<ZRNScoreTitleEdit>(e.get()) ||
        ZRNEdit_IsExactly<ZRNTimecodeEdit>(e.get()) || ZRNEdit_IsExactly<ZRNImageOverlayEdit>(e.get()))
      list.append(e);
  return list;
}

QList<ZRNEditRef> ZRNAVProject::getVideoEdits() const {
  QList<ZRNEditRef> list;
  for (const ZRNEditRef& e : m_edits)
    if (ZRNEdit_IsExactly<ZRNSrcClip>(e.get()) || ZRNEdit_IsExactly<ZRNSrcScaleEdit>(e.get())) list.append(e);
  return list;
}

QList<ZRNEditRef> ZRNAVProject::getSoundEdits() const {
  QList<ZRNEditRef> list;
  for (const ZRNEditRef& e : m_edits)
    if (ZRNEdit_IsExactly<ZRNSoundEdit>(e.get())) list.append(e);
  return list;
}

CALayerRef ZRNAVProject::U_OverlayTreeForComposition(const AssetRef& composition, const QSizeF& size, bool exporting,
                                                     bool flipped) {
  CALayerRef tree = CALayer::layer();
  tree->setGeometryFlipped(flipped);
  tree->setAutoresizingMask(kCALayerWidthSizable | kCALayerHeightSizable);
  tree->setContentsGravity(QString::fromLatin1(kCAGravityResizeAspect));
  tree->setPosition(QPointF(size.width() / 2, size.height() / 2));
  tree->setBounds(QRectF(QPointF(0, 0), size));
  tree->setConstraintLayoutManager(true);
  const QString super = QStringLiteral("superlayer");
  for (const ZRNEditRef& e : getVideoOverlayEdits()) {
    auto* edit = dynamic_cast<ZRNSrcBaseCAEdit*>(e.get());
    if (!edit) continue;
    edit->setExporting(exporting);
    if (CALayerRef layer = edit->buildLayerForComposition(composition, size)) {
      layer->setAutoresizingMask(kCALayerWidthSizable | kCALayerHeightSizable);
      layer->setContentsGravity(QString::fromLatin1(kCAGravityResizeAspect));
      layer->setPosition(tree->bounds().center());
      layer->setBounds(tree->bounds());
      for (CAConstraintAttribute a : {CAConstraintAttribute::MidY, CAConstraintAttribute::MidX,
                                      CAConstraintAttribute::Width, CAConstraintAttribute::Height})
        layer->addConstraint(CAConstraint::constraintWithAttribute(a, super, a));
      tree->addSublayer(layer);
    }
    // Only the export's build happens with the flag up; the layers keep what they were made with.
    if (exporting) edit->setExporting(false);
  }
  return tree;
}

CALayerRef ZRNAVProject::exportableOverlaysLayer() {
  if (!hasOverlayEdits() || !m_fExportedComposition) return nullptr;
  return U_OverlayTreeForComposition(m_fExportedComposition, m_fExportedComposition->naturalSize(), true, true);
}

CALayerRef ZRNAVProject::displayOverlaysLayer() {
  if (!hasOverlayEdits()) return nullptr;
  if (!m_fOverlaysLayer) {
    MutableCompositionRef composition = editedComposition();
    m_fOverlaysLayer = U_OverlayTreeForComposition(composition, composition->naturalSize(), false, false);
  }
  return m_fOverlaysLayer;
}

std::function<void(const MediaTime&)> ZRNAVProject::U_ExportTimeUpdate(const QSizeF& size) {
  (void)size;
  return {};
}

void ZRNAVProject::U_AttachOverlaysLayer(const MutableVideoCompositionRef& videoComposition, const CALayerRef& layer,
                                         const QSizeF& size) {
  if (!videoComposition || !layer) return;
  const QRectF frame(QPointF(0, 0), size);
  CALayerRef parent = CALayer::layer();
  parent->setFrame(frame);
  CALayerRef video = CALayer::layer();
  video->setFrame(frame);
  parent->addSublayer(video);
  parent->addSublayer(layer);
  parent->setGeometryFlipped(false);
  auto tool = CoreAnimationTool::videoCompositionCoreAnimationToolWithPostProcessingAsVideoLayer(video, parent);
  tool->setWillRenderHandler(U_ExportTimeUpdate(size));
  videoComposition->setAnimationTool(tool);
}

AssetExportSessionRef ZRNAVProject::makeExportable(const QString& presetName) {
  U_ClearExportThings();
  m_fExportedComposition = createProjectCompositionForExport(true);
  if (needsSizeTransform()) {
    m_fExportedVideoComposition = createVideoCompositionForExport(true);
  } else {
    m_fExportedVideoComposition = MutableVideoComposition::videoCompositionWithPropertiesOfAsset(m_fExportedComposition);
    m_fExportedVideoComposition->setFrameDuration(MediaTimeMake(1, 30));
    buildPassThroughVideoComposition(m_fExportedVideoComposition, m_fExportedComposition);
  }
  if (CALayerRef overlays = exportableOverlaysLayer())
    U_AttachOverlaysLayer(m_fExportedVideoComposition, overlays, m_fExportedComposition->naturalSize());
  auto session = AssetExportSession::exportSessionWithAsset(m_fExportedComposition, presetName);
  if (!session) return nullptr;
  session->setVideoComposition(m_fExportedVideoComposition);
  if (needsAudioMix()) session->setAudioMix(m_fExportedAudioMix);
  return session;
}

MutableCompositionRef ZRNAVProject::editedComposition() {
  if (!m_fEditedComposition) m_fEditedComposition = createProjectCompositionForExport(false);
  return m_fEditedComposition;
}

double ZRNAVProject::duration() { return MediaTimeGetSeconds(editedComposition()->duration()); }

MutableAudioMixRef ZRNAVProject::audioMix() {
  if (!m_fAudioMix && needsAudioMix()) m_fAudioMix = MutableAudioMix::audioMix();
  return m_fAudioMix;
}

void ZRNAVProject::buildPassThroughVideoComposition(const MutableVideoCompositionRef& videoComposition,
                                                    const AssetRef& composition) const {
  if (!videoComposition || !composition) return;
  auto instruction = MutableVideoCompositionInstruction::videoCompositionInstruction();
  instruction->setTimeRange(MediaTimeRangeMake(kMediaTimeZero, composition->duration()));
  auto layer = MutableVideoCompositionLayerInstruction::videoCompositionLayerInstruction();
  const auto videoTracks = composition->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  if (!videoTracks.isEmpty()) layer->setTrackID(videoTracks.first()->trackID());
  instruction->setLayerInstructions({layer});
  videoComposition->setInstructions({instruction});
}

QUrl ZRNAVProject::exportURL() const {
  const QDir temp(QDir::tempPath());
  for (long n = 0;; ++n) {
    const QString counter = n == 0 ? QString() : Fmt("-%li", n);
    const QString path = temp.filePath(Fmt("TempMovie-%@.m4v", counter));
    if (!QFileInfo::exists(path)) return QUrl::fromLocalFile(path);
  }
}
