#include "app/ZRNAppInstance.h"

#include "common/ZRNLogger.h"
#include "platform/foundation/StandardLocations.h"

#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace {
// One reply byte tells the second start that its paths were taken.
constexpr char kTakenReply = '1';
}  // namespace

QString AppInstance_ServerPath() {
  QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (folder.isEmpty() || !QFileInfo(folder).isDir())
    return QDir::tempPath() + QStringLiteral("/%1-%2.socket").arg(StandardLocations::appIdentifier()).arg(getuid());
  return folder + QLatin1Char('/') + StandardLocations::appIdentifier() + QStringLiteral(".socket");
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
