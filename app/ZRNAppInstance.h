#pragma once
// One Velmora per user session owns the sessions. Which one is decided by a lock file in the user's
// runtime folder ($XDG_RUNTIME_DIR): the start that takes it holds it until its process ends and listens on
// a local socket beside it; a second start hands the paths it was given to the running one through that
// socket and exits. The running one receives them as the open-files event of the application delegate.

#include <QObject>
#include <QStringList>

#include <functional>

class QLocalServer;

// The folder of the lock and the socket: $XDG_RUNTIME_DIR, or else a folder of this user's own (mode 0700)
// in the temporary folder, made when missing; empty when neither can be had.
QString AppInstance_RuntimeFolder();
// The socket of this user's running Velmora.
QString AppInstance_ServerPath();
// The lock that the one running Velmora holds.
QString AppInstance_LockPath();

enum class AppInstanceStart {
  OneCopy,        // this process took the lock: it is the one Velmora and listens for later starts
  HandedOver,     // the running Velmora took the paths: this process ends
  NotHandedOver,  // a Velmora runs but did not take the paths in time: this process ends with an error
  NoLock,         // the lock cannot be taken or tested (*problem says why): nobody answered either
};

// The one step of a start that decides whether it is the one Velmora: takes the lock (at once, whoever
// else starts in the same moment), or else hands the paths to the holder, trying again while the holder
// is not listening yet, until it takes them, the lock comes free (the holder ended) or waitMs passed.
inline constexpr int kAppInstance_HandOverWaitMillis = 5000;
AppInstanceStart AppInstance_ClaimOrHandOver(const QStringList& paths, QString* problem,
                                             int waitMs = kAppInstance_HandOverWaitMillis);

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
  // Stops listening: a later start then waits for the lock instead of handing its paths to a Velmora
  // that is quitting.
  void close();
  QString serverPath() const;

 private:
  void acceptConnection();
  std::function<void(const QStringList&)> m_receiver;
  QLocalServer* m_server;
};
