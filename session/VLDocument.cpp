#include "session/VLDocument.h"

#include "common/ZRNFileFunctions.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNJSONBridge.h"
#include "common/ZRNLogger.h"
#include "common/ZRNSystemFunctions.h"
#include "session/ZRNTagRecord.h"
#include "platform/foundation/SafeFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <mutex>

namespace {

const QString kNotAvailable = QStringLiteral("N/A");

VLDocumentJobFactory& jobFactory() {
  static VLDocumentJobFactory factory;
  return factory;
}

// The platform's identifier of the H.264 video codec, the one codec the recorder writes.
const QString kVideoCodecTypeH264 = QStringLiteral("avc1");

QVariant int64Value(int64_t v) { return QVariant::fromValue<qint64>(v); }

void putString(QVariantMap& dict, const QString& key, const QString& value) {
  if (!value.isEmpty()) dict.insert(key, value);
}

int64_t readInteger(const QVariantMap& dict, const QString& key) {
  int64_t v = 0;
  Settings_ReadInteger(dict.value(key), &v);
  return v;
}

double readDouble(const QVariantMap& dict, const QString& key) {
  double v = 0;
  Settings_ReadDouble(dict.value(key), &v);
  return v;
}

float readFloat(const QVariantMap& dict, const QString& key) {
  const double v = readDouble(dict, key);
  if (std::isnan(v)) return 0.0f;
  return static_cast<float>(std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

bool readBool(const QVariantMap& dict, const QString& key) {
  bool v = false;
  Settings_ReadBool(dict.value(key), &v);
  return v;
}

QString readString(const QVariantMap& dict, const QString& key) {
  QString v;
  Settings_ReadString(dict.value(key), &v);
  return v;
}

QString orNotAvailable(const QString& s) { return s.isEmpty() ? kNotAvailable : s; }

QVariantList readList(const QVariantMap& dict, const QString& key) {
  const QVariant v = dict.value(key);
  if (v.metaType().id() != QMetaType::QVariantList) return {};
  return v.toList();
}

QString U_CleanPackagePath(const QString& path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); }

std::mutex gRecordingPackagesMutex;
QSet<QString> gRecordingPackages;
QSet<QString> gRecordedPackages;

}  // namespace

void VLDocument_NoteRecordingPackage(const QString& packagePath, bool recording) {
  if (packagePath.isEmpty()) return;
  const QString clean = U_CleanPackagePath(packagePath);
  std::lock_guard lock(gRecordingPackagesMutex);
  if (!recording) {
    gRecordingPackages.remove(clean);
    return;
  }
  // A package recorded into stays one of this run's recordings after its recording ends.
  gRecordingPackages.insert(clean);
  gRecordedPackages.insert(clean);
}

bool VLDocument_IsRecordingPackage(const QString& packagePath) {
  std::lock_guard lock(gRecordingPackagesMutex);
  return gRecordingPackages.contains(U_CleanPackagePath(packagePath));
}

void VLDocument_NoteRecordedInThisRun(const QString& packagePath) {
  if (packagePath.isEmpty()) return;
  std::lock_guard lock(gRecordingPackagesMutex);
  gRecordedPackages.insert(U_CleanPackagePath(packagePath));
}

bool VLDocument_WasRecordedInThisRun(const QString& packagePath) {
  std::lock_guard lock(gRecordingPackagesMutex);
  return gRecordedPackages.contains(U_CleanPackagePath(packagePath));
}

VLStoredJobRecord::VLStoredJobRecord(const QVariantMap& dictionary) : m_dictionary(dictionary) {}

int64_t VLStoredJobRecord::status() const { return readInteger(m_dictionary, QStringLiteral("status")); }

bool VLStoredJobRecord::cancelled() const { return readBool(m_dictionary, QStringLiteral("cancelled")); }

VLDocument::VLDocument()
    : m_docCaptureDate(QDateTime::currentDateTime()),
      m_captureMacOS(Sys_OSVersionString()),
      m_captureMachine(Sys_MachineModel()),
      m_captureApp(QStringLiteral("Velmora")),
      m_appVersion(QStringLiteral(VELMORA_VERSION_STRING)) {}

void VLDocument::setJobFactory(VLDocumentJobFactory factory) { jobFactory() = std::move(factory); }

VLDocumentWindowController* VLDocument::windowController() const {
  return m_windowObject ? m_windowController : nullptr;
}

void VLDocument::setWindowController(VLDocumentWindowController* controller) {
  m_windowObject = dynamic_cast<QObject*>(controller);
  m_windowController = m_windowObject ? controller : nullptr;
}

void VLDocument::U_LoadCaptureProperties() {
  if (gZRNAppPrefs) U_LoadCaptureProperties(*gZRNAppPrefs);
}

void VLDocument::U_LoadCaptureProperties(const ZRNAppPrefs& prefs) {
  m_segmentSeconds = static_cast<float>(prefs.fragmentSeconds());
  m_captureFileType = prefs.captureFileType();
  m_segmentKBPS = prefs.segmentKBPS();
  m_initialMillisToClip = prefs.numInitialMillisToReject();
  m_videoCodecType = kVideoCodecTypeH264;
  m_cameraUID = prefs.cameraUID();
  m_cameraName = prefs.cameraName();
  m_cameraIndex = prefs.cameraIndex();
  m_cameraPresetIndex = prefs.capturePresetIndex();
  m_frameSize = prefs.movieSize();
  m_videoFPS = prefs.captureFPS();
  m_captureMediaSubType = prefs.captureMediaSubType();
  m_hasAudioDevice = prefs.hasAudioDevice();
  m_captureAudio = prefs.captureAudio();
  m_microphoneUID = prefs.microphoneUID();
  m_microphoneName = prefs.microphoneName();
  m_microphoneIsBuiltIn = prefs.microphoneIsBuiltIn();
  m_microphoneIndex = prefs.microphoneIndex();
  m_micPresetIndex = prefs.microphonePresetIndex();
  m_audioCaptureRate = prefs.microphoneCaptureRate();
}

QVariantMap VLDocument::dictionaryToSave() const {
  QVariantMap dict;
  if (m_versionNum > 0) dict.insert(QStringLiteral("VLDocVersion"), int64Value(m_versionNum));
  // Waiting and exporting jobs alone are not worth keeping; once one job has ended, every job is.
  if (numberOfFinishedJobs() > 0) dict.insert(QStringLiteral("exportJobs"), jobsToSave());
  if (!m_tagsArray.isEmpty()) {
    QVariantList tags;
    tags.reserve(m_tagsArray.size());
    for (const QVariantMap& tag : m_tagsArray) tags.append(tag);
    dict.insert(QStringLiteral("tags"), tags);
  }
  putString(dict, QStringLiteral("VLCaptureMacOS"), m_captureMacOS);
  putString(dict, QStringLiteral("VLCaptureMachineType"), m_captureMachine);
  putString(dict, QStringLiteral("VLCaptureApp"), m_captureApp);
  putString(dict, QStringLiteral("VLCaptureAppVersion"), m_appVersion);
  if (m_docCaptureDate.isValid()) dict.insert(QStringLiteral("VLCaptureDate"), m_docCaptureDate);
  dict.insert(QStringLiteral("VLHasAudioDevice"), m_hasAudioDevice);
  dict.insert(QStringLiteral("VLCaptureAudio"), m_captureAudio);
  dict.insert(QStringLiteral("VLFragmentSeconds"), QVariant(m_segmentSeconds));
  dict.insert(QStringLiteral("VLInitialMillisRejected"), int64Value(m_initialMillisToClip));
  putString(dict, QStringLiteral("VLCaptureFileType"), m_captureFileType);
  putString(dict, QStringLiteral("VLVideoCodecType"), m_videoCodecType);
  dict.insert(QStringLiteral("VLSegmentKBPS"), int64Value(m_segmentKBPS));
  putString(dict, QStringLiteral("VLCameraUID"), m_cameraUID);
  putString(dict, QStringLiteral("VLCameraName"), m_cameraName);
  dict.insert(QStringLiteral("VLCameraIndex"), int64Value(m_cameraIndex));
  dict.insert(QStringLiteral("VLCameraPresetIndex"), int64Value(m_cameraPresetIndex));
  dict.insert(QStringLiteral("VLFrameWidth"), m_frameSize.width());
  dict.insert(QStringLiteral("VLFrameHeight"), m_frameSize.height());
  dict.insert(QStringLiteral("VLVideoFPS"), QVariant(m_videoFPS));
  dict.insert(QStringLiteral("VLCaptureMediaSubType"), QVariant::fromValue<uint>(m_captureMediaSubType));
  putString(dict, QStringLiteral("VLMicrophoneUID"), m_microphoneUID);
  putString(dict, QStringLiteral("VLMicrophoneName"), m_microphoneName);
  dict.insert(QStringLiteral("VLMicrophoneIsBuiltIn"), m_microphoneIsBuiltIn);
  dict.insert(QStringLiteral("VLMicrophoneIndex"), int64Value(m_microphoneIndex));
  dict.insert(QStringLiteral("VLMicPresetIndex"), int64Value(m_micPresetIndex));
  dict.insert(QStringLiteral("VLAudioCaptureRate"), m_audioCaptureRate);
  return dict;
}

void VLDocument::loadFromDictionary(const QVariantMap& dict) {
  m_versionNum = readInteger(dict, QStringLiteral("VLDocVersion"));
  m_captureMacOS = orNotAvailable(readString(dict, QStringLiteral("VLCaptureMacOS")));
  m_captureMachine = orNotAvailable(readString(dict, QStringLiteral("VLCaptureMachineType")));
  m_captureApp = orNotAvailable(readString(dict, QStringLiteral("VLCaptureApp")));
  m_appVersion = orNotAvailable(readString(dict, QStringLiteral("VLCaptureAppVersion")));
  loadJobsArray(readList(dict, QStringLiteral("exportJobs")));
  loadTagsArray(readList(dict, QStringLiteral("tags")));
  // The reader turns text of the date format into a date; anything else leaves the document undated.
  const QVariant date = dict.value(QStringLiteral("VLCaptureDate"));
  m_docCaptureDate = date.metaType().id() == QMetaType::QDateTime ? date.toDateTime() : QDateTime();
  m_hasAudioDevice = readBool(dict, QStringLiteral("VLHasAudioDevice"));
  m_captureAudio = readBool(dict, QStringLiteral("VLCaptureAudio"));
  m_segmentSeconds = readFloat(dict, QStringLiteral("VLFragmentSeconds"));
  // Older sessions stored the fragment length under its former name.
  if (m_segmentSeconds == 0.0f) m_segmentSeconds = readFloat(dict, QStringLiteral("VLSegmentSeconds"));
  m_initialMillisToClip = readInteger(dict, QStringLiteral("VLInitialMillisRejected"));
  m_captureFileType = readString(dict, QStringLiteral("VLCaptureFileType"));
  m_videoCodecType = readString(dict, QStringLiteral("VLVideoCodecType"));
  m_cameraUID = readString(dict, QStringLiteral("VLCameraUID"));
  m_cameraName = readString(dict, QStringLiteral("VLCameraName"));
  m_cameraIndex = readInteger(dict, QStringLiteral("VLCameraIndex"));
  m_cameraPresetIndex = readInteger(dict, QStringLiteral("VLCameraPresetIndex"));
  m_frameSize = QSizeF(readDouble(dict, QStringLiteral("VLFrameWidth")), readDouble(dict, QStringLiteral("VLFrameHeight")));
  m_segmentKBPS = readInteger(dict, QStringLiteral("VLSegmentKBPS"));
  m_videoFPS = readFloat(dict, QStringLiteral("VLVideoFPS"));
  m_captureMediaSubType = static_cast<uint32_t>(readInteger(dict, QStringLiteral("VLCaptureMediaSubType")));
  m_microphoneUID = readString(dict, QStringLiteral("VLMicrophoneUID"));
  m_microphoneName = readString(dict, QStringLiteral("VLMicrophoneName"));
  m_microphoneIsBuiltIn = readBool(dict, QStringLiteral("VLMicrophoneIsBuiltIn"));
  m_microphoneIndex = readInteger(dict, QStringLiteral("VLMicrophoneIndex"));
  m_micPresetIndex = readInteger(dict, QStringLiteral("VLMicPresetIndex"));
  m_audioCaptureRate = readDouble(dict, QStringLiteral("VLAudioCaptureRate"));
}

bool VLDocument::updateSettingsFile(QString* errorText) {
  if (m_docURL.isEmpty()) {
    if (errorText) *errorText = QStringLiteral("the session has no package");
    return false;
  }
  return File_WriteSettings(m_docURL, kVLSettingsBaseName, kVLSettingsExtension, dictionaryToSave(), errorText);
}

void VLDocument::saveDoc() {
  if (VLDocumentWindowController* controller = windowController()) controller->updateVLDoc();
}

VLSettingsFileRead VLDocument_ReadSettings(const QString& path) {
  VLSettingsFileRead read;
  // A settings file of ours is a few kilobytes; a pipe or a device at its name is never waited on.
  constexpr qint64 kMaxSettingsBytes = 256LL * 1024 * 1024;
  QByteArray data;
  if (!SafeFile_ReadRegular(path, kMaxSettingsBytes, &data, &read.reason)) {
    read.outcome = VLSettingsFileRead::Outcome::Unreadable;
    ZRNLogger_Log(QStringLiteral("ATT: settings file %@ cannot be read: %@; left as it is"), path, read.reason);
    return read;
  }
  const QVariant parsed = JSON_CFFromJSONData(data);
  if (parsed.typeId() == QMetaType::QVariantMap) {
    read.dictionary = parsed.toMap();
    return read;
  }
  // The write-back would replace the marks a damaged file may still hold: keep it aside first.
  read.outcome = VLSettingsFileRead::Outcome::Damaged;
  const QString folder = QFileInfo(path).absolutePath();
  const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
  const QString asideName =
      File_UniqueFileName(folder, Fmt("%@.damaged-%@.%@", kVLSettingsBaseName, stamp, kVLSettingsExtension));
  const bool moved = QFile::rename(path, folder + QLatin1Char('/') + asideName);
  if (moved) read.asidePath = folder + QLatin1Char('/') + asideName;
  ZRNLogger_Log(QStringLiteral("ATT: settings file %@ does not parse (%ld bytes); %@ %@"), path,
                static_cast<long>(data.size()), moved ? QStringLiteral("kept aside as") : QStringLiteral("could not be moved to"),
                asideName);
  return read;
}

std::optional<QVariantMap> VLDocument_ReadSettingsFile(const QString& path) {
  VLSettingsFileRead read = VLDocument_ReadSettings(path);
  if (read.outcome != VLSettingsFileRead::Outcome::Loaded) return std::nullopt;
  return std::move(read.dictionary);
}

bool VLDocument::loadSettingsFile() {
  const QString path = settingsFileURL().toLocalFile();
  if (path.isEmpty() || !QFileInfo::exists(path)) return false;
  const std::optional<QVariantMap> settings = VLDocument_ReadSettingsFile(path);
  if (!settings) return false;
  loadFromDictionary(*settings);
  return true;
}

void VLDocument::loadTagsArray(const QVariantList& tags) {
  m_tagsArray.clear();
  for (const QVariant& tag : tags)
    if (tag.metaType().id() == QMetaType::QVariantMap) m_tagsArray.append(tag.toMap());
}

void VLDocument::loadJobsArray(const QVariantList& jobs) {
  m_jobsArray.clear();
  for (const QVariant& job : jobs) {
    if (job.metaType().id() != QMetaType::QVariantMap) continue;
    const QVariantMap dict = job.toMap();
    std::shared_ptr<VLDocumentJob> record =
        jobFactory() ? jobFactory()(dict) : std::make_shared<VLStoredJobRecord>(dict);
    if (record) m_jobsArray.append(std::move(record));
  }
}

QVariantList VLDocument::jobsToSave() const {
  QVariantList jobs;
  jobs.reserve(m_jobsArray.size());
  for (const auto& job : m_jobsArray) jobs.append(job->dictionaryToSave());
  return jobs;
}

QList<std::shared_ptr<VLDocumentJob>> VLDocument::pendingJobs() const {
  QList<std::shared_ptr<VLDocumentJob>> result;
  for (const auto& job : m_jobsArray)
    if (!job->isFinished() && !job->cancelled()) result.append(job);
  return result;
}

int32_t VLDocument::numberOfPendingJobs() const { return static_cast<int32_t>(pendingJobs().size()); }

QList<std::shared_ptr<VLDocumentJob>> VLDocument::waitingJobs() const {
  QList<std::shared_ptr<VLDocumentJob>> result;
  for (const auto& job : m_jobsArray)
    if (job->status() == 0) result.append(job);
  return result;
}

int32_t VLDocument::numberOfWaitingJobs() const { return static_cast<int32_t>(waitingJobs().size()); }

int32_t VLDocument::numberOfFinishedJobs() const {
  return static_cast<int32_t>(std::count_if(m_jobsArray.cbegin(), m_jobsArray.cend(), [](const auto& job) { return job->isFinished(); }));
}

QUrl VLDocument::settingsFileURL() const {
  if (m_docURL.isEmpty()) return {};
  return QUrl::fromLocalFile(QDir(m_docURL.toLocalFile()).filePath(kVLSettingsBaseName + QLatin1Char('.') + kVLSettingsExtension));
}

QUrl VLDocument::badgeBaseURL() const {
  if (m_docURL.isEmpty()) return {};
  return QUrl::fromLocalFile(QDir(m_docURL.toLocalFile()).filePath(kVLBadgeResourcesName));
}

QUrl VLDocument::badgeTemplateURL() const {
  if (m_docURL.isEmpty()) return {};
  return QUrl::fromLocalFile(QDir(badgeBaseURL().toLocalFile()).filePath(kVLBadgeTemplateName));
}

QUrl VLDocument::badgeImageURL() const {
  if (m_docURL.isEmpty()) return {};
  const QDir images(QDir(badgeBaseURL().toLocalFile()).filePath(kVLBadgeImagesName));
  for (const QString& name : {kVLUserBadgeName, kVLDefaultBadgeName})
    if (QFileInfo(images.filePath(name)).isFile()) return QUrl::fromLocalFile(images.filePath(name));
  return {};
}
