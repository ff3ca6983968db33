#include "playback/VLPlaybackWC.h"

#include "common/ZRNAppPrefs.h"
#include "common/ZRNFileFunctions.h"
#include "common/ZRNTimeFormatting.h"
#include "platform/foundation/DispatchQueue.h"
#include "playback/VLPlaybackWCTestSupport.h"
#include "playback/VLProgressivePlayWC.h"
#include "playback/ZRNAVPlayerView.h"
#include "support/ContrastSupport.h"

#include <QAction>
#include <QLocale>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>

#include <gtest/gtest.h>

namespace {

// The delegate of the run with a recording going on elsewhere: its microphone is told here, since no
// built-in microphone exists on a test machine.
class RecordingDelegate : public ZRNAppDelegate {
 public:
  bool recording = false;
  bool audio = false;
  bool builtIn = false;
  bool recordingIsON() const override { return recording; }
  bool recordingCapturesAudio() const override { return recording && audio; }
  bool recordingMicrophoneIsBuiltIn() const override { return recording && builtIn; }
};

class PlaybackLayout : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const QString folder = Test_MakeTempDir(QStringLiteral("movie"));
    s_movie = new QString(folder + QStringLiteral("/movie.mov"));
    s_short = new QString(folder + QStringLiteral("/short.mov"));
    if (!PlaybackTest_MakeMovie(*s_movie, 10.0) || !PlaybackTest_MakeMovie(*s_short, 0.05)) s_movie->clear();
  }
  static void TearDownTestSuite() {
    delete s_movie;
    delete s_short;
  }
  void SetUp() override {
    ASSERT_FALSE(s_movie->isEmpty());
    host.delegate = std::make_unique<RecordingDelegate>();
  }
  RecordingDelegate& delegate() { return static_cast<RecordingDelegate&>(*host.delegate); }

  VLPlaybackWC* openSession(const QString& name, const QString& movie, const std::function<void(VLDocument&)>& edit = {}) {
    const QString package = folder + QLatin1Char('/') + name + QStringLiteral(".vlvidcapb");
    QDir().mkpath(package);
    QFile::copy(movie, package + QStringLiteral("/VLCapturedMovie.mov"));
    auto doc = PlaybackTest_Document(package);
    if (edit) edit(*doc);
    doc->updateSettingsFile();
    VLPlaybackWC* window = host.openPlayable(package);
    if (window) {
      window->resize(1000, 600);
      Test_ProcessEvents(0);
    }
    return window;
  }
  static int paneWidth(VLPlaybackWC* window) { return window->mainSplitV()->sizes().value(1); }
  static bool waitForAnimation(VLPlaybackWC* window) {
    return Test_WaitUntil([window] { return window->sidePaneAnimation() == nullptr; });
  }
  // Waits until the main queue has run everything posted before, and what that posted in turn (the
  // window's sound update goes through the main queue twice).
  static bool drainMainQueue(int hops = 4) {
    auto left = std::make_shared<int>(hops);
    auto stepper = std::make_shared<std::function<void()>>();
    *stepper = [left, stepper] {
      if (--*left > 0 && *stepper) Dispatch_MainAsync(*stepper);
    };
    Dispatch_MainAsync(*stepper);
    const bool done = Test_WaitUntil([left] { return *left <= 0; });
    *stepper = nullptr;
    return done;
  }
  static void postRecordingState(bool on) {
    NotificationCenter::defaultCenter().post(QStringLiteral("ZRNRecordingStateChanged"), nullptr,
                                             QVariantMap{{QStringLiteral("recIsON"), on}});
  }

  static QString* s_movie;
  static QString* s_short;
  QString folder = Test_MakeTempDir(QStringLiteral("sessions"));
  PlaybackTestHost host;
};
QString* PlaybackLayout::s_movie = nullptr;
QString* PlaybackLayout::s_short = nullptr;

}  // namespace

TEST_F(PlaybackLayout, TheDividerKeepsThePaneBetween252And420AndThePlayerSideAtLeast400) {
  VLPlaybackWC* window = openSession(QStringLiteral("Divider"), *s_movie);
  ASSERT_NE(window, nullptr);
  struct Case {
    const char* name;
    int windowWidth;
    double proposedPaneWidth;
    double expectedPaneWidth;
  };
  const Case cases[] = {
      {"too narrow a pane gets the smallest width", 1000, 100, 252},
      {"too wide a pane gets the largest width", 1000, 500, 420},
      {"a pane within the limits stays", 1000, 300, 300},
      {"unless the player side would be narrower than 400", 650, 300, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window->resize(c.windowWidth, 600);
    Test_ProcessEvents(0);
    const double max = window->U_MaxDividerPosition();
    const double expected = c.expectedPaneWidth < 0 ? 400.0 : max - c.expectedPaneWidth;
    EXPECT_EQ(window->splitViewConstrainSplitPosition(max - c.proposedPaneWidth, 0), expected);
  }
  // A pane dragged nearly shut remembers the smallest width to show again with.
  EXPECT_EQ(window->dividerPosition(), 252.0);

  // A real drag of the divider goes through the same rule.
  window->resize(1000, 600);
  Test_ProcessEvents(0);
  QSplitterHandle* handle = window->mainSplitV()->handle(1);
  const QPoint grip = handle->rect().center();
  QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, grip);
  QTest::mouseMove(handle, grip - QPoint(300, 0));
  QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, grip - QPoint(300, 0));
  EXPECT_EQ(paneWidth(window), 420);
  EXPECT_TRUE(window->paneIsVisible());
}

TEST_F(PlaybackLayout, HidingAndShowingThePaneKeepsItsWidthAndAFirstShowingGives252) {
  VLPlaybackWC* window = openSession(QStringLiteral("Pane"), *s_movie);
  ASSERT_NE(window, nullptr);
  auto* button = window->titleAccessoryView()->findChild<QToolButton*>(QStringLiteral("showHideJobsButton"));
  ASSERT_NE(button, nullptr);
  const int total = window->mainSplitV()->sizes().value(0) + paneWidth(window);
  window->mainSplitV()->setSizes({total - 330, 330});
  ASSERT_EQ(paneWidth(window), 330);

  window->showHideJobsPanel();
  EXPECT_FALSE(window->paneIsVisible());
  EXPECT_TRUE(button->isChecked());
  ASSERT_TRUE(waitForAnimation(window));
  EXPECT_EQ(paneWidth(window), 0);
  EXPECT_EQ(window->dividerPosition(), 330.0);
  // A wider window gives the room to the player; the pane comes back at its width.
  window->resize(1100, 600);
  Test_ProcessEvents(0);
  button->click();
  EXPECT_TRUE(window->paneIsVisible());
  EXPECT_FALSE(button->isChecked());
  ASSERT_TRUE(waitForAnimation(window));
  EXPECT_EQ(paneWidth(window), 330);

  // A pane dragged shut shows again at the smallest width.
  VLPlaybackWC* other = openSession(QStringLiteral("Shut"), *s_movie);
  ASSERT_NE(other, nullptr);
  const int otherTotal = other->mainSplitV()->sizes().value(0) + paneWidth(other);
  other->mainSplitV()->setSizes({otherTotal, 0});
  other->splitViewDidResizeSubviews(true);
  EXPECT_FALSE(other->paneIsVisible());
  other->showHideJobsPanel();
  ASSERT_TRUE(waitForAnimation(other));
  EXPECT_EQ(paneWidth(other), 252);
}

TEST_F(PlaybackLayout, PlaybackIsMutedWhileARecordingsMicrophoneWouldHearIt) {
  VLPlaybackWC* window = openSession(QStringLiteral("Sound"), *s_movie);
  ASSERT_NE(window, nullptr);
  auto player = window->player();
  // The sound set-up of the opening has run.
  ASSERT_TRUE(drainMainQueue());
  struct Case {
    const char* name;
    bool sessionSound;
    bool recording;
    bool recordingAudio;
    bool builtIn;
    bool preference;
    float expected;  // -1: left as it was
  };
  const Case cases[] = {
      {"a session without sound is left alone", false, true, true, true, false, -1},
      {"the built-in microphone records", true, true, true, true, false, 0.0f},
      {"an external microphone records", true, true, true, false, false, 1.0f},
      {"an external microphone records and the preference closes playback", true, true, true, false, true, 0.0f},
      {"a recording without sound", true, true, false, true, true, 1.0f},
      {"the recording stops", true, false, true, true, true, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window->vlDocument()->setCaptureAudio(c.sessionSound);
    delegate().recording = c.recording;
    delegate().audio = c.recordingAudio;
    delegate().builtIn = c.builtIn;
    ZRNAppPrefs().setCloseAudioPlaybackWhenRecording(c.preference);
    player->setVolume(0.5f);
    postRecordingState(c.recording);
    ASSERT_TRUE(drainMainQueue());
    EXPECT_EQ(player->volume(), c.expected < 0 ? 0.5f : c.expected);
  }
}

TEST_F(PlaybackLayout, TheInfoTextNamesTheSessionsFileSourcesAndSound) {
  const QDateTime recorded(QDate::currentDate().addDays(-1), QTime(9, 30));
  auto describe = [&](VLDocument& doc) {
    doc.setDocCaptureDate(recorded);
    doc.setSegmentKBPS(4000);
    doc.setCameraName(QStringLiteral("Pitch Cam"));
    doc.setCameraUID(QStringLiteral("cam-7"));
    doc.setMicrophoneName(QStringLiteral("Stand Mic"));
    doc.setMicrophoneUID(QStringLiteral("mic-3"));
  };
  VLPlaybackWC* window = openSession(QStringLiteral("Info"), *s_movie, describe);
  ASSERT_NE(window, nullptr);
  const QString package = folder + QStringLiteral("/Info.vlvidcapb");
  auto row = [](const QString& label, const QString& value) {
    return QStringLiteral("<tr>\n<td class=\"infolabel\">%1&nbsp;</td>\n<td class=\"infovalue\">%2</td>\n</tr>").arg(label, value);
  };
  const QString head = QStringLiteral(
      "<html><head><link rel=\"stylesheet\" type=\"text/css\" href=\"info_popup.css\"></head><body>\n"
      "<span style=\"font:Lucida Grande Regular;color:white\">\n<table>\n<th colspan=\"2\">File Info</th>");
  const QString fileRows =
      row(QStringLiteral("File"), folder + QStringLiteral("/Info")) +
      row(QStringLiteral("Date recorded"), QStringLiteral("Yesterday at ") + QLocale().toString(QTime(9, 30), QLocale::ShortFormat)) +
      row(QStringLiteral("Duration"), cmtimeAsTimeStamp(window->player()->currentItem()->duration(), QStringLiteral(":")) + QStringLiteral(" s")) +
      row(QStringLiteral("File size"), QString::asprintf("%.1f MB", File_FolderSizeMB(QUrl::fromLocalFile(package)))) +
      row(QStringLiteral("Data rate"), QStringLiteral("4000 Kbit/s"));
  const QString video = QStringLiteral("</table>\n\n<br><br>\n\n<table>\n<th colspan=\"2\">Video Source</th>") +
                        row(QStringLiteral("Name"), QStringLiteral("Pitch Cam")) + row(QStringLiteral("Frame size"), QStringLiteral("160 x 120")) +
                        row(QStringLiteral("Frame rate"), QStringLiteral("30.00 fps")) + row(QStringLiteral("UID"), QStringLiteral("cam-7")) +
                        QStringLiteral("</table>\n\n<br><br>\n\n<table>\n");
  const QString tail = QStringLiteral("</table>\n<p>&nbsp;\n&nbsp;\n&nbsp;\n&nbsp;\n</p></span>\n</body></html>\n");
  const QString audio = QStringLiteral("<th colspan=\"2\">Audio Source</th>") + row(QStringLiteral("Name"), QStringLiteral("Stand Mic")) +
                        row(QStringLiteral("Audio rate"), QStringLiteral("48000 Hz")) + row(QStringLiteral("UID"), QStringLiteral("mic-3"));
  EXPECT_EQ(window->infoPopupHtml().toStdString(), (head + fileRows + video + audio + tail).toStdString());
  window->vlDocument()->setCaptureAudio(false);
  EXPECT_EQ(window->infoPopupHtml().toStdString(),
            (head + fileRows + video + QStringLiteral("<th colspan=\"2\">&nbsp;No audio found</th>") + tail).toStdString());

  // The info button shows the text in a popover next to it; a second press closes it.
  window->infoBtn()->click();
  ASSERT_NE(window->fInfoPopover(), nullptr);
  EXPECT_TRUE(window->fInfoPopover()->isVisible());
  EXPECT_TRUE(window->popoverViewController()->theWebView()->toPlainText().contains(QStringLiteral("Pitch Cam")));
  EXPECT_TRUE(window->popoverViewController()->actionButton()->isEnabled());
  // The text view is as tall as its document, which the popover's height reads with 20 points to spare.
  EXPECT_NEAR(window->popoverViewController()->textHeight(), window->popoverViewController()->theWebView()->height() + 20.0, 1.0);
  // White on the popover's dark background, wholly on the screen.
  QFrame* popover = window->fInfoPopover();
  EXPECT_LT(Test_Luminance(Test_DominantColor(Test_Render(popover))), 0.1);
  EXPECT_GE(Test_TextContrastIn(popover, window->popoverViewController()->theWebView()), 7.0);
  EXPECT_TRUE(popover->screen()->availableGeometry().contains(popover->frameGeometry()));
  window->showInfo(window->infoBtn());
  EXPECT_FALSE(window->fInfoPopover()->isVisible());

  // The window of a recording in progress shows the same document, with its differences: no data rate,
  // the sound not recorded rather than not found, no spacing after the last table.
  VLProgressivePlayWC live;
  live.setLiveDocument(window->vlDocument());
  live.openLiveFootage(QUrl::fromLocalFile(package + QStringLiteral("/VLCapturedMovie.mov")));
  ASSERT_TRUE(Test_WaitUntil([&] { return live.fragmentedAssetMinder() != nullptr; }, 20000));
  const QString liveRows = fileRows.left(fileRows.indexOf(row(QStringLiteral("Data rate"), QStringLiteral("4000 Kbit/s"))));
  const QString liveTail = QStringLiteral("</table>\n</span>\n</body></html>\n");
  const QString liveHead = head;
  auto liveHtml = [&] {
    // The duration is the length written so far, as the live window's player has it.
    QString html = live.infoPopupHtml();
    return html.replace(cmtimeAsTimeStamp(live.player()->currentItem()->duration(), QStringLiteral(":")) + QStringLiteral(" s"),
                        cmtimeAsTimeStamp(window->player()->currentItem()->duration(), QStringLiteral(":")) + QStringLiteral(" s"));
  };
  window->vlDocument()->setCaptureAudio(true);
  EXPECT_EQ(liveHtml().toStdString(), (liveHead + liveRows + video + audio + liveTail).toStdString());
  window->vlDocument()->setCaptureAudio(false);
  EXPECT_EQ(liveHtml().toStdString(),
            (liveHead + liveRows + video + QStringLiteral("<th colspan=\"2\">&nbsp;No audio recorded</th>") + liveTail).toStdString());
}

TEST_F(PlaybackLayout, MenuItemsNeedAMovieMarksOrALongEnoughSession) {
  VLPlaybackWC* window = openSession(QStringLiteral("Menus"), *s_movie);
  ASSERT_NE(window, nullptr);
  auto enabled = [&](VLPlaybackWC* w, const char* name) { return w->validateMenuItem(w->actionNamed(QString::fromLatin1(name))); };
  EXPECT_TRUE(enabled(window, "defineInPoint"));
  EXPECT_TRUE(enabled(window, "define2ndPeriodEndPoint"));
  EXPECT_TRUE(enabled(window, "exportMoment"));
  EXPECT_TRUE(enabled(window, "exportAll"));
  EXPECT_TRUE(enabled(window, "addHomeTeamGoal"));
  EXPECT_TRUE(enabled(window, "resizeToNaturalSize"));
  // No marks: neither the in-to-out clip nor clearing them.
  EXPECT_FALSE(enabled(window, "exportInOutClip"));
  EXPECT_FALSE(enabled(window, "clearInOutPoints"));
  window->U_SetOutPointAtTime(MediaTimeMake(4000, 1000));
  EXPECT_TRUE(enabled(window, "exportInOutClip"));
  EXPECT_TRUE(enabled(window, "clearInOutPoints"));

  // A movie of 0.05 s is too short for a session movie.
  VLPlaybackWC* tiny = openSession(QStringLiteral("Tiny"), *s_short);
  ASSERT_NE(tiny, nullptr);
  EXPECT_LE(tiny->totalDuration(), 0.1);
  EXPECT_FALSE(enabled(tiny, "exportAll"));
}

TEST_F(PlaybackLayout, TheSizeCommandsShowTheRecordingAtItsFrameSize) {
  VLPlaybackWC* window = openSession(QStringLiteral("Size"), *s_movie);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->windowIsNaturalSize());
  for (auto command : {&VLPlaybackWC::resizeToNaturalSize, &VLPlaybackWC::increaseWindowSize, &VLPlaybackWC::decreaseWindowSize}) {
    window->resize(1000, 600);
    Test_ProcessEvents(0);
    (window->*command)();
    ASSERT_TRUE(Test_WaitUntil([&] { return window->playerView()->size() == QSize(160, 120); })) << window->playerView()->width() << "x" << window->playerView()->height();
    EXPECT_TRUE(window->windowIsNaturalSize());
    EXPECT_TRUE(window->windowCanIncreaseSize());
  }
}

TEST_F(PlaybackLayout, TheSizeCommandsKeepTheWindowInsideTheScreenAtTheMoviesAspect) {
  const struct {
    const char* name;
    QSize frame;  // the movie's 4:3 at the recorded size
    bool fits;
  } rows[] = {{"Small", QSize(160, 120), true}, {"Huge", QSize(2400, 1800), false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    VLPlaybackWC* window = openSession(row.name, *s_movie, [&](VLDocument& doc) { doc.setFrameSize(QSizeF(row.frame)); });
    ASSERT_NE(window, nullptr);
    const QRect area = window->screen()->availableGeometry();
    for (auto command : {&VLPlaybackWC::resizeToNaturalSize, &VLPlaybackWC::increaseWindowSize, &VLPlaybackWC::decreaseWindowSize}) {
      window->resize(700, 450);
      window->move(area.topLeft() + QPoint(90, 70));
      Test_ProcessEvents(0);
      (window->*command)();
      ASSERT_TRUE(Test_WaitUntil([&] { return !row.fits || window->playerView()->size() == row.frame; }))
          << window->playerView()->width() << "x" << window->playerView()->height() << " window " << window->width() << "x" << window->height() << " min " << window->minimumSizeHint().width() << "x" << window->minimumSizeHint().height();
      Test_ProcessEvents(20);
      EXPECT_TRUE(area.contains(window->frameGeometry()))
          << window->frameGeometry().x() << "," << window->frameGeometry().y() << " " << window->frameGeometry().width() << "x"
          << window->frameGeometry().height();
      EXPECT_EQ(window->windowIsNaturalSize(), row.fits);
      EXPECT_EQ(window->windowCanIncreaseSize(), row.fits);
      if (!row.fits) {
        const QSize shown = window->playerView()->size();
        EXPECT_NEAR(double(shown.width()) / shown.height(), 4.0 / 3.0, 0.02);
        // As large as the screen lets it be: the window reaches the area's edge in one direction.
        const QRect frame = window->frameGeometry();
        EXPECT_TRUE(frame.width() >= area.width() - 2 || frame.height() >= area.height() - 2) << frame.width() << "x" << frame.height();
      }
    }
    window->close();
  }
}

TEST_F(PlaybackLayout, SessionWindowsOpenCascadedWhollyInsideTheScreen) {
  QList<QRect> frames;
  for (int i = 0; i < 5; ++i) {
    const QString package = folder + QStringLiteral("/Cascade %1.vlvidcapb").arg(i);
    QDir().mkpath(package);
    QFile::copy(*s_movie, package + QStringLiteral("/VLCapturedMovie.mov"));
    PlaybackTest_Document(package)->updateSettingsFile();
    VLPlaybackWC* window = host.openPlayable(package);
    ASSERT_NE(window, nullptr);
    Test_ProcessEvents(20);
    const QRect area = window->screen()->availableGeometry();
    EXPECT_TRUE(area.contains(window->frameGeometry())) << i << ": " << window->frameGeometry().y() << "+" << window->frameGeometry().height();
    frames << window->frameGeometry();
  }
  // Each one where its title bar can be seen, not on top of the one before, where the screen leaves room
  // beside a window; one as large as the area goes to its top-left corner.
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  for (qsizetype i = 1; i < frames.size(); ++i) {
    const bool room = frames[i - 1].right() + 20 < area.right() && frames[i - 1].bottom() + 20 < area.bottom();
    if (room)
      EXPECT_NE(frames[i].topLeft(), frames[i - 1].topLeft()) << i;
    else
      EXPECT_EQ(frames[i].topLeft(), area.topLeft()) << i;
  }
}
