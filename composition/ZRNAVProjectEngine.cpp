// The project's edit engine: clips cut from source movies by key (at their own speed or another),
// picture and title overlays and extra sounds mixed over the movie or replacing its sound, turned into a
// composition, an audio mix with volume ramps and a video composition that fits every source into the
// render size.

#include "composition/ZRNAVProject.h"

#include "common/ZRNLogger.h"
#include "composition/ZRNAVProjectFunctions.h"
#include "composition/ZRNImageOverlayEdit.h"
#include "composition/ZRNTitleEdit.h"

#include <QPainter>

#include <cmath>

namespace {
MediaTime U_Ms(int64_t millis) { return MediaTimeMake(millis, 1000); }

QList<QVariantMap> U_Commands(const QVariant& list) {
  QList<QVariantMap> commands;
  for (const QVariant& v : list.toList())
    if (v.canConvert<QVariantMap>()) commands.append(v.toMap());
  return commands;
}

MutableCompositionTrackRef U_TrackOfType(const MutableCompositionRef& c, const char* type, int index) {
  int seen = 0;
  for (const auto& t : c->mutableTracks())
    if (t->mediaType() == QLatin1String(type) && seen++ == index) return t;
  return nullptr;
}
}  // namespace

void ZRNAVProject::setSpecs(const QVariantMap& editCommands, const QMap<QString, AssetRef>& movies,
                            const QString& baseDir) {
  m_assetsDict = std::make_shared<QMap<QString, AssetRef>>(movies);
  m_baseDirectory = baseDir;
  m_videoSize = QSizeF(double(ZRNSrcClip::U_Integer(editCommands.value(QStringLiteral("width")))),
                       double(ZRNSrcClip::U_Integer(editCommands.value(QStringLiteral("height")))));
  if (editCommands.contains(QStringLiteral("disableAudio")))
    m_disableAudio = editCommands.value(QStringLiteral("disableAudio")).toBool();
  loadEditCommands(editCommands);
  prepareForAssetAudioMix();
}

AssetRef ZRNAVProject::assetForKey(const QString& key) const {
  if (!m_assetsDict || key.isEmpty()) return nullptr;
  return m_assetsDict->value(key);
}

AssetTrackRef ZRNAVProject::videoTrackForKey(const QString& key) const {
  const AssetRef asset = assetForKey(key);
  if (!asset) return nullptr;
  const auto tracks = asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  return tracks.isEmpty() ? nullptr : tracks.first();
}

AssetTrackRef ZRNAVProject::audioTrackForKey(const QString& key) const {
  const AssetRef asset = assetForKey(key);
  if (!asset) return nullptr;
  const auto tracks = asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeAudio));
  return tracks.isEmpty() ? nullptr : tracks.first();
}

void ZRNAVProject::prepareForAssetAudioMix() {
  for (const ZRNEditRef& e : m_edits) {
    if (!ZRNEdit_IsExactly<ZRNSrcClip>(e.get()) || e->discardAudio()) continue;
    const AssetTrackRef track = audioTrackForKey(e->assetKey());
    if (track && !track->formatDescriptions().isEmpty()) e->setAudioFormats(track->formatDescriptions());
  }
}

bool ZRNAVProject::clipsHaveSoundtrack() const {
  for (const ZRNEditRef& e : getVideoEdits())
    if (audioTrackForKey(e->assetKey()) && !e->discardAudio() && !e->audioFormats().isEmpty()) return true;
  return false;
}

bool ZRNAVProject::hasAudioEditsToMix() const {
  if (m_disableAudio) return false;
  for (const ZRNEditRef& e : getSoundEdits())
    if (!e->discardAudio()) return true;
  return false;
}

void ZRNAVProject::loadEditCommands(const QVariantMap& editCommands) {
  U_ClearEdits();
  m_edits.append(loadClipDictsArray(editCommands.value(QStringLiteral("clips")).toList()));
  m_edits.append(loadOverlayDictsArray(editCommands.value(QStringLiteral("graphics")).toList()));
  m_edits.append(loadTitleDictsArray(editCommands.value(QStringLiteral("titles")).toList()));
  m_edits.append(loadSoundDictsArray(editCommands.value(QStringLiteral("sounds")).toList()));
}

QList<ZRNEditRef> ZRNAVProject::loadClipDictsArray(const QVariantList& commands) const {
  QList<ZRNEditRef> edits;
  for (const QVariantMap& command : U_Commands(commands)) {
    const int64_t srcDuration = ZRNSrcClip::U_Integer(command.value(QStringLiteral("srcDuration")));
    const int64_t duration = ZRNSrcClip::U_Integer(command.value(QStringLiteral("duration")));
    if (srcDuration != duration) {
      edits.append(ZRNSrcClip::initWithDictionary<ZRNSrcScaleEdit>(command, m_baseDirectory));
      continue;
    }
    auto clip = ZRNSrcClip::initWithDictionary<ZRNSrcClip>(command, m_baseDirectory);
    // Both missing: the clip is the whole source movie.
    if (!command.contains(QStringLiteral("duration")) && !command.contains(QStringLiteral("srcDuration"))) {
      clip->setDuration(-1);
      clip->setSrcDuration(-1);
    }
    if (clip->duration() == -1 && clip->srcDuration() == -1) {
      const AssetRef asset = assetForKey(clip->assetKey());
      const int64_t length = asset ? int64_t(MediaTimeGetSeconds(asset->duration()) * 1000.0) : 0;
      clip->setDuration(length);
      clip->setSrcDuration(length);
    }
    edits.append(clip);
  }
  return edits;
}

QList<ZRNEditRef> ZRNAVProject::loadOverlayDictsArray(const QVariantList& commands) const {
  QList<ZRNEditRef> edits;
  for (const QVariantMap& command : U_Commands(commands))
    edits.append(ZRNSrcClip::initWithDictionary<ZRNImageOverlayEdit>(command, m_baseDirectory));
  return edits;
}

QList<ZRNEditRef> ZRNAVProject::loadTitleDictsArray(const QVariantList& commands) const {
  QList<ZRNEditRef> edits;
  for (const QVariantMap& command : U_Commands(commands))
    edits.append(ZRNSrcClip::initWithDictionary<ZRNTitleEdit>(command, m_baseDirectory));
  return edits;
}

QList<ZRNEditRef> ZRNAVProject::loadSoundDictsArray(const QVariantList& commands) const {
  QList<ZRNEditRef> edits;
  for (const QVariantMap& command : U_Commands(commands))
    edits.append(ZRNSrcClip::initWithDictionary<ZRNSoundEdit>(command, m_baseDirectory));
  return edits;
}

MutableCompositionRef ZRNAVProject::createProjectCompositionForExport(bool forExport) {
  const ProjectTracks tracks = U_NewProjectTracks();
  U_InsertVideoEdits(tracks);
  U_InsertSoundEdits(tracks);
  if (tracks.mixed) {
    if (forExport) {
      m_fExportedAudioMix = MutableAudioMix::audioMix();
      m_fExportedAudioMix->setInputParameters({tracks.mainParams, tracks.mixedParams});
    } else if (MutableAudioMixRef mix = audioMix()) {
      mix->setInputParameters({tracks.mainParams, tracks.mixedParams});
    }
  }
  return tracks.composition;
}

ZRNAVProject::ProjectTracks ZRNAVProject::U_NewProjectTracks() {
  ProjectTracks tracks;
  tracks.composition = U_NewClearCompositionWithSize(m_videoSize);
  tracks.video = U_TrackOfType(tracks.composition, kMediaTypeVideo, 0);
  tracks.audio = U_TrackOfType(tracks.composition, kMediaTypeAudio, 0);
  if (!needsAudioMix()) return tracks;
  tracks.mixed = U_TrackOfType(tracks.composition, kMediaTypeAudio, 1);
  if (tracks.audio && tracks.mixed) {
    tracks.mainParams = MutableAudioMixInputParameters::audioMixInputParameters(tracks.audio->trackID());
    tracks.mixedParams = MutableAudioMixInputParameters::audioMixInputParameters(tracks.mixed->trackID());
    // The added sound is silent wherever no sound edit raises it.
    tracks.mixedParams->setVolume(0.0f, kMediaTimeZero);
  } else {
    tracks.mixed.reset();
  }
  return tracks;
}

// The video edits one after the other on the main tracks, each scaled to its length.
void ZRNAVProject::U_InsertVideoEdits(const ProjectTracks& tracks) const {
  int64_t cursor = 0;
  for (const ZRNEditRef& e : getVideoEdits()) {
    const int64_t srcDuration = std::max<int64_t>(0, e->srcDuration());
    const int64_t duration = std::max<int64_t>(0, e->duration());
    const MediaTimeRange range = MediaTimeRangeMake(U_Ms(e->srcStart()), U_Ms(srcDuration));
    const AssetTrackRef sourceVideo = videoTrackForKey(e->assetKey());
    const AssetTrackRef sourceAudio = audioTrackForKey(e->assetKey());
    // A missing source inserts nothing, but the time line still advances by the edit's length.
    if (tracks.video && sourceVideo && srcDuration > 0) tracks.video->insertTimeRange(range, sourceVideo, U_Ms(cursor));
    if (tracks.audio && srcDuration > 0) {
      if (!sourceAudio || !tracks.audio->insertTimeRange(range, sourceAudio, U_Ms(cursor)))
        tracks.audio->insertEmptyTimeRange(MediaTimeRangeMake(U_Ms(cursor), U_Ms(srcDuration)));
    }
    int64_t step = srcDuration;
    if (srcDuration != duration && srcDuration > 0 && duration > 0) {
      tracks.composition->scaleTimeRange(MediaTimeRangeMake(U_Ms(cursor), U_Ms(srcDuration)), U_Ms(duration));
      // Stretched sound is not kept: a speed-change clip is silent unless it plays its own sound.
      if (tracks.audio && sourceAudio && (e->discardAudio() || srcDuration == 1)) {
        tracks.audio->removeTimeRange(MediaTimeRangeMake(U_Ms(cursor), U_Ms(duration)));
        tracks.audio->insertEmptyTimeRange(MediaTimeRangeMake(U_Ms(cursor), U_Ms(duration)));
      }
      step = duration;
    }
    cursor += step;
  }
}

// The sound edits: added sound goes onto the mixed track with its level ramps, replacing sound onto the
// main track.
void ZRNAVProject::U_InsertSoundEdits(const ProjectTracks& tracks) const {
  for (const ZRNEditRef& e : getSoundEdits()) {
    auto* sound = static_cast<ZRNSoundEdit*>(e.get());
    const int64_t duration = std::max<int64_t>(0, sound->duration());
    if (duration <= 0) continue;
    const MediaTimeRange t = MediaTimeRangeMake(U_Ms(sound->start()), U_Ms(duration));
    const MediaTimeRange q = MediaTimeRangeMake(U_Ms(sound->srcStart()), U_Ms(duration));
    const AssetTrackRef track = sound->audioTrack();
    QString error;
    if (!sound->discardAudio()) {
      if (!tracks.mixed) continue;
      tracks.mixed->removeTimeRange(t);
      if (!track || !tracks.mixed->insertTimeRange(q, track, t.start, &error)) {
        ZRNLogger_Log(QStringLiteral("Error %@ (when trying to insert extra audio clip)"),
                      error.isEmpty() ? QStringLiteral("(no sound track)") : error);
        // The stretch stays, silent: the added sounds after it keep their times.
        tracks.mixed->insertEmptyTimeRange(t);
      }
      // The movie's sound dips to the main level and the added sound rises to its level within a
      // millisecond at each end of the edit.
      const MediaTime oneMs = U_Ms(1);
      const MediaTime last = t.end() - oneMs;
      tracks.mainParams->setVolumeRampFromStartVolume(1.0f, float(sound->mainLevel()), MediaTimeRangeMake(t.start, oneMs));
      tracks.mainParams->setVolumeRampFromStartVolume(float(sound->mainLevel()), 1.0f, MediaTimeRangeMake(last, oneMs));
      tracks.mixedParams->setVolumeRampFromStartVolume(0.0f, float(sound->soundLevel()), MediaTimeRangeMake(t.start, oneMs));
      tracks.mixedParams->setVolumeRampFromStartVolume(float(sound->soundLevel()), 0.0f, MediaTimeRangeMake(last, oneMs));
    } else {
      if (!tracks.audio) continue;
      tracks.audio->removeTimeRange(t);
      if (!track || !tracks.audio->insertTimeRange(q, track, t.start, &error)) {
        ZRNLogger_Log(QStringLiteral("Error %@ (when trying to insert audio clip)"),
                      error.isEmpty() ? QStringLiteral("(no sound track)") : error);
        // A sound that cannot be read leaves silence of its length: the movie's sound after it stays
        // in step with the picture.
        tracks.audio->insertEmptyTimeRange(t);
      }
      if (tracks.mixed) {
        tracks.mixed->removeTimeRange(t);
        tracks.mixed->insertEmptyTimeRange(t);
      }
    }
  }
}

MutableVideoCompositionRef ZRNAVProject::createVideoCompositionForExport(bool forExport) {
  const MutableCompositionRef c = forExport ? m_fExportedComposition : editedComposition();
  auto vc = MutableVideoComposition::videoCompositionWithPropertiesOfAsset(c);
  vc->setFrameDuration(MediaTimeMake(1, 30));
  vc->setRenderSize(m_videoSize);
  const MutableCompositionTrackRef track = c ? U_TrackOfType(c, kMediaTypeVideo, 0) : nullptr;
  QList<VideoCompositionInstructionRef> instructions;
  int64_t cursor = 0;
  for (const ZRNEditRef& e : getVideoEdits()) {
    const int64_t d = std::max<int64_t>(0, e->duration());
    const AssetTrackRef source = videoTrackForKey(e->assetKey());
    const QSizeF n = source ? source->naturalSize() : QSizeF();
    QTransform transform;
    if (n != m_videoSize && n.width() > 0 && n.height() > 0) {
      const double s = std::min(m_videoSize.width() / n.width(), m_videoSize.height() / n.height());
      const double dx = m_videoSize.width() - n.width() * s, dy = m_videoSize.height() - n.height() * s;
      // Fitted inside the render size with its aspect kept, centred.
      transform = QTransform::fromScale(s, s);
      if (dx != 0 || dy != 0) transform = transform * QTransform::fromTranslate(dx * 0.5, dy * 0.5);
    }
    auto layer = MutableVideoCompositionLayerInstruction::videoCompositionLayerInstruction();
    if (track) layer->setTrackID(track->trackID());
    layer->setTransform(transform, U_Ms(cursor));
    auto instruction = MutableVideoCompositionInstruction::videoCompositionInstruction();
    instruction->setTimeRange(MediaTimeRangeMake(U_Ms(cursor), U_Ms(d)));
    instruction->setLayerInstructions({layer});
    instructions.append(instruction);
    cursor += d;
  }
  vc->setInstructions(instructions);
  return vc;
}

QImage ZRNAVProject::copyFrameImageAtTime(int64_t millis, bool useExactTime) const {
  int64_t sum = 0;
  for (const ZRNEditRef& e : getVideoEdits()) {
    const int64_t duration = std::max<int64_t>(0, e->duration());
    if (sum + duration < millis) {
      sum += duration;
      continue;
    }
    const AssetRef asset = assetForKey(e->assetKey());
    if (!asset) return {};
    // A clip at another speed maps its time line onto its source span proportionally.
    double offset = double(millis - sum);
    if (const auto* scaled = dynamic_cast<const ZRNSrcScaleEdit*>(e.get())) offset /= scaled->rate();
    const int64_t source = e->srcStart() + int64_t(std::llround(offset));
    return ZRNCopyImageAtTime(asset, MediaTimeMake(source, 1000), useExactTime);
  }
  return {};
}

QImage ZRNAVProject::frameImageForTime(int64_t millis, bool withText, bool withImages) const {
  const double W = m_videoSize.width(), H = m_videoSize.height();
  const QImage frame = copyFrameImageAtTime(millis, true);
  QImage context = ZRNCreateBitmapContextARGB(int64_t(W), int64_t(H));
  if (context.isNull()) return {};
  {
    QPainter painter(&context);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const double fw = frame.width(), fh = frame.height();
    if (!frame.isNull()) {
      if (m_videoSize.isEmpty() || m_videoSize == QSizeF(fw, fh)) {
        painter.drawImage(QRectF(0, 0, W, H), frame);
      } else {
        // A frame is made smaller to fit, never larger.
        const double sx = W / fw, sy = H / fh;
        const double s = (sx < 1 || sy < 1) ? std::min(sx, sy) : 1.0;
        painter.fillRect(context.rect(), Qt::black);
        const QSizeF size(fw * s, fh * s);
        painter.drawImage(QRectF((W - size.width()) / 2, (H - size.height()) / 2, size.width(), size.height()), frame);
      }
    }
  }
  auto active = [millis](const ZRNSrcClip* e) {
    return (e->start() == 0 && millis == 0) || (e->start() < millis && millis <= e->start() + e->duration());
  };
  if (withImages) {
    for (const ZRNEditRef& e : m_edits) {
      if (!ZRNEdit_IsExactly<ZRNImageOverlayEdit>(e.get()) || !active(e.get())) continue;
      ZRNDrawImageInContextRect(static_cast<ZRNImageOverlayEdit*>(e.get())->image(), context, W, H);
      break;
    }
  }
  if (withText) {
    for (const ZRNEditRef& e : m_edits) {
      if (!(ZRNEdit_IsExactly<ZRNTitleEdit>(e.get()) || ZRNEdit_IsExactly<ZRNScoreTitleEdit>(e.get()) ||
            ZRNEdit_IsExactly<ZRNTimecodeEdit>(e.get())) ||
          !active(e.get()))
        continue;
      ZRNDrawImageInContextRect(static_cast<ZRNTitleEdit*>(e.get())->titleImageWithSize(m_videoSize), context, W, H);
      break;
    }
  }
  return context;
}
