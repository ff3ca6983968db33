#pragma once
// Ending the real executable from a state (startup note, waiting-for-device dialog, naming panel, an
// alert, recording, idle) in each way (SIGTERM, SIGINT, Quit): it must end within 5 s with exit code 0
// and a closed log.
//
// Signals are sent to Velmora running on the offscreen platform. Keys (Quit, and reaching the recording
// and idle states) need a platform that takes input from outside the process: the VNC platform, just
// as headless, to which the test talks RFB as a keyboard.

#include "platform/system/PrivateDBus.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>

namespace terminationtest {
enum class End { SIGTERM_, SIGINT_, Quit };
enum class State { StartupNote, WaitingForDevice, NamingPanel, Alert, Recording, Idle };

inline const char* name(End end) { return end == End::SIGTERM_ ? "SIGTERM" : end == End::SIGINT_ ? "SIGINT" : "Quit"; }

// X keysyms the VNC platform understands.
inline constexpr quint32 kKeyControl = 0xffe3;
inline constexpr quint32 kKeyReturn = 0xff0d;

// The smallest RFB client there is: no pictures, only keys.
class VncKeyboard {
 public:
  bool connect(quint16 port) {
    m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!m_socket.waitForConnected(5000)) return false;
    if (readExactly(12).left(4) != "RFB ") return false;
    m_socket.write("RFB 003.003\n");
    // Security type (none), then the client's init (shared) and the server's description of its screen.
    if (readExactly(4).size() != 4) return false;
    m_socket.write("\x01", 1);
    const QByteArray init = readExactly(24);
    if (init.size() != 24) return false;
    const quint32 nameLength = qFromBigEndian<quint32>(init.constData() + 20);
    return readExactly(int(nameLength)).size() == int(nameLength);
  }
  // Presses the keys in order and lets them go in reverse order.
  void chord(std::initializer_list<quint32> keys) {
    for (quint32 key : keys) send(key, true);
    for (auto it = std::rbegin(keys); it != std::rend(keys); ++it) send(*it, false);
    m_socket.waitForBytesWritten(2000);
  }

 private:
  void send(quint32 key, bool down) {
    char message[8] = {4, char(down ? 1 : 0), 0, 0};
    qToBigEndian<quint32>(key, message + 4);
    m_socket.write(message, sizeof message);
  }
  QByteArray readExactly(int size) {
    QByteArray data;
    while (data.size() < size) {
      if (!m_socket.bytesAvailable() && !m_socket.waitForReadyRead(5000)) break;
      data += m_socket.read(size - data.size());
    }
    return data;
  }
  QTcpSocket m_socket;
};

inline quint16 freePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

inline QString readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class RunningVelmora {
 public:
  RunningVelmora(State state, bool withKeys, const QString& busAddress, const QMap<QString, QString>& moreEnvironment = {})
      : m_home(Test_MakeTempDir(QStringLiteral("home"))) {
    const QString prefsFile = m_home + QStringLiteral("/.config/org.velmora.Velmora.plist");
    // The note shows at a first start; every other state starts after it was seen a moment ago.
    if (state != State::StartupNote) {
      EXPECT_TRUE(Test_SeedLaunchedPrefs(prefsFile));
    }
    // Without any camera the saved one never comes: the waiting dialog stays.
    QProcessEnvironment env = Test_ExecutableEnvironment(m_home, state != State::WaitingForDevice);
    if (!busAddress.isEmpty()) {
      env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
      env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    }
    for (auto it = moreEnvironment.begin(); it != moreEnvironment.end(); ++it) env.insert(it.key(), it.value());
    if (withKeys) {
      m_port = freePort();
      env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("vnc:port=%1").arg(m_port));
    }
    QStringList arguments;
    if (state == State::Alert) arguments << m_home + QStringLiteral("/Cup Finl.vlvidcapb");
    m_process.setProcessEnvironment(env);
    m_process.setWorkingDirectory(m_home);  // where the naming panel proposes to save
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(Test_VelmoraExecutable(), arguments);
    m_started = m_process.waitForStarted(10000);
    m_pid = m_process.processId();
  }
  ~RunningVelmora() {
    if (m_process.state() != QProcess::NotRunning) {
      m_process.kill();
      m_process.waitForFinished(5000);
    }
  }

  bool started() const { return m_started; }
  QString home() const { return m_home; }
  QString prefs() const { return readAll(m_home + QStringLiteral("/.config/org.velmora.Velmora.plist")); }
  QString log() const {
    QDirIterator it(m_home + QStringLiteral("/.local/state/org.velmora.Velmora/Debug_Logs"),
                    {QStringLiteral("%1_Debug.log").arg(m_pid)}, QDir::Files, QDirIterator::Subdirectories);
    return it.hasNext() ? readAll(it.next()) : QString();
  }
  bool waitForLog(const QString& text, int timeoutMs = 20000) const {
    return Test_WaitUntil([&] { return log().contains(text); }, timeoutMs);
  }
  // The size of the movie being recorded in the (one) session package of the home folder.
  qint64 recordedBytes() const {
    QDirIterator it(m_home, {QStringLiteral("VLCapturedMovie.*")}, QDir::Files, QDirIterator::Subdirectories);
    return it.hasNext() ? QFileInfo(it.next()).size() : 0;
  }
  bool connectKeyboard() { return m_keyboard.connect(m_port); }
  void keys(std::initializer_list<quint32> chord) { m_keyboard.chord(chord); }
  void signal(int number) { ::kill(static_cast<pid_t>(m_pid), number); }
  bool finishedWithin(int milliseconds) { return m_process.waitForFinished(milliseconds); }
  QProcess& process() { return m_process; }

 private:
  QString m_home;
  QProcess m_process;
  qint64 m_pid = 0;
  bool m_started = false;
  quint16 m_port = 0;
  VncKeyboard m_keyboard;
};

// Brings Velmora into the state; false (with a failure) when it never got there.
inline bool reach(RunningVelmora& velmora, State state) {
  switch (state) {
    case State::StartupNote:
      return velmora.waitForLog(QStringLiteral("showStartupTermsOfServiceDialog"));
    case State::WaitingForDevice:
      return velmora.waitForLog(QStringLiteral("ATT: waiting for a camera"));
    case State::NamingPanel:
      return velmora.waitForLog(QStringLiteral("getSaveName"));
    case State::Alert:
      return velmora.waitForLog(QStringLiteral("alert 20014"));
    case State::Idle:
    case State::Recording:
      if (!velmora.waitForLog(QStringLiteral("getSaveName"))) return false;
      // The proposed name is taken: the live window waits with its picture.
      velmora.keys({kKeyReturn});
      if (!Test_WaitUntil([&] { return velmora.prefs().contains(QStringLiteral("ZRNSaveTargetDirectory")); }, 20000))
        return false;
      if (state == State::Idle) return true;
      velmora.keys({kKeyControl, 'r'});
      if (!velmora.waitForLog(QStringLiteral("recording size:"))) return false;
      // Recording for real: the movie holds more than its first pictures when the end comes.
      return Test_WaitUntil([&] { return velmora.recordedBytes() > 300000; }, 20000);
  }
  return false;
}

inline void endAndCheck(State state, End end) {
  SCOPED_TRACE(name(end));
  const bool withKeys = end == End::Quit || state == State::Recording || state == State::Idle;
  // While recording, the desktop's services are stand-ins on a private bus: logind's locks and the
  // screen saver, which must be held off while recording and given back by the end.
  std::unique_ptr<PrivateBusDaemon> bus;
  std::unique_ptr<FakeDesktopOnBus> desktop;
  if (state == State::Recording) {
    bus = std::make_unique<PrivateBusDaemon>();
    if (bus->isRunning())
      desktop = std::make_unique<FakeDesktopOnBus>(
          bus->address(), QStringList{QStringLiteral("org.freedesktop.login1"), QStringLiteral("org.freedesktop.ScreenSaver")});
  }
  RunningVelmora velmora(state, withKeys, desktop ? bus->address() : QString());
  ASSERT_TRUE(velmora.started());
  if (withKeys) {
    ASSERT_TRUE(Test_WaitUntil([&] { return velmora.connectKeyboard(); }, 20000));
  }
  ASSERT_TRUE(reach(velmora, state)) << velmora.log().toStdString();
  if (desktop) {
    ASSERT_TRUE(Test_WaitUntil([&] { return desktop->services().screenSaverHolds() == 1; }));
  }

  switch (end) {
    case End::SIGTERM_: velmora.signal(SIGTERM); break;
    case End::SIGINT_: velmora.signal(SIGINT); break;
    case End::Quit:
      velmora.keys({kKeyControl, 'q'});
      if (state == State::Recording) {
        // Quit asks first while recording; its first button saves and quits.
        ASSERT_TRUE(velmora.waitForLog(QStringLiteral("alert 20007"))) << velmora.log().toStdString();
        velmora.keys({kKeyReturn});
      }
      break;
  }
  ASSERT_TRUE(velmora.finishedWithin(5000)) << "still running 5 s later\n" << velmora.log().toStdString();
  EXPECT_EQ(velmora.process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(velmora.process().exitCode(), 0);
  const QString log = velmora.log();
  EXPECT_TRUE(log.trimmed().endsWith(QStringLiteral("prepare to ZRNLogger_Stop"))) << log.toStdString();

  if (qEnvironmentVariableIsSet("DEBUG15")) fprintf(stderr, "==== %s\n%s\n", name(end), log.toUtf8().constData());
  if (state == State::StartupNote) {
    // Ended from outside, the note was not answered: no web page, and it is still due.
    EXPECT_FALSE(log.contains(QStringLiteral(" open "))) << log.toStdString();
    EXPECT_FALSE(velmora.prefs().contains(QStringLiteral("HVNoteDate")));
  }
  if (state == State::Recording) {
    // The recording was saved whole: its movie is there and the package is no longer marked unfinished.
    const QStringList packages = QDir(velmora.home()).entryList({QStringLiteral("*.vlvidcapb")}, QDir::Dirs);
    ASSERT_EQ(packages.size(), 1);
    const QDir package(velmora.home() + QLatin1Char('/') + packages.first());
    EXPECT_FALSE(package.entryList({QStringLiteral("VLCapturedMovie.*")}, QDir::Files).isEmpty());
    EXPECT_FALSE(package.exists(QStringLiteral("VLRecording.lock")));
    if (desktop) {
      EXPECT_EQ(desktop->services().screenSaverHolds(), 0);
      for (const auto& lock : desktop->services().locks()) EXPECT_FALSE(FakeDesktopServices::isHeld(lock)) << qPrintable(lock.what);
    }
  }
}

inline void endEachWay(State state) {
  for (End end : {End::SIGTERM_, End::SIGINT_, End::Quit}) endAndCheck(state, end);
}
}  // namespace terminationtest

