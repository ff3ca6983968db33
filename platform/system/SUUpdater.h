#pragma once
// The software updater: reads an update feed (an RSS "appcast" whose items carry a version and a
// download page) over HTTP or HTTPS and tells the user when a newer version exists. It never replaces
// the program's files: a newer version is shown with its notes and a button that opens its download
// page. The feed's address is fixed when the program is built; a build without one answers a check
// with the note that updates come with the distribution's packages.
//
// Its settings live in the user defaults under its own keys: the last check, the check interval, the
// automatic checks and the first start. Checks run by themselves at the interval, the first one not
// before a day after the first start.

#include <QDateTime>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <QVersionNumber>

#include <vector>

class QNetworkAccessManager;

class QWidget;

inline constexpr const char* kSULastCheckTimeKey = "SULastCheckTime";
inline constexpr const char* kSUScheduledCheckIntervalKey = "SUScheduledCheckInterval";
inline constexpr const char* kSUEnableAutomaticChecksKey = "SUEnableAutomaticChecks";
inline constexpr const char* kSUFirstStartTimeKey = "SUFirstStartTime";

inline constexpr double kSUDefaultCheckInterval = 86400;
// No scheduled check comes sooner than this after the last one, whatever the stored interval says.
inline constexpr double kSUMinimumCheckInterval = 3600;
// A feed larger than this is refused unread.
inline constexpr qint64 kSUMaximumFeedBytes = 1 << 20;

struct SUAppcastItem {
  QString title;
  // The version the item offers ("shortVersionString" when given, else "version").
  QString versionString;
  // The page the user downloads it from (http or https only).
  QUrl downloadPage;
  // The release notes as plain text.
  QString notes;
};

struct SUAppcast {
  std::vector<SUAppcastItem> items;
};

// Reads an appcast. Items without a version or without an http(s) page are skipped; anything that is
// not a well-formed RSS document (or nests too deeply, or holds too many items) answers false with a
// reason.
bool SUAppcast_Parse(const QByteArray& data, SUAppcast* appcast, QString* error);
// The item with the highest version (null when there is none).
const SUAppcastItem* SUAppcast_NewestItem(const SUAppcast& appcast);
// -1, 0 or 1 as version a is older than, equal to or newer than b (numerically, part by part).
int SU_CompareVersions(const QString& a, const QString& b);

class SUUpdater;

class SUUpdaterDelegate {
 public:
  virtual ~SUUpdaterDelegate() = default;
  virtual void updater_didFinishLoadingAppcast(SUUpdater* updater, const SUAppcast& appcast) = 0;
};

class SUUpdater : public QObject {
  Q_OBJECT
 public:
  // What the last check found.
  enum class CheckResult { None, NoFeed, Failed, UpToDate, UpdateFound };

  static SUUpdater* sharedUpdater();

  QDateTime lastUpdateCheckDate() const;
  // Seconds between scheduled checks (the default when nothing usable is stored).
  double updateCheckInterval() const;
  void setUpdateCheckInterval(double seconds);
  bool automaticallyChecksForUpdates() const;
  void setAutomaticallyChecksForUpdates(bool on);

  SUUpdaterDelegate* delegate() const { return m_delegate; }
  void setDelegate(SUUpdaterDelegate* delegate) { m_delegate = delegate; }

  // The build's feed unless another one was set.
  QUrl feedURL() const { return m_feedURL; }
  void setFeedURL(const QUrl& url) { m_feedURL = url; }
  // The version this program is.
  QString currentVersion() const { return m_currentVersion; }

  // Remembers the first start and schedules the automatic checks.
  void startUpdater();
  // A check the user asked for: every outcome is told.
  void checkForUpdates();
  // A scheduled check: only a newer version is told.
  void checkForUpdatesInBackground();
  bool isChecking() const { return m_reply != nullptr; }
  // When the next scheduled check runs (invalid when none is scheduled).
  QDateTime nextScheduledCheck() const { return m_nextCheck; }

  CheckResult lastResult() const { return m_lastResult; }
  QString lastMessage() const { return m_lastMessage; }
  // The window showing the outcome of the last check (the update alert or a message), while shown.
  QWidget* activeAlert() const;
  // The download page last opened.
  QUrl lastOpenedURL() const { return m_lastOpenedURL; }
  void openDownloadPage(const QUrl& url);

 signals:
  void checkFinished(SUUpdater::CheckResult result);

 private:
  SUUpdater();
  void startCheck(bool userInitiated);
  void replyFinished();
  void finishCheck(CheckResult result, const QString& message, const SUAppcastItem* item);
  void showMessage(const QString& text, const QString& explanation, bool isError);
  void showUpdateAlert(const SUAppcastItem& item);
  void scheduleNextCheck();

  SUUpdaterDelegate* m_delegate = nullptr;
  QUrl m_feedURL;
  QString m_currentVersion;
  QNetworkAccessManager* m_network = nullptr;
  QPointer<QNetworkReply> m_reply;
  QByteArray m_received;
  bool m_userInitiated = false;
  QTimer m_scheduleTimer;
  QDateTime m_nextCheck;
  // When the feed was last asked for, answered or not.
  QDateTime m_lastAttempt;
  CheckResult m_lastResult = CheckResult::None;
  QString m_lastMessage;
  QPointer<QWidget> m_alert;
  QUrl m_lastOpenedURL;
};
