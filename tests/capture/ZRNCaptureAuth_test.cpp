#include "capture/ZRNCaptureAuth.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// A folder standing for /dev that an unprivileged user can look into (the test home, and the temporary
// folder inside it, are private).
struct DevFolder {
  QTemporaryDir dir{QStringLiteral("/tmp/velmora-dev-XXXXXX")};
  DevFolder() {
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
  }
  QString path() const { return dir.path(); }
  // A node readable and writable by its owner only, or by everyone.
  void addNode(const QString& relative, bool everyoneMayUse) {
    const QString file = dir.path() + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(file).path());
    QFile::setPermissions(QFileInfo(file).path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                      QFile::ReadOther | QFile::ExeOther);
    QFile node(file);
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    node.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (everyoneMayUse) permissions |= QFile::ReadOther | QFile::WriteOther;
    ASSERT_TRUE(QFile::setPermissions(file, permissions));
  }
};

// The state the folder gives to a user without privileges and in none of the device groups: a child
// process drops to "nobody" and reports the state as its exit code (root's permission checks refuse
// nothing, so the refusal can only be seen this way).
int stateForUnprivilegedUser(MediaType type, const QString& folder) {
  const passwd* nobody = getpwnam("nobody");
  if (!nobody) return -1;
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  const QByteArray path = QFile::encodeName(folder);
  const pid_t child = fork();
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(100);
    if (getuid() == 0 || geteuid() == 0) _exit(101);
    _exit(Auth_CaptureAccessStateInFolder(type, QFile::decodeName(path)));
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -2;
  return WEXITSTATUS(status);
}

}  // namespace

TEST(CaptureAuth, FindsTheDeviceNodesOfEachType) {
  DevFolder dev;
  // by-path holds links, not nodes.
  for (const char* node : {"video0", "video10", "vbi0", "media0", "snd/controlC0", "snd/pcmC0D0c", "snd/by-path/pci-0000:00:1f.3"})
    dev.addNode(QString::fromLatin1(node), true);
  QDir().mkpath(dev.path() + QStringLiteral("/video-links"));
  auto names = [&](MediaType type) {
    QStringList found = Auth_DeviceNodesInFolder(type, dev.path());
    for (QString& node : found) node = QFileInfo(node).fileName();
    return found;
  };
  EXPECT_EQ(names(MediaType::Video), (QStringList{"video0", "video10"}));
  EXPECT_EQ(names(MediaType::Audio), (QStringList{"controlC0", "pcmC0D0c"}));

  EXPECT_TRUE(Auth_DeviceNodesInFolder(MediaType::Video, dev.path() + QStringLiteral("/missing")).isEmpty());
}

TEST(CaptureAuth, AccessStateFollowsThePermissionsOfTheNodes) {
  if (geteuid() != 0) GTEST_SKIP() << "dropping to another user needs root";
  struct Case {
    const char* name;
    QStringList privateNodes;  // owner (root) only
    QStringList openNodes;     // everyone may read and write
    MediaType type;
    int unprivileged;
  };
  const Case cases[] = {
      {"no camera at all", {}, {}, MediaType::Video, kCaptureAccessGranted},
      {"only nodes of other kinds", {QStringLiteral("vbi0"), QStringLiteral("snd/controlC0")}, {}, MediaType::Video,
       kCaptureAccessGranted},
      {"one camera, closed to the user", {QStringLiteral("video0")}, {}, MediaType::Video, kCaptureAccessDenied},
      {"two cameras, one usable", {QStringLiteral("video0")}, {QStringLiteral("video1")}, MediaType::Video,
       kCaptureAccessGranted},
      {"no sound device", {QStringLiteral("video0")}, {}, MediaType::Audio, kCaptureAccessGranted},
      {"sound devices closed to the user", {QStringLiteral("snd/controlC0"), QStringLiteral("snd/pcmC0D0c")}, {},
       MediaType::Audio, kCaptureAccessDenied},
      {"one sound device usable", {QStringLiteral("snd/controlC0")}, {QStringLiteral("snd/pcmC0D0c")},
       MediaType::Audio, kCaptureAccessGranted},
  };
  for (const Case& c : cases) {
    DevFolder dev;
    for (const QString& node : c.privateNodes) dev.addNode(node, false);
    for (const QString& node : c.openNodes) dev.addNode(node, true);
    EXPECT_EQ(stateForUnprivilegedUser(c.type, dev.path()), c.unprivileged) << c.name;
    // The owner may use every node.
    EXPECT_EQ(Auth_CaptureAccessStateInFolder(c.type, dev.path()), kCaptureAccessGranted) << c.name;
  }
}

TEST(CaptureAuth, VirtualDevicesAreAlwaysGranted) {
  setenv("VELMORA_VIRTUAL_DEVICES", "1", 1);
  EXPECT_EQ(Auth_CaptureAccessState(MediaType::Video), kCaptureAccessGranted);
  EXPECT_EQ(Auth_CaptureAccessState(MediaType::Audio), kCaptureAccessGranted);
  unsetenv("VELMORA_VIRTUAL_DEVICES");
}

TEST(CaptureAuth, SoundServerIsReachableOnlyWhenItListens) {
  const QString folder = Test_MakeTempDir(QStringLiteral("pulse"));
  const QString socketPath = folder + QStringLiteral("/native");
  setenv("PULSE_SERVER", ("unix:" + socketPath).toUtf8().constData(), 1);
  EXPECT_FALSE(Auth_PulseAudioServerReachable());

  const int server = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(server, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const QByteArray native = QFile::encodeName(socketPath);
  std::memcpy(address.sun_path, native.constData(), static_cast<size_t>(native.size()));
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(server, 4), 0);
  EXPECT_TRUE(Auth_PulseAudioServerReachable());
  close(server);
  EXPECT_FALSE(Auth_PulseAudioServerReachable());  // the socket file stays, nobody answers

  setenv("PULSE_SERVER", "tcp:localhost", 1);  // a network server is not probed
  EXPECT_FALSE(Auth_PulseAudioServerReachable());
  unsetenv("PULSE_SERVER");
}
