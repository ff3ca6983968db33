#include "capture/VLLiveWC_Recording.h"

#include "support/DialogTestSupport.h"
#include "VLLiveWC_RecordingTestHost.h"
#include "common/ZRNAlerts.h"
#include "app/ZRNAppDelegate.h"
#include "common/ZRNAppPrefs.h"
#include "common/ZRNTimeFormatting.h"
#include "support/ContrastSupport.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QTextBrowser>

#include <gtest/gtest.h>

namespace {

class LiveRecordingGui : public ::testing::Test {
 protected:
  void SetUp() override {
    host.recording = &rec;
    ZRNAppDelegate::initialize();
    prefs.setCameraName(QStringLiteral("Pitch <Cam>"));
    prefs.setMovieSize(QSizeF(1280, 720));
    prefs.setCaptureFPS(30);
    prefs.setHasAudioDevice(true);
    prefs.setCaptureAudio(true);
    prefs.setMicrophoneName(QStringLiteral("Stand Mic"));
    prefs.setMicrophoneCaptureRate(48000);
    prefs.setSegmentKBPS(6000);
  }
  ZRNAppPrefs prefs;
  // The quitting flag the window reads and sets is the application delegate's.
  ZRNAppDelegate delegate;
  TestLiveHost host;
  VLLiveWC_Recording rec{&host, host.outlets};
};

QString mainTextOf(int alertID) { return Alert_EntryForID(alertID)->value(QString::fromLatin1(kAlertKeyMainString)).toString(); }

}  // namespace

TEST(LiveRecordingRules, ConfirmationAlertDependsOnPendingExports) {
  struct Row {
    int request, count, alert;
  } rows[] = {{20001, 0, 20001}, {20001, 1, 20002}, {20001, 2, 20003}, {20004, 0, 20004}, {20004, 1, 20005},
              {20004, 5, 20006}, {20007, 0, 20007}, {20007, 1, 20008}, {20007, 3, 20009}};
  for (const Row& r : rows) EXPECT_EQ(LiveWC_ConfirmationAlertID(r.request, r.count), r.alert) << r.request << " " << r.count;
}

// Without asking, and when asked and answered OK, the stop is confirmed (-1000): Quit (20007) marks the
// application as quitting, the others mark the window as closing. Cancel (-1001) changes nothing.
TEST_F(LiveRecordingGui, ConfirmationsWithAndWithoutAskingFirst) {
  for (int request : {20001, 20004, 20007}) {
    for (const char* button : {static_cast<const char*>(nullptr), "okBtn", "cancelBtn"}) {
      SCOPED_TRACE(testing::Message() << request << " " << (button ? button : "not asked"));
      const bool confirmed = !button || qstrcmp(button, "okBtn") == 0;
      prefs.setAskForCaptureStop(button != nullptr);
      rec.setIsClosing(false);
      QString shownText;
      if (button) {
        Test_AnswerNextModal(QString::fromLatin1(button), [&](QWidget* modal) {
          if (auto* label = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"))) shownText = label->text();
        });
      }
      EXPECT_EQ(rec.U_GetUserVerifiedCloseWithError(request), confirmed ? -1000 : -1001);
      const QString start = mainTextOf(request).left(20);
      if (button) {
        EXPECT_TRUE(shownText.contains(start) || shownText.contains(start.toHtmlEscaped())) << shownText.toStdString();
      }
      EXPECT_EQ(rec.isClosing(), confirmed && request != 20007);
      if (confirmed) {
        EXPECT_EQ(rec.appIsQuitting(), request == 20007);
        EXPECT_EQ(delegate.appIsQuitting(), request == 20007);
      }
    }
  }
}

TEST_F(LiveRecordingGui, DescriptionNamesSourcesAndRateForm) {
  struct Row {
    float fps;
    bool hasAudioDevice, windowAudio;
    const char* text;
  } rows[] = {
      {30, true, true, "Video source: Pitch <Cam>, frame size: 1280 x 720 @ 30fps\nAudio source: Stand Mic, rate: 48000Hz"},
      {29.97f, true, true,
       "Video source: Pitch <Cam>, frame size: 1280 x 720 @ 29.97fps\nAudio source: Stand Mic, rate: 48000Hz"},
      {25, true, false, "Video source: Pitch <Cam>, frame size: 1280 x 720 @ 25fps\nAudio capture is disabled"},
      {59.94f, false, true, "Video source: Pitch <Cam>, frame size: 1280 x 720 @ 59.94fps\nNo Audio device found"},
  };
  for (const Row& r : rows) {
    prefs.setCaptureFPS(r.fps);
    prefs.setHasAudioDevice(r.hasAudioDevice);
    host.audio = r.windowAudio;
    EXPECT_EQ(rec.updateCaptureDescriptionLabel(), QString::fromUtf8(r.text));
  }
}

TEST_F(LiveRecordingGui, InfoPopoverShowsSourcesAsTextAndToggles) {
  const QString html = rec.infoPopupHtml();
  // The page's head and foot come from the application's string table, with its style sheet.
  EXPECT_TRUE(html.startsWith(QStringLiteral("<html><head><link rel=\"stylesheet\""))) << html.left(80).toStdString();
  EXPECT_TRUE(html.trimmed().endsWith(QStringLiteral("</html>"))) << html.right(80).toStdString();
  // A device name is shown as text, never read as markup.
  EXPECT_TRUE(html.contains(QStringLiteral("Pitch &lt;Cam&gt;")));
  EXPECT_TRUE(html.contains(QStringLiteral("30.00 fps")));
  // The test process has no microphone access recorded.
  // Said as Linux grants it: the device files and the group.
  EXPECT_TRUE(html.contains(QStringLiteral("Audio recording is disabled because<br>access to the microphone's device files (/dev/snd/*)")));
  EXPECT_TRUE(html.contains(QStringLiteral("member of the group audio")));
  EXPECT_FALSE(html.contains(QStringLiteral("Privacy")));
  // The cells carry the style sheet's classes, as the playback window's do.
  EXPECT_EQ(html.count(QStringLiteral("class=\"infolabel\"")), html.count(QStringLiteral("class=\"infovalue\"")));
  EXPECT_EQ(html.count(QStringLiteral("class=\"infolabel\"")), 6);
  QFile sheet(QStringLiteral(":/html/info_popup.css"));
  ASSERT_TRUE(sheet.open(QIODevice::ReadOnly));
  const QString css = QString::fromUtf8(sheet.readAll());
  EXPECT_TRUE(css.contains(QStringLiteral("td.infolabel")) && css.contains(QStringLiteral("td.infovalue")));

  host.window()->show();
  auto* sender = host.outlets.showFootageBtn.data();
  rec.showInfo(sender);
  ASSERT_NE(rec.popover(), nullptr);
  ASSERT_NE(rec.popoverViewController(), nullptr);
  EXPECT_EQ(rec.popoverViewController()->objectName(), QStringLiteral("ZRN_InfoPopover"));
  EXPECT_TRUE(rec.popoverViewController()->theWebView()->toPlainText().contains("Pitch <Cam>"));
  // White on the popover's dark background, wholly on the screen (above the button when there is no
  // room below it).
  QFrame* popover = rec.popover();
  EXPECT_LT(Test_Luminance(Test_DominantColor(Test_Render(popover))), 0.1);
  EXPECT_GE(Test_TextContrastIn(popover, rec.popoverViewController()->theWebView()), 7.0);
  EXPECT_TRUE(popover->screen()->availableGeometry().contains(popover->frameGeometry()));
  rec.showInfo(sender);
  EXPECT_FALSE(rec.popover()->isVisible());
}

TEST_F(LiveRecordingGui, ClosingWithoutRecordingStopsTheSessionAtOnce) {
  EXPECT_TRUE(rec.windowShouldClose());
  EXPECT_TRUE(rec.isClosing());
  EXPECT_EQ(host.stopLiveSessionCalls, 1);
}

TEST_F(LiveRecordingGui, ClosingWhileAStopIsUnderWayWaitsForTheSavedFootage) {
  prefs.setAskForCaptureStop(true);  // an alert here would block the test: none may show
  rec.U_StopCapturing(true);
  ASSERT_TRUE(rec.stopUnderWay());
  EXPECT_FALSE(rec.windowShouldClose());
  EXPECT_EQ(host.stopLiveSessionCalls, 0);
  ASSERT_TRUE(Test_WaitUntil([&] { return !rec.stopUnderWay(); }));
  EXPECT_EQ(host.teardowns.load(), 1);
  EXPECT_TRUE(rec.windowShouldClose());
  EXPECT_EQ(host.stopLiveSessionCalls, 1);
}

TEST_F(LiveRecordingGui, SizeActionsGiveThePreviewTheMovieSize) {
  prefs.setMovieSize(QSizeF(320, 180));
  host.window()->resize(500, 500);
  host.window()->show();
  ASSERT_TRUE(Test_WaitUntil([&] { return host.previewView()->height() > 300; }));
  EXPECT_FALSE(rec.windowIsNaturalSize());
  rec.resizeToNaturalSize();
  ASSERT_TRUE(Test_WaitUntil([&] { return host.previewView()->size() == QSize(320, 180); }, 3000))
      << host.previewView()->width() << "x" << host.previewView()->height();
  EXPECT_TRUE(rec.windowIsNaturalSize());
}

TEST_F(LiveRecordingGui, StatesShowLiveAndRecBadges) {
  rec.setupForRecordingState();
  EXPECT_EQ(host.outlets.captureDurationLabel->text(), compactStringWithCMTime(kMediaTimeZero));
  EXPECT_NE(rec.recLabelTimer(), nullptr);
  rec.setupForLiveState();
  EXPECT_EQ(rec.recLabelTimer(), nullptr);
  EXPECT_TRUE(host.outlets.captureDurationLabel->isHidden());
  EXPECT_FALSE(host.outlets.showFootageBtn->isEnabled());
}

TEST_F(LiveRecordingGui, GrowingMovieIsTakenOnceAndTheLastNoticeTearsDown) {
  const QUrl first = QUrl::fromLocalFile(Test_MakeTempDir() + QStringLiteral("/VLCapturedMovie.mp4"));
  const QUrl second = QUrl::fromLocalFile(Test_MakeTempDir() + QStringLiteral("/VLCapturedMovie.mov"));
  rec.handleMovieStarted(Notification{QStringLiteral("VLMovieStarted"), &host, {{"targetURL", first}}});
  EXPECT_EQ(rec.capturedMovieURL(), first);
  rec.handleMovieStarted(Notification{QStringLiteral("VLMovieStarted"), &host, {{"targetURL", second}}});
  EXPECT_EQ(rec.capturedMovieURL(), first);

  rec.setIsClosing(true);
  rec.handleMovieStarted(Notification{QStringLiteral("VLMovieStarted"), &host, {{"isLast", true}, {"saveCaptured", true}}});
  ASSERT_TRUE(Test_WaitUntil([&] { return host.teardowns.load() == 1; }));
  EXPECT_FALSE(host.lastRebuild);
}

TEST_F(LiveRecordingGui, APackageThatCannotBeMadeIsNotCalledKeptFootage) {
  // Alert 20031 said that everything recorded had been kept although nothing could be written at all.
  const QString blocker = Test_MakeTempDir(QStringLiteral("blocked")) + QStringLiteral("/file");
  QFile file(blocker);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  host.target = QUrl::fromLocalFile(blocker + QStringLiteral("/Match.vlvidcapb"));
  QString shownText;
  bool answered = false;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
    if (auto* label = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"))) shownText = label->text();
    answered = true;
  });
  rec.toggleCapture();
  ASSERT_TRUE(Test_WaitUntil([&] { return answered; }, 20000));
  EXPECT_TRUE(shownText.contains(QStringLiteral("could not be started"))) << shownText.toStdString();
  EXPECT_TRUE(shownText.contains(QStringLiteral("Nothing was recorded"))) << shownText.toStdString();
  EXPECT_FALSE(shownText.contains(QStringLiteral("kept"))) << shownText.toStdString();
  EXPECT_TRUE(Test_WaitUntil([&] { return !rec.isRecording(); }, 20000));
}
