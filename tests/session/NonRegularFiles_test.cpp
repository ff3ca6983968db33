// Every reader of Velmora's own files (preferences, settings, property lists) takes only a regular file:
// a pipe, a device or a folder at the name is refused as unreadable at once, never waited on, and left
// where it is.

#include "common/ZRNAppPrefs.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SafeFile.h"
#include "platform/foundation/UserDefaults.h"
#include "session/VLDocument.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Runs read on a worker and answers whether it came back within seconds. A reader still waiting on the
// pipe is released (a writer opens and closes it, so it reads an end of file) before the test fails.
bool returnsAtOnce(const QString& pipe, const std::function<bool()>& read, bool* result) {
  std::future<bool> done = std::async(std::launch::async, read);
  if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
    *result = done.get();
    return true;
  }
  // Each open of the pipe for reading waits anew: keep releasing until the reader is through.
  do {
    const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
  } while (done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready);
  *result = done.get();
  return false;
}

bool isPipe(const QString& path) {
  struct stat st = {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

const QString kNotRegular = QStringLiteral("not a regular file");

}  // namespace

TEST(NonRegularFiles, EveryReaderRefusesAPipeAtOnceAndLeavesIt) {
  const struct {
    const char* name;
    const char* fileName;
    std::function<bool(const QString&)> refuses;
  } readers[] = {
      {"a property list", "Settings.plist",
       [](const QString& path) {
         QString error;
         return !PropertyList_ReadFile(path, &error).isValid() && error.contains(kNotRegular);
       }},
      {"a session's settings file", "VLSettings.json",
       [](const QString& path) {
         const VLSettingsFileRead read = VLDocument_ReadSettings(path);
         return read.outcome == VLSettingsFileRead::Outcome::Unreadable && read.reason.contains(kNotRegular);
       }},
      {"the preferences file", "org.velmora.Velmora.plist",
       [](const QString& path) {
         UserDefaults defaults(path);
         QString where, reason;
         const bool told = defaults.takeFileProblem(&where, &reason) == UserDefaults::FileProblem::Unreadable &&
                           where == path && reason.contains(kNotRegular);
         // This run's changes are not written over it.
         defaults.setInteger(QStringLiteral("RunCounterCurrent"), 3);
         return told && defaults.persistentDomain().size() == 1 && !defaults.synchronize();
       }},
  };
  for (const auto& r : readers) {
    SCOPED_TRACE(r.name);
    const QString path = Test_MakeTempDir(QStringLiteral("pipe")) + QLatin1Char('/') + QString::fromLatin1(r.fileName);
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    bool refused = false;
    EXPECT_TRUE(returnsAtOnce(path, [&] { return r.refuses(path); }, &refused)) << "the reader waited on the pipe";
    EXPECT_TRUE(refused);
    EXPECT_TRUE(isPipe(path)) << "left where it was";
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(), 1);
  }
}

TEST(NonRegularFiles, ReadRegularTakesWholeRegularFilesWithinTheLimitOnly) {
  Prefs_RegisterDefaultPrefs();  // the program's resources are registered with the defaults
  const QString folder = Test_MakeTempDir(QStringLiteral("files"));
  const QString file = folder + QStringLiteral("/ten.bin");
  {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("0123456789") == 10);
  }
  const struct {
    const char* name;
    QString path;
    qint64 limit;
    const char* reason;  // nullptr: read
  } cases[] = {{"a regular file at the limit", file, 10, nullptr},
               {"a regular file one byte too large", file, 9, "larger than 9 bytes"},
               {"a folder", folder, 100, "folder"},
               {"a device", QStringLiteral("/dev/zero"), 100, "not a regular file"},
               {"nothing", folder + QStringLiteral("/missing"), 100, "No such file"},
               {"a resource of the program", QStringLiteral(":/CameraDefaultPrefs.plist"), 1 << 20, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QByteArray bytes;
    QString reason;
    const bool read = SafeFile_ReadRegular(c.path, c.limit, &bytes, &reason);
    EXPECT_EQ(read, c.reason == nullptr) << reason.toStdString();
    if (c.reason) {
      EXPECT_TRUE(reason.contains(QString::fromLatin1(c.reason))) << reason.toStdString();
    } else {
      EXPECT_FALSE(bytes.isEmpty());
    }
  }
}
