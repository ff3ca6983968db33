// The playback window's marks: each action reads the player's time, hands it to the session's marks
// (VLSessionMarks, where the rules live), and brings the transport bar, the project and the settings
// file up to date.

#include "playback/VLPlaybackWC.h"

#include "common/ZRNFileFunctions.h"
#include "platform/foundation/Fmt.h"
#include "session/ZRNTagRecord.h"
#include "composition/ZRNAVCaptureProject.h"
#include "composition/ZRNJobsController.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/media/player/Player.h"
#include "platform/media/player/PlayerItem.h"
#include "playback/ZRNSynchroMovieControllerView.h"

void VLPlaybackWC::U_PostOnMain(std::function<void()> work) {
  QPointer<VLPlaybackWC> guard(this);
  Dispatch_MainAsync([guard, work = std::move(work)] {
    if (guard) work();
  });
}

MediaTime VLPlaybackWC::U_CurrentTime() const {
  return m_player && m_player->currentItem() ? m_player->currentTime() : kMediaTimeZero;
}

int64_t VLPlaybackWC::U_MovieEndMillis() const {
  auto item = m_player->currentItem();
  return item ? U_Millis(item->duration()) : 0;
}

void VLPlaybackWC::setVlDocument(std::shared_ptr<VLDocument> document) {
  m_marks.setDocument(document);
  ZRNSizingWC::setVlDocument(std::move(document));
}

void VLPlaybackWC::U_MarksChanged(const QString& title) {
  // Without a document the project keeps what it showed.
  if (vlDocument()) {
    if (title == kTagRecord_MatchPeriod) m_windowAVProject->setPeriods(m_marks.matchPeriods());
    else if (title == kTagRecord_TeamGoal) m_windowAVProject->setMatchGoals(m_marks.teamGoals());
  }
  updateVLDoc();
}

void VLPlaybackWC::defineInPoint() { U_PostOnMain([this] { U_SetInPointAtTime(U_CurrentTime()); }); }
void VLPlaybackWC::defineOutPoint() { U_PostOnMain([this] { U_SetOutPointAtTime(U_CurrentTime()); }); }
void VLPlaybackWC::clearInOutPoints() {
  U_PostOnMain([this] {
    U_ClearInPoint();
    U_ClearOutPoint();
  });
}
void VLPlaybackWC::define1stPeriodStartPoint() { U_PostOnMain([this] { U_SetStartPointAtTime(U_CurrentTime(), 1); }); }
void VLPlaybackWC::define1stPeriodEndPoint() { U_PostOnMain([this] { U_SetEndPointAtTime(U_CurrentTime(), 1); }); }
void VLPlaybackWC::define2ndPeriodStartPoint() { U_PostOnMain([this] { U_SetStartPointAtTime(U_CurrentTime(), 2); }); }
void VLPlaybackWC::define2ndPeriodEndPoint() { U_PostOnMain([this] { U_SetEndPointAtTime(U_CurrentTime(), 2); }); }
void VLPlaybackWC::addHomeTeamGoal() { U_PostOnMain([this] { U_AddGoalAtTime(U_CurrentTime(), 1); }); }
void VLPlaybackWC::addGuestTeamGoal() { U_PostOnMain([this] { U_AddGoalAtTime(U_CurrentTime(), 2); }); }

void VLPlaybackWC::U_SeekToMark(int64_t millis) {
  const float rate = m_player->rate();
  m_player->setRate(0.0f);
  const MediaTime target = U_MillisTime(millis);
  m_player->seekToTime(target, kMediaTimeZero, kMediaTimeZero);
  m_synchroMovieController->updatePlayerForMovieTime(target);
  m_player->setRate(rate);
}

void VLPlaybackWC::gotoPreviousTime() {
  U_PostOnMain([this] {
    if (const auto target = m_marks.previousMarkMillis(U_Millis(U_CurrentTime()), U_MovieEndMillis())) U_SeekToMark(*target);
  });
}

void VLPlaybackWC::gotoNextTime() {
  U_PostOnMain([this] {
    if (const auto target = m_marks.nextMarkMillis(U_Millis(U_CurrentTime()), U_MovieEndMillis())) U_SeekToMark(*target);
  });
}

void VLPlaybackWC::updateUniqueTag(const QVariantMap* record, bool add) {
  if (record) m_marks.updateUniqueTag(*record, add);
  U_MarksChanged(record ? TagRecord_Title(*record) : QString());
}

void VLPlaybackWC::updateVLDoc() {
  auto doc = vlDocument();
  if (!doc) return;
  QString error;
  if (!m_settingsFileBlocked && doc->updateSettingsFile(&error)) {
    m_marksUnsaved = false;
    return;
  }
  // The marks stay in the window; closing it asks before they go. Said once, not at every mark.
  m_marksUnsaved = true;
  if (m_toldMarksUnsaved || m_settingsFileBlocked) return;
  m_toldMarksUnsaved = true;
  U_ShowNotice(Fmt("The marks cannot be saved: %@. They are kept while this window stays open.", error));
}

void VLPlaybackWC::U_LoadTagsFrom(const QVariantList& tags) {
  // Loading writes nothing; the next change saves the marks as they now stand.
  if (m_marks.loadTags(tags)) {
    U_ClearTableSelection();
    const int64_t in = m_marks.inTimeMillis();
    const int64_t out = m_marks.outTimeMillis();
    m_synchroMovieController->defineInTime(in >= 0 ? U_MillisTime(in) : MediaTime_ClearedMark());
    m_synchroMovieController->defineOutTime(out >= 0 ? U_MillisTime(out) : MediaTime_ClearedMark());
  }
  m_windowAVProject->setPeriods(m_marks.matchPeriods());
  m_windowAVProject->setMatchGoals(m_marks.teamGoals());
}

ZRNMatchPeriod& VLPlaybackWC::periodWithID(int64_t periodID) { return m_marks.periodWithID(periodID); }

void VLPlaybackWC::U_SetStartPointAtTime(const MediaTime& time, int64_t periodID) {
  m_marks.setPeriodStart(periodID, U_Millis(time));
  U_MarksChanged(kTagRecord_MatchPeriod);
}

void VLPlaybackWC::U_SetEndPointAtTime(const MediaTime& time, int64_t periodID) {
  m_marks.setPeriodEnd(periodID, U_Millis(time));
  U_MarksChanged(kTagRecord_MatchPeriod);
}

void VLPlaybackWC::U_AddGoalAtTime(const MediaTime& time, int64_t team) {
  m_marks.addGoal(team, U_Millis(time));
  U_MarksChanged(kTagRecord_TeamGoal);
}

void VLPlaybackWC::U_ClearInPoint() {
  m_marks.clearInPoint();
  U_MarksChanged(kTagRecord_InPoint);
  U_ClearTableSelection();
  m_synchroMovieController->defineInTime(MediaTime_ClearedMark());
}

void VLPlaybackWC::U_ClearOutPoint() {
  m_marks.clearOutPoint();
  U_MarksChanged(kTagRecord_OutPoint);
  U_ClearTableSelection();
  m_synchroMovieController->defineOutTime(MediaTime_ClearedMark());
}

void VLPlaybackWC::U_SetInPointAtTime(const MediaTime& time) {
  const bool hadOutPoint = m_marks.outTimeMillis() >= 0;
  m_marks.setInPoint(U_Millis(time));
  if (hadOutPoint && m_marks.outTimeMillis() < 0) m_synchroMovieController->defineOutTime(MediaTime_ClearedMark());
  U_MarksChanged(kTagRecord_InPoint);
  U_ClearTableSelection();
  m_synchroMovieController->defineInTime(time);
}

void VLPlaybackWC::U_SetOutPointAtTime(const MediaTime& time) {
  const bool hadInPoint = m_marks.inTimeMillis() >= 0;
  m_marks.setOutPoint(U_Millis(time));
  if (hadInPoint && m_marks.inTimeMillis() < 0) m_synchroMovieController->defineInTime(MediaTime_ClearedMark());
  U_MarksChanged(kTagRecord_OutPoint);
  U_ClearTableSelection();
  m_synchroMovieController->defineOutTime(time);
}

void VLPlaybackWC::U_SetSelectionWithStart(int64_t startMillis, int64_t durationMillis) {
  const bool pastEnd = m_marks.setSelection(startMillis, durationMillis, U_MillisOfSeconds(totalDuration()));
  U_MarksChanged(kTagRecord_OutPoint);
  m_player->setRate(0.0f);
  m_synchroMovieController->defineInTime(U_MillisTime(startMillis));
  m_synchroMovieController->defineOutTime(pastEnd ? MediaTimeMakeWithSeconds(totalDuration(), 1000)
                                                  : U_MillisTime(m_marks.outTimeMillis()));
  const MediaTime start = U_MillisTime(startMillis);
  m_player->seekToTime(start, kMediaTimeZero, kMediaTimeZero);
  m_synchroMovieController->updatePlayerForMovieTime(start);
  m_synchroMovieController->updateControllerForMovieRate(0.0f);
}
