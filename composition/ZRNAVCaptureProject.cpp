#include "composition/ZRNAVCaptureProject.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNTimeFormatting.h"
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
  // "graphics", "titles" and "timecodes" become badge, score and match-time edits once those edit
  // kinds exist; until then the lists stay empty.
  (void)editCommands;
  U_ClearEdits();
}

bool ZRNAVCaptureProject::hasOverlayEdits() const { return !getVideoOverlayEdits().isEmpty(); }

QList<ZRNEditRef> ZRNAVCaptureProject::getVideoOverlayEdits() const { return {}; }

bool ZRNAVCaptureProject::hasSoundTrack() const {
  if (m_disableAudio) return false;
  for (const AssetRef& segment : m_segmentAssetsArray)
    if (segment && !segment->tracksWithMediaType(QString::fromLatin1(kMediaTypeAudio)).isEmpty()) return true;
  return false;
}

QPointF ZRNAVCaptureProject::matchScoreForTime(int64_t millis) const {
  double home = 0.0, guest = 0.0;
  for (const ZRNGoalTag& goal : m_matchGoals) {
    if (goal.eventMillis() > millis) continue;
    if (goal.teamNum() == 1) home += 1.0;
    else guest += 1.0;
  }
  return QPointF(home, guest);
}

int64_t ZRNAVCaptureProject::periodForMatchTitle(const ZRNTitleEdit* title, int64_t millis) const {
  (void)title;
  for (const ZRNMatchPeriod& period : m_periods)
    if (period.startMillis() <= millis && millis <= period.endMillis()) return period.periodID();
  return 0;
}

int64_t ZRNAVCaptureProject::convertMillis(int64_t millis, int64_t periodID) const {
  for (const ZRNMatchPeriod& period : m_periods)
    if (period.periodID() == periodID) return millis - period.startMillis();
  return -1;
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
  (void)size;
  const bool show = Prefs_Shared().showMatchTimes();
  if (!show) return;
  const int64_t millis = U_MillisForTime(time);
  const int64_t period = periodForMatchTitle(nullptr, millis);
  (void)period;
  // The match-time and score overlays take their texts here from the period and the score at this
  // time; with no such overlay edits loaded there is nothing to bring up to date.
}

void ZRNAVCaptureProject::U_SynchronizedLayersForTime(const MediaTime& time) {
  // The overlays are laid out for the synchronized layer's size; without overlay layers it is zero.
  updateLayersForTime(time, QSizeF());
}

CALayerRef ZRNAVCaptureProject::exportableOverlaysLayer() {
  if (!hasOverlayEdits()) return nullptr;
  return nullptr;
}

CALayerRef ZRNAVCaptureProject::displayOverlaysLayer() {
  if (!hasOverlayEdits()) return nullptr;
  return m_fOverlaysLayer;
}
