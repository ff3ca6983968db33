#pragma once
// Session packages for the playback window's tests, and a window opened the way the application opens
// one: the package becomes the top recent session and the delegate makes its window.

#include "app/ZRNAppDelegate.h"
#include "common/ZRNJSONBridge.h"
#include "common/ZRNRecentDocument.h"
#include "session/VLDocument.h"
#include "composition/VL_ExportJobRecord.h"
#include "composition/ZRNJobsController.h"
#include "platform/media/player/Player.h"
#include "platform/media/player/PlayerItem.h"
#include "playback/VLPlaybackWC.h"
#include "support/MediaTestSupport.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

// A fragmented movie from lavfi sources: 160x120 at 30 fps with a tone, a key frame (and a fragment) every second.
inline bool PlaybackTest_MakeMovie(const QString& path, double seconds, bool video = true) {
  QStringList args{"-y", "-v", "error"};
  if (video) args << "-f" << "lavfi" << "-i" << "testsrc2=size=160x120:rate=30";
  args << "-f" << "lavfi" << "-i" << "sine=frequency=440:sample_rate=48000" << "-t" << QString::number(seconds);
  if (video) args << "-c:v" << "libx264" << "-preset" << "ultrafast" << "-g" << "30" << "-pix_fmt" << "yuv420p";
  args << "-c:a" << "aac" << "-movflags" << "frag_keyframe+empty_moov+default_base_moof" << path;
  bool ok = false;
  TestMovie_Run(QStringLiteral("ffmpeg"), args, &ok);
  return ok;
}

// The offsets of a movie's top-level boxes by type ("moof", "mdat", ...), in file order, up to the first
// box that does not fit.
inline QMap<QByteArray, QList<qint64>> PlaybackTest_TopLevelBoxes(const QByteArray& bytes) {
  QMap<QByteArray, QList<qint64>> boxes;
  qint64 at = 0;
  while (at + 8 <= bytes.size()) {
    const quint32 size = (quint32(uchar(bytes[at])) << 24) | (quint32(uchar(bytes[at + 1])) << 16) |
                         (quint32(uchar(bytes[at + 2])) << 8) | quint32(uchar(bytes[at + 3]));
    if (size < 8) break;
    boxes[bytes.mid(at + 4, 4)].append(at);
    at += size;
  }
  return boxes;
}

// Cuts a fragmented movie where its first fragment begins, as a recording killed before it: the header
// (ftyp, moov) stays and not one frame.
inline bool PlaybackTest_CutBeforeFirstFragment(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite)) return false;
  const QList<qint64> fragments = PlaybackTest_TopLevelBoxes(file.readAll()).value("moof");
  return !fragments.isEmpty() && file.resize(fragments.first());
}

// Zeroes the H.264 decoder configuration (avcC) of a movie: it still opens, and not one picture decodes.
inline bool PlaybackTest_ZeroDecoderConfiguration(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadWrite)) return false;
  QByteArray bytes = file.readAll();
  const qsizetype at = bytes.indexOf("avcC");
  if (at < 4) return false;
  const quint32 size = (quint32(uchar(bytes[at - 4])) << 24) | (quint32(uchar(bytes[at - 3])) << 16) |
                       (quint32(uchar(bytes[at - 2])) << 8) | quint32(uchar(bytes[at - 1]));
  if (size < 8 || at - 4 + qsizetype(size) > bytes.size()) return false;
  bytes.replace(at + 4, size - 8, QByteArray(size - 8, '\0'));
  return file.seek(0) && file.write(bytes) == bytes.size();
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
  return doc;
}

inline QVariantMap PlaybackTest_ReadSettings(const QString& package) {
  QFile file(package + QStringLiteral("/VLSettings.json"));
  return file.open(QIODevice::ReadOnly) ? JSON_CFFromJSONData(file.readAll()).toMap() : QVariantMap();
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
    if (auto* label = modal->findChild<QLabel*>(QStringLiteral("mainTextfield")); label && text) *text = label->text();
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (auto* button = box && standard != QMessageBox::NoButton ? box->button(standard)
                                                                 : modal->findChild<QPushButton*>(buttonName))
      button->click();
  });
  timer->start();
}

// The delegate of the test, with a window opened on a package as the application does it.
class PlaybackTestHost {
 public:
  ~PlaybackTestHost() {
    for (const QPointer<QWidget>& window : delegate->playbackWindows()) delete window.data();
    Test_ProcessEvents(0);
  }

  // Opens the package; answers the window (null when the delegate dropped it at once).
  VLPlaybackWC* open(const QString& package) {
    delegate->addZRNRecentItemForPath(package);
    delegate->U_OpenWindowForTopDoc();
    return qobject_cast<VLPlaybackWC*>(delegate->playbackWindows().last().data());
  }

  // Opens the package and waits until the window shows its movie, ready to play.
  VLPlaybackWC* openPlayable(const QString& package) {
    VLPlaybackWC* window = open(package);
    return window && waitUntilPlayable(window) ? window : nullptr;
  }
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

  std::unique_ptr<ZRNAppDelegate> delegate = std::make_unique<ZRNAppDelegate>();
};

// Counts the job changes of one jobs controller by job and code.
class PlaybackTestJobWatch {
 public:
  explicit PlaybackTestJobWatch(ZRNJobsController* controller) {
    NotificationCenter& center = NotificationCenter::defaultCenter();
    m_observation = NotificationObservation(
        center, center.addObserver(kZRNNotification_JobChange, nullptr, [this, controller](const Notification& note) {
          if (ZRNJobsController::senderOfNotification(note) == controller)
            m_changes.append({ZRNJobsController::jobOfNotification(note), ZRNJobsController::codeOfNotification(note)});
        }));
  }
  int count(const ZRN_JobRecord* job, int64_t code) const {
    return static_cast<int>(m_changes.count(std::pair<const ZRN_JobRecord*, int64_t>(job, code)));
  }

 private:
  QList<std::pair<const ZRN_JobRecord*, int64_t>> m_changes;
  NotificationObservation m_observation;
};

// Marks in and out, asks for the manual clip and answers its job once it is queued (null when it is not).
inline std::shared_ptr<VL_ExportJobRecord> PlaybackTest_RequestClip(VLPlaybackWC* window, int64_t in, int64_t out) {
  const int64_t before = window->jobsController()->numberOfJobs();
  window->U_SetInPointAtTime(MediaTimeMake(in, 1000));
  window->U_SetOutPointAtTime(MediaTimeMake(out, 1000));
  window->exportInOutClip();
  if (!Test_WaitUntil([&] { return window->jobsController()->numberOfJobs() == before + 1; })) return nullptr;
  return window->jobsController()->jobAtIndex(0);
}

// Tests whose sessions all copy one movie of `Seconds`, made once for the suite.
template <int Seconds>
class PlaybackMovieSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_movie = new QString(Test_MakeTempDir(QStringLiteral("movie")) + QStringLiteral("/movie.mov"));
    if (!PlaybackTest_MakeMovie(*s_movie, Seconds)) s_movie->clear();
  }
  static void TearDownTestSuite() {
    delete s_movie;
    s_movie = nullptr;
  }
  // A session package at `package` holding the suite's movie, with a settings file.
  static void makeSession(const QString& package) {
    QDir().mkpath(package);
    QFile::copy(*s_movie, package + QStringLiteral("/VLCapturedMovie.mov"));
    PlaybackTest_Document(package)->updateSettingsFile();
  }

  static inline QString* s_movie = nullptr;
};
