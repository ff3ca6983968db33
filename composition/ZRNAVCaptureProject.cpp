#include "composition/ZRNAVCaptureProject.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNTimeFormatting.h"
#include "composition/ZRNImageOverlayEdit.h"
#include "composition/ZRNTitleEdit.h"
#include "platform/foundation/Fmt.h"

ZRNAVCaptureProject::ZRNAVCaptureProject() { commonInit(); }

void ZRNAVCaptureProject::commonInit() {
  const ZRNAppPrefs& prefs = Prefs_Shared();
  m_videoSize = prefs.movieSize();
  m_homeTeam = prefs.homeTeamName();
  m_guestTeam = prefs.guestTeamName();
  m_startMillisToClip = 0;
  m_periods.clear();
  m_matchGoals.clear();
  m_matchScoreEdits.clear();
  m_timecodes.clear();
}

void ZRNAVCaptureProject::prepareFoNewRecording() {
  U_ClearEdits();
  m_assetsDict.reset();
  m_baseDirectory.clear();
  commonInit();
}

void ZRNAVCaptureProject::U_ClearEdits() {
  m_timecodes.clear();
  m_matchScoreEdits.clear();
  ZRNAVProject::U_ClearEdits();
}

void ZRNAVCaptureProject::setSpecs(const QVariantMap& editCommands, const QSizeF& size, const QVariantMap& movies,
                                   const QString& baseDir) {
  (void)movies;
  m_baseDirectory = baseDir;
  m_videoSize = size;
  loadEditCommands(editCommands);
}

void ZRNAVCaptureProject::loadEditCommands(const QVariantMap& editCommands) {
  U_ClearEdits();
  m_edits.append(loadOverlayDictsArray(editCommands.value(QStringLiteral("graphics")).toList()));
  loadScoreTitlesFrom(editCommands.value(QStringLiteral("titles")).toList());
  loadTimecodesFrom(editCommands.value(QStringLiteral("timecodes")).toList());
}

QList<ZRNEditRef> ZRNAVCaptureProject::loadOverlayDictsArray(const QVariantList& commands) const {
  QList<ZRNEditRef> edits;
  for (const QVariant& command : commands)
    if (command.canConvert<QVariantMap>())
      edits.append(ZRNSrcClip::initWithDictionary<ZRNBadgeOverlayEdit>(command.toMap(), m_baseDirectory));
  return edits;
}

QList<std::shared_ptr<ZRNScoreTitleEdit>> ZRNAVCaptureProject::loadScoreTitleDictsArray(
    const QVariantList& commands) const {
  QList<std::shared_ptr<ZRNScoreTitleEdit>> edits;
  for (const QVariant& command : commands) {
    if (!command.canConvert<QVariantMap>()) continue;
    auto edit = ZRNSrcClip::initWithDictionary<ZRNScoreTitleEdit>(command.toMap(), m_baseDirectory);
    edit->setTitleText(Fmt(edit->formatString(), m_homeTeam, m_guestTeam));
    edits.append(edit);
  }
  return edits;
}

QList<std::shared_ptr<ZRNTimecodeEdit>> ZRNAVCaptureProject::loadTimecodeDictsArray(const QVariantList& commands) const {
  QList<std::shared_ptr<ZRNTimecodeEdit>> edits;
  for (const QVariant& command : commands)
    if (command.canConvert<QVariantMap>())
      edits.append(ZRNSrcClip::initWithDictionary<ZRNTimecodeEdit>(command.toMap(), m_baseDirectory));
  return edits;
}

void ZRNAVCaptureProject::loadScoreTitlesFrom(const QVariantList& commands) {
  for (const auto& edit : loadScoreTitleDictsArray(commands)) {
    m_edits.append(edit);
    m_matchScoreEdits.append(edit);
  }
}

void ZRNAVCaptureProject::loadTimecodesFrom(const QVariantList& commands) {
  for (const auto& edit : loadTimecodeDictsArray(commands)) {
    m_edits.append(edit);
    m_timecodes.append(edit);
  }
}

bool ZRNAVCaptureProject::hasOverlayEdits() const { return !getVideoOverlayEdits().isEmpty(); }

QList<ZRNEditRef> ZRNAVCaptureProject::getVideoOverlayEdits() const {
  QList<ZRNEditRef> list;
  for (const ZRNEditRef& e : m_edits)
    if (ZRNEdit_IsExactly<ZRNTitleEdit>(e.get()) || ZRNEdit_IsExactly<ZRNScoreTitleEdit>(e.get()) ||
        ZRNEdit_IsExactly<ZRNTimecodeEdit>(e.get()) || ZRNEdit_IsExactly<ZRNBadgeOverlayEdit>(e.get()))
      list.append(e);
  return list;
}

bool ZRNAVCaptureProject::hasSoundTrack() const {
  if (m_disableAudio) return false;
  for (const AssetRef& segment : m_segmentAssetsArray)
    if (segment && !segment->tracksWithMediaType(QString::fromLatin1(kMediaTypeAudio)).isEmpty()) return true;
  return false;
}

namespace {
QPointF U_ScoreAt(const QList<ZRNGoalTag>& goals, int64_t millis) {
  double home = 0.0, guest = 0.0;
  for (const ZRNGoalTag& goal : goals) {
    if (goal.eventMillis() > millis) continue;
    if (goal.teamNum() == 1) home += 1.0;
    else guest += 1.0;
  }
  return QPointF(home, guest);
}

int64_t U_PeriodAt(const QList<ZRNMatchPeriod>& periods, int64_t millis) {
  for (const ZRNMatchPeriod& period : periods)
    if (period.startMillis() <= millis && millis <= period.endMillis()) return period.periodID();
  return 0;
}

int64_t U_PeriodTime(const QList<ZRNMatchPeriod>& periods, int64_t millis, int64_t periodID) {
  for (const ZRNMatchPeriod& period : periods)
    if (period.periodID() == periodID) return millis - period.startMillis();
  return -1;
}

// What the match-time and score overlays show at a time. frame: the size the title pictures are drawn
// at; target: the size of the layer they are shown in.
struct U_MatchOverlays {
  QList<ZRNMatchPeriod> periods;
  QList<ZRNGoalTag> goals;
  QString home, guest;
  QList<std::shared_ptr<ZRNTimecodeEdit>> timecodes;
  QList<std::shared_ptr<ZRNScoreTitleEdit>> scores;

  static void removeFirstSublayer(const CALayerRef& layer, bool hide) {
    if (!layer) return;
    const QList<CALayerRef> subs = layer->sublayers();
    if (subs.isEmpty()) return;
    if (hide) subs.first()->setHidden(true);
    subs.first()->removeFromSuperlayer();
  }

  void update(int64_t millis, const QSizeF& frame, const QSizeF& target) const {
    const int64_t period = U_PeriodAt(periods, millis);
    for (const auto& e : timecodes) {
      if (period == 0) {
        removeFirstSublayer(e->caLayer(), true);
        e->setTitleVisible(false);
        continue;
      }
      const int64_t running = U_PeriodTime(periods, millis, period);
      e->setTitleText(ZRNAVCaptureProject::U_MatchTimeText(e->formatString(), running, period));
      if (CALayerRef layer = e->caLayer()) {
        const QList<CALayerRef> subs = layer->sublayers();
        if (!subs.isEmpty()) {
          subs.first()->setHidden(false);
          subs.first()->removeFromSuperlayer();
        }
      }
      e->setTitleVisible(true);
      e->U_PrepareOverlayForFrameSize(frame, target);
    }
    // Outside every period the score keeps its last text.
    if (period == 0) return;
    const QPointF score = U_ScoreAt(goals, millis);
    for (const auto& e : scores) {
      const QString text = e->stringForScore(score, home, guest);
      removeFirstSublayer(e->caLayer(), false);
      e->setTitleText(text);
      e->U_PrepareOverlayForFrameSize(frame, target);
    }
  }
};
}  // namespace

QPointF ZRNAVCaptureProject::matchScoreForTime(int64_t millis) const { return U_ScoreAt(m_matchGoals, millis); }

int64_t ZRNAVCaptureProject::periodForMatchTitle(const ZRNTitleEdit* title, int64_t millis) const {
  (void)title;
  return U_PeriodAt(m_periods, millis);
}

int64_t ZRNAVCaptureProject::convertMillis(int64_t millis, int64_t periodID) const {
  return U_PeriodTime(m_periods, millis, periodID);
}

MutableCompositionRef ZRNAVCaptureProject::U_NewClearCompositionWithSize(const QSizeF& size) {
  auto composition = MutableComposition::composition();
  composition->setNaturalSize(size);
  composition->addMutableTrackWithMediaType(QString::fromLatin1(kMediaTypeVideo));
  if (m_useAudio) {
    composition->addMutableTrackWithMediaType(QString::fromLatin1(kMediaTypeAudio));
    if (needsAudioMix()) composition->addMutableTrackWithMediaType(QString::fromLatin1(kMediaTypeAudio));
  }
  return composition;
}

MutableCompositionRef ZRNAVCaptureProject::createProjectCompositionForExport(bool forExport) {
  (void)forExport;  // display and export join the segments the same way
  MutableCompositionRef composition = U_NewClearCompositionWithSize(m_videoSize);
  const QString video = QString::fromLatin1(kMediaTypeVideo);
  const QString audio = QString::fromLatin1(kMediaTypeAudio);
  MutableCompositionTrackRef videoTrack, audioTrack;
  for (const auto& t : composition->mutableTracks()) {
    if (!videoTrack && t->mediaType() == video) videoTrack = t;
    if (m_useAudio && !audioTrack && t->mediaType() == audio) audioTrack = t;
  }
  MediaTime cursor = kMediaTimeZero;
  for (qsizetype i = 0; i < m_segmentAssetsArray.size(); ++i) {
    const AssetRef& segment = m_segmentAssetsArray[i];
    if (!segment) continue;
    MediaTimeRange sourceRange;
    MediaTime length;
    if (i == 0 && m_startMillisToClip > 0) {
      const MediaTime clip = MediaTimeMake(m_startMillisToClip, 1000);
      length = segment->duration() - clip;
      // Clipping more than the first segment holds leaves nothing of it, and the time line does not
      // run backwards.
      if (!(length > kMediaTimeZero)) continue;
      sourceRange = MediaTimeRangeMake(clip, length);
    } else {
      length = segment->duration();
      sourceRange = MediaTimeRangeMake(kMediaTimeZero, length);
    }
    const auto sourceVideo = segment->tracksWithMediaType(video);
    const auto sourceAudio = m_useAudio ? segment->tracksWithMediaType(audio) : QList<AssetTrackRef>();
    if (!sourceVideo.isEmpty() && videoTrack) {
      // A failed insert is dropped like any other: the join goes on, and the cursor keeps the place.
      videoTrack->insertTimeRange(sourceRange, sourceVideo.first(), cursor);
      if (m_useAudio && audioTrack) {
        // When the sound cannot be taken, a silent stretch keeps sound and picture in step.
        if (sourceAudio.isEmpty() || !audioTrack->insertTimeRange(sourceRange, sourceAudio.first(), cursor))
          audioTrack->insertEmptyTimeRange(MediaTimeRangeMake(cursor, length));
      }
    }
    cursor = cursor + length;
  }
  return composition;
}

int64_t ZRNAVCaptureProject::U_MillisForTime(const MediaTime& time) {
  const double seconds = time.isNumeric() ? MediaTimeGetSeconds(time) : 0.0;
  return int64_t(seconds * 1000.0 + 0.5);
}

QString ZRNAVCaptureProject::U_MatchTimeText(const QString& formatString, int64_t periodMillis, int64_t periodID) {
  return Fmt(formatString, stringWithMillis(periodMillis)) + Fmt("- %ld", periodID);
}

void ZRNAVCaptureProject::updateLayersForTime(const MediaTime& time, const QSizeF& size) {
  if (!Prefs_Shared().showMatchTimes()) return;
  const int64_t millis = U_MillisForTime(time);
  const U_MatchOverlays overlays{m_periods, m_matchGoals, m_homeTeam, m_guestTeam, m_timecodes, m_matchScoreEdits};
  overlays.update(millis, editedComposition()->naturalSize(), size);
}

void ZRNAVCaptureProject::U_SynchronizedLayersForTime(const MediaTime& time) {
  const CALayerRef layer = m_synchroLayer.lock();
  updateLayersForTime(time, layer ? layer->bounds().size() : QSizeF());
}

std::function<void(const MediaTime&)> ZRNAVCaptureProject::U_ExportTimeUpdate(const QSizeF& size) {
  if (m_timecodes.isEmpty() && m_matchScoreEdits.isEmpty()) return {};
  // The export runs on its own thread: it works on a copy of the marks and reads the preference once,
  // here, rather than from the worker.
  if (!Prefs_Shared().showMatchTimes()) return {};
  auto overlays = std::make_shared<const U_MatchOverlays>(
      U_MatchOverlays{m_periods, m_matchGoals, m_homeTeam, m_guestTeam, m_timecodes, m_matchScoreEdits});
  return [overlays, size](const MediaTime& time) {
    // Layers made for an export are flipped like the rest of the export's tree.
    for (const auto& e : overlays->timecodes) e->setExporting(true);
    for (const auto& e : overlays->scores) e->setExporting(true);
    overlays->update(U_MillisForTime(time), size, size);
    for (const auto& e : overlays->timecodes) e->setExporting(false);
    for (const auto& e : overlays->scores) e->setExporting(false);
  };
}

CALayerRef ZRNAVCaptureProject::exportableOverlaysLayer() { return ZRNAVProject::exportableOverlaysLayer(); }

CALayerRef ZRNAVCaptureProject::displayOverlaysLayer() {
  if (!hasOverlayEdits()) return nullptr;
  if (!m_fOverlaysLayer && !m_segmentAssetsArray.isEmpty())
    m_fOverlaysLayer = U_OverlayTreeForComposition(editedComposition(), m_videoSize, false, false);
  return m_fOverlaysLayer;
}
