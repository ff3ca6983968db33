#pragma once
// The playback window of one saved session: its movie with the transport bar, its marks (in and out
// points, two match periods, goals of both teams), and its export jobs in the side pane. The marks and
// their rules are a VLSessionMarks that keeps the session document's tag records; the window sets them
// at the player's time, shows them on the transport bar and the project, and writes the session's
// settings file at every change. The window is the delegate of its jobs: it runs their exports
// (VLPlaybackWC_Export.cpp), one at a time as its jobs controller starts them, and copies each result
// to its destination.

#include "common/ZRNBaseClasses.h"
#include "common/ZRN_InfoPopoverVC.h"
#include "session/VLDocument.h"
#include "session/VLSessionMarks.h"
#include "session/ZRNGoalTag.h"
#include "session/ZRNMatchPeriod.h"
#include "composition/ZRN_JobRecord.h"
#include "platform/foundation/MediaTime.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/asset/Asset.h"
#include "platform/media/export/ExportSession.h"

#include <QFileDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantAnimation>

#include <cstdint>
#include <functional>
#include <memory>

class Player;
class QAction;

class QFrame;
class QLabel;
class QKeySequence;
class QMenu;
class QPushButton;
class QTableView;
class QToolButton;
class JobsTableView_Controller;
class ZRN_FramedView;
class VL_ExportJobRecord;
class ZRNAVCaptureProject;
class ZRNAVPlayerView;
class ZRNAspectRatioBox;
class ZRNJobsController;
class ZRNRecentDocument;
class ZRNSynchroMovieControllerView;
class ZRNSynchronizedLayerView;
class PlayerItem;
class CALayer;
class ZRNSrcClip;

// The window's layout: the widgets carry these outlet names as their objectName.
inline constexpr const char* kVLPlaybackWindowLayoutName = "VLPlaybackWindow";

class VLPlaybackWC : public ZRNSizingWC, public ZRNJobDelegate, public VLDocumentWindowController {
  Q_OBJECT

 public:
  explicit VLPlaybackWC(QWidget* parent = nullptr);
  ~VLPlaybackWC() override;

  // Outlets.
  ZRN_CommonInitSplitView* mainSplitV() const { return m_mainSplitV; }
  QWidget* psaxnoMainSubBox() const { return m_psaxnoMainSubBox; }
  QWidget* psaxnoRightSubBox() const { return m_psaxnoRightSubBox; }
  QFrame* jobBackgroundBox() const { return m_jobBackgroundBox; }
  QWidget* jobSuperView() const { return m_jobSuperView; }
  QTableView* jobTableView() const { return m_jobTableView; }
  JobsTableView_Controller* jobsTableController() const { return m_jobsTableController; }
  QWidget* titleAccessoryView() const { return m_titleAccessoryView; }
  QToolButton* infoBtn() const { return m_infoBtn; }
  ZRNAVPlayerView* playerView() const { return m_playerView; }
  ZRNAspectRatioBox* viewAspectConstrain() const { return m_viewAspectConstrain; }
  ZRNSynchroMovieControllerView* synchroMovieController() const { return m_synchroMovieController; }
  ZRN_FramedView* noDataView() const { return m_noDataView; }
  // What the window has to tell about its session (settings kept aside or unreadable, an interrupted
  // recording, marks that cannot be saved); hidden while there is nothing to tell.
  QLabel* noticeView() const { return m_noticeView; }
  // Marks made since the last successful save that are only in memory.
  bool hasUnsavedMarks() const { return m_marksUnsaved; }
  // Marks not saved are tried once more; when they still cannot be saved the user is asked whether they
  // may be lost (alert 20033, or 20043 when quitting asks). True when nothing is left unsaved or the user
  // lets the marks go; Return and Escape keep them.
  bool U_AskToLoseUnsavedMarks(bool quitting = false);
  // The user let the marks go (closing or quitting goes ahead): nothing asks about them again.
  void U_ForgetUnsavedMarks() { m_marksUnsaved = false; }
  // The window's menu actions, by the name of their operation (also their objectName).
  QAction* actionNamed(const QString& name) const;
  QList<QAction*> menuActions() const { return m_actions; }

  // Properties.
  bool openWindowOnLoad() const { return m_openWindowOnLoad; }
  void setOpenWindowOnLoad(bool value) { m_openWindowOnLoad = value; }
  std::shared_ptr<ZRNRecentDocument> windowRecentDoc() const { return m_windowRecentDoc; }
  void setWindowRecentDoc(std::shared_ptr<ZRNRecentDocument> entry) { m_windowRecentDoc = std::move(entry); }
  std::shared_ptr<Player> player() const { return m_player; }
  QUrl capturedMovieURL() const { return m_capturedMovieURL; }
  AssetRef capturedMovieAsset() const { return m_capturedMovieAsset; }
  ZRNJobsController* jobsController() const { return m_jobsController.get(); }
  bool paneIsVisible() const { return m_paneIsVisible; }
  bool isInitialized() const { return m_isInitialized; }
  QList<ZRNMatchPeriod> matchPeriods() const { return m_marks.matchPeriods(); }
  QList<ZRNGoalTag> teamGoals() const { return m_marks.teamGoals(); }
  std::shared_ptr<ZRNAVCaptureProject> windowAVProject() const { return m_windowAVProject; }
  QUrl clipsURL() const { return m_clipsURL; }
  // The clips folder in use while it stands, else the one clips go to ("<session> Clips" beside the package), made or not.
  QString clipsFolderPath() const;
  // A clip's file name in the clips folder: "VLClip_" and its start, then "_<n>" when the first n names
  // are taken.
  QString clipFileName(MediaTime start, long n = 0) const;
  // Where the job's file was or is to go: a session movie's chosen file; a clip's path kept when it
  // failed, else the name its export would give it now.
  QString intendedPathOfJob(const VL_ExportJobRecord& job) const;
  int64_t inTimeMillis() const { return m_marks.inTimeMillis(); }
  int64_t outTimeMillis() const { return m_marks.outTimeMillis(); }
  // The marks keep the document's tag list in step, so they follow the window's document.
  void setVlDocument(std::shared_ptr<VLDocument> document) override;

  // Overlays over the player (VLPlaybackWC_Overlays.cpp): a synchronized layer over the picture for
  // the player's item, which becomes the project's synchronized layer, and an overlay tree in it.
  std::shared_ptr<CALayer> syncLayer() const;
  void U_AddSyncLayerToPlayerItem(const std::shared_ptr<PlayerItem>& item);
  void U_AddOverlays(const std::shared_ptr<CALayer>& layer);

  // Opening a session.
  void openSavedRecording(std::shared_ptr<ZRNRecentDocument> entry);
  // Schedules the opening on the main queue and returns at once.
  void openSavedSession(const QUrl& packageURL);
  void prepareForNewRecording();
  void loadSavedAsset(const AssetRef& asset);
  void setUpPlaybackOfSavedAsset(const AssetRef& asset, const QStringList& keys);
  void U_UpdateForSavedAsset();
  // Seconds of the session's movie; 0 without one.
  double totalDuration() const;
  void u_DoCloseTheWindow();
  bool windowShouldClose();
  void windowWillClose();

  // Side pane (VLPlaybackWC_Layout.cpp). The pane is 252 to 420 wide and the player side at least 400;
  // a user drag goes through the divider rule, hiding and showing animate and keep the pane's width.
  static constexpr double kSidePaneMinWidth = 252.0;
  static constexpr double kSidePaneMaxWidth = 420.0;
  static constexpr double kPlayerSideMinWidth = 400.0;
  static constexpr int kSidePaneAnimationMillis = 333;
  void showHideJobsPanel();
  void U_UpdateShowHideJobsButton();
  bool splitViewCanCollapseSubview(int index) const { return index == 1; }
  bool splitViewShouldAdjustSizeOfSubview(int index) const { return index == 0; }
  // The divider position to use for a proposed one (`proposed`: where divider `index` would go).
  double splitViewConstrainSplitPosition(double proposed, int index);
  // After the divider moved; `userResize` when the user dragged it.
  void splitViewDidResizeSubviews(bool userResize);
  // The largest position of divider 0: the pane at width 0.
  double U_MaxDividerPosition() const;
  double dividerPosition() const { return m_dividerPosition; }
  void U_UnhideSidePanel();
  void U_HideSidePanel();
  // The running hide or show animation (null when none).
  QVariantAnimation* sidePaneAnimation() const { return m_sidePaneAnimation; }

  // Sound: while a recording with sound runs, playback is muted when the live microphone is the
  // built-in one or the preference asks for it.
  void U_InitSoundControls();
  virtual void U_UpdateSoundControls();
  void captureStateChanged();

  // Info popover.
  void createPopover();
  void showInfo(QWidget* sender);
  void popOverAction();
  virtual QString infoPopupHtml() const;
  void popoverDidShow();
  void popoverDidClose();
  QFrame* fInfoPopover() const { return m_fInfoPopover; }
  ZRN_InfoPopoverVC* popoverViewController() const { return m_popoverViewController; }

  // Window size: at natural size the player shows the recording at its frame size.
  bool windowIsNaturalSize() const override;
  // No larger size fits the screen once the window fills its available area.
  bool windowCanIncreaseSize() const override;
  bool windowCanDecreaseSize() const override { return windowIsNaturalSize(); }
  bool validateMenuItem(const QAction* item) const override;
  // Applies validateMenuItem to every action of the window.
  void U_ValidateMenuItems();

  // Marks. The actions read the player's time when their posted work runs.
  void defineInPoint();
  void defineOutPoint();
  void clearInOutPoints();
  void define1stPeriodStartPoint();
  void define1stPeriodEndPoint();
  void define2ndPeriodStartPoint();
  void define2ndPeriodEndPoint();
  void addHomeTeamGoal();
  void addGuestTeamGoal();
  void gotoPreviousTime();
  void gotoNextTime();

  void updateUniqueTag(const QVariantMap* record, bool add);
  void U_LoadTagsFrom(const QVariantList& tags);
  ZRNMatchPeriod& periodWithID(int64_t periodID);
  void U_SetStartPointAtTime(const MediaTime& time, int64_t periodID);
  void U_SetEndPointAtTime(const MediaTime& time, int64_t periodID);
  void U_AddGoalAtTime(const MediaTime& time, int64_t team);
  void U_ClearInPoint();
  void U_ClearOutPoint();
  void U_SetInPointAtTime(const MediaTime& time);
  void U_SetOutPointAtTime(const MediaTime& time);
  void U_SetSelectionWithStart(int64_t startMillis, int64_t durationMillis);
  // Writes the settings file of the session.
  void updateVLDoc() override;

  // Exports.
  void exportInOutClip();
  void exportMoment();
  // Asks for the session movie's file in a save panel (a sheet on the window).
  void exportAll();
  void exportSessionMovieΤο(const QString& path);
  void U_AddNewJobWithParams(const ExportSettingsRef& settings);
  bool respondsToDoTheJob() const override { return true; }
  void doTheJob(ZRN_JobRecord* job) override;
  void exportClip_DoJob(ZRN_JobRecord* job);
  void exportMovie_DoJob(ZRN_JobRecord* job);
  // The clip's file in the clips folder (part YES; empty when that folder cannot be made), or the
  // folder for session movies (part NO).
  QString sessionTargetPath(const AssetExportSessionRef& session, bool part);
  bool writeExportedVideoToDestination(ZRN_JobRecord* job, bool session);

  // The save panel of exportAll while it is shown.
  QFileDialog* exportSavePanel() const { return m_exportSavePanel; }

 public slots:
  void resizeToNaturalSize() override;
  void increaseWindowSize() override;
  void decreaseWindowSize() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  // For the window of a recording in progress, which opens its movie its own way.
  void setCapturedMovieURL(const QUrl& url) { m_capturedMovieURL = url; }
  void setCapturedMovieAsset(const AssetRef& asset) { m_capturedMovieAsset = asset; }
  void U_RefreshJobsPane();
  // The info text's document; the window of a recording in progress shows it with a few differences.
  struct InfoPopupForm {
    bool dataRateRow = true;
    QString noAudioHeader = QStringLiteral("&nbsp;No audio found");
    bool closingSpace = true;
  };
  QString U_InfoPopupHtml(const InfoPopupForm& form) const;

 private:
  // One running export: the job and the session that exports it. The checks and the completion hold it,
  // so a job cancelled and dropped from the list still has its export stopped and its file removed.
  struct ExportRun {
    std::shared_ptr<VL_ExportJobRecord> job;
    AssetExportSessionRef session;
    bool isSession = false;
    QPointer<VLPlaybackWC> window;
  };

  void windowDidLoad();
  void U_BuildContentView();
  void U_SetUpPlayer();
  void U_SetUpJobs();
  void U_BuildTitleAccessory();
  void U_BuildMenus();
  QAction* U_AddAction(QMenu* menu, const QString& name, const QString& title, const QKeySequence& shortcut,
                       void (VLPlaybackWC::*operation)());
  void U_OpenPackage(const QUrl& packageURL);
  bool U_ReadSettingsFile(const QString& path);
  void U_SessionCannotBeOpened(const QString& sessionName);
  // A session whose movie holds no frame: said as such (nothing was recorded), and let go like a damaged one.
  void U_SessionHoldsNothing(const QString& sessionName);
  void U_ClearTableSelection();
  void U_BuildJobsPane(QWidget* paneBox);
  void U_SetUpSidePane();
  void U_AnimateDividerTo(double position);
  // Seconds x 1000 + 0.5, truncated: the milliseconds a player time stands for.
  static int64_t U_Millis(const MediaTime& time);
  static int64_t U_MillisOfSeconds(double seconds);
  static MediaTime U_MillisTime(int64_t millis);
  void U_SeekToMark(int64_t millis);
  // After a change of the marks: the project follows the periods or the goals (by the changed record's
  // title) and the settings file is written.
  void U_MarksChanged(const QString& title);
  int64_t U_MovieEndMillis() const;
  void U_PostOnMain(std::function<void()> work);
  MediaTime U_CurrentTime() const;
  std::shared_ptr<VL_ExportJobRecord> U_SharedJob(ZRN_JobRecord* job) const;
  void U_StartExport(ZRN_JobRecord* job, bool session);
  // Notes why the job's export ended without a file and which file it was to write (`destination`, or
  // the clip's name as its export would choose it), and removes what it left in the temporary folder.
  void U_JobFailed(ZRN_JobRecord* job, const QString& reason, const QString& destination = QString());
  // The first free clip name for that start in that folder: no file there, and no job of the session
  // names it (a clip moved away, a failed clip's intended file), so no two rows name one file.
  QString U_FreeClipPath(const QString& folder, MediaTime start) const;
  void U_EndJobWithoutExport(ZRN_JobRecord* job, const QString& reason);
  // Schedules the next progress check of an export, 0.66 s from now.
  static void monitorExportProgressFor(const std::shared_ptr<ExportRun>& run);
  static void U_ProgressCheck(const std::shared_ptr<ExportRun>& run);
  // On the main queue once the export has stopped: the completion work, then the job's end.
  static void U_ExportEnded(const std::shared_ptr<ExportRun>& run);
  void U_ExportCompleted(const std::shared_ptr<ExportRun>& run);
  QString U_PackagePath() const;
  // Removes an overlay's content and makes it again for the synchronized layer's size.
  void U_PrepareOverlayAgain(const std::shared_ptr<ZRNSrcClip>& edit, const QSizeF& naturalSize);
  QString U_MovieExtension() const;
  void U_ShowNotice(const QString& text);
  void U_ClearInterruptedRecording(const QString& packagePath);
  // Tells in the notice that the movie could be read only in part, and how much of it.
  void U_TellMovieReadInPart(const Asset& movie);

  ZRN_CommonInitSplitView* m_mainSplitV = nullptr;
  QWidget* m_psaxnoMainSubBox = nullptr;
  QWidget* m_psaxnoRightSubBox = nullptr;
  QFrame* m_jobBackgroundBox = nullptr;
  QWidget* m_jobSuperView = nullptr;
  QTableView* m_jobTableView = nullptr;
  JobsTableView_Controller* m_jobsTableController = nullptr;
  QPointer<QVariantAnimation> m_sidePaneAnimation;
  QPointer<QFrame> m_fInfoPopover;
  QPointer<ZRN_InfoPopoverVC> m_popoverViewController;
  bool m_popoverHasDelegate = false;
  QWidget* m_titleAccessoryView = nullptr;
  QToolButton* m_infoBtn = nullptr;
  ZRNAVPlayerView* m_playerView = nullptr;
  ZRNAspectRatioBox* m_viewAspectConstrain = nullptr;
  ZRNSynchroMovieControllerView* m_synchroMovieController = nullptr;
  ZRN_FramedView* m_noDataView = nullptr;
  QLabel* m_noticeView = nullptr;
  QList<QAction*> m_actions;
  QPointer<QFileDialog> m_exportSavePanel;
  QPointer<ZRNSynchronizedLayerView> m_syncLayerView;

  bool m_openWindowOnLoad = true;
  std::shared_ptr<ZRNRecentDocument> m_windowRecentDoc;
  std::shared_ptr<Player> m_player;
  QUrl m_capturedMovieURL;
  AssetRef m_capturedMovieAsset;
  std::unique_ptr<ZRNJobsController> m_jobsController;
  bool m_paneIsVisible = true;
  bool m_isInitialized = false;
  double m_dividerPosition = -1.0;
  VLSessionMarks m_marks;
  std::shared_ptr<ZRNAVCaptureProject> m_windowAVProject;
  QUrl m_clipsURL;
  // The settings file must not be written over (it could not be read, or not be kept aside).
  bool m_settingsFileBlocked = false;
  bool m_marksUnsaved = false;
  bool m_toldMarksUnsaved = false;
  // A lock file stood in the package: its movie was being recorded, in this run or until an interruption
  // the notice tells, so an end cut short is not damage.
  bool m_packageWasLocked = false;

  NotificationObservation m_recordingStateObservation;
};
