#pragma once
// The playback window of the recording in progress: it opens the growing movie of the live window as a
// fragmented asset, follows it fragment by fragment (the end of the transport bar moves with the file),
// marks itself as live in its title and icon, keeps the sound off when the live microphone is the
// built-in one, and closes itself when the recording stops. Marks and exports are the base window's.

#include "playback/VLPlaybackWC.h"

#include <QPointer>

class FragmentedAsset;
class FragmentedAssetMinder;

class VLProgressivePlayWC : public VLPlaybackWC {
  Q_OBJECT
 public:
  explicit VLProgressivePlayWC(QWidget* parent = nullptr);
  ~VLProgressivePlayWC() override;

  // The live window's session document: the window takes it when it has none.
  void setLiveDocument(std::shared_ptr<VLDocument> document) { m_liveDocument = std::move(document); }
  FragmentedAssetMinder* fragmentedAssetMinder() const { return m_fragmentedAssetMinder; }

  void captureStateChanged(const Notification& note);
  void U_InitSoundControls();
  void U_UpdateSoundControls() override;
  void fragmentedDurationChanged(const Notification& note);
  // Schedules the opening of the growing movie on the main queue.
  void openLiveFootage(const QUrl& movieURL);
  void loadLiveAsset(const std::shared_ptr<FragmentedAsset>& asset);
  bool setUpPlaybackOfFragmentedAsset(const AssetRef& asset, const QStringList& keys);
  void U_UpdateForAssetLoaded();
  QString infoPopupHtml() const;
  // Always YES; the live window learns that its recording is no longer watched.
  bool windowShouldClose();
  void windowWillClose();

  // The tool tip of the sound controls while the built-in microphone records.
  static QString feedbackToolTip();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void U_OpenLiveFootageNow(const QUrl& movieURL);
  void windowDidBecomeKey();
  // The player's item takes up the longer movie in place, playing or paused: playback carries on
  // into the new fragment without a stop or a seek.
  void U_FollowGrowingMovie();

  std::shared_ptr<VLDocument> m_liveDocument;
  FragmentedAssetMinder* m_fragmentedAssetMinder = nullptr;
  std::shared_ptr<FragmentedAsset> m_liveAsset;
  bool m_closingForRecordingStop = false;
  NotificationObservation m_captureStateObservation;
  NotificationObservation m_durationObservation;
};
