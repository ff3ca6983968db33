#pragma once
// One Velmora per user session owns the sessions: a second start hands the paths it was given to the
// running one through a local socket in $XDG_RUNTIME_DIR and exits. The running one receives them as
// the open-files event of the application delegate.

#include <QObject>
#include <QStringList>

#include <functional>

class QLocalServer;

// The socket of this user's running Velmora.
QString AppInstance_ServerPath();

// Paths as a second start hands them over: absolute, against this process's working folder.
QStringList AppInstance_AbsolutePaths(const QStringList& arguments);

// Hands the paths to a running Velmora and answers true once it has taken them (this process then
// exits); false when none runs. Blocks for at most timeoutMs; safe on any thread.
bool AppInstance_HandOverToRunningInstance(const QStringList& paths, int timeoutMs = 5000);

// Listens for later starts; every list of paths they hand over goes to the receiver on the main thread.
class ZRNAppInstanceServer : public QObject {
  Q_OBJECT
 public:
  explicit ZRNAppInstanceServer(std::function<void(const QStringList&)> receiver, QObject* parent = nullptr);
  ~ZRNAppInstanceServer() override;
  // Takes over the socket (a stale one left by a crash is replaced); false when it cannot listen.
  bool listen();
  QString serverPath() const;

 private:
  void acceptConnection();
  std::function<void(const QStringList&)> m_receiver;
  QLocalServer* m_server;
};
