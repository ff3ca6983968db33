#include "playback/VLProgressivePlayWC.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppHost.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNAppSetup.h"
#include "common/ZRNLocalizedStrings.h"
#include "common/ZRNLogger.h"
#include "common/ZRNRecentDocument.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNTimeFormatting.h"
#include "composition/ZRNAVCaptureProject.h"
#include "composition/ZRNJobsController.h"
#include "platform/gui/WindowPlacement.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/media/asset/FragmentedAsset.h"
#include "platform/media/asset/FragmentedAssetMinder.h"
#include "platform/media/player/Player.h"
#include "platform/media/player/PlayerItem.h"
#include "platform/media/io/SampleBuffer.h"
#include "playback/ZRNAVPlayerView.h"
#include "playback/ZRNSynchroMovieControllerView.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>

namespace {
const QString kRecordingStateChanged = QStringLiteral("ZRNRecordingStateChanged");
const QString kLiveTitleSuffix = QStringLiteral(" -- Live Recording");
constexpr int kAlertMovieDamaged = 20014;

const MediaTime kZeroTolerance = kMediaTimeZero;

}  // namespace

VLProgressivePlayWC::VLProgressivePlayWC(QWidget* parent) : VLPlaybackWC(parent) {
  setObjectName(QStringLiteral("VLProgressivePlayWC"));
  setOpenWindowOnLoad(false);
  m_fragmentedAssetMinder = nullptr;
  m_captureStateObservation = NotificationObservation(
      NotificationCenter::defaultCenter(),
      // Posted by the live window, possibly off the main thread.
      NotificationCenter::defaultCenter().addObserver(kRecordingStateChanged, nullptr, this,
                                                      [this](const Notification& note) { captureStateChanged(note); }));
}

VLProgressivePlayWC::~VLProgressivePlayWC() {
  m_durationObservation.reset();
  m_captureStateObservation.reset();
  delete m_fragmentedAssetMinder;
}

QString VLProgressivePlayWC::feedbackToolTip() {
  return QStringLiteral("Audio playback is disabled to prevent feedback loop when the built-in microphone is used as audio source");
}

// Recording state, closing and activation

void VLProgressivePlayWC::captureStateChanged(const Notification& note) {
  if (note.userInfo.value(QStringLiteral("recIsON")).toBool()) return;
  ZRNAppHost& host = ZRNAppHost_Shared();
  if (host.capturePlaybackWindow() == this) host.setCapturePlaybackWindow(nullptr);
  // Nobody holds the window any more once the recording it showed has ended.
  setAttribute(Qt::WA_DeleteOnClose);
  m_closingForRecordingStop = true;
  close();
  // A hidden window gets no close event: it goes all the same.
  if (!isVisible()) deleteLater();
}

bool VLProgressivePlayWC::windowShouldClose() {
  ZRNAppHost_Shared().setProgressiveWindowWasOpen(false);
  return true;
}

void VLProgressivePlayWC::windowWillClose() {
  // Unlike a saved session's window this one stays the delegate's until the recording ends.
  if (player()) player()->setRate(0.0f);
  synchroMovieController()->updateControllerForMovieRate(0.0f);
}

void VLProgressivePlayWC::closeEvent(QCloseEvent* event) {
  // No question about pending exports: closing only hides the recording from view.
  if (!m_closingForRecordingStop) windowShouldClose();
  event->accept();
  windowWillClose();
}

bool VLProgressivePlayWC::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && !isInitialized()) windowDidBecomeKey();
  return VLPlaybackWC::event(event);
}

void VLProgressivePlayWC::windowDidBecomeKey() {
  // Only the first activation: start where the recording's usable picture starts.
  QPointer<VLProgressivePlayWC> guard(this);
  Dispatch_MainAsync([guard] {
    if (!guard || !guard->player() || !guard->vlDocument()) return;
    const MediaTime start = MediaTimeMake(guard->vlDocument()->initialMillisToClip(), 1000);
    guard->player()->seekToTime(start, kZeroTolerance, kZeroTolerance);
    guard->synchroMovieController()->updatePlayerForMovieTime(start);
  });
}

// Sound

void VLProgressivePlayWC::U_InitSoundControls() {
  const auto doc = vlDocument();
  const bool hasSound = ZRNAppSetup::sharedAppSetup()->hasMicrophoneAccess() && doc && doc->captureAudio();
  synchroMovieController()->updateControllerForSound(hasSound);
  QPointer<VLProgressivePlayWC> guard(this);
  Dispatch_MainAsync([guard] {
    if (guard) guard->U_UpdateSoundControls();
  });
}

void VLProgressivePlayWC::U_UpdateSoundControls() {
  const auto doc = vlDocument();
  if (!ZRNAppSetup::sharedAppSetup()->hasMicrophoneAccess() || !doc || !doc->captureAudio()) return;
  ZRNSynchroMovieControllerView* bar = synchroMovieController();
  if (doc->microphoneIsBuiltIn()) {
    // The built-in microphone would pick our own playback up again.
    bar->soundOFF();
    bar->enableSoundControls(false, feedbackToolTip());
    return;
  }
  if (Prefs_Shared().closeAudioPlaybackWhenRecording())
    bar->soundOFF();
  else
    bar->soundMAX();
}

// The growing movie

void VLProgressivePlayWC::fragmentedDurationChanged(const Notification& note) {
  // On the main thread; the minder posts on its own queue, and the asset may have been replaced since.
  const bool ours = m_liveAsset && note.object == m_liveAsset.get();
  const MediaTime duration = ours ? m_liveAsset->duration() : kMediaTimeZero;
  // The item first, so that the bar's new end is never ahead of what the player can play.
  if (ours) U_FollowGrowingMovie();
  synchroMovieController()->updateControllerForMovieDuration(duration);
}

void VLProgressivePlayWC::U_FollowGrowingMovie() {
  const std::shared_ptr<Player> thePlayer = player();
  const std::shared_ptr<PlayerItem> item = thePlayer ? thePlayer->currentItem() : nullptr;
  if (item && item->asset() == m_liveAsset) item->refreshFromAsset();
}

void VLProgressivePlayWC::openLiveFootage(const QUrl& movieURL) {
  QPointer<VLProgressivePlayWC> guard(this);
  Dispatch_MainAsync([guard, movieURL] {
    if (guard) guard->U_OpenLiveFootageNow(movieURL);
  });
}

void VLProgressivePlayWC::U_OpenLiveFootageNow(const QUrl& movieURL) {
  prepareForNewRecording();
  const std::shared_ptr<VLDocument> before = vlDocument();
  if (!movieURL.isEmpty()) {
    if (!vlDocument()) setVlDocument(m_liveDocument);
    if (const auto doc = vlDocument()) {
      doc->setWindowController(this);
      setCapturedMovieURL(movieURL);
      windowAVProject()->setVideoSize(doc->frameSize());
      windowAVProject()->setUseAudio(doc->captureAudio());
      windowAVProject()->setStartMillisToClip(doc->initialMillisToClip());
    } else {
      setCapturedMovieURL(movieURL);
    }
    auto asset = FragmentedAsset::fragmentedAssetWithURL(movieURL);
    loadLiveAsset(asset);
    m_durationObservation = NotificationObservation(
        NotificationCenter::defaultCenter(),
        NotificationCenter::defaultCenter().addObserver(QString::fromLatin1(kFragmentedAssetDurationDidChangeNotification), asset.get(),
                                                        this, [this](const Notification& note) { fragmentedDurationChanged(note); }));
  }
  if (!before) {
    jobsController()->setJobsDoc(vlDocument());
    U_InitSoundControls();
  }
  U_RefreshJobsPane();
}

void VLProgressivePlayWC::loadLiveAsset(const std::shared_ptr<FragmentedAsset>& asset) {
  const QStringList keys{QString::fromLatin1(kAssetKeyPlayable),   QString::fromLatin1(kAssetKeyHasProtectedContent),
                         QString::fromLatin1(kAssetKeyTracks),     QString::fromLatin1(kAssetKeyDuration),
                         QString::fromLatin1(kAssetKeyCanContainFragments), QString::fromLatin1(kAssetKeyContainsFragments)};
  QPointer<VLProgressivePlayWC> guard(this);
  asset->loadValuesAsynchronouslyForKeys(keys, [guard, asset, keys] {
    Dispatch_MainAsync([guard, asset, keys] {
      if (!guard) return;
      VLProgressivePlayWC* self = guard.data();
      self->setCapturedMovieAsset(asset);
      self->m_liveAsset = asset;
      self->setUpPlaybackOfFragmentedAsset(asset, keys);
      const QList<AssetTrackRef> video = asset->statusOfValueForKey(QString::fromLatin1(kAssetKeyTracks)) == KeyValueStatus::Loaded
                                             ? asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo))
                                             : QList<AssetTrackRef>();
      if (video.isEmpty()) {
        const QString path = self->capturedMovieURL().toLocalFile();
        ZRNLogger_Log(QStringLiteral("ATT: NO video track found in %@"), path);
        Alert_ShowAlertWithID(kAlertMovieDamaged, ZRNRecentDocument::displayName(path));
        ZRNAppHost_Shared().U_CloseAndRemoveWC(self);
        return;
      }
      const QSizeF size = video.first()->naturalSize();
      self->windowAVProject()->setVideoSize(size);
      const double ratio = size.height() > 0 ? size.width() / size.height() : 0.0;
      if (ratio > 0 && self->viewAspectConstrain()->multiplier() != ratio) self->viewAspectConstrain()->updateMultiplier(ratio);
      self->U_UpdateSoundControls();
      if (self->openWindowOnLoad()) Gui_ShowWindowInArea(self);
    });
  });
}

bool VLProgressivePlayWC::setUpPlaybackOfFragmentedAsset(const AssetRef& asset, const QStringList& keys) {
  for (const QString& key : keys) {
    QString error;
    if (asset->statusOfValueForKey(key, &error) == KeyValueStatus::Failed) {
      ZRNLogger_Log(QStringLiteral("asset key failed to load: %@ error: %@"), key, error);
      return false;
    }
  }
  if (!asset->isPlayable() || asset->hasProtectedContent()) return false;
  if (!asset->tracksWithMediaType(QString::fromLatin1(kMediaTypeVideo)).isEmpty() && !playerView()->player())
    playerView()->setPlayer(player().get());
  setCapturedMovieAsset(asset);
  U_UpdateForAssetLoaded();
  return true;
}

void VLProgressivePlayWC::U_UpdateForAssetLoaded() {
  const std::shared_ptr<Player> thePlayer = player();
  thePlayer->setRate(0.0f);
  // Exports compose the recorded movie as it is when they start.
  windowAVProject()->setSegmentAssetsArray({capturedMovieAsset()});
  thePlayer->replaceCurrentItemWithPlayerItem(PlayerItem::itemWithAsset(capturedMovieAsset()));
  const MediaTime duration = capturedMovieAsset()->duration();

  synchroMovieController()->UU_SetupForPaused();
  U_UpdateSoundControls();

  const auto doc = vlDocument();
  const QString packagePath = doc ? doc->docURL().toLocalFile() : QFileInfo(capturedMovieURL().toLocalFile()).absolutePath();
  setWindowTitle(ZRNRecentDocument::displayName(packagePath) + kLiveTitleSuffix);
  setWindowFilePath(QFileInfo(capturedMovieURL().toLocalFile()).absolutePath());
  setWindowIcon(QIcon(QStringLiteral(":/images/display_live.png")));

  synchroMovieController()->updateControllerForMovieDuration(duration);
  if (Prefs_Shared().previewShowsLastFrame()) {
    // A hundredth of a second before the end written so far.
    const MediaTime last = MediaTimeSubtract(duration, MediaTimeMake(1, 100));
    thePlayer->seekToTime(last, kZeroTolerance, kZeroTolerance);
    synchroMovieController()->updatePlayerForMovieTime(last);
  }

  delete m_fragmentedAssetMinder;
  m_fragmentedAssetMinder = new FragmentedAssetMinder(m_liveAsset, doc ? doc->segmentSeconds() : 0.0);
}

QString VLProgressivePlayWC::infoPopupHtml() const {
  // The base window's document: no data rate (the recording is still being written), the sound said
  // to be not recorded rather than not found, and no spacing after the last table.
  InfoPopupForm form;
  form.dataRateRow = false;
  form.noAudioHeader = QStringLiteral("&nbsp;No audio recorded");
  form.closingSpace = false;
  return U_InfoPopupHtml(form);
}
