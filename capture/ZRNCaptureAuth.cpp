#include "capture/ZRNCaptureAuth.h"

#include "common/ZRNAlerts.h"
#include "common/ZRNAppHost.h"
#include "common/ZRNBaseClasses.h"
#include "common/ZRNLogger.h"
#include "platform/foundation/StandardLocations.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <optional>

namespace {

std::mutex gTerminateMutex;
std::function<void()> gTerminateHandler;

bool virtualDevicesEnabled() { return qEnvironmentVariable("VELMORA_VIRTUAL_DEVICES") == QLatin1String("1"); }

void requestTermination() {
  std::function<void()> handler;
  {
    std::lock_guard lock(gTerminateMutex);
    handler = gTerminateHandler;
  }
  if (handler)
    handler();
  else
    ZRNAppHost_Shared().terminate();
}

QString pulseSocketPath() {
  const QString server = qEnvironmentVariable("PULSE_SERVER");
  if (!server.isEmpty()) {
    // Only a local socket counts: "unix:/path" or a plain path. A network server is not checked.
    if (server.startsWith(QLatin1String("unix:"))) return server.mid(5);
    if (server.startsWith(QLatin1Char('/'))) return server;
    return {};
  }
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtime.isEmpty()) return {};
  return runtime + QStringLiteral("/pulse/native");
}

}  // namespace

QStringList Auth_DeviceNodesInFolder(MediaType mediaType, const QString& devFolder) {
  QStringList nodes;
  if (mediaType == MediaType::Video) {
    const QDir dir(devFolder);
    const QStringList names = dir.entryList({QStringLiteral("video*")},
                                            QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) nodes.append(dir.filePath(name));
  } else {
    const QDir dir(devFolder + QStringLiteral("/snd"));
    const QStringList names = dir.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : names) nodes.append(dir.filePath(name));
  }
  return nodes;
}

int Auth_CaptureAccessStateOfNodes(const QStringList& nodePaths) {
  if (nodePaths.isEmpty()) return kCaptureAccessGranted;
  for (const QString& path : nodePaths) {
    // The permission is checked rather than the device opened: opening a sound device that another
    // program holds fails with "busy", which says nothing about the user's rights.
    const QByteArray native = QFile::encodeName(path);
    if (faccessat(AT_FDCWD, native.constData(), R_OK | W_OK, AT_EACCESS) == 0) return kCaptureAccessGranted;
  }
  return kCaptureAccessDenied;
}

int Auth_CaptureAccessStateInFolder(MediaType mediaType, const QString& devFolder) {
  return Auth_CaptureAccessStateOfNodes(Auth_DeviceNodesInFolder(mediaType, devFolder));
}

bool Auth_PulseAudioServerReachable() {
  const QByteArray path = QFile::encodeName(pulseSocketPath());
  if (path.isEmpty()) return false;
  sockaddr_un address{};
  if (static_cast<size_t>(path.size()) >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool reached = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return reached;
}

int Auth_CaptureAccessState(MediaType mediaType) {
  if (virtualDevicesEnabled()) return kCaptureAccessGranted;
  const int state = Auth_CaptureAccessStateInFolder(mediaType, QStringLiteral("/dev"));
  if (state == kCaptureAccessDenied && mediaType == MediaType::Audio && Auth_PulseAudioServerReachable()) {
    // The sound server records for the user even when the raw sound devices are closed to them.
    return kCaptureAccessGranted;
  }
  return state;
}

// The resources live in the core library; registering them again is harmless.
static void ensureResources() { Q_INIT_RESOURCE(resources); }

QUrl Auth_PrivacySettingsURL(MediaType mediaType) {
  ensureResources();
  const QString folder = StandardLocations::applicationSupportPath() + QStringLiteral("/Help");
  const QString path = folder + QStringLiteral("/CaptureAccess.html");
  QDir().mkpath(folder);
  QFile source(QStringLiteral(":/html/CaptureAccess.html"));
  if (source.open(QIODevice::ReadOnly)) {
    QSaveFile target(path);
    if (!target.open(QIODevice::WriteOnly) || target.write(source.readAll()) < 0 || !target.commit()) {
      ZRNLogger_Log(QStringLiteral("ERR: Auth_PrivacySettingsURL: cannot write %@"), path);
    }
  } else {
    ZRNLogger_Log(QStringLiteral("ERR: Auth_PrivacySettingsURL: the help page is missing from the resources"));
  }
  QUrl url = QUrl::fromLocalFile(path);
  url.setFragment(mediaType == MediaType::Video ? QStringLiteral("camera") : QStringLiteral("microphone"));
  return url;
}

bool Auth_OpenPrivacySettings(MediaType mediaType) {
  const QUrl url = Auth_PrivacySettingsURL(mediaType);
  const bool opened = QDesktopServices::openUrl(url);
  if (!opened) ZRNLogger_Log(QStringLiteral("ERR: Auth_OpenPrivacySettings: cannot open %@"), url);
  return opened;
}

namespace {
std::optional<MediaType> mediaTypeNamed(const QString& name) {
  if (name == QLatin1String(kMediaTypeVideo)) return MediaType::Video;
  if (name == QLatin1String(kMediaTypeAudio)) return MediaType::Audio;
  return std::nullopt;
}
}  // namespace

int Auth_CaptureAccessState(const QString& mediaType) {
  const std::optional<MediaType> type = mediaTypeNamed(mediaType);
  return type ? Auth_CaptureAccessState(*type) : kCaptureAccessGranted;
}

void Auth_RequestCaptureAccess(const QString& mediaType, int alertID, std::function<void()> completion) {
  const std::optional<MediaType> type = mediaTypeNamed(mediaType);
  if (!type) {
    if (completion) completion();
    return;
  }
  Auth_RequestCaptureAccess(*type, alertID, std::move(completion));
}

void Auth_SetTerminateHandler(std::function<void()> handler) {
  std::lock_guard lock(gTerminateMutex);
  gTerminateHandler = std::move(handler);
}

void Auth_RequestCaptureAccess(MediaType mediaType, int alertID, std::function<void()> completion) {
  Auth_HandleCaptureAccessState(Auth_CaptureAccessState(mediaType), mediaType, alertID, std::move(completion));
}

void Auth_HandleCaptureAccessState(int state, MediaType mediaType, int alertID, std::function<void()> completion) {
  if (state == kCaptureAccessGranted) {
    if (completion) completion();
    return;
  }
  if (state != kCaptureAccessDenied) return;
  ZRNLogger_Log(QStringLiteral("ATT: Auth_RequestCaptureAccess: no access to the %@ devices"),
                mediaType == MediaType::Video ? "video" : "sound");
  if (Alert_ShowAlertWithID(alertID) == kDialogResultFirst) {
    Auth_OpenPrivacySettings(mediaType);
    requestTermination();
  }
}
