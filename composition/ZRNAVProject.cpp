#include "composition/ZRNAVProject.h"

#include "platform/foundation/Fmt.h"

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

void ZRNAVProject::loadEditCommands(const QVariantMap& editCommands) {
  (void)editCommands;
  U_ClearEdits();
}

bool ZRNAVProject::hasSoundTrack() const { return !m_disableAudio; }

MutableCompositionRef ZRNAVProject::U_NewClearCompositionWithSize(const QSizeF& size) {
  auto composition = MutableComposition::composition();
  composition->setNaturalSize(size);
  composition->addMutableTrackWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  if (hasSoundTrack()) composition->addMutableTrackWithMediaType(QString::fromLatin1(kMediaTypeAudio));
  return composition;
}

// No edit kind of this class plays sound of its own, resizes a source or draws an overlay yet, so the
// answers below are the ones for an edit list without such edits.
bool ZRNAVProject::needsAudioMix() const { return false; }

bool ZRNAVProject::needsSizeTransform() const { return false; }

bool ZRNAVProject::hasOverlayEdits() const { return false; }

QList<ZRNEditRef> ZRNAVProject::getVideoOverlayEdits() const { return {}; }

MutableCompositionRef ZRNAVProject::createProjectCompositionForExport(bool forExport) {
  (void)forExport;
  return U_NewClearCompositionWithSize(m_videoSize);
}

CALayerRef ZRNAVProject::exportableOverlaysLayer() { return nullptr; }

CALayerRef ZRNAVProject::displayOverlaysLayer() { return nullptr; }

MutableVideoCompositionRef ZRNAVProject::createVideoCompositionForExport(bool forExport) {
  (void)forExport;
  auto vc = MutableVideoComposition::videoCompositionWithPropertiesOfAsset(m_fExportedComposition);
  vc->setFrameDuration(MediaTimeMake(1, 30));
  buildPassThroughVideoComposition(vc, m_fExportedComposition);
  return vc;
}

void ZRNAVProject::U_AttachOverlaysLayer(const MutableVideoCompositionRef& videoComposition, const CALayerRef& layer,
                                         const QSizeF& size) {
  (void)videoComposition;
  (void)layer;
  (void)size;
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
