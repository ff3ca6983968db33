#include "capture/VLLiveWC.h"

#include "capture/CaptureTestSupport.h"
#include "platform/media/AssetWriterTestMedia.h"
#include "platform/media/VirtualDevices.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <gtest/gtest.h>

extern "C" {
#include <libavutil/log.h>
}

using namespace testmedia;

namespace {

const int kQuietFFmpeg = [] {
  av_log_set_level(AV_LOG_ERROR);
  return 0;
}();

}  // namespace

// The live window as a user meets it: name the recording, record, stop, find a playable package.
class LiveWindowRecording : public CaptureDevicesFixture {
 protected:
  void TearDown() override {
    delete live;
    Test_ProcessEvents(50);
    VirtualDevices_Unplug(true, true);
    CaptureDevicesFixture::TearDown();
  }
  VLLiveWC* live = nullptr;
};

TEST_F(LiveWindowRecording, RecordButtonRecordsAndStopKeepsAPlayablePackage) {
  const QString folder = Test_MakeTempDir(QStringLiteral("recordings"));
  prefs->setSaveTargetDirectory(QUrl::fromLocalFile(folder));
  prefs->setMovieSize(QSizeF(1280, 720));
  prefs->setCaptureFPS(30);
  prefs->setFragmentSeconds(2);
  prefs->setSegmentKBPS(2000);
  prefs->setAskForCaptureStop(false);
  VirtualDevices_Plug(true, true);
  prefs->setCameraUID(kVirtualCameraUID);
  prefs->setMicrophoneUID(kVirtualMicrophoneUID);
  live = new VLLiveWC;
  live->show();
  ASSERT_TRUE(Test_WaitUntil([&] { return live->savePanel() && live->savePanel()->isVisible(); }));
  QMetaObject::invokeMethod(live->savePanel(), "accept");
  ASSERT_TRUE(Test_WaitUntil([&] { return live->recordButton()->isEnabled(); }, 15000));

  live->recordButton()->click();
  ASSERT_TRUE(Test_WaitUntil([&] { return live->isRecording() && live->recIndicatorView()->text() == "REC"; }));
  const QStringList packages = QDir(folder).entryList({QStringLiteral("*.vlvidcapb")}, QDir::Dirs);
  ASSERT_EQ(packages.size(), 1);
  const QString package = folder + QLatin1Char('/') + packages.first();
  EXPECT_TRUE(QFileInfo::exists(package + QStringLiteral("/VLRecording.lock")));
  EXPECT_TRUE(QFileInfo::exists(package + QStringLiteral("/VLSettings.json")));
  // The growing movie is handed over once it holds more than 1.5 fragments.
  ASSERT_TRUE(Test_WaitUntil([&] { return !live->capturedMovieURL().isEmpty(); }, 20000));
  const QString movie = live->capturedMovieURL().toLocalFile();
  EXPECT_EQ(QFileInfo(movie).fileName(), QStringLiteral("VLCapturedMovie.mp4"));
  ASSERT_TRUE(Test_WaitUntil([&] { return topLevelBoxes(movie).count("moof") >= 2; }, 20000));

  live->recordButton()->click();
  ASSERT_TRUE(Test_WaitUntil([&] { return !live->isVisible(); }, 20000));
  EXPECT_FALSE(live->isRecording());
  EXPECT_TRUE(live->isClosing());
  EXPECT_EQ(live->recIndicatorView()->text(), QStringLiteral("LIVE"));
  EXPECT_FALSE(QFileInfo::exists(package + QStringLiteral("/VLRecording.lock")));
  const QJsonObject probe = ffprobe(movie);
  EXPECT_EQ(streamOfType(probe, "video").value("codec_name").toString(), "h264");
  EXPECT_EQ(streamOfType(probe, "video").value("width").toInt(), 1280);
  EXPECT_EQ(streamOfType(probe, "audio").value("codec_name").toString(), "aac");
  EXPECT_GE(formatDuration(probe), 3.0);
}
