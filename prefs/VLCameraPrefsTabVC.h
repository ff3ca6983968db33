#pragma once
// The camera module of the preferences window: the camera, its frame size and rate, whether sound is
// recorded, the microphone and its sample rate. Its menus come from the device lists and format tables
// of the capture layer; every choice is stored in the preferences at once and the live window
// re-configures its capture session for it.

#include "platform/foundation/NotificationCenter.h"
#include "prefs/ZRNPrefsController.h"

#include <cstdint>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class VLCameraPrefsTabVC : public ZRNBasePrefsTabVC {
  Q_OBJECT
 public:
  explicit VLCameraPrefsTabVC(QWidget* parent = nullptr);
  ~VLCameraPrefsTabVC() override;

  QString title() const override;
  QString windowTitle() const override;
  QString identifier() const override { return QString::fromLatin1(kCameraPrefsPaneID); }
  QIcon image() const override;
  // The first time the devices are searched; later only the sound controls are refreshed.
  void willBeDisplayed() override;

  // ---- Outlets ----
  QPushButton* refreshCamerasBtn() const { return m_refreshCamerasBtn; }
  QComboBox* camerasPopup() const { return m_camerasPopup; }
  QComboBox* presetsPopup() const { return m_presetsPopup; }
  QLineEdit* captureFPS() const { return m_captureFPS; }
  QLabel* availableFPS() const { return m_availableFPS; }
  QComboBox* fpsPopup() const { return m_fpsPopup; }
  QCheckBox* captureAudioBtn() const { return m_captureAudioBtn; }
  QPushButton* refreshMicrophonesBtn() const { return m_refreshMicrophonesBtn; }
  QComboBox* microphonesPopup() const { return m_microphonesPopup; }
  QComboBox* audioPresetsPopup() const { return m_audioPresetsPopup; }
  bool isInitialized() const { return m_isInitialized; }

  // ---- Operations ----
  void loadCamerasMenu();
  void loadFormatsMenuForCamera();
  void loadFPSsForVideoSize(int64_t sizeKey);
  void loadMicrophonesMenu();
  void loadFormatsForMicrophone();
  void handleSettingsChange(bool camera, bool audio, bool updateMics);
  void enableCameraInterfaceElements(bool flag);
  void updateAudioInterfaceElements();
  void cameraIsReady(const Notification& note);
  void cameraSelected();
  void formatSelected();
  void fpsSelected();
  // The frame-rate field's editing ended: the rate is stored, kept inside the format's ranges.
  void fpsEdited();
  void microphoneSelected();
  void recordAudioClicked();
  void audioRateSelected();
  void U_SearchForCameras(QObject* sender);
  void searchForConnectedCameras(QObject* sender);
  void loadAudioPresetsMenu();
  void searchForConnectedMicrophones(QObject* sender);

 private:
  void loadView();
  // The pop-up's items are replaced by one item that is selected.
  static void setSingleItem(QComboBox* popup, const QString& title);
  // Shows the menu of frame rates (true) or the typed rate with the list of ranges (false).
  void U_ShowRateMenu(bool menu);

  QPushButton* m_refreshCamerasBtn = nullptr;
  QComboBox* m_camerasPopup = nullptr;
  QComboBox* m_presetsPopup = nullptr;
  QLineEdit* m_captureFPS = nullptr;
  QLabel* m_availableFPS = nullptr;
  QComboBox* m_fpsPopup = nullptr;
  QCheckBox* m_captureAudioBtn = nullptr;
  QPushButton* m_refreshMicrophonesBtn = nullptr;
  QComboBox* m_microphonesPopup = nullptr;
  QComboBox* m_audioPresetsPopup = nullptr;
  QLabel* m_frameRateCaption = nullptr;
  bool m_isInitialized = false;
  // Whether a choice in the pop-up means something (a pop-up showing "N/A" has no action).
  bool m_camerasAction = false;
  bool m_presetsAction = false;
  bool m_fpsAction = false;
  bool m_microphonesAction = false;
  bool m_audioPresetsAction = false;
  // The frame-rate ranges of the format shown: lowest minimum and highest maximum (none when empty).
  double m_lowestFPS = 0;
  double m_highestFPS = 0;
  bool m_hasFPSRanges = false;
  NotificationObservation m_sessionStartedObservation;
};
