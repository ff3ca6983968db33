#include "prefs/VLCameraPrefsTabVC.h"

#include "ui_VLCameraPrefsTab.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNAppSetup.h"
#include "capture/VLLiveWC.h"
#include "capture/ZRNCaptureAuth.h"
#include "capture/ZRNCaptureDevices.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/Fmt.h"
#include "platform/media/capture/CaptureSession.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>
#include <cstdio>

namespace {

QString Tr(const char* text) { return QCoreApplication::translate("Localizable", text); }

ZRNAppSetup& Setup() { return *ZRNAppSetup::sharedAppSetup(); }

bool CameraAccessGranted() { return Auth_CaptureAccessState(MediaType::Video) == kCaptureAccessGranted; }
bool MicrophoneAccessGranted() { return Auth_CaptureAccessState(MediaType::Audio) == kCaptureAccessGranted; }

// The live window re-configures on the next turn of the main queue, once the tab's own work is done.
void AskLiveWindow(void (VLLiveWC::*operation)()) {
  if (VLLiveWC* live = VLLiveWC_Current()) (live->*operation)();
}

}  // namespace

VLCameraPrefsTabVC::VLCameraPrefsTabVC(QWidget* parent) : ZRNBasePrefsTabVC(parent) {
  setObjectName(QStringLiteral("VLCameraPrefsTab"));
  m_isInitialized = false;
  loadView();
  awakeFromNib();
  // Any capture session that starts running (the live window's) makes the camera controls usable again.
  auto& center = NotificationCenter::defaultCenter();
  m_sessionStartedObservation = NotificationObservation(
      center, center.addObserver(QString::fromLatin1(kCaptureSessionDidStartRunningNotification), nullptr, this,
                                 [this](const Notification& note) { cameraIsReady(note); }));
  m_availableFPS->setToolTip(QStringLiteral("Available FPS values"));
}

VLCameraPrefsTabVC::~VLCameraPrefsTabVC() = default;

QString VLCameraPrefsTabVC::title() const { return Tr("Camera"); }
QString VLCameraPrefsTabVC::windowTitle() const { return Tr("Camera Settings"); }
QIcon VLCameraPrefsTabVC::image() const { return QIcon(QStringLiteral(":/images/Prefs_camera.png")); }

void VLCameraPrefsTabVC::loadView() {
  Ui::VLCameraPrefsTab layout;
  layout.setupUi(this);
  m_camerasPopup = layout.camerasPopup;
  m_refreshCamerasBtn = layout.refreshCamerasBtn;
  m_presetsPopup = layout.presetsPopup;
  m_fpsPopup = layout.fpsPopup;
  m_captureFPS = layout.captureFPS;
  m_availableFPS = layout.availableFPS;
  m_captureAudioBtn = layout.captureAudioBtn;
  m_microphonesPopup = layout.microphonesPopup;
  m_refreshMicrophonesBtn = layout.refreshMicrophonesBtn;
  m_audioPresetsPopup = layout.audioPresetsPopup;
  m_frameRateCaption = layout.frameRateCaption;
  // A typed frame rate replaces the menu only where the camera offers ranges of rates.
  U_ShowRateMenu(true);

  connect(m_camerasPopup, &QComboBox::activated, this, [this] {
    if (m_camerasAction) cameraSelected();
  });
  connect(m_presetsPopup, &QComboBox::activated, this, [this] {
    if (m_presetsAction) formatSelected();
  });
  connect(m_fpsPopup, &QComboBox::activated, this, [this] {
    if (m_fpsAction) fpsSelected();
  });
  connect(m_captureFPS, &QLineEdit::editingFinished, this, [this] { fpsEdited(); });
  connect(m_microphonesPopup, &QComboBox::activated, this, [this] {
    if (m_microphonesAction) microphoneSelected();
  });
  connect(m_audioPresetsPopup, &QComboBox::activated, this, [this] {
    if (m_audioPresetsAction) audioRateSelected();
  });
  connect(m_captureAudioBtn, &QCheckBox::clicked, this, [this] { recordAudioClicked(); });
  connect(m_refreshCamerasBtn, &QPushButton::clicked, this, [this] { searchForConnectedCameras(m_refreshCamerasBtn); });
  connect(m_refreshMicrophonesBtn, &QPushButton::clicked, this,
          [this] { searchForConnectedMicrophones(m_refreshMicrophonesBtn); });
}

void VLCameraPrefsTabVC::setSingleItem(QComboBox* popup, const QString& title) {
  popup->clear();
  popup->addItem(title);
  popup->setCurrentIndex(0);
}

void VLCameraPrefsTabVC::willBeDisplayed() {
  if (!m_isInitialized) {
    Setup().setHasCameraAccess(CameraAccessGranted());
    U_SearchForCameras(this);
  } else {
    updateAudioInterfaceElements();
  }
}

// ---- cameras, sizes and rates ----

void VLCameraPrefsTabVC::loadCamerasMenu() {
  std::fputs("loadCamerasMenu\n", stderr);
  m_camerasPopup->clear();
  m_camerasAction = false;
  if (!Setup().hasCameraAccess()) {
    setSingleItem(m_camerasPopup, QStringLiteral("No camera access"));
    m_camerasPopup->setEnabled(false);
    return;
  }
  const auto& cameras = CapDev_DeviceLists().camerasArray;
  if (cameras.empty()) {
    setSingleItem(m_camerasPopup, QStringLiteral("No camera found"));
  } else {
    for (const auto& camera : cameras) m_camerasPopup->addItem(camera->localizedName());
    m_camerasPopup->setCurrentIndex(int(Prefs_Shared().cameraIndex()));
    m_camerasAction = true;
  }
  m_camerasPopup->setEnabled(true);
}

void VLCameraPrefsTabVC::loadFormatsMenuForCamera() {
  m_presetsPopup->clear();
  m_presetsAction = false;
  auto& lists = CapDev_DeviceLists();
  auto noSizes = [this] {
    setSingleItem(m_presetsPopup, Tr("N/A"));
    m_presetsPopup->setEnabled(false);
    loadFPSsForVideoSize(0);
  };
  if (!Setup().hasCameraAccess()) {
    noSizes();
    return;
  }
  const qint64 index = Prefs_Shared().cameraIndex();
  CaptureDeviceRef camera;
  if (index >= 0 && index < qint64(lists.camerasArray.size())) camera = lists.camerasArray[size_t(index)];
  std::vector<uint64_t> sizes;
  std::vector<CaptureFormatDictionary> dicts = CapDev_MakeFormatDicts(camera, &sizes);
  if (sizes.empty()) {
    noSizes();
    return;
  }
  lists.sizesArray = sizes;
  lists.formatsDictsArray = dicts;
  const QSizeF saved = Prefs_Shared().movieSize();
  CapDev_FillSizesMenu(m_presetsPopup, saved.width(), saved.height());
  const qint64 preset = std::clamp<qint64>(Prefs_Shared().capturePresetIndex(), 0, qint64(sizes.size()) - 1);
  m_presetsPopup->setCurrentIndex(int(preset));
  m_presetsAction = true;
  m_presetsPopup->setEnabled(true);
  loadFPSsForVideoSize(int64_t(lists.sizesArray[size_t(preset)]));
}

void VLCameraPrefsTabVC::loadFPSsForVideoSize(int64_t sizeKey) {
  const auto& lists = CapDev_DeviceLists();
  m_fpsAction = false;
  m_hasFPSRanges = false;
  CaptureDeviceFormatRef format;
  if (Setup().hasCameraAccess())
    for (const auto& d : lists.formatsDictsArray)
      if (d.menuSize && d.savedSize && int64_t(*d.savedSize) == sizeKey) format = d.deviceFormat;  // the last one counts
  if (!format) {
    U_ShowRateMenu(true);
    setSingleItem(m_fpsPopup, Tr("N/A"));
    m_fpsPopup->setEnabled(false);
    return;
  }
  QList<FrameRateRange> ranges = format->videoSupportedFrameRateRanges;
  CapDev_SortFrameRateRanges(ranges);
  QStringList parts;
  double lowest = 10000000, highest = 0;
  bool allSingle = true;
  for (const FrameRateRange& r : ranges) {
    if (r.minFrameRate == r.maxFrameRate)
      parts << Fmt("%.2lf", r.minFrameRate);
    else
      parts << Fmt("%.2lf-%.2lf", r.minFrameRate, r.maxFrameRate);
    lowest = std::min(lowest, r.minFrameRate);
    highest = std::max(highest, r.maxFrameRate);
    allSingle = allSingle && r.minFrameRate == r.maxFrameRate;
  }
  // A format that names no rate has nothing to keep the saved rate inside: it stays as it is.
  if (!ranges.isEmpty()) {
    m_hasFPSRanges = true;
    m_lowestFPS = lowest;
    m_highestFPS = highest;
    float fps = Prefs_Shared().captureFPS();
    if (fps < lowest) fps = float(lowest);
    if (fps > highest) fps = float(highest);
    if (fps != Prefs_Shared().captureFPS()) Prefs_Shared().setCaptureFPS(fps);
  }
  const double saved = Prefs_Shared().captureFPS();
  U_ShowRateMenu(allSingle);
  if (allSingle) {
    m_fpsPopup->clear();
    int nearest = -1;
    double nearestDistance = 0;
    for (int i = 0; i < ranges.size(); ++i) {
      m_fpsPopup->addItem(Fmt("%.2lf", ranges[i].minFrameRate));
      const double distance = std::abs(ranges[i].minFrameRate - saved);
      if (nearest < 0 || distance < nearestDistance) {
        nearest = i;
        nearestDistance = distance;
      }
    }
    m_fpsPopup->setCurrentIndex(nearest);
    m_fpsAction = true;
    m_fpsPopup->setEnabled(true);
  }
  m_captureFPS->setText(Fmt("%.2f", saved));
  m_availableFPS->setText(parts.join(QStringLiteral(", ")));
}

void VLCameraPrefsTabVC::U_ShowRateMenu(bool menu) {
  m_fpsPopup->setVisible(menu);
  m_captureFPS->setVisible(!menu);
  m_availableFPS->setVisible(!menu);
  // The caption names whichever of the two is shown (a screen reader's labelled-by relation).
  m_frameRateCaption->setBuddy(menu ? static_cast<QWidget*>(m_fpsPopup) : m_captureFPS);
}

void VLCameraPrefsTabVC::cameraSelected() {
  auto& lists = CapDev_DeviceLists();
  const int index = m_camerasPopup->currentIndex();
  if (index < 0 || index >= int(lists.camerasArray.size())) return;
  const bool wasHD60 = CapDev_IsHD60SPlusCamera(Prefs_Shared().cameraUID());
  const CaptureDeviceRef camera = lists.camerasArray[size_t(index)];
  Prefs_Shared().setCameraIndex(index);
  Prefs_Shared().setCameraUID(camera->uniqueID());
  Prefs_Shared().setCameraName(camera->localizedName());
  loadFormatsMenuForCamera();
  // The microphones change only when the camera brings its own sound (or stops doing so).
  handleSettingsChange(true, false, CapDev_IsHD60SPlusCamera(camera->uniqueID()) != wasHD60);
}

void VLCameraPrefsTabVC::formatSelected() {
  auto& lists = CapDev_DeviceLists();
  const int index = m_presetsPopup->currentIndex();
  if (index < 0 || index >= int(lists.sizesArray.size())) return;
  const uint64_t key = lists.sizesArray[size_t(index)];
  Prefs_Shared().setCapturePresetIndex(index);
  Prefs_Shared().setMovieSize(QSizeF(double(CapDev_SizeKeyWidth(key)), double(CapDev_SizeKeyHeight(key))));
  if (size_t(index) < lists.formatsDictsArray.size() && lists.formatsDictsArray[size_t(index)].mediaSubType)
    Prefs_Shared().setCaptureMediaSubType(*lists.formatsDictsArray[size_t(index)].mediaSubType);
  loadFPSsForVideoSize(int64_t(key));
  handleSettingsChange(true, false, false);
}

void VLCameraPrefsTabVC::fpsSelected() {
  bool ok = false;
  const double rate = m_fpsPopup->currentText().toDouble(&ok);
  if (!ok) return;
  Prefs_Shared().setCaptureFPS(float(rate));
  handleSettingsChange(true, false, false);
}

void VLCameraPrefsTabVC::fpsEdited() {
  if (m_captureFPS->isHidden() || !m_hasFPSRanges) return;
  bool ok = false;
  double rate = m_captureFPS->text().trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
  if (!ok || !std::isfinite(rate)) {
    // Not a number: the field shows the stored rate again.
    m_captureFPS->setText(Fmt("%.2f", double(Prefs_Shared().captureFPS())));
    return;
  }
  rate = std::clamp(rate, m_lowestFPS, m_highestFPS);
  m_captureFPS->setText(Fmt("%.2f", rate));
  if (float(rate) == Prefs_Shared().captureFPS()) return;
  Prefs_Shared().setCaptureFPS(float(rate));
  handleSettingsChange(true, false, false);
}

// ---- microphones ----

void VLCameraPrefsTabVC::loadMicrophonesMenu() {
  m_microphonesPopup->clear();
  m_microphonesAction = false;
  if (Prefs_Shared().cameraUID().isEmpty()) {
    setSingleItem(m_microphonesPopup, Tr("N/A"));
    return;
  }
  if (!Setup().hasMicrophoneAccess()) {
    setSingleItem(m_microphonesPopup, Tr("No microphone access"));
    return;
  }
  auto& lists = CapDev_DeviceLists();
  lists.microphonesArray = CapDev_SelectMicrophone(lists.camerasArray, CapDev_IsHD60SPlusCamera(Prefs_Shared().cameraUID()));
  if (lists.microphonesArray.empty()) {
    setSingleItem(m_microphonesPopup, Tr("N/A"));
    return;
  }
  for (const auto& mic : lists.microphonesArray) m_microphonesPopup->addItem(mic->localizedName());
  m_microphonesPopup->setCurrentIndex(int(Prefs_Shared().microphoneIndex()));
  m_microphonesAction = true;
}

void VLCameraPrefsTabVC::loadFormatsForMicrophone() {
  auto& lists = CapDev_DeviceLists();
  const qint64 index = Prefs_Shared().microphoneIndex();
  if (index < 0 || index >= qint64(lists.microphonesArray.size())) {
    // No microphone chosen: no rate to offer, and none of another microphone either.
    lists.audioFormatsArray.clear();
    lists.audioRatesArray.clear();
    return;
  }
  // Chooses the rate nearest the saved one (clamped into the rates offered) and stores it.
  CapDev_LoadMicrophoneFormats();
  for (double rate : lists.audioRatesArray) m_audioPresetsPopup->addItem(Fmt("%.0lf", rate));
}

void VLCameraPrefsTabVC::microphoneSelected() {
  auto& lists = CapDev_DeviceLists();
  const int index = m_microphonesPopup->currentIndex();
  if (index < 0 || index >= int(lists.microphonesArray.size())) return;
  const CaptureDeviceRef mic = lists.microphonesArray[size_t(index)];
  Prefs_Shared().setMicrophoneIndex(index);
  Prefs_Shared().setMicrophoneUID(mic->uniqueID());
  Prefs_Shared().setMicrophoneName(mic->localizedName());
  Prefs_Shared().setMicrophoneIsBuiltIn(CapDev_IsBuiltInMicrophone(mic));
  m_audioPresetsPopup->clear();
  loadFormatsForMicrophone();
  m_audioPresetsPopup->setCurrentIndex(int(Prefs_Shared().microphonePresetIndex()));
  m_audioPresetsAction = m_audioPresetsPopup->count() > 0;
  handleSettingsChange(false, true, false);
}

void VLCameraPrefsTabVC::audioRateSelected() {
  auto& lists = CapDev_DeviceLists();
  const int index = m_audioPresetsPopup->currentIndex();
  if (index < 0 || index >= int(lists.audioRatesArray.size())) return;
  Prefs_Shared().setMicrophonePresetIndex(index);
  Prefs_Shared().setMicrophoneCaptureRate(lists.audioRatesArray[size_t(index)]);
  handleSettingsChange(false, true, false);
}

void VLCameraPrefsTabVC::loadAudioPresetsMenu() {
  m_audioPresetsPopup->clear();
  m_audioPresetsAction = false;
  if (!Prefs_Shared().cameraUID().isEmpty() && Prefs_Shared().hasAudioDevice() && Setup().hasMicrophoneAccess()) {
    loadFormatsForMicrophone();
    if (m_audioPresetsPopup->count() > 0) {
      m_audioPresetsPopup->setCurrentIndex(int(Prefs_Shared().microphonePresetIndex()));
      m_audioPresetsAction = true;
      return;
    }
  }
  setSingleItem(m_audioPresetsPopup, Tr("N/A"));
}

void VLCameraPrefsTabVC::searchForConnectedMicrophones(QObject*) {
  loadMicrophonesMenu();
  loadAudioPresetsMenu();
  handleSettingsChange(false, true, false);
}

void VLCameraPrefsTabVC::recordAudioClicked() {
  if (!CameraAccessGranted()) Alert_ShowAlertWithID(20019);
  QPointer<VLCameraPrefsTabVC> guard(this);
  bool granted = false;
  Auth_RequestCaptureAccess(MediaType::Audio, 20018, [guard, &granted] {
    granted = true;
    Setup().setHasMicrophoneAccess(true);
    if (!guard) return;
    if (!Prefs_Shared().hasAudioDevice()) {
      guard->searchForConnectedMicrophones(guard->m_captureAudioBtn);
      if (!Prefs_Shared().hasAudioDevice()) Prefs_Shared().setCaptureAudio(false);
    }
    Prefs_Shared().synchronize();
    const bool capture = !Prefs_Shared().captureAudio();
    guard->m_captureAudioBtn->setChecked(capture);
    Prefs_Shared().setCaptureAudio(capture);
  });
  if (!granted) Setup().setHasMicrophoneAccess(false);
  Dispatch_MainAsync([guard] {
    if (!guard) return;
    guard->updateAudioInterfaceElements();
    if (!VLLiveWC_RecordingUnderWay()) AskLiveWindow(&VLLiveWC::updateSessionInterfaceSettings);
  });
}

// ---- the device search and the controls' state ----

void VLCameraPrefsTabVC::U_SearchForCameras(QObject* sender) {
  if (VLLiveWC_RecordingUnderWay()) return;
  if (sender == m_refreshCamerasBtn || CapDev_IndexOfDeviceWithUID(MediaType::Video, Prefs_Shared().cameraUID()) >= 0) {
    if (CapDev_CheckCameraPresence()) CapDev_CheckMicrophonePresence();
  }
  loadCamerasMenu();
  loadFormatsMenuForCamera();
  if (!Prefs_Shared().cameraUID().isEmpty()) {
    Setup().setHasMicrophoneAccess(MicrophoneAccessGranted());
    if (!Setup().hasMicrophoneAccess())
      loadMicrophonesMenu();
    else if (Prefs_Shared().hasAudioDevice())
      searchForConnectedMicrophones(sender);
  } else {
    loadMicrophonesMenu();
    loadAudioPresetsMenu();
  }
  updateAudioInterfaceElements();
  m_isInitialized = true;
}

void VLCameraPrefsTabVC::searchForConnectedCameras(QObject* sender) {
  QPointer<VLCameraPrefsTabVC> guard(this);
  QPointer<QObject> from(sender);
  Auth_RequestCaptureAccess(MediaType::Video, 20017, [guard, from] {
    Setup().setHasCameraAccess(true);
    Dispatch_MainAsync([guard, from] {
      if (guard) guard->U_SearchForCameras(from.data());
    });
  });
}

void VLCameraPrefsTabVC::handleSettingsChange(bool camera, bool audio, bool updateMics) {
  Prefs_Shared().synchronize();
  if (updateMics) {
    loadMicrophonesMenu();
    loadAudioPresetsMenu();
    audio = true;
  }
  QPointer<VLCameraPrefsTabVC> guard(this);
  Dispatch_MainAsync([guard, camera, audio] {
    if (!guard) return;
    if (camera) guard->enableCameraInterfaceElements(true);
    if (audio) guard->updateAudioInterfaceElements();
    // The session of a recording is never rebuilt; the choice counts from the next live session.
    if (!VLLiveWC_RecordingUnderWay()) AskLiveWindow(&VLLiveWC::updateSessionSettingsForNewPrefs);
  });
}

void VLCameraPrefsTabVC::enableCameraInterfaceElements(bool flag) {
  for (QWidget* control : std::initializer_list<QWidget*>{m_refreshCamerasBtn, m_camerasPopup, m_presetsPopup, m_captureFPS, m_fpsPopup})
    control->setEnabled(flag);
}

void VLCameraPrefsTabVC::updateAudioInterfaceElements() {
  const bool cameraReady = Setup().hasCameraAccess() && !Prefs_Shared().cameraUID().isEmpty();
  const bool micAccess = Setup().hasMicrophoneAccess();
  const bool capture = Prefs_Shared().captureAudio();
  m_captureAudioBtn->setEnabled(cameraReady);
  m_captureAudioBtn->setChecked(cameraReady && micAccess && capture);
  m_refreshMicrophonesBtn->setEnabled(cameraReady && micAccess);
  m_microphonesPopup->setEnabled(cameraReady && micAccess && capture);
  m_audioPresetsPopup->setEnabled(cameraReady && micAccess && capture);
}

void VLCameraPrefsTabVC::cameraIsReady(const Notification&) {
  enableCameraInterfaceElements(true);
  updateAudioInterfaceElements();
}
