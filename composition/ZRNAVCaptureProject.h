#pragma once
// The project of a recorded session: the recorded segments joined end to end (optionally without the
// leading part of the first one), with or without sound; the session's match periods and goals; and
// the score, match-time and badge overlays, whose texts follow the player's time.

#include "session/ZRNGoalTag.h"
#include "session/ZRNMatchPeriod.h"
#include "composition/ZRNAVProject.h"

#include <QPointF>

#include <cstdint>

class ZRNScoreTitleEdit;
class ZRNTimecodeEdit;
class ZRNTitleEdit;

class ZRNAVCaptureProject : public ZRNAVProject {
 public:
  ZRNAVCaptureProject();

  QString homeTeam() const { return m_homeTeam; }
  void setHomeTeam(const QString& name) { m_homeTeam = name; }
  QString guestTeam() const { return m_guestTeam; }
  void setGuestTeam(const QString& name) { m_guestTeam = name; }
  int64_t startMillisToClip() const { return m_startMillisToClip; }
  void setStartMillisToClip(int64_t millis) { m_startMillisToClip = millis; }
  bool useAudio() const { return m_useAudio; }
  void setUseAudio(bool value) { m_useAudio = value; }
  QList<ZRNMatchPeriod> periods() const { return m_periods; }
  void setPeriods(const QList<ZRNMatchPeriod>& periods) { m_periods = periods; }
  QList<ZRNGoalTag> matchGoals() const { return m_matchGoals; }
  void setMatchGoals(const QList<ZRNGoalTag>& goals) { m_matchGoals = goals; }
  QList<AssetRef> segmentAssetsArray() const { return m_segmentAssetsArray; }
  void setSegmentAssetsArray(const QList<AssetRef>& assets) { m_segmentAssetsArray = assets; }
  QList<std::shared_ptr<ZRNScoreTitleEdit>> matchScoreEdits() const { return m_matchScoreEdits; }
  QList<std::shared_ptr<ZRNTimecodeEdit>> timecodes() const { return m_timecodes; }
  std::weak_ptr<CALayer> synchroLayer() const { return m_synchroLayer; }
  void setSynchroLayer(const CALayerRef& layer) { m_synchroLayer = layer; }

  // Forgets the edits and source movies and reads the preferences again; the segments, the sound
  // switch and the synchronized layer stay.
  void prepareFoNewRecording();
  void U_ClearEdits() override;
  // Sets the base directory and the video size, then loads the edit commands (the movies are not used).
  void setSpecs(const QVariantMap& editCommands, const QSizeF& size, const QVariantMap& movies,
                const QString& baseDir);
  void loadEditCommands(const QVariantMap& editCommands) override;
  // "graphics" become badges, "titles" score titles (starting with their format filled with the team
  // names), "timecodes" match-time titles.
  QList<ZRNEditRef> loadOverlayDictsArray(const QVariantList& commands) const;
  QList<std::shared_ptr<ZRNScoreTitleEdit>> loadScoreTitleDictsArray(const QVariantList& commands) const;
  QList<std::shared_ptr<ZRNTimecodeEdit>> loadTimecodeDictsArray(const QVariantList& commands) const;
  void loadScoreTitlesFrom(const QVariantList& commands);
  void loadTimecodesFrom(const QVariantList& commands);
  bool hasOverlayEdits() const override;
  QList<ZRNEditRef> getVideoOverlayEdits() const override;
  bool hasSoundTrack() const override;

  // x: goals of team 1 up to the time (included); y: all other goals up to the time.
  QPointF matchScoreForTime(int64_t millis) const;
  // The ID of the first period that holds the time (both ends included); 0 when none does.
  int64_t periodForMatchTitle(const ZRNTitleEdit* title, int64_t millis) const;
  // The time from the start of the first period with that ID; -1 when there is none.
  int64_t convertMillis(int64_t millis, int64_t periodID) const;

  MutableCompositionRef U_NewClearCompositionWithSize(const QSizeF& size) override;
  MutableCompositionRef createProjectCompositionForExport(bool forExport) override;

  // Brings the match-time and score overlays up to date for a player time and a target size.
  void updateLayersForTime(const MediaTime& time, const QSizeF& size);
  void U_SynchronizedLayersForTime(const MediaTime& time);
  CALayerRef exportableOverlaysLayer() override;
  CALayerRef displayOverlaysLayer() override;

  // The milliseconds a player time stands for: seconds x 1000 + 0.5, truncated (0 for a time that is
  // not a number).
  static int64_t U_MillisForTime(const MediaTime& time);
  // The text of a match-time overlay: its format with the period's running time, then the period.
  static QString U_MatchTimeText(const QString& formatString, int64_t periodMillis, int64_t periodID);

 protected:
  // The export brings the score and match-time texts up to date for every frame's time.
  std::function<void(const MediaTime&)> U_ExportTimeUpdate(const QSizeF& size) override;

 private:
  void commonInit();

  QString m_homeTeam;
  QString m_guestTeam;
  int64_t m_startMillisToClip = 0;
  bool m_useAudio = false;
  QList<ZRNMatchPeriod> m_periods;
  QList<ZRNGoalTag> m_matchGoals;
  QList<AssetRef> m_segmentAssetsArray;
  QList<std::shared_ptr<ZRNScoreTitleEdit>> m_matchScoreEdits;
  QList<std::shared_ptr<ZRNTimecodeEdit>> m_timecodes;
  std::weak_ptr<CALayer> m_synchroLayer;
};
