#include "app/ZRNAppInstance.h"

#include "common/ZRNLogger.h"
#include "platform/foundation/Fmt.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/SysErrno.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// One reply byte tells the second start that its paths were taken.
constexpr char kTakenReply = '1';
// How often a second start looks again for the running one while it is not listening yet.
constexpr int kHandOverRetryMillis = 20;

// The lock of the one running Velmora, held by this process once taken; the kernel lets it go when the
// process ends, however it ends.
int gOneCopyLockFd = -1;

enum class LockResult { Taken, HeldElsewhere, Failed };

// Where the lock and the socket go without $XDG_RUNTIME_DIR: this user's own folder in the temporary folder.
QString U_PrivateTemporaryFolder() {
  return QDir::tempPath() + QStringLiteral("/%1-%2").arg(StandardLocations::appIdentifier()).arg(getuid());
}

QString U_LockPathIn(const QString& folder) {
  return folder + QLatin1Char('/') + StandardLocations::appIdentifier() + QStringLiteral(".lock");
}

LockResult takeOneCopyLock(QString* problem) {
  if (gOneCopyLockFd >= 0) return LockResult::Taken;
  const QString folder = AppInstance_RuntimeFolder();
  if (folder.isEmpty()) {
    *problem = Fmt(QStringLiteral("no folder of this user's own for it: neither $XDG_RUNTIME_DIR nor \"%@\""),
                   U_PrivateTemporaryFolder());
    return LockResult::Failed;
  }
  const QString path = U_LockPathIn(folder);
  // Never through a link, and never a pipe or anything else someone put there.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    *problem = Fmt(QStringLiteral("\"%@\": %@"), path, Sys_ErrnoText(errno));
    return LockResult::Failed;
  }
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
    ::close(fd);
    *problem = Fmt(QStringLiteral("\"%@\" is not a file of this user's own"), path);
    return LockResult::Failed;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return LockResult::HeldElsewhere;
    *problem = Fmt(QStringLiteral("\"%@\" cannot be locked: %@"), path, Sys_ErrnoText(error));
    return LockResult::Failed;
  }
  gOneCopyLockFd = fd;
  return LockResult::Taken;
}
}  // namespace

QString AppInstance_RuntimeFolder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()) return QDir::cleanPath(runtime);
  // Without one (no login session, su): a folder that only this user may enter, in the shared temporary
  // folder, where another user could have made the name first.
  const QString folder = U_PrivateTemporaryFolder();
  const QByteArray encoded = QFile::encodeName(folder);
  if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st = {};
  if (::lstat(encoded.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() || (st.st_mode & 077) != 0)
    return {};
  return folder;
}

QString AppInstance_ServerPath() {
  const QString folder = AppInstance_RuntimeFolder();
  if (folder.isEmpty())
    return U_PrivateTemporaryFolder() + QStringLiteral(".socket");
  return folder + QLatin1Char('/') + StandardLocations::appIdentifier() + QStringLiteral(".socket");
}

QString AppInstance_LockPath() {
  return U_LockPathIn(AppInstance_RuntimeFolder());
}

AppInstanceStart AppInstance_ClaimOrHandOver(const QStringList& paths, QString* problem, int waitMs) {
  QString ignored;
  if (!problem) problem = &ignored;
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    switch (takeOneCopyLock(problem)) {
      case LockResult::Taken: return AppInstanceStart::OneCopy;
      case LockResult::Failed:
        // Nobody can be sure to be the one: a Velmora that answers still takes the paths.
        return AppInstance_HandOverToRunningInstance(paths, waitMs) ? AppInstanceStart::HandedOver : AppInstanceStart::NoLock;
      case LockResult::HeldElsewhere: break;
    }
    // The holder may have taken the lock a moment ago and not be listening yet, or be quitting: then
    // nobody answers at once, and the lock is tried again.
    const int left = static_cast<int>(qMax<qint64>(waitMs - waited.elapsed(), kHandOverRetryMillis));
    if (AppInstance_HandOverToRunningInstance(paths, left)) return AppInstanceStart::HandedOver;
    if (waited.elapsed() >= waitMs) return AppInstanceStart::NotHandedOver;
    QThread::msleep(kHandOverRetryMillis);
  }
}

QStringList AppInstance_AbsolutePaths(const QStringList& arguments) {
  QStringList paths;
  for (const QString& argument : arguments) {
    if (argument.isEmpty() || argument.startsWith(QLatin1Char('-'))) continue;
    // Desktop entries may hand over file: URLs.
    const QString path = argument.startsWith(QLatin1String("file:")) ? QUrl(argument).toLocalFile() : argument;
    paths << QDir::cleanPath(QFileInfo(path).absoluteFilePath());
  }
  return paths;
}

bool AppInstance_HandOverToRunningInstance(const QStringList& paths, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(AppInstance_ServerPath());
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray message;
  QDataStream out(&message, QIODevice::WriteOnly);
  out << paths;
  socket.write(message);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  while (socket.bytesAvailable() < 1)
    if (!socket.waitForReadyRead(timeoutMs)) return false;
  char reply = 0;
  const bool taken = socket.read(&reply, 1) == 1 && reply == kTakenReply;
  socket.disconnectFromServer();
  return taken;
}

ZRNAppInstanceServer::ZRNAppInstanceServer(std::function<void(const QStringList&)> receiver, QObject* parent)
    : QObject(parent), m_receiver(std::move(receiver)), m_server(new QLocalServer(this)) {
  m_server->setSocketOptions(QLocalServer::UserAccessOption);
  connect(m_server, &QLocalServer::newConnection, this, &ZRNAppInstanceServer::acceptConnection);
}

ZRNAppInstanceServer::~ZRNAppInstanceServer() { m_server->close(); }

void ZRNAppInstanceServer::close() { m_server->close(); }

QString ZRNAppInstanceServer::serverPath() const { return m_server->fullServerName(); }

bool ZRNAppInstanceServer::listen() {
  const QString path = AppInstance_ServerPath();
  // Listening with access options replaces whatever socket file is there: ask first whether a running
  // Velmora answers on it.
  QLocalSocket probe;
  probe.connectToServer(path);
  if (probe.waitForConnected(500)) return false;
  // Nobody answers: a socket left over from a run that ended without closing it.
  QLocalServer::removeServer(path);
  if (m_server->listen(path)) return true;
  ZRNLogger_Log(QStringLiteral("ATT: cannot listen for other starts on %@: %@"), path, m_server->errorString());
  return false;
}

void ZRNAppInstanceServer::acceptConnection() {
  while (QLocalSocket* socket = m_server->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
      buffer->append(socket->readAll());
      QDataStream in(*buffer);
      QStringList paths;
      in.startTransaction();
      in >> paths;
      if (!in.commitTransaction()) return;  // the rest is still on its way
      buffer->clear();
      socket->write(&kTakenReply, 1);
      socket->flush();
      // Later, outside this socket's handler: opening files can run alerts.
      QMetaObject::invokeMethod(this, [this, paths] { if (m_receiver) m_receiver(paths); }, Qt::QueuedConnection);
    });
  }
}
