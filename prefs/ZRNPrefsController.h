#pragma once
// The application's preferences window: the camera, export and software-update modules. While a
// recording runs the camera module is out of reach; closing the window saves the preferences and hands
// the new settings to the live window.

#include "common/ZRNBaseClasses.h"
#include "platform/foundation/NotificationCenter.h"
#include "prefs/MBPreferencesController.h"

#include <functional>

class VLCameraPrefsTabVC;
class VLExportPrefsTabVC;
class UpdatesPrefsTabController;

inline constexpr const char* kCameraPrefsPaneID = "CameraPrefsPane";
inline constexpr const char* kExportPrefsPaneID = "ExportPrefsPane";
inline constexpr const char* kUpdatesPrefsPaneID = "UpdatesPrefsPane";

// Base of the modules: a panel in the window's dark look.
class ZRNBasePrefsTabVC : public ZRN_CommonInitViewC, public MBPreferencesModule {
  Q_OBJECT
 public:
  explicit ZRNBasePrefsTabVC(QWidget* parent = nullptr);

  QWidget* view() override { return this; }
  bool isEnabled() const { return m_isEnabled; }
  void setIsEnabled(bool enabled) { m_isEnabled = enabled; }
  // Gives the view the window's look once its controls exist.
  void awakeFromNib();

 private:
  bool m_isEnabled = true;
};

class ZRNPrefsController : public MBPreferencesController {
  Q_OBJECT
 public:
  // Made on first use; kept for the run.
  static ZRNPrefsController* sharedPreferencesController();
  // The shared controller when it has been made, else null (nothing is made).
  static ZRNPrefsController* existingController();
  // Lets the shared controller go (tests, the end of the run).
  static void releaseSharedController();

  // Told when the window opens and closes (the application delegate's prefsWindowIsON).
  static void setWindowShownHandler(std::function<void(bool)> handler);

  QStringList toolbarAllowedItemIdentifiers() const override;
  void showWindow() override;
  void windowDidBecomeMain() override;
  void windowWillClose() override;
  // Shown, and showing the camera module.
  static bool isONAndShowingCameraSettings();

  VLCameraPrefsTabVC* cameraTab() const { return m_cameraTab; }
  VLExportPrefsTabVC* exportTab() const { return m_exportTab; }
  UpdatesPrefsTabController* updatesTab() const { return m_updatesTab; }

 protected:
  void _selectModule(QAction* sender) override;
  void _changeToModule(MBPreferencesModule* module) override;

 private:
  explicit ZRNPrefsController(QWidget* parent = nullptr);
  ~ZRNPrefsController() override;

  VLCameraPrefsTabVC* m_cameraTab = nullptr;
  VLExportPrefsTabVC* m_exportTab = nullptr;
  UpdatesPrefsTabController* m_updatesTab = nullptr;
  NotificationObservation m_recordingObservation;
  NotificationObservation m_underWayObservation;
};

// The shared controller (null until the preferences are first shown).
extern ZRNPrefsController* gZRNPrefsController;
