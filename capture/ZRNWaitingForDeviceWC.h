#pragma once
// The dialog shown while the camera or microphone saved in the preferences is not connected
// (layout "ZRNWaitingWindowController"): it says what is missing, spins, and ends by itself with
// -1001 when a matching device is connected. Its one button ends it with -1000 ("Forget device",
// "Cancel" or "Ignore Audio", by what is missing).

#include "common/ZRNBaseDialogWindowController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/io/SampleBuffer.h"

#include <mutex>

class QLabel;
class QProgressBar;

// What the dialog says.
enum : int {
  kWaitingErrorNone = -9999,
  kWaitingErrorSavedDeviceMissing = -1,
  kWaitingErrorNoDevice = -2,
  kWaitingErrorNoDeviceFound = -3,
};

class ZRNWaitingWindowController : public ZRNBaseDialogWindowController {
  Q_OBJECT
 public:
  // Loads the layout and starts waiting: the spinner runs and connected devices are observed.
  ZRNWaitingWindowController(const QString& uid, const QString& name, QWidget* parent = nullptr);
  ~ZRNWaitingWindowController() override;

  int errorType() const { return m_errorType; }
  // Sets the text and the button's title for a negative type; setting the current type again does nothing.
  void setErrorType(int errorType);

  MediaType deviceType() const;
  void setDeviceType(MediaType type);
  QString savedUID() const;
  void setSavedUID(const QString& uid);
  QString savedName() const;
  void setSavedName(const QString& name);

  // The message for the current type and device type (rich text); empty for a type without one.
  QString displayText() const;

  QLabel* deviceIcon() const { return m_deviceIcon; }
  QWidget* deviceIconBack() const { return m_deviceIconBack; }
  QProgressBar* progressIndicator() const { return m_progressIndicator; }

  // A device was connected (any thread): a device of the awaited type whose ID matches, or any of
  // that type when no ID is saved, ends the dialog on the main thread with -1001.
  void newDeviceConnected(const Notification& note);

 public slots:
  void okAction() override;
  void cancelAction() override;
  // Escape: as the button where it reads "Cancel" (no camera to wait for), else nothing.
  void reject() override;

 protected:
  void windowDidLoad();

 private:
  void U_CleanupObservers();
  void U_UpdateIcon();
  // The window's title and the picture's name follow the kind of device awaited.
  void U_UpdateTitle();

  mutable std::mutex m_mutex;  // the device fields are read by the notification's thread
  MediaType m_deviceType = MediaType::Video;
  QString m_savedUID;
  QString m_savedName;
  int m_errorType = kWaitingErrorNone;
  bool m_buttonCancels = false;  // the one button reads "Cancel"
  QLabel* m_deviceIcon = nullptr;
  QWidget* m_deviceIconBack = nullptr;
  QProgressBar* m_progressIndicator = nullptr;
  NotificationObservation m_deviceObservation;
};
