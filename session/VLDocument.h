#pragma once
// The model of one recorded session: how it was captured, its tags and its export jobs, saved as the
// settings file "VLSettings.json" inside the session package. Nothing is saved automatically: every
// save is an explicit call (updateSettingsFile, or saveDoc through the window that owns the document).
//
// Session package ("<name>.vlvidcapb", a folder shown as one file):
//   VLSettings.json          the settings dictionary (dictionaryToSave)
//   VLCapturedMovie.mov|mp4  the one fragmented movie of the recording
//   VLRecording.lock         empty file while a recording has not ended normally
//   badge_resources/         optional: badge_template.json, images/userBadge.png or tessaro_badge.png

#include <QDateTime>
#include <QList>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class ZRNAppPrefs;

inline const QString kVLPackageExtension = QStringLiteral("vlvidcapb");
inline const QString kVLSettingsBaseName = QStringLiteral("VLSettings");
inline const QString kVLSettingsExtension = QStringLiteral("json");
inline const QString kVLMovieBaseName = QStringLiteral("VLCapturedMovie");
inline const QString kVLLockFileName = QStringLiteral("VLRecording.lock");
inline const QString kVLBadgeResourcesName = QStringLiteral("badge_resources");
inline const QString kVLBadgeTemplateName = QStringLiteral("badge_template.json");
inline const QString kVLBadgeImagesName = QStringLiteral("images");
inline const QString kVLUserBadgeName = QStringLiteral("userBadge.png");
inline const QString kVLDefaultBadgeName = QStringLiteral("tessaro_badge.png");

// What reading a settings file found.
struct VLSettingsFileRead {
  enum class Outcome {
    Loaded,      // dictionary holds the file's settings
    Damaged,     // not a JSON dictionary: moved aside to asidePath (empty when it could not be moved)
    Unreadable,  // there, but not ours to read (reason says why): left exactly as it is
  };
  Outcome outcome = Outcome::Loaded;
  QVariantMap dictionary;
  QString asidePath;
  QString reason;
};
// Reads a settings file. A file that is not a JSON dictionary (damaged, cut short) is moved aside as
// "VLSettings.damaged-<UTC yyyyMMddTHHmmssZ>.json" (or with "_N") and logged, so that the next save cannot
// destroy the marks it may still hold. A file that cannot be opened (permissions) is not damaged and is
// never moved: whoever reads it must not write over it either.
VLSettingsFileRead VLDocument_ReadSettings(const QString& path);
// The dictionary of a settings file that could be read; empty otherwise (see above).
std::optional<QVariantMap> VLDocument_ReadSettingsFile(const QString& path);

// The packages this run is recording into: their lock file is ours, not the mark of an interrupted
// recording. Paths are compared as absolute, clean paths. A package noted as recording also counts as
// recorded in this run (VLDocument_WasRecordedInThisRun) from then on.
void VLDocument_NoteRecordingPackage(const QString& packagePath, bool recording);
bool VLDocument_IsRecordingPackage(const QString& packagePath);
// Packages that a recording of this run was written into, finished or not: no start of another
// recording removes one of them.
void VLDocument_NoteRecordedInThisRun(const QString& packagePath);
bool VLDocument_WasRecordedInThisRun(const QString& packagePath);

// The document version written by this application.
inline constexpr int64_t kVLDocVersionCurrent = 1001007;

// What the document needs of an export job. Status: 0 waiting, 1 exporting, 2 finished, 3 cancelled.
class VLDocumentJob {
 public:
  virtual ~VLDocumentJob() = default;
  virtual int64_t status() const = 0;
  virtual bool cancelled() const = 0;
  // Finished or cancelled.
  virtual bool isFinished() const { return status() == 2 || cancelled(); }
  // The saved form of the job, one element of "exportJobs".
  virtual QVariantMap dictionaryToSave() const = 0;
};

// A job as it was read from a settings file; it saves back exactly the dictionary it was made from.
class VLStoredJobRecord : public VLDocumentJob {
 public:
  explicit VLStoredJobRecord(const QVariantMap& dictionary);
  int64_t status() const override;
  bool cancelled() const override;
  QVariantMap dictionaryToSave() const override { return m_dictionary; }

 private:
  QVariantMap m_dictionary;
};

// Makes the job of one saved "exportJobs" dictionary; nullptr leaves that dictionary out.
using VLDocumentJobFactory = std::function<std::shared_ptr<VLDocumentJob>(const QVariantMap&)>;

// The window that owns a document and writes its settings file (the playback window). It must be a
// QObject: the document refers to it weakly and forgets it when it is destroyed.
class VLDocumentWindowController {
 public:
  virtual ~VLDocumentWindowController() = default;
  virtual void updateVLDoc() = 0;
};

class VLDocument {
 public:
  VLDocument();

  // Where loadJobsArray() gets its jobs; by default a VLStoredJobRecord per dictionary.
  static void setJobFactory(VLDocumentJobFactory factory);

  QUrl docURL() const { return m_docURL; }
  void setDocURL(const QUrl& url) { m_docURL = url; }

  // Newest first.
  QList<std::shared_ptr<VLDocumentJob>>& jobsArray() { return m_jobsArray; }
  const QList<std::shared_ptr<VLDocumentJob>>& jobsArray() const { return m_jobsArray; }
  // Tag records (see ZRNTagRecord.h), in the order they were added.
  QList<QVariantMap>& tagsArray() { return m_tagsArray; }
  const QList<QVariantMap>& tagsArray() const { return m_tagsArray; }

  QDateTime docCaptureDate() const { return m_docCaptureDate; }
  void setDocCaptureDate(const QDateTime& date) { m_docCaptureDate = date; }
  QString homeTeam() const { return m_homeTeam; }
  void setHomeTeam(const QString& name) { m_homeTeam = name; }
  QString guestTeam() const { return m_guestTeam; }
  void setGuestTeam(const QString& name) { m_guestTeam = name; }
  QString captureMacOS() const { return m_captureMacOS; }
  void setCaptureMacOS(const QString& v) { m_captureMacOS = v; }
  QString captureMachine() const { return m_captureMachine; }
  void setCaptureMachine(const QString& v) { m_captureMachine = v; }
  QString captureApp() const { return m_captureApp; }
  void setCaptureApp(const QString& v) { m_captureApp = v; }
  QString appVersion() const { return m_appVersion; }
  void setAppVersion(const QString& v) { m_appVersion = v; }
  bool hasAudioDevice() const { return m_hasAudioDevice; }
  void setHasAudioDevice(bool v) { m_hasAudioDevice = v; }
  bool captureAudio() const { return m_captureAudio; }
  void setCaptureAudio(bool v) { m_captureAudio = v; }
  float segmentSeconds() const { return m_segmentSeconds; }
  void setSegmentSeconds(float v) { m_segmentSeconds = v; }
  int64_t initialMillisToClip() const { return m_initialMillisToClip; }
  void setInitialMillisToClip(int64_t v) { m_initialMillisToClip = v; }
  QString captureFileType() const { return m_captureFileType; }
  void setCaptureFileType(const QString& v) { m_captureFileType = v; }
  QString videoCodecType() const { return m_videoCodecType; }
  void setVideoCodecType(const QString& v) { m_videoCodecType = v; }
  int64_t segmentKBPS() const { return m_segmentKBPS; }
  void setSegmentKBPS(int64_t v) { m_segmentKBPS = v; }
  QString cameraUID() const { return m_cameraUID; }
  void setCameraUID(const QString& v) { m_cameraUID = v; }
  QString cameraName() const { return m_cameraName; }
  void setCameraName(const QString& v) { m_cameraName = v; }
  int64_t cameraIndex() const { return m_cameraIndex; }
  void setCameraIndex(int64_t v) { m_cameraIndex = v; }
  int64_t cameraPresetIndex() const { return m_cameraPresetIndex; }
  void setCameraPresetIndex(int64_t v) { m_cameraPresetIndex = v; }
  QSizeF frameSize() const { return m_frameSize; }
  void setFrameSize(const QSizeF& v) { m_frameSize = v; }
  float videoFPS() const { return m_videoFPS; }
  void setVideoFPS(float v) { m_videoFPS = v; }
  uint32_t captureMediaSubType() const { return m_captureMediaSubType; }
  void setCaptureMediaSubType(uint32_t v) { m_captureMediaSubType = v; }
  QString microphoneUID() const { return m_microphoneUID; }
  void setMicrophoneUID(const QString& v) { m_microphoneUID = v; }
  QString microphoneName() const { return m_microphoneName; }
  void setMicrophoneName(const QString& v) { m_microphoneName = v; }
  bool microphoneIsBuiltIn() const { return m_microphoneIsBuiltIn; }
  void setMicrophoneIsBuiltIn(bool v) { m_microphoneIsBuiltIn = v; }
  int64_t microphoneIndex() const { return m_microphoneIndex; }
  void setMicrophoneIndex(int64_t v) { m_microphoneIndex = v; }
  int64_t micPresetIndex() const { return m_micPresetIndex; }
  void setMicPresetIndex(int64_t v) { m_micPresetIndex = v; }
  double audioCaptureRate() const { return m_audioCaptureRate; }
  void setAudioCaptureRate(double v) { m_audioCaptureRate = v; }
  int64_t versionNum() const { return m_versionNum; }
  void setVersionNum(int64_t v) { m_versionNum = v; }

  // Weak: nullptr once the window is gone. The object must be a QObject.
  VLDocumentWindowController* windowController() const;
  void setWindowController(VLDocumentWindowController* controller);

  // Copies the capture settings of the preferences into the document (at recording start); the origin
  // fields, the date and the version keep their values.
  void U_LoadCaptureProperties();
  void U_LoadCaptureProperties(const ZRNAppPrefs& prefs);

  // The settings dictionary, keys entered in file order; see the rules in VLDocument.cpp.
  QVariantMap dictionaryToSave() const;
  // Overwrites every saved field from a settings dictionary; absent keys and values of the wrong type
  // give nil, NO or 0, and the four origin strings "N/A".
  void loadFromDictionary(const QVariantMap& dictionary);
  // Writes dictionaryToSave() as docURL/VLSettings.json, replacing the old file in one step. False (with
  // the reason in errorText) when the old file was left as it was.
  bool updateSettingsFile(QString* errorText = nullptr);
  // Asks the window controller to save; nothing without one.
  void saveDoc();

  // Reads docURL/VLSettings.json and loads it. False when there is no file, or when it is damaged
  // (then it is kept aside first, as VLDocument_ReadSettingsFile says).
  bool loadSettingsFile();

  void loadTagsArray(const QVariantList& tags);
  void loadJobsArray(const QVariantList& jobs);

  QVariantList jobsToSave() const;
  QList<std::shared_ptr<VLDocumentJob>> pendingJobs() const;
  int32_t numberOfPendingJobs() const;
  QList<std::shared_ptr<VLDocumentJob>> waitingJobs() const;
  int32_t numberOfWaitingJobs() const;
  int32_t numberOfFinishedJobs() const;

  QUrl settingsFileURL() const;
  QUrl badgeBaseURL() const;
  QUrl badgeTemplateURL() const;
  QUrl badgeImageURL() const;

 private:
  QUrl m_docURL;
  QList<std::shared_ptr<VLDocumentJob>> m_jobsArray;
  QList<QVariantMap> m_tagsArray;
  QDateTime m_docCaptureDate;
  QString m_homeTeam;
  QString m_guestTeam;
  QString m_captureMacOS;
  QString m_captureMachine;
  QString m_captureApp;
  QString m_appVersion;
  bool m_hasAudioDevice = false;
  bool m_captureAudio = false;
  float m_segmentSeconds = 0;
  int64_t m_initialMillisToClip = 0;
  QString m_captureFileType;
  QString m_videoCodecType;
  int64_t m_segmentKBPS = 0;
  QString m_cameraUID;
  QString m_cameraName;
  int64_t m_cameraIndex = 0;
  int64_t m_cameraPresetIndex = 0;
  QSizeF m_frameSize{0, 0};
  float m_videoFPS = 0;
  uint32_t m_captureMediaSubType = 0;
  QString m_microphoneUID;
  QString m_microphoneName;
  bool m_microphoneIsBuiltIn = false;
  int64_t m_microphoneIndex = 0;
  int64_t m_micPresetIndex = 0;
  double m_audioCaptureRate = 0;
  int64_t m_versionNum = kVLDocVersionCurrent;
  QPointer<QObject> m_windowObject;
  VLDocumentWindowController* m_windowController = nullptr;
};
