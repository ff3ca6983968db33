#include "common/ZRNAppPrefs.h"

#include "common/ZRNFileFunctions.h"
#include "common/ZRNLogger.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/MovieFileTypes.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <mutex>

ZRNAppPrefs* gZRNAppPrefs = nullptr;

ZRNAppPrefs& Prefs_Shared() {
  if (ZRNAppPrefs* prefs = gZRNAppPrefs) return *prefs;
  static ZRNAppPrefs standIn;
  return standIn;
}

namespace {
std::atomic<qint64> gExtraLogLevel{0};

const QString kRunCounterCurrent = QStringLiteral("RunCounterCurrent");
const QString kCrashCounter = QStringLiteral("CrashCounter");
const QString kSaveTargetDirectory = QStringLiteral("ZRNSaveTargetDirectory");
const QString kOpenTargetDirectory = QStringLiteral("ZRNOpenTargetDirectory");
const QString kCameraUID = QStringLiteral("ZRNCameraUID");
const QString kCameraName = QStringLiteral("ZRNCameraName");
const QString kCameraIndex = QStringLiteral("ZRNCameraIndex");
const QString kCameraFormatIndex = QStringLiteral("ZRNCameraFormatIndex");
const QString kBlackMagicMatchString = QStringLiteral("ZRNBlackMagicMatchString");
const QString kMicrophoneUID = QStringLiteral("ZRNMicrophoneUID");
const QString kMicrophoneName = QStringLiteral("ZRNMicrophoneName");
const QString kMicrophoneBuiltin = QStringLiteral("ZRNMicrophoneBuiltin");
const QString kMicrophoneIndex = QStringLiteral("ZRNMicrophoneIndex");
const QString kMicrophoneFormatIndex = QStringLiteral("ZRNMicrophoneFormatIndex");
const QString kMicrophoneRate = QStringLiteral("ZRNMicrophoneRate");
const QString kDiscoveryDelayMillis = QStringLiteral("ZRNDiscoveryDelayMillis");
const QString kHasAudioDevice = QStringLiteral("ZRNHasAudioDevice");
const QString kCaptureAudio = QStringLiteral("ZRNCaptureAudio");
const QString kMovieSizeWidth = QStringLiteral("ZRNMovieSizeWidth");
const QString kMovieSizeHeight = QStringLiteral("ZRNMovieSizeHeight");
const QString kCaptureFPS = QStringLiteral("ZRNCaptureFPS");
const QString kCaptureSubType = QStringLiteral("ZRNCaptureSubType");
const QString kLowerFrameRateType = QStringLiteral("ZRNLowerFrameRateType");
const QString kCaptureFileType = QStringLiteral("ZRNCaptureFileType");
const QString kFragmentLengthSeconds = QStringLiteral("ZRNFragmentLengthSeconds");
const QString kInitialMillisToReject = QStringLiteral("ZRNInitialMillisToReject");
const QString kSegmentKBPS = QStringLiteral("ZRNSegmentKBPS");
const QString kMomentSecsBefore = QStringLiteral("ZRNMomentSecsBefore");
const QString kMomentSecsAfter = QStringLiteral("ZRNMomentSecsAfter");
const QString kMatchName = QStringLiteral("ZRNMatchName");
const QString kHomeTeamName = QStringLiteral("ZRNHomeTeamName");
const QString kGuestTeamName = QStringLiteral("ZRNGuestTeamName");
const QString kPreviewShowsLastFrame = QStringLiteral("ZRNPreviewShowsLastFrame");
const QString kPlaybackLoops = QStringLiteral("ZRNPlaybackLoops");
const QString kAddPreviewOverlays = QStringLiteral("ZRNAddPreviewOverlays");
const QString kShowMatchTimes = QStringLiteral("ZRNShowMatchTimes");
const QString kAskForCaptureStop = QStringLiteral("ZRNAskForCaptureStop");
const QString kCloseAudioPlaybackWhenRecording = QStringLiteral("ZRNCloseAudioPlaybackWhenRecording");
const QString kLogLevel = QStringLiteral("ZRNLogLevel");
const QString kShowJobsPane = QStringLiteral("ZRNShowJobsPane");
const QString kUseCameraHeuristicsFlag = QStringLiteral("ZRNUseCameraHeuristicsFlag");
const QString kHiddenWarnings = QStringLiteral("ZRNHiddenWarnings");
const QString kPreferencesVersion = QStringLiteral("ZRNPreferencesVersion");

const QString kBadgeFolder = QStringLiteral("badge_overlay");
const QString kBadgeImagesFolder = QStringLiteral("badge_overlay/images");
const QString kBadgeTemplateName = QStringLiteral("badge_template.json");
const QString kUserBadgeName = QStringLiteral("userBadge.png");
const QString kSeedBadgeName = QStringLiteral("tessaro_badge.png");
const QString kSeedTemplateResource = QStringLiteral(":/overlays/badge_template.json");
const QString kSeedBadgeResource = QStringLiteral(":/overlays/images/tessaro_badge.png");

UserDefaults& defaults() { return UserDefaults::standard(); }

void loadCompiledResources();

// A string read "as object": only a stored string counts.
QString objectString(const QString& key) {
  const QVariant v = defaults().objectForKey(key);
  return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

// Writing no string removes the key, so the registered default shows through again.
void setObjectString(const QString& key, const QString& value) {
  if (value.isNull()) defaults().removeObject(key);
  else defaults().setObject(key, value);
}

QString errorText(const QFile& file) { return file.errorString(); }

}  // namespace

qint64 Prefs_ProcessExtraLogLevel() { return gExtraLogLevel.load(); }

ZRNAppPrefs::ZRNAppPrefs() { m_hasRecStartAnimation = true; }

void ZRNAppPrefs::synchronize() { defaults().synchronize(); }

// Counters

qint64 ZRNAppPrefs::numberOfRunsCurrent() const { return defaults().integerForKey(kRunCounterCurrent); }
void ZRNAppPrefs::setNumberOfRunsCurrent(qint64 value) { defaults().setInteger(kRunCounterCurrent, value); }
qint64 ZRNAppPrefs::numberOfCrashes() const { return defaults().integerForKey(kCrashCounter); }
void ZRNAppPrefs::setNumberOfCrashes(qint64 value) { defaults().setInteger(kCrashCounter, value); }

void ZRNAppPrefs::resetNumberOfRunsCurrentForNewAppVersion() {
  setNumberOfRunsCurrent(0);
  synchronize();
}

void ZRNAppPrefs::updateNumberOfRunsCurrent() {
  setNumberOfRunsCurrent(numberOfRunsCurrent() + 1);
  synchronize();
}

void ZRNAppPrefs::updateNumberOfCrashes() {
  setNumberOfCrashes(numberOfCrashes() + 1);
  synchronize();
}

// Folders

QUrl ZRNAppPrefs::saveTargetDirectory() const {
  const QUrl url = defaults().URLForKey(kSaveTargetDirectory);
  if (url.path().isEmpty()) return QUrl::fromLocalFile(StandardLocations::desktopPath());
  return url;
}
void ZRNAppPrefs::setSaveTargetDirectory(const QUrl& url) { defaults().setURL(kSaveTargetDirectory, url); }
QUrl ZRNAppPrefs::openTargetDirectory() const { return defaults().URLForKey(kOpenTargetDirectory); }
void ZRNAppPrefs::setOpenTargetDirectory(const QUrl& url) { defaults().setURL(kOpenTargetDirectory, url); }

// Camera

QString ZRNAppPrefs::cameraUID() const { return defaults().stringForKey(kCameraUID); }
void ZRNAppPrefs::setCameraUID(const QString& value) { setObjectString(kCameraUID, value); }
QString ZRNAppPrefs::cameraName() const { return defaults().stringForKey(kCameraName); }
void ZRNAppPrefs::setCameraName(const QString& value) { setObjectString(kCameraName, value); }
qint64 ZRNAppPrefs::cameraIndex() const { return defaults().integerForKey(kCameraIndex); }
void ZRNAppPrefs::setCameraIndex(qint64 value) { defaults().setInteger(kCameraIndex, value); }
qint64 ZRNAppPrefs::capturePresetIndex() const { return defaults().integerForKey(kCameraFormatIndex); }
void ZRNAppPrefs::setCapturePresetIndex(qint64 value) { defaults().setInteger(kCameraFormatIndex, value); }
QString ZRNAppPrefs::bmMatchString() const { return defaults().stringForKey(kBlackMagicMatchString); }
void ZRNAppPrefs::setBmMatchString(const QString& value) { setObjectString(kBlackMagicMatchString, value); }
qint64 ZRNAppPrefs::deviceDiscoveryDelayMillis() const { return defaults().integerForKey(kDiscoveryDelayMillis); }
void ZRNAppPrefs::setDeviceDiscoveryDelayMillis(qint64 value) { defaults().setInteger(kDiscoveryDelayMillis, value); }
bool ZRNAppPrefs::hasCameraHeuristics() const { return defaults().boolForKey(kUseCameraHeuristicsFlag); }
void ZRNAppPrefs::setHasCameraHeuristics(bool value) { defaults().setBool(kUseCameraHeuristicsFlag, value); }

// Microphone

QString ZRNAppPrefs::microphoneUID() const { return defaults().stringForKey(kMicrophoneUID); }
void ZRNAppPrefs::setMicrophoneUID(const QString& value) { setObjectString(kMicrophoneUID, value); }
QString ZRNAppPrefs::microphoneName() const { return defaults().stringForKey(kMicrophoneName); }
void ZRNAppPrefs::setMicrophoneName(const QString& value) { setObjectString(kMicrophoneName, value); }
bool ZRNAppPrefs::microphoneIsBuiltIn() const { return defaults().boolForKey(kMicrophoneBuiltin); }
void ZRNAppPrefs::setMicrophoneIsBuiltIn(bool value) { defaults().setBool(kMicrophoneBuiltin, value); }
qint64 ZRNAppPrefs::microphoneIndex() const { return defaults().integerForKey(kMicrophoneIndex); }
void ZRNAppPrefs::setMicrophoneIndex(qint64 value) { defaults().setInteger(kMicrophoneIndex, value); }
qint64 ZRNAppPrefs::microphonePresetIndex() const { return defaults().integerForKey(kMicrophoneFormatIndex); }
void ZRNAppPrefs::setMicrophonePresetIndex(qint64 value) { defaults().setInteger(kMicrophoneFormatIndex, value); }
// Read with single precision and widened; written with double precision.
double ZRNAppPrefs::microphoneCaptureRate() const { return static_cast<double>(defaults().floatForKey(kMicrophoneRate)); }
void ZRNAppPrefs::setMicrophoneCaptureRate(double hz) { defaults().setDouble(kMicrophoneRate, hz); }
bool ZRNAppPrefs::hasAudioDevice() const { return defaults().boolForKey(kHasAudioDevice); }
void ZRNAppPrefs::setHasAudioDevice(bool value) { defaults().setBool(kHasAudioDevice, value); }
bool ZRNAppPrefs::captureAudio() const { return defaults().boolForKey(kCaptureAudio); }
void ZRNAppPrefs::setCaptureAudio(bool value) { defaults().setBool(kCaptureAudio, value); }

// Capture format and file

QSizeF ZRNAppPrefs::movieSize() const {
  return QSizeF(defaults().doubleForKey(kMovieSizeWidth), defaults().doubleForKey(kMovieSizeHeight));
}
void ZRNAppPrefs::setMovieSize(const QSizeF& size) {
  defaults().setDouble(kMovieSizeWidth, size.width());
  defaults().setDouble(kMovieSizeHeight, size.height());
}
float ZRNAppPrefs::captureFPS() const { return defaults().floatForKey(kCaptureFPS); }
void ZRNAppPrefs::setCaptureFPS(float fps) { defaults().setFloat(kCaptureFPS, fps); }

uint32_t ZRNAppPrefs::captureMediaSubType() const {
  const QVariant v = defaults().objectForKey(kCaptureSubType);
  if (!v.canConvert<qint64>()) return 0;
  return static_cast<uint32_t>(v.toLongLong());  // a four-character code: only the low 32 bits count
}
void ZRNAppPrefs::setCaptureMediaSubType(uint32_t fourCC) {
  defaults().setObject(kCaptureSubType, QVariant::fromValue<qint64>(fourCC));
}

qint64 ZRNAppPrefs::lowerCaptureFrameRateAction() const { return -1; }
void ZRNAppPrefs::setLowerCaptureFrameRateAction(qint64 value) { defaults().setInteger(kLowerFrameRateType, value); }

QString ZRNAppPrefs::captureFileType() const { return objectString(kCaptureFileType); }
void ZRNAppPrefs::setCaptureFileType(const QString& type) { setObjectString(kCaptureFileType, type); }

QString ZRNAppPrefs::movieFileExtension() const {
  const QString type = captureFileType();
  if (type == QLatin1String(kMovieFileTypeQuickTime)) return QStringLiteral("mov");
  if (type == QLatin1String(kMovieFileTypeMPEG4)) return QStringLiteral("mp4");
  return QStringLiteral("mov");
}

float ZRNAppPrefs::segmentSeconds() const { return defaults().floatForKey(kFragmentLengthSeconds); }
void ZRNAppPrefs::setSegmentSeconds(float seconds) { defaults().setFloat(kFragmentLengthSeconds, seconds); }
qint64 ZRNAppPrefs::fragmentSeconds() const { return defaults().integerForKey(kFragmentLengthSeconds); }
void ZRNAppPrefs::setFragmentSeconds(qint64 seconds) { defaults().setInteger(kFragmentLengthSeconds, seconds); }
qint64 ZRNAppPrefs::numInitialMillisToReject() const { return defaults().integerForKey(kInitialMillisToReject); }
void ZRNAppPrefs::setNumInitialMillisToReject(qint64 millis) { defaults().setInteger(kInitialMillisToReject, millis); }
qint64 ZRNAppPrefs::segmentKBPS() const { return defaults().integerForKey(kSegmentKBPS); }
void ZRNAppPrefs::setSegmentKBPS(qint64 kbps) { defaults().setInteger(kSegmentKBPS, kbps); }

// Moments: whole seconds truncate the stored value; milliseconds round it (+ 0.5, then truncate).

qint64 ZRNAppPrefs::momentSecsBefore() const { return static_cast<qint64>(defaults().doubleForKey(kMomentSecsBefore)); }
void ZRNAppPrefs::setMomentSecsBefore(qint64 seconds) { defaults().setDouble(kMomentSecsBefore, static_cast<double>(seconds)); }
qint64 ZRNAppPrefs::momentSecsAfter() const { return static_cast<qint64>(defaults().doubleForKey(kMomentSecsAfter)); }
void ZRNAppPrefs::setMomentSecsAfter(qint64 seconds) { defaults().setDouble(kMomentSecsAfter, static_cast<double>(seconds)); }
qint64 ZRNAppPrefs::momentMillisBefore() const {
  return static_cast<qint64>(defaults().doubleForKey(kMomentSecsBefore) * 1000.0 + 0.5);
}
void ZRNAppPrefs::setMomentMillisBefore(qint64 millis) {
  defaults().setDouble(kMomentSecsBefore, static_cast<double>(millis) / 1000.0);
}
qint64 ZRNAppPrefs::momentMillisAfter() const {
  return static_cast<qint64>(defaults().doubleForKey(kMomentSecsAfter) * 1000.0 + 0.5);
}
void ZRNAppPrefs::setMomentMillisAfter(qint64 millis) {
  defaults().setDouble(kMomentSecsAfter, static_cast<double>(millis) / 1000.0);
}

// Match and display

QString ZRNAppPrefs::matchName() const { return objectString(kMatchName); }
void ZRNAppPrefs::setMatchName(const QString& value) { setObjectString(kMatchName, value); }
QString ZRNAppPrefs::homeTeamName() const { return objectString(kHomeTeamName); }
void ZRNAppPrefs::setHomeTeamName(const QString& value) { setObjectString(kHomeTeamName, value); }
QString ZRNAppPrefs::guestTeamName() const { return objectString(kGuestTeamName); }
void ZRNAppPrefs::setGuestTeamName(const QString& value) { setObjectString(kGuestTeamName, value); }
bool ZRNAppPrefs::previewShowsLastFrame() const { return defaults().boolForKey(kPreviewShowsLastFrame); }
void ZRNAppPrefs::setPreviewShowsLastFrame(bool value) { defaults().setBool(kPreviewShowsLastFrame, value); }
bool ZRNAppPrefs::playbackLoops() const { return defaults().boolForKey(kPlaybackLoops); }
void ZRNAppPrefs::setPlaybackLoops(bool value) { defaults().setBool(kPlaybackLoops, value); }
bool ZRNAppPrefs::addPreviewOverlays() const { return defaults().boolForKey(kAddPreviewOverlays); }
void ZRNAppPrefs::setAddPreviewOverlays(bool value) { defaults().setBool(kAddPreviewOverlays, value); }
bool ZRNAppPrefs::showMatchTimes() const { return defaults().boolForKey(kShowMatchTimes); }
void ZRNAppPrefs::setShowMatchTimes(bool value) { defaults().setBool(kShowMatchTimes, value); }
bool ZRNAppPrefs::askForCaptureStop() const { return defaults().boolForKey(kAskForCaptureStop); }
void ZRNAppPrefs::setAskForCaptureStop(bool value) { defaults().setBool(kAskForCaptureStop, value); }
bool ZRNAppPrefs::closeAudioPlaybackWhenRecording() const { return defaults().boolForKey(kCloseAudioPlaybackWhenRecording); }
void ZRNAppPrefs::setCloseAudioPlaybackWhenRecording(bool value) { defaults().setBool(kCloseAudioPlaybackWhenRecording, value); }
bool ZRNAppPrefs::showJobsPane() const { return defaults().boolForKey(kShowJobsPane); }
void ZRNAppPrefs::setShowJobsPane(bool value) { defaults().setBool(kShowJobsPane, value); }

// Logging

qint64 ZRNAppPrefs::extraLogLevel() const { return defaults().integerForKey(kLogLevel); }
void ZRNAppPrefs::setExtraLogLevel(qint64 value) { defaults().setInteger(kLogLevel, value); }
bool ZRNAppPrefs::hasExtraLogs() const { return Prefs_ProcessExtraLogLevel() > 0; }

// Hidden warnings

void ZRNAppPrefs::U_LoadHiddenWarningsArray() {
  m_hiddenWarningKeysArray.clear();
  for (const QVariant& v : defaults().arrayForKey(kHiddenWarnings)) {
    if (v.typeId() == QMetaType::QString) m_hiddenWarningKeysArray << v.toString();
  }
  m_hiddenWarningsLoaded = true;
}

bool ZRNAppPrefs::shouldShowWarningWithKey(const QString& key) {
  Dispatch_AssertMainThread(__func__);
  if (!m_hiddenWarningsLoaded) U_LoadHiddenWarningsArray();
  return !m_hiddenWarningKeysArray.contains(key);
}

void ZRNAppPrefs::hideWarningWithKey(const QString& key) {
  Dispatch_AssertMainThread(__func__);
  if (!m_hiddenWarningsLoaded) U_LoadHiddenWarningsArray();
  if (m_hiddenWarningKeysArray.contains(key)) return;
  m_hiddenWarningKeysArray << key;
  defaults().setObject(kHiddenWarnings, QVariant(m_hiddenWarningKeysArray).toList());
  synchronize();
}

void ZRNAppPrefs::resetAllWarnings() {
  Dispatch_AssertMainThread(__func__);
  if (m_hiddenWarningKeysArray.isEmpty()) return;
  // Forget the list in memory too, or the warnings would stay hidden until the next launch.
  m_hiddenWarningKeysArray.clear();
  defaults().removeObject(kHiddenWarnings);
  synchronize();
}

// User resources

QUrl ZRNAppPrefs::U_GetUserResourcesURL(bool create) {
  const QString support = StandardLocations::dataHome();
  if (!QDir().mkpath(support)) return QUrl();
  const QString path = support + QLatin1Char('/') + StandardLocations::appIdentifier() + QStringLiteral("/UserResources");
  if (create && !QFileInfo(path).isDir()) {
    if (!QDir().mkpath(path)) {
      ZRNLogger_Log(QStringLiteral("ATT: app support dir creation failed, error: %@"),
                    QStringLiteral("cannot create %1").arg(path));
      return QUrl();
    }
  }
  return QUrl::fromLocalFile(path);
}

QUrl ZRNAppPrefs::getUserResourceFileWithName(const QString& name, const QString& relativePath) {
  const QUrl base = U_GetUserResourcesURL(false);
  if (base.isEmpty()) return QUrl();
  QString path = base.toLocalFile();
  if (!relativePath.isEmpty()) path += QLatin1Char('/') + relativePath;
  path += QLatin1Char('/') + name;
  if (!QFileInfo::exists(path)) return QUrl();
  return QUrl::fromLocalFile(path);
}

bool ZRNAppPrefs::copyFile(const QUrl& source, const QString& name, const QString& relativePath) {
  const QUrl base = U_GetUserResourcesURL(true);
  if (base.isEmpty()) return false;
  const QString folder = relativePath.isEmpty() ? base.toLocalFile() : base.toLocalFile() + QLatin1Char('/') + relativePath;
  const QString target = folder + QLatin1Char('/') + name;
  // Sources may be compiled-in resources (":/...") as well as files.
  const QString sourcePath = source.scheme() == QLatin1String("qrc") ? QLatin1Char(':') + source.path() : source.toLocalFile();
  if (QFileInfo::exists(target)) {
    QFile old(target);
    if (!old.remove()) {
      ZRNLogger_Log(QStringLiteral("ATT: old rsrc delete failed, error: %@"), errorText(old));
      return false;
    }
  } else if (!QDir().mkpath(folder)) {
    return false;
  }
  QFile in(sourcePath);
  if (!in.copy(target)) {
    ZRNLogger_Log(QStringLiteral("ATT: rsrc copy failed, error: %@"), errorText(in));
    return false;
  }
  // A copy of a compiled-in resource comes out read-only; the user's copy is the user's to change.
  QFile::setPermissions(target, QFile::permissions(target) | QFileDevice::WriteOwner | QFileDevice::ReadOwner);
  return true;
}

QUrl ZRNAppPrefs::badgeTemplateURL() {
  loadCompiledResources();
  if (getUserResourceFileWithName(kBadgeTemplateName, kBadgeFolder).isEmpty() && QFileInfo::exists(kSeedTemplateResource))
    copyFile(QUrl(QStringLiteral("qrc") + kSeedTemplateResource), kBadgeTemplateName, kBadgeFolder);
  if (getUserResourceFileWithName(kUserBadgeName, kBadgeImagesFolder).isEmpty() &&
      getUserResourceFileWithName(kSeedBadgeName, kBadgeImagesFolder).isEmpty() && QFileInfo::exists(kSeedBadgeResource))
    copyFile(QUrl(QStringLiteral("qrc") + kSeedBadgeResource), kSeedBadgeName, kBadgeImagesFolder);
  return getUserResourceFileWithName(kBadgeTemplateName, kBadgeFolder);
}

QUrl ZRNAppPrefs::badgeImageURL() {
  QUrl url = getUserResourceFileWithName(kUserBadgeName, kBadgeImagesFolder);
  if (!url.isEmpty()) return url;
  url = getUserResourceFileWithName(kSeedBadgeName, kBadgeImagesFolder);
  if (!url.isEmpty()) return url;
  badgeTemplateURL();
  return getUserResourceFileWithName(kSeedBadgeName, kBadgeImagesFolder);
}

void ZRNAppPrefs::saveAsBadgeImage(const QImage& image) {
  if (image.isNull()) return;
  const QImage bitmap = image.convertToFormat(QImage::Format_ARGB32);
  const QString folder = StandardLocations::tempPath();
  const QString path = folder + QLatin1Char('/') + File_UniqueFileName(folder, QStringLiteral("bufBadge.png"));
  if (!bitmap.save(path, "PNG")) return;
  // The temporary copy stays where it is.
  copyFile(QUrl::fromLocalFile(path), kUserBadgeName, kBadgeImagesFolder);
}

QImage ZRNAppPrefs::defaultBadgeImage() {
  U_GetUserResourcesURL(true);
  const QUrl url = getUserResourceFileWithName(kSeedBadgeName, kBadgeImagesFolder);
  if (url.isEmpty()) return QImage();
  // The user's resources folder may hold anything at that name: only a regular file is read.
  constexpr qint64 kMaxBadgeBytes = 64LL * 1024 * 1024;
  return File_ReadPicture(url.toLocalFile(), kMaxBadgeBytes);
}

// The resources live in a static library: without this reference the linker would drop them.
static void initCompiledResources() { Q_INIT_RESOURCE(resources); }
namespace {
void loadCompiledResources() {
  static std::once_flag once;
  std::call_once(once, initCompiledResources);
}
}  // namespace

// Registration, wipe and migration

void Prefs_RegisterDefaultPrefs() {
  loadCompiledResources();
  const QVariant root = PropertyList_ReadFile(QStringLiteral(":/CameraDefaultPrefs.plist"));
  if (root.typeId() != QMetaType::QVariantMap) return;  // every preference falls back to its zero value
  UserDefaults::standard().registerDefaults(root.toMap());
}

void Prefs_ClearAllUserDefaults() {
  UserDefaults& d = UserDefaults::standard();
  const QVariantMap all = d.dictionaryRepresentation();
  for (auto it = all.cbegin(); it != all.cend(); ++it) d.removeObject(it.key());
  d.synchronize();
}

void Prefs_MigratePreferences() {
  ZRNAppPrefs& prefs = Prefs_Shared();
  UserDefaults& d = UserDefaults::standard();
  const qint64 stored = d.integerForKey(kPreferencesVersion);
  if (stored != kZRNPreferencesVersionCurrent) {
    if (stored < 90001) Prefs_ClearAllUserDefaults();
    if (stored < 90004) {
      if (prefs.segmentSeconds() < 1.0f) prefs.setSegmentSeconds(1.0f);
      if (prefs.momentSecsBefore() < 0) prefs.setMomentSecsBefore(0);
      if (prefs.momentSecsAfter() < prefs.momentSecsBefore()) prefs.setMomentSecsAfter(prefs.momentSecsBefore());
      if (prefs.momentSecsAfter() < 1) prefs.setMomentSecsAfter(1);
    }
    d.setInteger(kPreferencesVersion, kZRNPreferencesVersionCurrent);
    if (stored != 0) prefs.resetNumberOfRunsCurrentForNewAppVersion();
  }
  // There is no shared colour panel to configure here: each colour well sets up its own dialog.
  gExtraLogLevel = prefs.extraLogLevel();
  d.synchronize();
}
