#include "platform/system/FileAttributes.h"

#include "platform/foundation/SysErrno.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <sys/xattr.h>

namespace {
constexpr int kGioTimeoutMs = 5000;

QString errnoText() { return Sys_ErrnoText(errno); }

QByteArray attributeName(const QString& name) { return name.toUtf8(); }

// Runs `gio` with the arguments; false when it is not installed or fails (no metadata daemon, ...).
bool runGio(const QStringList& arguments, QString* errorText) {
  const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
  if (gio.isEmpty()) {
    if (errorText) *errorText = QStringLiteral("gio is not installed");
    return false;
  }
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(gio, arguments);
  if (!process.waitForFinished(kGioTimeoutMs)) {
    process.kill();
    process.waitForFinished();
    if (errorText) *errorText = QStringLiteral("gio did not answer");
    return false;
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
    if (errorText) *errorText = QString::fromLocal8Bit(process.readAll()).trimmed();
    return false;
  }
  return true;
}
}  // namespace

bool FileAttributes_SetXattr(const QString& path, const QString& name, const QByteArray& value, QString* errorText) {
  if (lsetxattr(QFile::encodeName(path).constData(), attributeName(name).constData(), value.constData(),
                static_cast<size_t>(value.size()), 0) == 0)
    return true;
  if (errorText) *errorText = errnoText();
  return false;
}

bool FileAttributes_RemoveXattr(const QString& path, const QString& name, QString* errorText) {
  if (lremovexattr(QFile::encodeName(path).constData(), attributeName(name).constData()) == 0 || errno == ENODATA)
    return true;
  if (errorText) *errorText = errnoText();
  return false;
}

QByteArray FileAttributes_Xattr(const QString& path, const QString& name) {
  const QByteArray file = QFile::encodeName(path);
  const QByteArray attribute = attributeName(name);
  for (int attempt = 0; attempt < 3; ++attempt) {
    const ssize_t size = lgetxattr(file.constData(), attribute.constData(), nullptr, 0);
    if (size < 0) return QByteArray();
    QByteArray value(static_cast<qsizetype>(size), Qt::Uninitialized);
    const ssize_t read = lgetxattr(file.constData(), attribute.constData(), value.data(), static_cast<size_t>(size));
    if (read >= 0) {
      value.truncate(static_cast<qsizetype>(read));
      return value.isNull() ? QByteArray("") : value;
    }
    if (errno != ERANGE) return QByteArray();  // ERANGE: it grew in between, ask again
  }
  return QByteArray();
}

QString FileAttributes_CustomIconXattrName() { return QStringLiteral("user.org.velmora.custom-icon"); }

bool FileAttributes_SetCustomIcon(const QString& path, const QString& imageFilePath, QString* errorText) {
  if (!QFileInfo::exists(path)) {
    if (errorText) *errorText = QStringLiteral("no such item");
    return false;
  }
  const QString iconUri = QUrl::fromLocalFile(imageFilePath).toString(QUrl::FullyEncoded);
  QString gioError;
  if (runGio({QStringLiteral("set"), QStringLiteral("-t"), QStringLiteral("string"), path,
              QStringLiteral("metadata::custom-icon"), iconUri},
             &gioError))
    return true;
  QString xattrError;
  if (FileAttributes_SetXattr(path, FileAttributes_CustomIconXattrName(), iconUri.toUtf8(), &xattrError)) return true;
  if (errorText) *errorText = gioError + QStringLiteral("; ") + xattrError;
  return false;
}

bool FileAttributes_ClearCustomIcon(const QString& path, QString* errorText) {
  if (!QFileInfo::exists(path)) {
    if (errorText) *errorText = QStringLiteral("no such item");
    return false;
  }
  // Either store may hold the icon (gio may have come or gone since it was set); clear both.
  runGio({QStringLiteral("set"), QStringLiteral("-t"), QStringLiteral("unset"), path, QStringLiteral("metadata::custom-icon")},
         nullptr);
  return FileAttributes_RemoveXattr(path, FileAttributes_CustomIconXattrName(), errorText);
}
