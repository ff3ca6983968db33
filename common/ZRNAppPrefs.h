#pragma once
// The preferences model. Every property reads or writes the standard user defaults on each call, so a
// value written anywhere in the program (on any thread) is what the next getter sees: there is no cache.

#include <QImage>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>

// The stored preferences version this build writes; older versions are migrated at launch.
inline constexpr qint64 kZRNPreferencesVersionCurrent = 1001007;

class ZRNAppPrefs {
 public:
  ZRNAppPrefs();

  bool hasRecStartAnimation() const { return m_hasRecStartAnimation; }

  void synchronize();

  // Counters
  qint64 numberOfRunsCurrent() const;
  void setNumberOfRunsCurrent(qint64 value);
  qint64 numberOfCrashes() const;
  void setNumberOfCrashes(qint64 value);
  void resetNumberOfRunsCurrentForNewAppVersion();
  void updateNumberOfRunsCurrent();
  void updateNumberOfCrashes();

  // Folders
  // Falls back to the user's Desktop when nothing usable is stored.
  QUrl saveTargetDirectory() const;
  void setSaveTargetDirectory(const QUrl& url);
  QUrl openTargetDirectory() const;
  void setOpenTargetDirectory(const QUrl& url);

  // Camera
  QString cameraUID() const;
  void setCameraUID(const QString& value);
  QString cameraName() const;
  void setCameraName(const QString& value);
  qint64 cameraIndex() const;
  void setCameraIndex(qint64 value);
  qint64 capturePresetIndex() const;
  void setCapturePresetIndex(qint64 value);
  QString bmMatchString() const;
  void setBmMatchString(const QString& value);
  qint64 deviceDiscoveryDelayMillis() const;
  void setDeviceDiscoveryDelayMillis(qint64 value);
  bool hasCameraHeuristics() const;
  void setHasCameraHeuristics(bool value);

  // Microphone
  QString microphoneUID() const;
  void setMicrophoneUID(const QString& value);
  QString microphoneName() const;
  void setMicrophoneName(const QString& value);
  bool microphoneIsBuiltIn() const;
  void setMicrophoneIsBuiltIn(bool value);
  qint64 microphoneIndex() const;
  void setMicrophoneIndex(qint64 value);
  qint64 microphonePresetIndex() const;
  void setMicrophonePresetIndex(qint64 value);
  double microphoneCaptureRate() const;
  void setMicrophoneCaptureRate(double hz);
  bool hasAudioDevice() const;
  void setHasAudioDevice(bool value);
  bool captureAudio() const;
  void setCaptureAudio(bool value);

  // Capture format and file
  QSizeF movieSize() const;
  void setMovieSize(const QSizeF& size);
  float captureFPS() const;
  void setCaptureFPS(float fps);
  uint32_t captureMediaSubType() const;
  void setCaptureMediaSubType(uint32_t fourCC);
  // The setter stores the choice; the getter always answers -1 (no lowered frame rate is ever applied).
  qint64 lowerCaptureFrameRateAction() const;
  void setLowerCaptureFrameRateAction(qint64 value);
  QString captureFileType() const;
  void setCaptureFileType(const QString& type);
  QString movieFileExtension() const;
  float segmentSeconds() const;
  void setSegmentSeconds(float seconds);
  qint64 fragmentSeconds() const;
  void setFragmentSeconds(qint64 seconds);
  qint64 numInitialMillisToReject() const;
  void setNumInitialMillisToReject(qint64 millis);
  qint64 segmentKBPS() const;
  void setSegmentKBPS(qint64 kbps);

  // Moments (one stored value each, in seconds, seen in whole seconds or in milliseconds)
  qint64 momentSecsBefore() const;
  void setMomentSecsBefore(qint64 seconds);
  qint64 momentSecsAfter() const;
  void setMomentSecsAfter(qint64 seconds);
  qint64 momentMillisBefore() const;
  void setMomentMillisBefore(qint64 millis);
  qint64 momentMillisAfter() const;
  void setMomentMillisAfter(qint64 millis);

  // Match and display
  QString matchName() const;
  void setMatchName(const QString& value);
  QString homeTeamName() const;
  void setHomeTeamName(const QString& value);
  QString guestTeamName() const;
  void setGuestTeamName(const QString& value);
  bool previewShowsLastFrame() const;
  void setPreviewShowsLastFrame(bool value);
  bool playbackLoops() const;
  void setPlaybackLoops(bool value);
  bool addPreviewOverlays() const;
  void setAddPreviewOverlays(bool value);
  bool showMatchTimes() const;
  void setShowMatchTimes(bool value);
  bool askForCaptureStop() const;
  void setAskForCaptureStop(bool value);
  bool closeAudioPlaybackWhenRecording() const;
  void setCloseAudioPlaybackWhenRecording(bool value);
  bool showJobsPane() const;
  void setShowJobsPane(bool value);

  // Logging
  qint64 extraLogLevel() const;
  void setExtraLogLevel(qint64 value);
  // The level copied at launch; a change of extraLogLevel counts from the next launch.
  bool hasExtraLogs() const;

  // Switches fixed in this program
  bool needsCamera() const { return true; }
  bool needsMicrophone() const { return true; }
  bool serializeExports() const { return true; }
  bool newSessionOnOpen() const { return true; }
  bool openOldSessionOnOpen() const { return false; }
  bool reopenSavedRecording() const { return true; }
  bool userCanHideAlerts() const { return false; }

  // Hidden warnings (main thread only)
  bool shouldShowWarningWithKey(const QString& key);
  void hideWarningWithKey(const QString& key);
  void resetAllWarnings();
  void U_LoadHiddenWarningsArray();

  // User resources: <data>/org.velmora.Velmora/UserResources
  QUrl U_GetUserResourcesURL(bool create);
  QUrl getUserResourceFileWithName(const QString& name, const QString& relativePath);
  bool copyFile(const QUrl& source, const QString& name, const QString& relativePath);
  QUrl badgeTemplateURL();
  QUrl badgeImageURL();
  void saveAsBadgeImage(const QImage& image);
  QImage defaultBadgeImage();

 private:
  bool m_hasRecStartAnimation = false;
  bool m_hiddenWarningsLoaded = false;
  QStringList m_hiddenWarningKeysArray;
};

// The one preferences object of the run, set at launch.
extern ZRNAppPrefs* gZRNAppPrefs;
// The run's preferences object; before the launch has made it (tools, tests), one stand-in that every
// caller shares. The preferences keep no state of their own, so both read and write the same values.
ZRNAppPrefs& Prefs_Shared();

// The extra-log level fixed at launch by the migration.
qint64 Prefs_ProcessExtraLogLevel();

// Registers the built-in defaults of the resource "CameraDefaultPrefs.plist".
void Prefs_RegisterDefaultPrefs();
void Prefs_ClearAllUserDefaults();
// Brings stored preferences of an older (or unknown) version up to the current one.
void Prefs_MigratePreferences();
