#pragma once
// Helpers of the crash-lock and first-aid tests: other running copies of the program, and lock files.

#include "firstaid/CrashLock.h"
#include "platform/system/ProcessIdentity.h"
#include "support/DialogTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <algorithm>

// The lock folder's entries, sorted.
inline QStringList Test_LockEntries() {
  QStringList names = QDir(CrashLock_FolderPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  names.sort();
  return names;
}

// Writes a lock file into the lock folder: a reference to the executable at `executable`, or the given bytes.
inline QString Test_WriteLock(const QString& name, const QString& executable, const QByteArray& bytes = {}) {
  QDir().mkpath(CrashLock_FolderPath());
  QFile file(CrashLock_FolderPath() + QLatin1Char('/') + name);
  if (!file.open(QIODevice::WriteOnly)) return {};
  file.write(executable.isEmpty() ? bytes : Process_ExecutableReference(Process_ExecutableIdentityOf(executable)));
  return file.fileName();
}

// A copy of a binary at `folder`/velmora.
inline QString Test_CopyBinary(const QString& source, const QString& folder) {
  const QString target = folder + QStringLiteral("/velmora");
  QFile::remove(target);
  if (!QFile::copy(source, target)) return {};
  QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  return target;
}

inline bool Test_IsRunningCopy(const QString& path) {
  const QList<RunningCopy> copies = Process_RunningCopies(kFirstAid_ExecutableName);
  return std::any_of(copies.cbegin(), copies.cend(), [&](const RunningCopy& copy) { return copy.executablePath == path; });
}

// Another copy of the program running beside the test, in the test's folders: an executable named
// "velmora" at its own path (the relaunch tool, which waits on its standard input until the copy is
// dropped, then runs /bin/true).
class Test_RunningCopy {
 public:
  explicit Test_RunningCopy(const QString& folder) {
    path = Test_CopyBinary(Test_BinaryPath(QStringLiteral("relaunchMe")), folder);
    process.start(path, {QStringLiteral("/bin/true")});
    process.waitForStarted(10000);
    Test_WaitUntil([this] { return Test_IsRunningCopy(path); });
  }
  ~Test_RunningCopy() {
    process.closeWriteChannel();
    process.waitForFinished(10000);
  }
  QString path;
  QProcess process;
};

// Answers the First Aid window with its OK button, then the message that follows its work (where the
// logs were saved, or why not) with OK; *message gets that message's text.
inline void Test_AnswerFirstAidThenItsMessage(QString* message) {
  Test_AnswerNextModal(QStringLiteral("okBtn"), [message](QWidget* firstAid) {
    Test_AnswerNextModal(QStringLiteral("okBtn"), [message](QWidget* shown) { *message = Test_LabelsText(shown); }, firstAid);
  });
}
