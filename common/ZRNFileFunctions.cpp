#include "common/ZRNFileFunctions.h"

#include "common/ZRNJSONBridge.h"
#include "common/ZRNLogger.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/SysErrno.h"
#include "platform/system/FileAttributes.h"
#include "platform/system/ProcessIdentity.h"
#include "platform/system/Workspace.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <dirent.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

// The resources live in a static library: without this reference the linker would drop them.
static void initIconResources() { Q_INIT_RESOURCE(resources); }

namespace {
QString joinPath(const QString& folder, const QString& name) {
  if (folder.endsWith(QLatin1Char('/'))) return folder + name;
  return folder + QLatin1Char('/') + name;
}

// Base and extension as path extensions count them: the text after the last dot, unless that dot starts
// the name or ends it.
void splitName(const QString& name, QString* base, QString* extension) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot <= 0 || dot == name.size() - 1) {
    *base = name;
    extension->clear();
  } else {
    *base = name.left(dot);
    *extension = name.mid(dot + 1);
  }
}

QString variantName(const QString& name, int n) {
  QString base, extension;
  splitName(name, &base, &extension);
  return Fmt(QStringLiteral("%@_%d%@"), base, n, extension.isEmpty() ? QString() : QLatin1Char('.') + extension);
}

// Anything at the path, a dangling symbolic link included, takes the name.
bool itemExists(const QString& path) {
  struct stat info;
  return lstat(QFile::encodeName(path).constData(), &info) == 0;
}

QString firstFreePath(const QString& folder, const QString& name) {
  QString candidate = joinPath(folder, name);
  for (int n = 1; itemExists(candidate); ++n) candidate = joinPath(folder, variantName(name, n));
  return candidate;
}

bool mkdirSingle(const QString& path, int* error) {
  if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0) return true;
  *error = errno;
  return false;
}

int64_t folderBytes(const QByteArray& folder) {
  DIR* dir = opendir(folder.constData());
  if (!dir) return 0;
  int64_t total = 0;
  while (const struct dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;  // hidden items, "." and ".."
    const QByteArray path = folder + '/' + entry->d_name;
    struct stat info;
    if (lstat(path.constData(), &info) != 0) continue;  // its kind cannot be read
    if (S_ISDIR(info.st_mode)) {
      total += folderBytes(path);
    } else {
      // st_blocks counts 512-byte units whatever the file system's block size; a sparse or compressed
      // file occupies less than its length, a small one more.
      total += static_cast<int64_t>(info.st_blocks) * 512;
    }
  }
  closedir(dir);
  return total;
}

QString iconImageFile(const QString& imageName) {
  static std::once_flag once;
  std::call_once(once, initIconResources);
  for (const QString& suffix : {QStringLiteral(".png"), QStringLiteral(".svg"), QString()}) {
    const QString resource = QStringLiteral(":/images/") + imageName + suffix;
    if (!QFileInfo::exists(resource)) continue;
    // Icon stores keep a reference to a file, so the image needs a lasting place outside the program.
    const QString folder = StandardLocations::applicationSupportPath() + QStringLiteral("/Icons");
    const QString target = folder + QLatin1Char('/') + imageName + suffix;
    QFile source(resource);
    if (!QDir().mkpath(folder) || !source.open(QIODevice::ReadOnly)) return QString();
    const QByteArray bytes = source.readAll();
    QByteArray existing;
    if (SafeFile_ReadRegular(target, bytes.size(), &existing) && existing == bytes) return target;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) return QString();
    return target;
  }
  return QString();
}
}  // namespace

QString File_MakeSessionFolder(const QString& folderPath, const QString& name, bool reuse) {
  QString path = joinPath(folderPath, name);
  if (itemExists(path) && !reuse) path = firstFreePath(folderPath, name);
  if (!itemExists(path) && !QDir().mkpath(path)) return QString();
  return path;
}

QString File_UniquePath(const QString& folderPath, const QString& name, bool create) {
  if (!create) return firstFreePath(folderPath, name);
  for (;;) {
    const QString path = firstFreePath(folderPath, name);
    int error = 0;
    if (mkdirSingle(path, &error)) return path;
    // Someone took the name between the look and the creation: the next free name will do.
    if (error != EEXIST) return QString();
  }
}

QString File_UniqueFileName(const QString& folderPath, const QString& name) {
  return QFileInfo(firstFreePath(folderPath, name)).fileName();
}

bool File_WriteSettings(const QUrl& folder, const QString& baseName, const QString& extension,
                        const QVariantMap& dictionary, QString* errorText) {
  const QString name = extension.isEmpty() ? baseName : baseName + QLatin1Char('.') + extension;
  if (folder.isEmpty() || baseName.isEmpty()) return false;
  const QString path = joinPath(folder.toLocalFile(), name);
  QString error;
  bool written = false;
  if (extension == QLatin1String("plist")) {
    written = PropertyList_WriteFile(path, dictionary, PropertyListFormat::XML, &error);
  } else if (extension == QLatin1String("json")) {
    const QByteArray data = JSON_CFDataFromCF(dictionary);
    if (data.isEmpty()) error = QStringLiteral("no JSON form for ") + path;
    else written = SafeFile_Replace(path, data, &error);
  } else {
    return false;
  }
  if (!written) {
    ZRNLogger_Log(QStringLiteral("ATT: error writing settings %@: %@"), extension, error);
    if (errorText) *errorText = error;
  }
  return written;
}

QVariantMap File_InterfaceDefaultsKeys() {
  QVariantMap domain = UserDefaults::standard().persistentDomain();
  for (const char* key : {"NSWindow Frame NSNavPanelAutosaveName", "NSWindow Frame SUUpdateAlert",
                          "NSWindow Frame ZRNCaptureCombinedW", "NSNavPanelExpandedSizeForOpenMode",
                          "NSNavPanelExpandedStateForSaveMode", "NSNavPanelExpandedSizeForSaveMode",
                          "NSNavLastUserSetHideExtensionButtonState", "MBPreferencesSelection"})
    domain.remove(QString::fromLatin1(key));
  return domain;
}

void File_SetIsPackage(const QString& path) {
  QString error;
  if (!FileAttributes_SetXattr(path, QString::fromLatin1(kFile_PackageXattr), "1", &error))
    ZRNLogger_Log(QStringLiteral("ATT: cannot flag %@ as a package: %@"), path, error);
}

void File_SetHiddenExtension(const QString& path) {
  QString error;
  if (!FileAttributes_SetXattr(path, QString::fromLatin1(kFile_HiddenExtensionXattr), "1", &error))
    ZRNLogger_Log(QStringLiteral("ATT: cannot hide the extension of %@: %@"), path, error);
}

bool File_SetHidden(const QUrl& url) {
  const QString path = url.toLocalFile();
  return !path.isEmpty() && itemExists(path) && QFileInfo(path).fileName().startsWith(QLatin1Char('.'));
}

bool File_RevealInFinder(const QString& path, bool isFolder, bool* shown) {
  if (shown) *shown = false;
  if (path.isEmpty() || !itemExists(path)) return false;
  const bool taken = Workspace_RevealItem(path, isFolder);
  if (!taken) ZRNLogger_Log(QStringLiteral("ATT: cannot show %@ in a file manager"), path);
  if (shown) *shown = taken;
  return true;
}

void File_SetCustomIcon(const QUrl& url, const QString& imageName) {
  const QString image = iconImageFile(imageName);
  if (image.isEmpty()) {
    ZRNLogger_Log(QStringLiteral("ATT: no icon image %@"), imageName);
    return;
  }
  QString error;
  if (!FileAttributes_SetCustomIcon(url.toLocalFile(), image, &error))
    ZRNLogger_Log(QStringLiteral("ATT: cannot set the icon of %@: %@"), url.toLocalFile(), error);
}

void File_ClearCustomIcon(const QUrl& url) {
  QString error;
  if (!FileAttributes_ClearCustomIcon(url.toLocalFile(), &error))
    ZRNLogger_Log(QStringLiteral("ATT: cannot clear the icon of %@: %@"), url.toLocalFile(), error);
}

bool File_EnsureDirectory(const QUrl& url, bool create) {
  if (!create) return true;
  const QString path = url.toLocalFile();
  if (QFileInfo(path).isDir()) return true;
  if (!path.isEmpty() && QDir().mkpath(path)) return true;
  ZRNLogger_Log(QStringLiteral("ATT: dir creation failed, error: %@"),
                path.isEmpty() ? QStringLiteral("not a file URL: ") + url.toString() : QStringLiteral("cannot create ") + path);
  return false;
}

int64_t File_FolderSizeBytes(const QUrl& folder) {
  const QString path = folder.toLocalFile();
  if (path.isEmpty()) return 0;
  return folderBytes(QFile::encodeName(QDir::cleanPath(path)));
}

double File_FolderSizeMB(const QUrl& folder) { return static_cast<double>(File_FolderSizeBytes(folder)) / 1000000.0; }

namespace {
// The bytes that a decimal size figure of QLocale stands for: rounded to its last digit, in the unit that
// keeps the figure under 1000.
double shownBytes(qint64 bytes, int digits) {
  const int power = bytes > 0 ? static_cast<int>(std::log10(static_cast<double>(bytes))) / 3 : 0;
  const double step = std::pow(10.0, 3 * power - std::min(digits, 3 * power));
  return std::round(static_cast<double>(bytes) / step) * step;
}
}  // namespace

std::pair<QString, QString> File_SizeTextsApart(qint64 part, qint64 whole) {
  const QLocale locale;
  const auto text = [&](qint64 bytes, int digits) { return locale.formattedDataSize(bytes, digits, QLocale::DataSizeSIFormat); };
  // "1000.0 kB" and "1.0 MB" differ as texts but not as sizes. With three digits to a unit both figures
  // are exact, so the search ends there at the latest.
  int digits = 1;
  while (part != whole && digits < 18 &&
         (text(part, digits) == text(whole, digits) || shownBytes(part, digits) == shownBytes(whole, digits)))
    ++digits;
  return {text(part, digits), text(whole, digits)};
}

QUrl File_TempFileURL(const QString& baseName, const QString& extension, bool isFolder) {
  const QString folder = StandardLocations::tempPath();
  for (long n = 0;; ++n) {
    const QString suffix = n == 0 ? QString() : Fmt(QStringLiteral("_%li"), n);
    const QString candidate = joinPath(folder, Fmt(QStringLiteral("%@%@.%@"), baseName, suffix, extension));
    const QFileInfo info(candidate);
    if (!itemExists(candidate) || info.isDir() != isFolder) return QUrl::fromLocalFile(candidate);
  }
}

QUrl File_MakeSessionPackage(const QUrl& fileURL, const QString& extension) {
  const QFileInfo chosen(fileURL.toLocalFile());
  const QString parent = chosen.absolutePath();
  int ignored = 0;
  mkdirSingle(parent, &ignored);
  QString base, oldExtension;
  splitName(chosen.fileName(), &base, &oldExtension);
  const QString package = File_UniquePath(parent, Fmt(QStringLiteral("%@.%@"), base, extension), true);
  if (package.isEmpty()) {
    ZRNLogger_Log(QStringLiteral("ERR: cannot create the session package in %@"), parent);
    return QUrl();
  }
  File_SetHiddenExtension(package);
  File_SetIsPackage(package);
  return QUrl::fromLocalFile(package);
}

namespace {
// What stands in a run's temporary folder to name the run that made it.
const QString kRunNoteName = QStringLiteral(".velmora-run");
constexpr qint64 kRunNoteMaxBytes = 64;

// A real folder of this user's at `path` (a link to one is not).
bool isOwnRealFolder(const QString& path) {
  struct stat st = {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// Whether the run that made the temporary folder of process `pid` may still be going on.
bool runMayBeGoingOn(const QString& folder, qint64 pid) {
  QByteArray note;
  if (SafeFile_ReadRegular(joinPath(folder, kRunNoteName), kRunNoteMaxBytes, &note)) {
    const QString tag = QString::fromLatin1(note.trimmed());
    if (tag.startsWith(QString::number(pid) + QLatin1Char('-'))) return Process_RunTagIsAlive(tag);
  }
  // Without a note (the run was killed before it wrote one) the folder may belong to whoever has the id now.
  return Process_StartTime(pid) != 0;
}
}  // namespace

QString File_RunTemporaryFolder() {
  const QString folder = joinPath(StandardLocations::tempPath(), QStringLiteral("velmora-%1").arg(::getpid()));
  const QByteArray path = QFile::encodeName(folder);
  if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
    ZRNLogger_Log(QStringLiteral("ATT: %@ cannot be made: %@"), folder, Sys_ErrnoText(errno));
    return {};
  }
  if (!isOwnRealFolder(folder)) {
    ZRNLogger_Log(QStringLiteral("ATT: %@ is not a folder of this user's own: not used"), folder);
    return {};
  }
  // A folder that an earlier process of the same id left is taken over under this run's name.
  const QString notePath = joinPath(folder, kRunNoteName);
  const QByteArray tag = Process_RunTag().toLatin1();
  QByteArray note;
  QString error;
  if ((!SafeFile_ReadRegular(notePath, kRunNoteMaxBytes, &note) || note != tag) && !SafeFile_Replace(notePath, tag, &error))
    ZRNLogger_Log(QStringLiteral("ATT: %@"), error);
  return folder;
}

void File_RemoveTemporaryFoldersOfEndedRuns() {
  const QString temp = StandardLocations::tempPath();
  // The whole name, exactly: `$` alone would also let a name that ends in a line break through. The id
  // must read as this program writes one (Process_ParsePid).
  static const QRegularExpression runFolder(QRegularExpression::anchoredPattern(QStringLiteral("velmora-([0-9]+)")));
  const QStringList names = QDir(temp).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
  for (const QString& name : names) {
    const QRegularExpressionMatch match = runFolder.match(name);
    const qint64 pid = match.hasMatch() ? Process_ParsePid(match.captured(1)) : 0;
    const QString path = joinPath(temp, name);
    if (pid <= 0 || pid == ::getpid() || !isOwnRealFolder(path) || runMayBeGoingOn(path, pid)) continue;
    ZRNLogger_Log(QStringLiteral("removing %@, left by a run that has ended"), path);
    // Links inside are removed as links, and another file system mounted at or below it is never entered.
    if (const int error = SafeFile_RemoveOwnFolder(path); error != 0)
      ZRNLogger_Log(QStringLiteral("ATT: %@ could not be removed: %@"), path, Sys_ErrnoText(error));
  }
}

QImage File_ReadPicture(const QString& path, qint64 maxBytes) {
  QByteArray bytes;
  if (!SafeFile_ReadRegular(path, maxBytes, &bytes)) return {};
  QBuffer buffer(&bytes);
  QImageReader reader(&buffer);
  reader.setAutoTransform(true);
  const QImage image = reader.read();
  return image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
