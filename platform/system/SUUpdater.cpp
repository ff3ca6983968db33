#include "platform/system/SUUpdater.h"
#include "platform/system/WindowTitleFit.h"

#include "platform/foundation/PlatformLog.h"
#include "platform/foundation/UserDefaults.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QXmlStreamReader>

#include <algorithm>

#ifndef VELMORA_UPDATE_FEED_URL
#define VELMORA_UPDATE_FEED_URL ""
#endif

namespace {

constexpr int kMaximumDepth = 32;
constexpr size_t kMaximumItems = 2000;
constexpr int kTransferTimeoutMillis = 30000;
constexpr qint64 kFirstCheckDelaySeconds = 86400;

QString Tr(const char* text) { return QCoreApplication::translate("SUUpdater", text); }

// Release notes are often HTML; they are shown as text so that a feed cannot make the window load
// anything.
QString PlainNotes(const QString& notes) {
  if (!Qt::mightBeRichText(notes)) return notes.trimmed();
  QTextDocument document;
  document.setHtml(notes);
  return document.toPlainText().trimmed();
}

bool IsWebURL(const QUrl& url) {
  return url.isValid() && !url.host().isEmpty() &&
         (url.scheme() == QLatin1String("https") || url.scheme() == QLatin1String("http"));
}

// Reads on to the next start element, keeping depth (the elements open) up to date. False at the end of
// the document, on an error, on nesting deeper than allowed (raised as the error), and once an end
// element brings depth down to leaveAt.
bool NextStartElement(QXmlStreamReader& xml, int& depth, int leaveAt = -1) {
  while (!xml.atEnd()) {
    const QXmlStreamReader::TokenType token = xml.readNext();
    if (token == QXmlStreamReader::EndElement) {
      if (--depth <= leaveAt) return false;
      continue;
    }
    if (token != QXmlStreamReader::StartElement) continue;
    if (++depth > kMaximumDepth) {
      xml.raiseError(QStringLiteral("the feed nests too deeply"));
      return false;
    }
    return true;
  }
  return false;
}

void ReadItem(QXmlStreamReader& xml, SUAppcastItem& item, QString& version, QString& shortVersion, QUrl& enclosure) {
  // At the start of <item>; reads up to its end.
  int depth = 1;
  while (NextStartElement(xml, depth, 0)) {
    const QStringView name = xml.name();
    if (depth != 2) continue;
    if (name == QLatin1String("enclosure")) {
      const QXmlStreamAttributes attributes = xml.attributes();
      for (const QXmlStreamAttribute& a : attributes) {
        if (a.name() == QLatin1String("version")) version = a.value().toString().trimmed();
        if (a.name() == QLatin1String("shortVersionString")) shortVersion = a.value().toString().trimmed();
        if (a.name() == QLatin1String("url")) enclosure = QUrl(a.value().toString().trimmed());
      }
      continue;
    }
    // Text elements: reading their text also consumes their end.
    auto text = [&] {
      --depth;
      return xml.readElementText(QXmlStreamReader::IncludeChildElements);
    };
    if (name == QLatin1String("title"))
      item.title = text().trimmed();
    else if (name == QLatin1String("link"))
      item.downloadPage = QUrl(text().trimmed());
    else if (name == QLatin1String("description"))
      item.notes = PlainNotes(text());
    else if (name == QLatin1String("version"))
      version = text().trimmed();
    else if (name == QLatin1String("shortVersionString"))
      shortVersion = text().trimmed();
  }
}

}  // namespace

int SU_CompareVersions(const QString& a, const QString& b) {
  // Trailing zeros do not count: 1.1 is 1.1.0.
  const int c = QVersionNumber::compare(QVersionNumber::fromString(a).normalized(), QVersionNumber::fromString(b).normalized());
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool SUAppcast_Parse(const QByteArray& data, SUAppcast* appcast, QString* error) {
  SUAppcast result;
  QXmlStreamReader xml(data);
  bool sawRSS = false;
  int depth = 0;
  while (NextStartElement(xml, depth)) {
    if (depth == 1) {
      if (xml.name() != QLatin1String("rss")) {
        xml.raiseError(QStringLiteral("the document is not an RSS feed"));
        break;
      }
      sawRSS = true;
      continue;
    }
    if (xml.name() != QLatin1String("item")) continue;
    if (result.items.size() >= kMaximumItems) {
      xml.raiseError(QStringLiteral("the feed holds too many items"));
      break;
    }
    SUAppcastItem item;
    QString version, shortVersion;
    QUrl enclosure;
    ReadItem(xml, item, version, shortVersion, enclosure);
    --depth;
    if (xml.hasError()) break;
    item.versionString = shortVersion.isEmpty() ? version : shortVersion;
    if (!IsWebURL(item.downloadPage)) item.downloadPage = enclosure;
    // An item we could neither compare nor point the user to is of no use.
    if (item.versionString.isEmpty() || QVersionNumber::fromString(item.versionString).isNull() || !IsWebURL(item.downloadPage))
      continue;
    result.items.push_back(item);
  }
  if (!xml.hasError() && !sawRSS) xml.raiseError(QStringLiteral("the document is empty"));
  if (xml.hasError()) {
    if (error) *error = xml.errorString();
    return false;
  }
  if (appcast) *appcast = std::move(result);
  return true;
}

const SUAppcastItem* SUAppcast_NewestItem(const SUAppcast& appcast) {
  const SUAppcastItem* newest = nullptr;
  for (const SUAppcastItem& item : appcast.items)
    if (!newest || SU_CompareVersions(item.versionString, newest->versionString) > 0) newest = &item;
  return newest;
}

// ---- the updater ----

QWidget* SUUpdater::activeAlert() const { return m_alert; }

SUUpdater* SUUpdater::sharedUpdater() {
  static SUUpdater* shared = new SUUpdater;
  return shared;
}

SUUpdater::SUUpdater() {
  m_feedURL = QUrl(QString::fromUtf8(VELMORA_UPDATE_FEED_URL));
  m_currentVersion = QString::fromLatin1(VELMORA_VERSION_STRING);
  m_scheduleTimer.setSingleShot(true);
  connect(&m_scheduleTimer, &QTimer::timeout, this, [this] { checkForUpdatesInBackground(); });
}

QDateTime SUUpdater::lastUpdateCheckDate() const {
  const QVariant value = UserDefaults::standard().objectForKey(QString::fromLatin1(kSULastCheckTimeKey));
  return value.typeId() == QMetaType::QDateTime ? value.toDateTime() : QDateTime();
}

double SUUpdater::updateCheckInterval() const {
  const double seconds = UserDefaults::standard().doubleForKey(QString::fromLatin1(kSUScheduledCheckIntervalKey));
  return seconds > 0 ? seconds : kSUDefaultCheckInterval;
}

void SUUpdater::setUpdateCheckInterval(double seconds) {
  UserDefaults::standard().setDouble(QString::fromLatin1(kSUScheduledCheckIntervalKey), seconds);
  if (m_nextCheck.isValid()) scheduleNextCheck();
}

bool SUUpdater::automaticallyChecksForUpdates() const {
  const QVariant value = UserDefaults::standard().objectForKey(QString::fromLatin1(kSUEnableAutomaticChecksKey));
  return value.isValid() ? value.toBool() : true;
}

void SUUpdater::setAutomaticallyChecksForUpdates(bool on) {
  UserDefaults::standard().setBool(QString::fromLatin1(kSUEnableAutomaticChecksKey), on);
  scheduleNextCheck();
}

void SUUpdater::startUpdater() {
  UserDefaults& defaults = UserDefaults::standard();
  if (defaults.objectForKey(QString::fromLatin1(kSUFirstStartTimeKey)).typeId() != QMetaType::QDateTime)
    defaults.setObject(QString::fromLatin1(kSUFirstStartTimeKey), QDateTime::currentDateTimeUtc());
  scheduleNextCheck();
}

void SUUpdater::scheduleNextCheck() {
  m_scheduleTimer.stop();
  m_nextCheck = QDateTime();
  if (!automaticallyChecksForUpdates() || m_feedURL.isEmpty()) return;
  const QVariant first = UserDefaults::standard().objectForKey(QString::fromLatin1(kSUFirstStartTimeKey));
  if (first.typeId() != QMetaType::QDateTime) return;  // not started
  QDateTime next = first.toDateTime().addSecs(kFirstCheckDelaySeconds);
  const QDateTime last = lastUpdateCheckDate();
  const qint64 interval = qint64(std::max(updateCheckInterval(), kSUMinimumCheckInterval));
  if (last.isValid()) next = std::max(next, last.addSecs(interval));
  // A check that failed leaves the last check where it was: the next try waits the shortest interval
  // instead of following at once, again and again.
  if (m_lastAttempt.isValid()) next = std::max(next, m_lastAttempt.addSecs(qint64(kSUMinimumCheckInterval)));
  const QDateTime now = QDateTime::currentDateTimeUtc();
  if (next < now) next = now;
  m_nextCheck = next;
  m_scheduleTimer.start(int(std::min<qint64>(now.msecsTo(next), std::numeric_limits<int>::max())));
}

void SUUpdater::checkForUpdates() { startCheck(true); }

void SUUpdater::checkForUpdatesInBackground() { startCheck(false); }

void SUUpdater::startCheck(bool userInitiated) {
  if (m_reply) {
    // One check at a time; the one running now reports to the user when the user asked.
    m_userInitiated = m_userInitiated || userInitiated;
    return;
  }
  m_userInitiated = userInitiated;
  if (m_feedURL.isEmpty()) {
    finishCheck(CheckResult::NoFeed, Tr("Updates of Velmora come with the packages of your distribution."), nullptr);
    return;
  }
  if (!IsWebURL(m_feedURL)) {
    finishCheck(CheckResult::Failed, Tr("The update feed address \"%1\" is not an http or https address.").arg(m_feedURL.toString()),
                nullptr);
    return;
  }
  if (!m_network) m_network = new QNetworkAccessManager(this);
  QNetworkRequest request(m_feedURL);
  request.setTransferTimeout(kTransferTimeoutMillis);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Velmora/%1").arg(m_currentVersion));
  m_received.clear();
  m_lastAttempt = QDateTime::currentDateTimeUtc();
  m_reply = m_network->get(request);
  QNetworkReply* reply = m_reply;
  connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
    m_received += reply->readAll();
    if (m_received.size() > kSUMaximumFeedBytes) reply->abort();
  });
  connect(reply, &QNetworkReply::finished, this, [this] { replyFinished(); });
  Platform_Log(QStringLiteral("updater: checking %@"), m_feedURL.toString());
}

void SUUpdater::replyFinished() {
  QNetworkReply* reply = m_reply;
  m_reply = nullptr;
  if (!reply) return;
  reply->deleteLater();
  m_received += reply->readAll();
  const QString feed = m_feedURL.toString();
  if (m_received.size() > kSUMaximumFeedBytes) {
    finishCheck(CheckResult::Failed, Tr("The update feed at %1 is larger than an update feed can be.").arg(feed), nullptr);
    return;
  }
  if (reply->error() != QNetworkReply::NoError) {
    finishCheck(CheckResult::Failed, Tr("The update feed at %1 could not be read: %2").arg(feed, reply->errorString()), nullptr);
    return;
  }
  SUAppcast appcast;
  QString error;
  if (!SUAppcast_Parse(m_received, &appcast, &error)) {
    finishCheck(CheckResult::Failed, Tr("The update feed at %1 is not a valid update feed: %2").arg(feed, error), nullptr);
    return;
  }
  UserDefaults::standard().setObject(QString::fromLatin1(kSULastCheckTimeKey), QDateTime::currentDateTimeUtc());
  if (m_delegate) m_delegate->updater_didFinishLoadingAppcast(this, appcast);
  const SUAppcastItem* newest = SUAppcast_NewestItem(appcast);
  if (newest && SU_CompareVersions(newest->versionString, m_currentVersion) > 0)
    finishCheck(CheckResult::UpdateFound, newest->versionString, newest);
  else
    finishCheck(CheckResult::UpToDate, Tr("Velmora %1 is the newest version available.").arg(m_currentVersion), nullptr);
}

void SUUpdater::finishCheck(CheckResult result, const QString& message, const SUAppcastItem* item) {
  m_lastResult = result;
  m_lastMessage = message;
  Platform_Log(QStringLiteral("updater: %@"), message);
  if (result == CheckResult::UpdateFound && item)
    showUpdateAlert(*item);
  else if (m_userInitiated)
    showMessage(result == CheckResult::Failed ? Tr("Checking for updates failed.") : Tr("No update available."), message,
                result == CheckResult::Failed);
  m_userInitiated = false;
  if (result != CheckResult::NoFeed) scheduleNextCheck();
  emit checkFinished(result);
}

void SUUpdater::openDownloadPage(const QUrl& url) {
  if (!IsWebURL(url)) return;
  m_lastOpenedURL = url;
  Platform_Log(QStringLiteral("updater: opening %@"), url.toString());
  // Offscreen runs have no desktop to hand the page to.
  if (QGuiApplication::platformName() != QLatin1String("offscreen")) QDesktopServices::openUrl(url);
}

namespace {
QDialog* MakeAlertWindow(const QString& objectName, const QString& title, const QString& text, const QString& explanation) {
  auto* dialog = new QDialog(nullptr, Qt::Dialog);
  dialog->setObjectName(objectName);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(title);
  auto* layout = new QVBoxLayout(dialog);
  auto* main = new QLabel(QStringLiteral("<b>%1</b>").arg(text.toHtmlEscaped()), dialog);
  main->setObjectName(QStringLiteral("mainTextfield"));
  main->setWordWrap(true);
  layout->addWidget(main);
  auto* explain = new QLabel(explanation, dialog);
  explain->setObjectName(QStringLiteral("explainTextfield"));
  explain->setTextFormat(Qt::PlainText);
  explain->setWordWrap(true);
  explain->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(explain);
  return dialog;
}
}  // namespace

void SUUpdater::showMessage(const QString& text, const QString& explanation, bool isError) {
  if (m_alert) m_alert->close();
  QDialog* dialog = MakeAlertWindow(QStringLiteral("SUStatusAlert"), Tr("Software Update"), text, explanation);
  dialog->setProperty("isError", isError);
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* ok = buttons->addButton(Tr("OK"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("okBtn"));
  ok->setAccessibleName(Tr("OK"));
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  dialog->layout()->addWidget(buttons);
  Window_FitTitleAndTexts(dialog);
  m_alert = dialog;
  dialog->show();
}

void SUUpdater::showUpdateAlert(const SUAppcastItem& item) {
  if (m_alert) m_alert->close();
  QDialog* dialog =
      MakeAlertWindow(QStringLiteral("SUUpdateAlert"), Tr("Software Update"), Tr("A new version of Velmora is available!"),
                      Tr("Velmora %1 is available; you have %2. Download it from its page, or install it with your "
                         "distribution's packages when they have it.")
                          .arg(item.versionString, m_currentVersion));
  auto* notes = new QTextBrowser(dialog);
  notes->setObjectName(QStringLiteral("releaseNotesView"));
  notes->setAccessibleName(Tr("Release notes"));
  notes->setOpenLinks(false);
  notes->setPlainText(item.notes);
  notes->setMinimumSize(420, 160);
  dialog->layout()->addWidget(notes);
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* later = buttons->addButton(Tr("Later"), QDialogButtonBox::RejectRole);
  later->setObjectName(QStringLiteral("cancelBtn"));
  later->setAccessibleName(Tr("Later"));
  QPushButton* open = buttons->addButton(Tr("Open Download Page"), QDialogButtonBox::AcceptRole);
  open->setObjectName(QStringLiteral("okBtn"));
  open->setAccessibleName(Tr("Open Download Page"));
  open->setDefault(true);
  const QUrl page = item.downloadPage;
  connect(open, &QPushButton::clicked, dialog, [this, dialog, page] {
    openDownloadPage(page);
    dialog->accept();
  });
  connect(later, &QPushButton::clicked, dialog, &QDialog::reject);
  dialog->layout()->addWidget(buttons);
  Window_FitTitleAndTexts(dialog);
  m_alert = dialog;
  dialog->show();
}
