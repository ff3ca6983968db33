#include "firstaid/CrashLock.h"

#include "firstaid/FirstAidLogs.h"
#include "platform/foundation/StandardLocations.h"
#include "tests/firstaid/FirstAidTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

namespace {
class CrashLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QDir(StandardLocations::applicationSupportPath()).removeRecursively();
    setCrashLockFileURL(QUrl());
  }
  void TearDown() override { setCrashLockFileURL(QUrl()); }
  QString own() const { return Process_OwnExecutable().path; }
};
}  // namespace

TEST_F(CrashLockTest, LocksWrittenWithinOneSecondTakeSuffixesAndPointToTheExecutable) {
  // Two writes fall into one second almost always; a pair split by a second boundary is written again.
  QStringList names;
  for (int attempt = 0; attempt < 5; ++attempt) {
    QDir(CrashLock_FolderPath()).removeRecursively();
    U_WriteCrashSemaphore();
    U_WriteCrashSemaphore();
    U_WriteCrashSemaphore();
    names = Test_LockEntries();
    if (names.size() == 3 && names[1] == names[0] + QStringLiteral(".1")) break;
  }
  ASSERT_EQ(names.size(), 3);
  EXPECT_TRUE(names[0].contains(QRegularExpression(QStringLiteral("^lockfile_\\d{9,}$")))) << names[0].toStdString();
  EXPECT_EQ(names[1], names[0] + QStringLiteral(".1"));
  EXPECT_EQ(names[2], names[0] + QStringLiteral(".2")) << "each suffix is formed from the first name";
  // The last one written is this run's lock.
  EXPECT_EQ(crashLockFileURL().toLocalFile(), CrashLock_FolderPath() + QLatin1Char('/') + names[2]);
  for (const QString& name : names) {
    QString path;
    EXPECT_EQ(readContentsOfFile(CrashLock_FolderPath() + QLatin1Char('/') + name, &path), 0);
    EXPECT_EQ(path, own());
  }
  // Seconds since 2001-01-01 UTC.
  const qint64 seconds = names[0].mid(9).toLongLong();
  EXPECT_NEAR(static_cast<double>(seconds), QDateTime::currentSecsSinceEpoch() - 978307200.0, 5.0);
}

TEST_F(CrashLockTest, ReadingALockTellsEveryKindOfFile) {
  const QString folder = Test_MakeTempDir(QStringLiteral("locks"));
  const QString copy = Test_CopyBinary(Test_BinaryPath(QStringLiteral("relaunchMe")), Test_MakeTempDir(QStringLiteral("copy")));
  const QString gone = Test_CopyBinary(Test_BinaryPath(QStringLiteral("relaunchMe")), Test_MakeTempDir(QStringLiteral("gone")));
  const QByteArray goneReference = Process_ExecutableReference(Process_ExecutableIdentityOf(gone));
  QFile::remove(gone);
  // Replaced by another file under the same path: the identity no longer matches.
  const QString replaced = Test_CopyBinary(Test_BinaryPath(QStringLiteral("relaunchMe")), Test_MakeTempDir(QStringLiteral("replaced")));
  const QByteArray replacedReference = Process_ExecutableReference(Process_ExecutableIdentityOf(replaced));
  // The new file is made while the old one still exists, so it cannot take over its inode.
  QFile::copy(Test_BinaryPath(QStringLiteral("relaunchMe")), replaced + QStringLiteral(".new"));
  ASSERT_EQ(std::rename(QFile::encodeName(replaced + QStringLiteral(".new")).constData(), QFile::encodeName(replaced).constData()), 0);
  auto write = [&](const QString& name, const QByteArray& bytes) {
    QFile file(folder + QLatin1Char('/') + name);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return file.fileName();
  };
  QFile::link(write(QStringLiteral("target"), Process_ExecutableReference(Process_ExecutableIdentityOf(copy))),
              folder + QStringLiteral("/link"));
  const struct {
    const char* name;
    QString path;
    int status;
    QString resolved;
  } cases[] = {
      {"a reference to an existing executable", write(QStringLiteral("good"), Process_ExecutableReference(Process_ExecutableIdentityOf(copy))), 0, copy},
      {"an empty file", write(QStringLiteral("empty"), {}), 0, QString()},
      {"bytes that are no reference", write(QStringLiteral("junk"), "not a reference at all"), -43, QString()},
      {"a reference to a deleted executable", write(QStringLiteral("gone"), goneReference), -43, QString()},
      {"a reference to a replaced executable", write(QStringLiteral("replaced"), replacedReference), -43, QString()},
      {"a file far too big to be a reference", write(QStringLiteral("big"), QByteArray(100000, 'x')), -43, QString()},
      {"no path", QString(), -43, QString()},
      {"a missing file", folder + QStringLiteral("/missing"), ENOENT, QString()},
      {"a link", folder + QStringLiteral("/link"), ELOOP, QString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QString path;
    EXPECT_EQ(readContentsOfFile(c.path, &path), c.status);
    EXPECT_EQ(path, c.resolved);
  }
}

TEST_F(CrashLockTest, AloneAnyEntryIsACrashAndAStrayFileStaysOne) {
  EXPECT_FALSE(U_CrashSemaphoreExists()) << "no folder";
  QDir().mkpath(CrashLock_FolderPath());
  EXPECT_FALSE(U_CrashSemaphoreExists()) << "an empty folder";
  // The clean-up of a normal start removes an empty folder.
  U_ClearCrashSemaphore(true, false);
  EXPECT_FALSE(QFileInfo::exists(CrashLock_FolderPath()));

  Test_WriteLock(QStringLiteral("notes.txt"), QString(), "anything");
  for (int launch = 0; launch < 3; ++launch) {
    SCOPED_TRACE(launch);
    EXPECT_TRUE(U_CrashSemaphoreExists());
    // What a normal start does: its own lock comes and goes, the stray file stays.
    U_ClearCrashSemaphore(true, false);
    U_WriteCrashSemaphore();
    U_ClearCrashSemaphore(true, false);
    EXPECT_EQ(Test_LockEntries(), QStringList{QStringLiteral("notes.txt")});
  }
}

TEST_F(CrashLockTest, WithAnotherCopyRunningOnlyLocksOfStoppedCopiesAreCrashes) {
  Test_RunningCopy other(Test_MakeTempDir(QStringLiteral("other")));
  ASSERT_TRUE(Test_IsRunningCopy(other.path));
  ASSERT_EQ(Process_RunningCopies(kFirstAid_ExecutableName).size(), 2);
  const QString deletedCopy = Test_CopyBinary(Test_BinaryPath(QStringLiteral("relaunchMe")), Test_MakeTempDir(QStringLiteral("deleted")));
  const QString deletedLock = Test_WriteLock(QStringLiteral("lockfile_1"), deletedCopy);
  QFile::remove(deletedCopy);
  Test_WriteLock(QStringLiteral("lockfile_2"), other.path);
  // Names that are no lock are passed over while copies run.
  Test_WriteLock(QStringLiteral("notes.txt"), QString(), "anything");
  EXPECT_FALSE(U_CrashSemaphoreExists()) << "the other copy's lock and a deleted copy's lock are no crash";

  const QString stoppedCopy = Test_CopyBinary(Test_BinaryPath(QStringLiteral("relaunchMe")), Test_MakeTempDir(QStringLiteral("stopped")));
  const QString stoppedLock = Test_WriteLock(QStringLiteral("lockfile_3"), stoppedCopy);
  EXPECT_TRUE(U_CrashSemaphoreExists()) << "a copy that is not running left its lock";
  QFile::remove(stoppedLock);
  const QString ownLock = Test_WriteLock(QStringLiteral("lockfile_4"), own());
  EXPECT_TRUE(U_CrashSemaphoreExists()) << "our own executable's lock from an earlier run";
  QFile::remove(ownLock);
  const QString emptyLock = Test_WriteLock(QStringLiteral("lockfile_5"), QString());
  EXPECT_TRUE(U_CrashSemaphoreExists()) << "an empty lock";
  QFile::remove(emptyLock);

  // The clean-up after first aid removes what nobody runs any more and keeps the running copy's lock.
  U_ClearCrashSemaphore(false, true);
  EXPECT_FALSE(QFileInfo::exists(deletedLock));
  EXPECT_EQ(Test_LockEntries(), (QStringList{QStringLiteral("lockfile_2"), QStringLiteral("notes.txt")}));
}

TEST_F(CrashLockTest, TheOrphanCleanUpAloneRemovesTheOldItem) {
  const QString oldItem = StandardLocations::applicationSupportPath() + QLatin1Char('/') + kCrashLock_OldItemName;
  QDir().mkpath(oldItem);
  {
    Test_RunningCopy other(Test_MakeTempDir(QStringLiteral("other")));
    U_ClearCrashSemaphore(false, true);
    EXPECT_TRUE(QFileInfo(oldItem).isDir()) << "another copy may still use it";
  }
  ASSERT_TRUE(Test_WaitUntil([] { return Process_RunningCopies(kFirstAid_ExecutableName).size() == 1; }));
  U_ClearCrashSemaphore(false, true);
  EXPECT_FALSE(QFileInfo::exists(oldItem));
}

TEST(FirstAidAtLaunch, OnlyCtrlAndAltTogetherAskForFirstAid) {
  const struct {
    Qt::KeyboardModifiers held;
    bool asks;
  } cases[] = {{Qt::NoModifier, false},
               {Qt::ControlModifier, false},
               {Qt::AltModifier, false},
               {Qt::ShiftModifier | Qt::AltModifier, false},
               {Qt::ControlModifier | Qt::AltModifier, true},
               {Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier, true}};
  for (const auto& c : cases) EXPECT_EQ(FirstAid_ModifiersAskForFirstAid(c.held), c.asks) << c.held.toInt();
}
