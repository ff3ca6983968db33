// The clean-ups at start: what ended runs left in the temporary folder ("velmora-<pid>", a conversion's
// temporary package) and beside an old session folder (a conversion's copy on its way into place). Only
// names exactly as a run writes them, of this user, go, and no removal reaches into another mount.

#include "app/VLConvertLegacySessionWC.h"
#include "common/ZRNFileFunctions.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/system/PrivateDBus.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>

#include <iostream>
#include <unistd.h>

namespace {

// 4194999 and its neighbours are above the kernel's largest id (2^22): runs that have ended.
const QString kForty(40, QLatin1Char('7'));

class StartCleanupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp = Test_MakeTempDir(QStringLiteral("cleanup-tmp"));
    beside = Test_MakeTempDir(QStringLiteral("cleanup-beside"));
    tmpdir = std::make_unique<ScopedEnvironment>("TMPDIR", QFile::encodeName(temp));
    // A conversion of a run that was killed noted where its copy stood.
    const QString notes = QDir(StandardLocations::applicationSupportPath()).filePath(QStringLiteral("ConversionsUnderway"));
    ASSERT_TRUE(QDir().mkpath(notes));
    ASSERT_TRUE(SafeFile_Replace(QDir(notes).filePath(QStringLiteral("4194999-5")), beside.toUtf8()));
  }
  void TearDown() override {
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it)
      QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), *it});
  }
  // Another folder, with a file in it, mounted at `at` (made when missing). False when mounting is not
  // possible here (the suite runs as root in CI).
  bool mountOutside(const QString& at) {
    const QString outside = Test_MakeTempDir(QStringLiteral("outside"));
    QFile kept(QDir(outside).filePath(QStringLiteral("kept")));
    if (!kept.open(QIODevice::WriteOnly) || kept.write("mine") != 4) return false;
    kept.close();
    QDir().mkpath(at);
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), outside, at}) != 0) return false;
    mounts << at;
    outsides << outside;
    return true;
  }

  QString temp, beside;
  std::unique_ptr<ScopedEnvironment> tmpdir;
  QStringList mounts, outsides;
};

TEST_F(StartCleanupTest, OnlyExactNamesOfEndedRunsOfThisUserGoAndNoRemovalEntersAnotherMount) {
  enum Kind { Plain, OtherUser, MountedAt, MountInside };
  const struct {
    QString folder;
    QString name;
    Kind kind;
    bool goes;
  } cases[] = {
      {temp, QStringLiteral("velmora-4194998"), Plain, true},
      {temp, QStringLiteral("velmora-") + QString(18, QLatin1Char('4')), Plain, false},  // no id is that long
      {temp, QStringLiteral("velmora-4194997"), MountedAt, false},
      {temp, QStringLiteral("velmora-4194996"), MountInside, false},
      {temp, QStringLiteral("VLImportedSession-4194999-77.vlvidcapb"), Plain, true},
      {temp, QStringLiteral("VLImportedSession-4194999-77_2.vlvidcapb"), Plain, true},
      {temp, QStringLiteral("VLImportedSession-040001-12345.vlvidcapb"), Plain, false},
      {temp, QStringLiteral("VLImportedSession-4194999-77_02.vlvidcapb"), Plain, false},
      {temp, QStringLiteral("VLImportedSession-%1-77.vlvidcapb").arg(kForty), Plain, false},
      {temp, QStringLiteral("VLImportedSession-4194999-%1.vlvidcapb").arg(kForty), Plain, false},
      {temp, QStringLiteral("VLImportedSession-4194999-0.vlvidcapb"), Plain, false},
      {temp, QStringLiteral("VLImportedSession-4194999-78.vlvidcapb"), OtherUser, false},
      {temp, QStringLiteral("VLImportedSession-4194999-79.vlvidcapb"), MountedAt, false},
      {temp, QStringLiteral("VLImportedSession-4194999-80.vlvidcapb"), MountInside, false},
      {beside, QStringLiteral(".Cup.vlvidcapb.converting-4194999-5"), Plain, true},
      {beside, QStringLiteral(".Cup.vlvidcapb.converting-4194999-05"), Plain, false},
      {beside, QStringLiteral(".Derby.vlvidcapb.converting-4194999-6"), MountedAt, false},
  };
  // Mounts and another user's folders need root (as the suite runs in CI); elsewhere those cases are left out.
  QStringList leftOut;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    const QString path = QDir(c.folder).filePath(c.name);
    ASSERT_TRUE(QDir().mkpath(path));
    if (c.kind != MountedAt) {
      ASSERT_TRUE(SafeFile_Replace(QDir(path).filePath(QStringLiteral("page")), "page"));
    }
    const bool made = c.kind == Plain ||
                      (c.kind == OtherUser && ::geteuid() == 0 &&
                       ::chown(QFile::encodeName(path).constData(), 65534, 65534) == 0) ||
                      (c.kind == MountedAt && mountOutside(path)) ||
                      (c.kind == MountInside && mountOutside(QDir(path).filePath(QStringLiteral("inside"))));
    if (!made) {
      QDir(path).removeRecursively();
      leftOut << c.name;
    }
  }
  if (!leftOut.isEmpty()) std::cout << "[ NOTE ] left out without root: " << leftOut.join(QStringLiteral(", ")).toStdString() << std::endl;

  File_RemoveTemporaryFoldersOfEndedRuns();
  Legacy_RemoveLeftovers();

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name.toStdString());
    if (!leftOut.contains(c.name)) {
      EXPECT_EQ(QFileInfo::exists(QDir(c.folder).filePath(c.name)), !c.goes);
    }
  }
  for (const QString& outside : outsides) {
    QFile kept(QDir(outside).filePath(QStringLiteral("kept")));
    EXPECT_TRUE(kept.open(QIODevice::ReadOnly) && kept.readAll() == "mine") << outside.toStdString() << " was entered";
  }
}

}  // namespace
