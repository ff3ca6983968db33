#pragma once
// Session packages for the playback window's tests, and a window opened the way the application opens
// one: the package becomes the top recent session and the delegate makes its window.

#include "app/ZRNAppDelegate.h"
#include "app/ZRNJSONBridge.h"
#include "app/ZRNRecentDocument.h"
#include "capture/VLDocument.h"
#include "composition/ZRNJobsController.h"
#include "platform/media/Player.h"
#include "platform/media/PlayerItem.h"
#include "playback/VLPlaybackWC.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>

struct PlaybackTestMovie {
  double seconds = 10.0;
  bool video = true;
  bool sound = true;
};

// A fragmented movie from lavfi sources: 160x120 at 30 fps, a key frame (and a fragment) every second.
inline bool PlaybackTest_MakeMovie(const QString& path, const PlaybackTestMovie& spec) {
  QStringList args{"-y", "-loglevel", "error"};
  if (spec.video) args << "-f" << "lavfi" << "-i" << "testsrc2=size=160x120:rate=30";
  if (spec.sound) args << "-f" << "lavfi" << "-i" << "sine=frequency=440:sample_rate=48000";
  args << "-t" << QString::number(spec.seconds);
  if (spec.video) args << "-c:v" << "libx264" << "-preset" << "ultrafast" << "-g" << "30" << "-pix_fmt" << "yuv420p";
  if (spec.sound) args << "-c:a" << "aac";
  args << "-movflags" << "frag_keyframe+empty_moov+default_base_moof" << path;
  QProcess ffmpeg;
  ffmpeg.start(QStringLiteral("ffmpeg"), args);
  return ffmpeg.waitForFinished(120000) && ffmpeg.exitCode() == 0;
}

// The settings of a recording of the test movie.
inline std::shared_ptr<VLDocument> PlaybackTest_Document(const QString& package, int64_t initialMillisToClip = 0) {
  auto doc = std::make_shared<VLDocument>();
  doc->setDocURL(QUrl::fromLocalFile(package));
  doc->setFrameSize(QSizeF(160, 120));
  doc->setVideoFPS(30);
  doc->setCaptureAudio(true);
  doc->setAudioCaptureRate(48000);
  doc->setCaptureFileType(QStringLiteral("video/quicktime"));
  doc->setInitialMillisToClip(initialMillisToClip);
  doc->setCameraName(QStringLiteral("Test Pattern"));
  return doc;
}

// "<folder>/<name>.vlvidcapb" with the movie "VLCapturedMovie.mov" and, with a document, its settings file.
inline QString PlaybackTest_MakePackage(const QString& folder, const QString& name, const PlaybackTestMovie& movie,
                                        bool withSettings = true, int64_t initialMillisToClip = 0) {
  const QString package = folder + QLatin1Char('/') + name + QStringLiteral(".vlvidcapb");
  QDir().mkpath(package);
  if (!PlaybackTest_MakeMovie(package + QStringLiteral("/VLCapturedMovie.mov"), movie)) return {};
  if (withSettings) PlaybackTest_Document(package, initialMillisToClip)->updateSettingsFile();
  return package;
}

inline QVariantMap PlaybackTest_ReadSettings(const QString& package) {
  QFile file(package + QStringLiteral("/VLSettings.json"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return JSON_CFFromJSONData(file.readAll()).toMap();
}

inline QJsonObject PlaybackTest_Probe(const QString& movie) {
  QProcess probe;
  probe.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_format", "-show_streams", "-of", "json", movie});
  probe.waitForFinished(60000);
  return QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
}

inline double PlaybackTest_Duration(const QString& movie) {
  return PlaybackTest_Probe(movie).value("format").toObject().value("duration").toString().toDouble();
}

// Clicks the button of the next modal widget: a named push button, or a message box's standard button.
// The text of the widget's main label goes to *text.
inline void PlaybackTest_AnswerNextModal(const QString& buttonName, QString* text = nullptr,
                                         QMessageBox::StandardButton standard = QMessageBox::NoButton) {
  auto timer = new QTimer(qApp);
  auto tries = std::make_shared<int>(0);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [=] {
    QWidget* modal = QApplication::activeModalWidget();
    if ((!modal || !modal->isVisible()) && ++*tries < 2000) return;
    timer->stop();
    timer->deleteLater();
    if (!modal) return;
    if (text)
      if (auto* label = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"))) *text = label->text();
    if (auto* box = qobject_cast<QMessageBox*>(modal); box && standard != QMessageBox::NoButton) {
      if (auto* button = box->button(standard)) button->click();
      return;
    }
    if (auto* button = modal->findChild<QPushButton*>(buttonName)) button->click();
  });
  timer->start();
}

// The delegate of the test, with a window opened on a package as the application does it.
class PlaybackTestHost {
 public:
  PlaybackTestHost() { delegate = std::make_unique<ZRNAppDelegate>(); }
  ~PlaybackTestHost() {
    for (const QPointer<QWidget>& window : delegate->playbackWindows())
      if (window) delete window.data();
    Test_ProcessEvents(0);
  }

  // Opens the package; answers the window (null when the delegate dropped it at once).
  VLPlaybackWC* open(const QString& package) {
    delegate->addZRNRecentItemForPath(package);
    delegate->U_OpenWindowForTopDoc();
    auto* window = qobject_cast<VLPlaybackWC*>(delegate->playbackWindows().last().data());
    return window;
  }

  // Waits until the window shows its movie, ready to play.
  static bool waitUntilPlayable(VLPlaybackWC* window) {
    return Test_WaitUntil([window] {
      auto item = window->player()->currentItem();
      return window->isVisible() && item && item->status() == PlayerItemStatus::ReadyToPlay &&
             item->currentVideoFrame() != nullptr;
    });
  }

  static bool seekTo(VLPlaybackWC* window, int64_t millis) {
    bool done = false;
    window->player()->seekToTime(MediaTimeMake(millis, 1000), kMediaTimeZero, kMediaTimeZero, [&](bool) { done = true; });
    return Test_WaitUntil([&] { return done; });
  }

  std::unique_ptr<ZRNAppDelegate> delegate;
};

// Notes every job change of one jobs controller: (job, code).
class PlaybackTestJobWatch {
 public:
  explicit PlaybackTestJobWatch(ZRNJobsController* controller) {
    NotificationCenter& center = NotificationCenter::defaultCenter();
    m_observation = NotificationObservation(
        center, center.addObserver(kZRNNotification_JobChange, nullptr, [this, controller](const Notification& note) {
          if (ZRNJobsController::senderOfNotification(note) != controller) return;
          changes.append({ZRNJobsController::jobOfNotification(note), ZRNJobsController::codeOfNotification(note)});
        }));
  }
  int count(const ZRN_JobRecord* job, int64_t code) const {
    int n = 0;
    for (const auto& change : changes) n += change.first == job && change.second == code;
    return n;
  }

  QList<std::pair<const ZRN_JobRecord*, int64_t>> changes;

 private:
  NotificationObservation m_observation;
};
