#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/PlatformLog.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/StandardLocations.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>

namespace {
std::mutex gStandardMutex;
std::unique_ptr<UserDefaults> gStandard;

QVariant lookup(const QVariantMap& persistent, const QVariantMap& registration, const QString& key) {
  auto it = persistent.constFind(key);
  if (it != persistent.cend()) return *it;
  return registration.value(key);
}

bool isNumber(const QVariant& v) {
  switch (v.typeId()) {
    case QMetaType::Bool: case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong:
    case QMetaType::ULongLong: case QMetaType::Long: case QMetaType::ULong: case QMetaType::Short:
    case QMetaType::UShort: case QMetaType::Float: case QMetaType::Double:
      return true;
    default: return false;
  }
}

// Leading numeric prefix of a string, as the defaults system reads "12.7abc" as 12.7.
double numericPrefix(const QString& text) {
  const QString t = text.trimmed();
  qsizetype end = 0;
  if (end < t.size() && (t[end] == QLatin1Char('-') || t[end] == QLatin1Char('+'))) ++end;
  while (end < t.size() && (t[end].isDigit() || t[end] == QLatin1Char('.'))) ++end;
  bool ok = false;
  const double v = t.left(end).toDouble(&ok);
  return ok ? v : 0.0;
}
}  // namespace

UserDefaults& UserDefaults::standard() {
  std::lock_guard lock(gStandardMutex);
  if (!gStandard) gStandard = std::make_unique<UserDefaults>(StandardLocations::preferencesFilePath());
  return *gStandard;
}

void UserDefaults::resetStandard() {
  std::lock_guard lock(gStandardMutex);
  if (gStandard) gStandard->synchronize();
  gStandard.reset();
}

UserDefaults::UserDefaults(const QString& filePath)
    : m_filePath(filePath), m_writer(std::make_unique<DispatchQueue>(StandardLocations::appIdentifier() + QStringLiteral(".defaults"))) {
  load();
}

UserDefaults::~UserDefaults() {
  {
    // Whoever would tell the user may be gone by now; a last failure goes to the log only.
    QMutexLocker lock(&m_mutex);
    m_writeFailureHandler = nullptr;
  }
  synchronize();
  m_writer.reset();  // runs any write still queued
}

void UserDefaults::load() {
  QFileInfo info(m_filePath);
  if (!info.exists()) return;
  // A file we may not read is not damaged: it stays as it is, and this run does not replace it. Nor is
  // anything but a regular file: a pipe at the name would hold the start-up for ever.
  QFile file;
  QString reason;
  if (!SafeFile_OpenForReading(file, m_filePath, &reason)) {
    m_unreadable = true;
    m_fileProblem = FileProblem::Unreadable;
    m_problemPath = m_filePath;
    m_problemReason = reason;
    m_messages << QStringLiteral("ERR: preferences file %1 cannot be read (%2); it is left as it is and this run's "
                                 "changes are not saved")
                      .arg(m_filePath, reason);
    return;
  }
  // Preferences are kilobytes: a file far larger is no preferences file of ours, and is not read in.
  constexpr qint64 kMaxFileBytes = 64LL * 1024 * 1024;
  const QVariant root = file.size() <= kMaxFileBytes ? PropertyList_Deserialize(file.readAll()) : QVariant();
  file.close();
  if (root.typeId() == QMetaType::QVariantMap) {
    m_persistent = root.toMap();
    return;
  }
  // Never overwrite what we cannot read: keep it beside for the user, start on the defaults.
  const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
  const QString aside = m_filePath + QStringLiteral(".damaged-") + stamp;
  if (SafeFile_MoveNoReplace(m_filePath, aside) == 0) {
    m_fileProblem = FileProblem::SetAside;
    m_problemPath = aside;
    report(QStringLiteral("ATT: preferences file %1 was damaged; moved aside as %2, starting on the defaults").arg(m_filePath, aside));
  } else {
    // Left where it is, it must not be written over either.
    m_unreadable = true;
    m_fileProblem = FileProblem::Unreadable;
    m_problemPath = m_filePath;
    m_problemReason = QStringLiteral("it is damaged and could not be kept aside");
    report(QStringLiteral("ERR: preferences file %1 is damaged and could not be moved aside; it is left as it is and "
                          "this run's changes are not saved")
               .arg(m_filePath));
  }
}

void UserDefaults::registerDefaults(const QVariantMap& defaults) {
  QMutexLocker lock(&m_mutex);
  for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) m_registration.insert(it.key(), it.value());
}

QVariantMap UserDefaults::registrationDomain() const {
  QMutexLocker lock(&m_mutex);
  return m_registration;
}

QVariantMap UserDefaults::persistentDomain() const {
  QMutexLocker lock(&m_mutex);
  return m_persistent;
}

QVariantMap UserDefaults::dictionaryRepresentation() const {
  QMutexLocker lock(&m_mutex);
  QVariantMap all = m_registration;
  for (auto it = m_persistent.cbegin(); it != m_persistent.cend(); ++it) all.insert(it.key(), it.value());
  return all;
}

QVariant UserDefaults::objectForKey(const QString& key) const {
  QMutexLocker lock(&m_mutex);
  return lookup(m_persistent, m_registration, key);
}

qint64 UserDefaults::integerForKey(const QString& key) const {
  const QVariant v = objectForKey(key);
  if (isNumber(v)) return v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Float
                              ? static_cast<qint64>(v.toDouble())
                              : v.toLongLong();
  if (v.typeId() == QMetaType::QString) {
    const QString s = v.toString().trimmed();
    if (s.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0 || s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return 1;
    return static_cast<qint64>(numericPrefix(s));
  }
  return 0;
}

bool UserDefaults::boolForKey(const QString& key) const {
  const QVariant v = objectForKey(key);
  if (isNumber(v)) return v.toDouble() != 0.0;
  if (v.typeId() == QMetaType::QString) {
    const QString s = v.toString().trimmed();
    if (s.compare(QLatin1String("YES"), Qt::CaseInsensitive) == 0 || s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
    return numericPrefix(s) != 0.0;
  }
  return false;
}

double UserDefaults::doubleForKey(const QString& key) const {
  const QVariant v = objectForKey(key);
  if (isNumber(v)) return v.toDouble();
  if (v.typeId() == QMetaType::QString) return numericPrefix(v.toString());
  return 0.0;
}

float UserDefaults::floatForKey(const QString& key) const { return static_cast<float>(doubleForKey(key)); }

QString UserDefaults::stringForKey(const QString& key) const {
  const QVariant v = objectForKey(key);
  if (v.typeId() == QMetaType::QString) return v.toString();
  if (isNumber(v)) return v.typeId() == QMetaType::Bool ? QString::number(v.toBool() ? 1 : 0) : v.toString();
  return QString();
}

QUrl UserDefaults::URLForKey(const QString& key) const {
  const QVariant v = objectForKey(key);
  QString text;
  if (v.typeId() == QMetaType::QUrl) return v.toUrl();
  if (v.typeId() == QMetaType::QString) text = v.toString();
  else if (v.typeId() == QMetaType::QByteArray) text = QString::fromUtf8(v.toByteArray());
  else return QUrl();
  if (text.startsWith(QLatin1Char('~'))) text = StandardLocations::homePath() + text.mid(1);
  if (text.startsWith(QLatin1Char('/'))) return QUrl::fromLocalFile(text);
  return QUrl(text);
}

QVariantList UserDefaults::arrayForKey(const QString& key) const {
  const QVariant v = objectForKey(key);
  return v.typeId() == QMetaType::QVariantList || v.typeId() == QMetaType::QStringList ? v.toList() : QVariantList();
}

QVariantMap UserDefaults::dictionaryForKey(const QString& key) const {
  const QVariant v = objectForKey(key);
  return v.typeId() == QMetaType::QVariantMap ? v.toMap() : QVariantMap();
}

void UserDefaults::setObject(const QString& key, const QVariant& value) {
  if (!value.isValid() || value.isNull()) {
    removeObject(key);
    return;
  }
  {
    QMutexLocker lock(&m_mutex);
    m_persistent.insert(key, value.typeId() == QMetaType::QUrl ? QVariant(value.toUrl().toString()) : value);
    m_dirty = true;
  }
  scheduleWrite();
}

void UserDefaults::setInteger(const QString& key, qint64 value) { setObject(key, QVariant::fromValue<qint64>(value)); }
void UserDefaults::setBool(const QString& key, bool value) { setObject(key, QVariant(value)); }
void UserDefaults::setFloat(const QString& key, float value) { setObject(key, QVariant(static_cast<double>(value))); }
void UserDefaults::setDouble(const QString& key, double value) { setObject(key, QVariant(value)); }
void UserDefaults::setURL(const QString& key, const QUrl& url) {
  if (url.isEmpty()) removeObject(key);
  else setObject(key, QVariant(url.toString()));
}

void UserDefaults::removeObject(const QString& key) {
  {
    QMutexLocker lock(&m_mutex);
    if (m_persistent.remove(key) == 0) return;
    m_dirty = true;
  }
  scheduleWrite();
}

void UserDefaults::scheduleWrite() {
  // Changes reach the disk shortly after they are made even when nobody synchronizes;
  // a burst of changes is written once.
  if (m_writeScheduled.exchange(true)) return;
  m_writer->after(std::chrono::milliseconds(200), [this] {
    m_writeScheduled = false;
    {
      QMutexLocker lock(&m_mutex);
      writeLocked();
    }
    tellWriteFailure();
  });
}

bool UserDefaults::synchronize() {
  bool written = false;
  {
    QMutexLocker lock(&m_mutex);
    written = writeLocked();
  }
  tellWriteFailure();
  return written;
}

bool UserDefaults::writeLocked() {
  if (!m_dirty) return true;
  if (m_unreadable) return false;
  QDir().mkpath(QFileInfo(m_filePath).absolutePath());
  QString error;
  if (!PropertyList_WriteFile(m_filePath, QVariant(m_persistent),
                              PropertyListFormat::XML, &error)) {
    report(QStringLiteral("ERR: preferences could not be written: %1").arg(error));
    if (!m_writeFailureTold && m_writeFailure.isEmpty()) m_writeFailure = error;
    return false;
  }
  m_dirty = false;
  return true;
}

void UserDefaults::setWriteFailureHandler(WriteFailureHandler handler) {
  {
    QMutexLocker lock(&m_mutex);
    m_writeFailureHandler = std::move(handler);
  }
  tellWriteFailure();
}

void UserDefaults::tellWriteFailure() {
  WriteFailureHandler handler;
  QString reason;
  {
    QMutexLocker lock(&m_mutex);
    if (m_writeFailureTold || m_writeFailure.isEmpty() || !m_writeFailureHandler) return;
    m_writeFailureTold = true;
    handler = m_writeFailureHandler;
    reason = m_writeFailure;
  }
  handler(m_filePath, reason);
}

void UserDefaults::report(const QString& message) {
  // Into the log when there is one (a write that fails during the run); kept until the log starts
  // otherwise.
  if (!Platform_TryLogLine(message)) m_messages << message;
}

QStringList UserDefaults::takePendingMessages() {
  QMutexLocker lock(&m_mutex);
  QStringList out;
  out.swap(m_messages);
  return out;
}

UserDefaults::FileProblem UserDefaults::takeFileProblem(QString* path, QString* reason) {
  QMutexLocker lock(&m_mutex);
  const FileProblem problem = m_fileProblem;
  if (path) *path = m_problemPath;
  if (reason) *reason = m_problemReason;
  m_fileProblem = FileProblem::None;
  return problem;
}
