#include "capture/LiveRecordingController.h"

#include "capture/CaptureTestSupport.h"
#include "session/VLDocument.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

class LiveRecordingControllerTest : public CaptureDevicesFixture {
 protected:
  LiveRecordingController controller{this, DispatchQueue::create(QStringLiteral("test.session")), nullptr};
};

QString LockOf(const QUrl& package) { return package.toLocalFile() + QLatin1Char('/') + kVLLockFileName; }

}  // namespace

// One recording per window: a start shuts the door behind it, a second stop request is refused, and the
// stop is under way until its footage is saved.
TEST_F(LiveRecordingControllerTest, AWindowRecordsOnceAndStopsOnce) {
  EXPECT_TRUE(controller.mayStartRecording(false));
  EXPECT_FALSE(controller.mayStartRecording(true));
  controller.setIsClosing(true);
  EXPECT_FALSE(controller.mayStartRecording(false));
  EXPECT_TRUE(controller.closingFlag()->load());
  controller.setIsClosing(false);

  controller.startRequested();
  EXPECT_TRUE(controller.startPending());
  EXPECT_FALSE(controller.mayStartRecording(false));
  controller.startQueued();
  EXPECT_FALSE(controller.startPending());
  EXPECT_FALSE(controller.mayStartRecording(false));

  EXPECT_FALSE(controller.stopUnderWay());
  EXPECT_TRUE(controller.stopRequested());
  EXPECT_FALSE(controller.stopRequested());
  EXPECT_TRUE(controller.stopUnderWay());
  controller.stopFinished();
  EXPECT_FALSE(controller.stopUnderWay());
  EXPECT_TRUE(controller.assetWritingQueue());
  EXPECT_FALSE(controller.isRecording());
}

// The package is made beside the chosen name (a free one when that is taken), carries the lock of a
// recording under way and its settings, loses the lock when the footage is kept, and goes wholly when
// the footage is discarded. A package that cannot be made leaves the chosen name as the one saved.
TEST_F(LiveRecordingControllerTest, ThePackageCarriesTheLockUntilTheFootageIsKeptOrDiscarded) {
  const QString folder = Test_MakeTempDir();
  ASSERT_TRUE(QDir(folder).mkdir(QStringLiteral("Match.vlvidcapb")));
  const QUrl target = QUrl::fromLocalFile(folder + QStringLiteral("/Match.vlvidcapb"));
  controller.makePackage(target, Prefs_Shared());
  const QUrl package = controller.packageURL();
  ASSERT_FALSE(package.isEmpty());
  EXPECT_NE(package, target);
  EXPECT_EQ(controller.savedPackageURL(target), package);
  EXPECT_EQ(controller.document()->docURL(), package);
  EXPECT_EQ(controller.document()->segmentSeconds(), Recorder_FragmentSeconds(controller.document()->segmentSeconds()));
  EXPECT_TRUE(QFileInfo(LockOf(package)).isFile());
  EXPECT_TRUE(QFileInfo::exists(controller.document()->settingsFileURL().toLocalFile()));
  EXPECT_TRUE(VLDocument_IsRecordingPackage(package.toLocalFile()));
  EXPECT_TRUE(VLDocument_WasRecordedInThisRun(package.toLocalFile()));

  controller.recordingEnded();
  controller.deleteRecFileflag();
  EXPECT_FALSE(QFileInfo::exists(LockOf(package)));
  EXPECT_FALSE(VLDocument_IsRecordingPackage(package.toLocalFile()));
  EXPECT_TRUE(QFileInfo(package.toLocalFile()).isDir());

  controller.deleteCapturedFootage(false);
  EXPECT_FALSE(QFileInfo::exists(package.toLocalFile()));
  EXPECT_TRUE(QFileInfo(target.toLocalFile()).isDir());  // the other package at the name is not touched

  const QString blocker = folder + QStringLiteral("/file");
  QFile file(blocker);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  const QUrl impossible = QUrl::fromLocalFile(blocker + QStringLiteral("/Match.vlvidcapb"));
  controller.makePackage(impossible, Prefs_Shared());
  EXPECT_TRUE(controller.packageURL().isEmpty());
  EXPECT_EQ(controller.savedPackageURL(impossible), impossible);
}

// Only the package the naming panel's question named is replaced, and never one holding a recording of
// this run, a link or a plain file.
TEST_F(LiveRecordingControllerTest, OnlyTheConfirmedPackageWithoutARecordingOfThisRunIsReplaced) {
  enum class Kind { Package, Link, File, RecordedThisRun };
  const struct {
    const char* name;
    Kind kind;
    bool confirmed;
    bool removed;
  } cases[] = {
      {"confirmed package", Kind::Package, true, true},
      {"not confirmed", Kind::Package, false, false},
      {"link to a package", Kind::Link, true, false},
      {"plain file", Kind::File, true, false},
      {"recorded in this run", Kind::RecordedThisRun, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString folder = Test_MakeTempDir();
    const QString target = folder + QStringLiteral("/Match.vlvidcapb");
    const QString real = folder + QStringLiteral("/Real.vlvidcapb");
    switch (c.kind) {
      case Kind::Package:
      case Kind::RecordedThisRun:
        ASSERT_TRUE(QDir().mkpath(target));
        if (c.kind == Kind::RecordedThisRun) VLDocument_NoteRecordedInThisRun(target);
        break;
      case Kind::Link:
        ASSERT_TRUE(QDir().mkpath(real));
        ASSERT_TRUE(QFile::link(real, target));
        break;
      case Kind::File: {
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        break;
      }
    }
    QStringList closed;
    const QString confirmed = c.confirmed ? QDir::cleanPath(QFileInfo(target).absoluteFilePath()) : QString();
    EXPECT_EQ(LiveRecordingController::removeReplacedPackage(target, confirmed,
                                                             [&](const QString& path) { closed << path; }),
              c.removed);
    EXPECT_EQ(QFileInfo::exists(target), !c.removed);
    EXPECT_EQ(closed, c.removed ? QStringList{target} : QStringList{});
    if (c.kind == Kind::Link) {
      EXPECT_TRUE(QFileInfo(real).isDir());
    }
  }
}
