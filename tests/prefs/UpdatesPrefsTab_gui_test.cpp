#include "prefs/UpdatesPrefsTabController.h"

#include "platform/system/SUUpdater.h"
#include "prefs/PrefsTestSupport.h"
#include "support/AccessibilitySupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

// A small HTTP server on the loopback interface that answers each path with its body.
class FeedServer : public QObject {
 public:
  FeedServer() {
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
    m_server.listen(QHostAddress::LocalHost);
  }
  void serve(const QString& path, const QByteArray& body) { m_bodies[path] = body; }
  QUrl url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
  }
  int requests = 0;

 private:
  void answer(QTcpSocket* socket) {
    QByteArray& request = m_requests[socket];
    request += socket->readAll();
    if (!request.contains("\r\n\r\n")) return;
    ++requests;
    const QString path = QString::fromLatin1(request.split(' ').value(1));
    m_requests.remove(socket);
    QByteArray response;
    if (m_bodies.count(path)) {
      const QByteArray& body = m_bodies[path];
      response = "HTTP/1.1 200 OK\r\nContent-Type: application/rss+xml\r\nContent-Length: " + QByteArray::number(body.size()) +
                 "\r\nConnection: close\r\n\r\n" + body;
    } else {
      response = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
    socket->write(response);
    socket->disconnectFromHost();
  }
  QTcpServer m_server;
  std::map<QString, QByteArray> m_bodies;
  QHash<QTcpSocket*, QByteArray> m_requests;
};

QByteArray Feed(const QString& version, const QString& link = QStringLiteral("https://velmora.example/download")) {
  return QStringLiteral(
             "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
             "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">\n"
             "<channel><title>Velmora</title>\n"
             "<item><title>Velmora 0.9</title><sparkle:version>0.9</sparkle:version>"
             "<link>https://velmora.example/old</link><description>old</description></item>\n"
             "<item><title>Velmora %1</title><link>%2</link>"
             "<description><![CDATA[<h2>New</h2><p>Goals are <b>counted</b> faster.</p>]]></description>"
             "<enclosure url=\"https://velmora.example/velmora.tar.gz\" sparkle:version=\"%1\" length=\"1\" type=\"application/octet-stream\"/>"
             "</item>\n"
             "</channel></rss>\n")
      .arg(version, link)
      .toUtf8();
}

class UpdatesTab : public PrefsWindowFixture {
 protected:
  void SetUp() override {
    PrefsWindowFixture::SetUp();
    UserDefaults::standard().setObject(kMBPreferencesSelectionKey, QString("UpdatesPrefsPane"));
    updater()->setFeedURL(QUrl());
  }
  void TearDown() override {
    if (QWidget* alert = updater()->activeAlert()) alert->close();
    updater()->setFeedURL(QUrl());
    updater()->setDelegate(nullptr);
    PrefsWindowFixture::TearDown();
  }
  static SUUpdater* updater() { return SUUpdater::sharedUpdater(); }
  UpdatesPrefsTabController* open() {
    ZRNPrefsController* controller = openWindow();
    EXPECT_EQ(controller->currentModule()->identifier(), "UpdatesPrefsPane");
    return controller->updatesTab();
  }
  // "Check Now", then the check's end.
  SUUpdater::CheckResult checkNow(UpdatesPrefsTabController* tab) {
    QSignalSpy finished(updater(), &SUUpdater::checkFinished);
    tab->doCheckBox()->click();
    EXPECT_TRUE(Test_WaitUntil([&] { return finished.count() == 1; }, 40000));
    return updater()->lastResult();
  }
  static QString alertName() { return updater()->activeAlert() ? updater()->activeAlert()->objectName() : QString(); }
};

}  // namespace

TEST_F(UpdatesTab, IntervalChoices) {
  const struct {
    double interval;
    int item;
  } rows[] = {{3600, 0}, {86400, 0}, {86401, 1}, {604800, 1}, {604801, 2}, {2592000, 2}};
  UpdatesPrefsTabController* tab = open();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.interval);
    updater()->setUpdateCheckInterval(row.interval);
    tab->willBeDisplayed();
    EXPECT_EQ(tab->checkWhenButton()->currentIndex(), row.item);
  }
  const double stored[] = {86400, 604800, 756000};
  for (int item = 2; item >= 0; --item) {
    Test_Choose(tab->checkWhenButton(), item);
    EXPECT_EQ(UserDefaults::standard().doubleForKey(kSUScheduledCheckIntervalKey), stored[item]);
    tab->willBeDisplayed();
    EXPECT_EQ(tab->checkWhenButton()->currentIndex(), item);
  }
  EXPECT_TRUE(tab->doSendDataCheck()->isHidden());
  EXPECT_FALSE(tab->doSendDataCheck()->isEnabled());
}

TEST_F(UpdatesTab, ChecksAFeedAndShowsOnlyANewerVersion) {
  UserDefaults::standard().removeObject(kSULastCheckTimeKey);
  UpdatesPrefsTabController* tab = open();
  EXPECT_EQ(tab->lastCheckText()->text(), "Last check never");

  FeedServer server;
  server.serve("/newer.xml", Feed("999.2"));
  server.serve("/equal.xml", Feed(VELMORA_VERSION_STRING));
  server.serve("/unsafe.xml", Feed("999.3", "javascript:alert(1)").replace("https://velmora.example/velmora.tar.gz", "file:///etc/passwd"));

  updater()->setFeedURL(server.url("/newer.xml"));
  EXPECT_EQ(checkNow(tab), SUUpdater::CheckResult::UpdateFound);
  EXPECT_EQ(alertName(), "SUUpdateAlert");
  EXPECT_TRUE(tab->lastCheckText()->text().startsWith("Last check ")) << tab->lastCheckText()->text().toStdString();
  EXPECT_NE(tab->lastCheckText()->text(), "Last check never");
  EXPECT_TRUE(updater()->lastUpdateCheckDate().isValid());
  QWidget* alert = updater()->activeAlert();
  const QString notes = alert->findChild<QTextBrowser*>("releaseNotesView")->toPlainText();
  EXPECT_TRUE(notes.contains("Goals are counted faster.")) << notes.toStdString();
  EXPECT_FALSE(notes.contains("<b>"));
  alert->findChild<QPushButton*>("okBtn")->click();
  EXPECT_EQ(updater()->lastOpenedURL(), QUrl("https://velmora.example/download"));
  EXPECT_TRUE(Test_WaitUntil([&] { return !updater()->activeAlert(); }));

  for (const char* path : {"/equal.xml", "/unsafe.xml"}) {
    SCOPED_TRACE(path);
    updater()->setFeedURL(server.url(path));
    EXPECT_EQ(checkNow(tab), SUUpdater::CheckResult::UpToDate);
    EXPECT_EQ(alertName(), "SUStatusAlert");
    EXPECT_FALSE(updater()->activeAlert()->property("isError").toBool());
  }
  EXPECT_EQ(server.requests, 3);
}

// Each control is read as the tab shows it, the last check's date (or "never") included, before a check
// and after one; the menu reads its choice, labelled by its caption.
TEST_F(UpdatesTab, EveryControlIsReadAsTheTabShowsIt) {
  UserDefaults::standard().removeObject(kSULastCheckTimeKey);
  UpdatesPrefsTabController* tab = open();
  FeedServer server;
  server.serve("/equal.xml", Feed(VELMORA_VERSION_STRING));
  const struct {
    const char* state;
    std::function<void()> act;
    bool never;  // no check made yet
  } states[] = {
      {"never checked", [] {}, true},
      {"checked",
       [&] {
         updater()->setFeedURL(server.url("/equal.xml"));
         EXPECT_EQ(checkNow(tab), SUUpdater::CheckResult::UpToDate);
       },
       false},
      {"weekly", [&] { Test_Choose(tab->checkWhenButton(), 1); }, false},
  };
  for (const auto& state : states) {
    SCOPED_TRACE(state.state);
    state.act();
    EXPECT_EQ(tab->lastCheckText()->text() == "Last check never", state.never) << tab->lastCheckText()->text().toStdString();
    EXPECT_EQ(Test_NamesApartFromScreen(tab, {}, {tab->lastCheckText()}).join("; ").toStdString(), "");
  }
}

TEST_F(UpdatesTab, UnreachableOrMalformedFeedsSayWhatWentWrong) {
  UpdatesPrefsTabController* tab = open();
  FeedServer server;
  server.serve("/garbage.xml", "<html><body>Not a feed</body></html>");
  server.serve("/broken.xml", Feed("999.2").left(300));
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
  const QUrl unreachable(QStringLiteral("http://127.0.0.1:%1/feed.xml").arg(closed.serverPort()));
  closed.close();
  const struct {
    QUrl url;
    const char* said;
  } rows[] = {{server.url("/garbage.xml"), "not a valid update feed"},
              {server.url("/broken.xml"), "not a valid update feed"},
              {server.url("/missing.xml"), "could not be read"},
              {unreachable, "could not be read"}};
  UserDefaults::standard().removeObject(kSULastCheckTimeKey);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url.toString().toStdString());
    updater()->setFeedURL(row.url);
    EXPECT_EQ(checkNow(tab), SUUpdater::CheckResult::Failed);
    EXPECT_EQ(alertName(), "SUStatusAlert");
    EXPECT_TRUE(updater()->activeAlert()->property("isError").toBool());
    EXPECT_TRUE(updater()->lastMessage().contains(row.said)) << updater()->lastMessage().toStdString();
    EXPECT_TRUE(updater()->lastMessage().contains(row.url.toString()));
  }
  // Nothing was read, so nothing counts as a check; a scheduled check does not follow at once.
  EXPECT_EQ(tab->lastCheckText()->text(), "Last check never");
  UserDefaults::standard().setObject(kSUFirstStartTimeKey, QDateTime::currentDateTimeUtc().addDays(-30));
  updater()->startUpdater();
  EXPECT_GE(updater()->nextScheduledCheck(), QDateTime::currentDateTimeUtc().addSecs(3500));

  updater()->setFeedURL(QUrl());
  EXPECT_EQ(checkNow(tab), SUUpdater::CheckResult::NoFeed);
  EXPECT_TRUE(updater()->lastMessage().contains("packages of your distribution"));
  EXPECT_EQ(alertName(), "SUStatusAlert");
}

TEST_F(UpdatesTab, ScheduledChecksWaitADayAfterTheFirstStartAndThenTheInterval) {
  UserDefaults& defaults = UserDefaults::standard();
  updater()->setFeedURL(QUrl("https://velmora.example/appcast.xml"));
  updater()->setUpdateCheckInterval(604800);
  defaults.removeObject(kSUFirstStartTimeKey);
  defaults.removeObject(kSULastCheckTimeKey);
  const QDateTime before = QDateTime::currentDateTimeUtc();
  updater()->startUpdater();
  EXPECT_GE(updater()->nextScheduledCheck(), before.addSecs(86400));
  EXPECT_LE(updater()->nextScheduledCheck(), QDateTime::currentDateTimeUtc().addSecs(86400));

  const QDateTime lastCheck = before.addSecs(-3600);
  defaults.setObject(kSUFirstStartTimeKey, before.addDays(-30));
  defaults.setObject(kSULastCheckTimeKey, lastCheck);
  updater()->startUpdater();
  EXPECT_EQ(updater()->nextScheduledCheck(), lastCheck.addSecs(604800));
  // The stored first start is kept.
  EXPECT_EQ(defaults.objectForKey(kSUFirstStartTimeKey).toDateTime(), before.addDays(-30));

  updater()->setAutomaticallyChecksForUpdates(false);
  EXPECT_FALSE(updater()->nextScheduledCheck().isValid());
  updater()->setAutomaticallyChecksForUpdates(true);
  updater()->setFeedURL(QUrl());
  updater()->startUpdater();
  EXPECT_FALSE(updater()->nextScheduledCheck().isValid());
}

TEST(SUAppcast, VersionsCompareNumericallyAndHostileFeedsAreRefused) {
  EXPECT_EQ(SU_CompareVersions("1.1.10", "1.1.7"), 1);
  EXPECT_EQ(SU_CompareVersions("1.1.7", "1.1.7"), 0);
  EXPECT_EQ(SU_CompareVersions("1.1", "1.1.0"), 0);
  EXPECT_EQ(SU_CompareVersions("0.9", "1.0"), -1);

  QByteArray deep = "<rss><channel>";
  for (int i = 0; i < 100; ++i) deep += "<a>";
  QString error;
  EXPECT_FALSE(SUAppcast_Parse(deep, nullptr, &error));
  EXPECT_FALSE(error.isEmpty());
  // Entities that expand without end are not expanded.
  QByteArray bomb = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaa\">";
  for (int i = 1; i < 10; ++i)
    bomb += QByteArray("<!ENTITY ") + char('a' + i) + " \"" + QByteArray(10, '&').replace("&", QByteArray("&") + char('a' + i - 1) + ";") + "\">";
  bomb += "]><rss><channel><item><title>&j;</title></item></channel></rss>";
  EXPECT_FALSE(SUAppcast_Parse(bomb, nullptr, &error));
  SUAppcast appcast;
  ASSERT_TRUE(SUAppcast_Parse(Feed("2.0"), &appcast, &error)) << error.toStdString();
  ASSERT_EQ(appcast.items.size(), 2u);
  EXPECT_EQ(SUAppcast_NewestItem(appcast)->versionString, "2.0");
  EXPECT_EQ(SUAppcast_NewestItem(appcast)->downloadPage, QUrl("https://velmora.example/download"));
}
