// The recent-sessions list and its Recents submenu, on a real delegate and real folders.

#include "app/ZRNAppDelegate.h"

#include "tests/app/AppTestSupport.h"
#include "app/ZRNAppMenus.h"
#include "common/ZRNRecentDocument.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

namespace {
const QString kStoredKey = QStringLiteral("ZRNRecentDocuments");

class RecentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Test_FreshPrefs();
    folder = Test_MakeTempDir(QStringLiteral("sessions"));
    delegate = std::make_unique<ZRNAppDelegate>();
  }
  void TearDown() override { delegate.reset(); }

  // A session package folder that exists.
  QString makeSession(const QString& name, const QString& extension = QStringLiteral("vlvidcapb")) {
    const QString path = folder + QLatin1Char('/') + name + QLatin1Char('.') + extension;
    QDir().mkpath(path);
    return path;
  }
  QStringList listedPaths() { return Test_RecentPaths(*delegate); }
  QStringList storedPaths() {
    QStringList paths;
    for (const QVariant& stored : UserDefaults::standard().arrayForKey(kStoredKey))
      paths << stored.toMap().value(QStringLiteral("docPath")).toString();
    return paths;
  }
  QStringList menuTitles() {
    QStringList titles;
    for (QAction* item : delegate->mainMenu()->recentsMenu()->actions())
      titles << (item->isSeparator() ? QStringLiteral("---") : item->text());
    return titles;
  }

  QString folder;
  std::unique_ptr<ZRNAppDelegate> delegate;
};
}  // namespace

TEST(ZRNRecentDocument, TitlesAndMatching) {
  const struct {
    const char* path;
    const char* menuTitle;
  } titles[] = {{"/srv/Cup 2.final.vlvidcapb/", "Cup 2.final"}, {"/srv/.hidden", ".hidden"}};
  for (const auto& c : titles) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ZRNRecentDocument(QString::fromUtf8(c.path)).menuTitle(), QString::fromUtf8(c.menuTitle));
  }

  const struct {
    const char* a;
    const char* b;
    bool match;
  } pairs[] = {{"/srv/A.vlvidcapb", "/srv/A.vlvidcapb/", true},
               {"/srv/./A.vlvidcapb", "/srv/A.vlvidcapb", true},
               {"/srv/x/../A.vlvidcapb", "/srv/A.vlvidcapb", true},
               {"/srv/A.vlvidcapb", "/srv/B.vlvidcapb", false},
               {"/srv/A.vlvidcapb", "/srv/A.vlvidcap", false}};
  for (const auto& c : pairs) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(ZRNRecentDocument(QString::fromUtf8(c.a)).matches(ZRNRecentDocument(QString::fromUtf8(c.b))), c.match);
  }

  // An entry stored without a date opens "now".
  const ZRNRecentDocument undated(QVariantMap{{QStringLiteral("docPath"), QStringLiteral("/srv/B.vlvidcapb")}});
  EXPECT_LE(qAbs(undated.openDate().secsTo(QDateTime::currentDateTime())), 5);
}

TEST_F(RecentsTest, ListKeepsTwelveNewestFirstAndMovesARepeatToTheTop) {
  QStringList sessions;
  for (int i = 1; i <= 13; ++i) sessions << makeSession(QStringLiteral("S%1").arg(i, 2, 10, QLatin1Char('0')));
  for (int i = 0; i < 12; ++i) delegate->addZRNRecentItemForPath(sessions.at(i));
  ASSERT_EQ(listedPaths().size(), 12);
  EXPECT_EQ(listedPaths().first(), sessions.at(11));

  // The thirteenth drops the oldest.
  delegate->addZRNRecentItemForPath(sessions.at(12));
  EXPECT_EQ(listedPaths().size(), 12);
  EXPECT_EQ(listedPaths().first(), sessions.at(12));
  EXPECT_FALSE(listedPaths().contains(sessions.at(0)));
  EXPECT_EQ(storedPaths(), listedPaths()) << "every change is stored at once";

  // A listed session, named with a trailing slash or a "." component, moves to the top; the list keeps
  // the entry it had (its path as first stored).
  const QString fifth = sessions.at(4);
  const QString fifthOther = folder + QStringLiteral("/./S05.vlvidcapb/");
  const QDateTime before = delegate->recentDocsArray().at(listedPaths().indexOf(fifth))->openDate();
  delegate->addZRNRecentItemForPath(fifthOther);
  EXPECT_EQ(listedPaths().size(), 12);
  EXPECT_EQ(listedPaths().first(), fifth);
  EXPECT_EQ(listedPaths().count(fifth), 1);
  EXPECT_GE(delegate->topRecentDoc()->openDate(), before);
  EXPECT_EQ(menuTitles().first(), QStringLiteral("S05"));

  // A new delegate reads the same list back in the same order.
  const QStringList expected = listedPaths();
  delegate = std::make_unique<ZRNAppDelegate>();
  EXPECT_EQ(listedPaths(), expected);
}

TEST_F(RecentsTest, MenuListsReachableEntriesThenSeparatorAndClearMenu) {
  const QString a = makeSession(QStringLiteral("Alpha"));
  const QString b = makeSession(QStringLiteral("Beta"));
  const QString gone = makeSession(QStringLiteral("Gone"));
  for (const QString& path : {gone, a, b}) delegate->addZRNRecentItemForPath(path);
  QDir(gone).removeRecursively();

  delegate->loadZRNRecentsMenu();
  EXPECT_EQ(menuTitles(), (QStringList{QStringLiteral("Beta"), QStringLiteral("Alpha"), QStringLiteral("---"), QStringLiteral("Clear Menu")}));
  EXPECT_EQ(storedPaths(), (QStringList{b, a})) << "the unreachable entry is dropped and the list stored";

  // Clear Menu empties the list and removes the stored key.
  QAction* clear = delegate->mainMenu()->recentsMenu()->actions().last();
  ASSERT_TRUE(clear->isEnabled());
  clear->trigger();
  ASSERT_TRUE(Test_WaitUntil([&] { return delegate->recentDocsArray().isEmpty(); }));
  Test_ProcessEvents(20);
  EXPECT_FALSE(UserDefaults::standard().objectForKey(kStoredKey).isValid());
  EXPECT_EQ(menuTitles(), QStringList{QStringLiteral("Clear Menu")});
  EXPECT_FALSE(delegate->mainMenu()->recentsMenu()->actions().last()->isEnabled());
}

TEST_F(RecentsTest, AllEntriesUnreachableAtLaunchLeaveSeparatorAndEnabledClear) {
  QVariantList stored;
  for (const char* name : {"/nowhere/One.vlvidcapb", "/nowhere/Two.vlvidcapb"})
    stored << ZRNRecentDocument(QString::fromUtf8(name)).dictionaryToSave();
  UserDefaults::standard().setObject(kStoredKey, stored);
  delegate = std::make_unique<ZRNAppDelegate>();
  delegate->loadZRNRecentsMenu();
  EXPECT_EQ(menuTitles(), (QStringList{QStringLiteral("---"), QStringLiteral("Clear Menu")}));
  EXPECT_TRUE(delegate->mainMenu()->recentsMenu()->actions().last()->isEnabled());
  EXPECT_FALSE(UserDefaults::standard().objectForKey(kStoredKey).isValid());
}

TEST_F(RecentsTest, LegacyEntryAsksToConvertAndStaysWhenNotConverted) {
  const QString session = makeSession(QStringLiteral("Current"));
  const QString legacy = makeSession(QStringLiteral("Old match"), QStringLiteral("vlvidcap"));
  delegate->addZRNRecentItemForPath(session);
  delegate->addZRNRecentItemForPath(legacy);
  const QStringList before = listedPaths();
  for (const char* button : {"cancelBtn", "okBtn"}) {
    SCOPED_TRACE(button);
    QString shown, failure;
    const bool convert = QString::fromLatin1(button) == QStringLiteral("okBtn");
    Test_AnswerNextModal(QString::fromLatin1(button), [&](QWidget* modal) {
      if (auto* text = modal->findChild<QLabel*>(QStringLiteral("mainTextfield"))) shown = text->text();
      // A conversion that cannot be done says why.
      if (convert)
        Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* alert) { failure = Test_LabelsText(alert); }, modal);
    });
    delegate->openZRNRecentDoc(delegate->mainMenu()->recentsMenu()->actions().first());
    EXPECT_TRUE(shown.contains(QStringLiteral("Old match"))) << shown.toStdString();
    if (convert) {
      EXPECT_TRUE(failure.contains(QStringLiteral("Conversion to the new file format failed."))) << failure.toStdString();
    }
    // Cancelled, or the conversion did not succeed: nothing changes.
    EXPECT_EQ(listedPaths(), before);
    EXPECT_TRUE(delegate->playbackWindows().isEmpty());
  }
}

TEST_F(RecentsTest, ChoosingAnEntryThatIsGoneAsksAndDropsIt) {
  const QString keep = makeSession(QStringLiteral("Keep"));
  const QString gone = makeSession(QStringLiteral("Vanished"));
  delegate->addZRNRecentItemForPath(keep);
  delegate->addZRNRecentItemForPath(gone);
  QDir(gone).removeRecursively();
  QString shown;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
    for (auto* label : modal->findChildren<QLabel*>()) shown += label->text();
  });
  delegate->openZRNRecentDoc(delegate->mainMenu()->recentsMenu()->actions().first());
  EXPECT_TRUE(shown.contains(QStringLiteral("'Vanished'"))) << shown.toStdString();
  EXPECT_EQ(storedPaths(), QStringList{keep});
  EXPECT_EQ(menuTitles().first(), QStringLiteral("Keep"));
}

namespace {
// Counts the times a file of the folder is replaced (renamed into place, as every write of the
// preferences file ends), from the kernel's own account.
class ReplacementCounter {
 public:
  explicit ReplacementCounter(const QString& folder) {
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // The fresh copy's move away is watched too: the kernel would merge replacements that follow each
    // other with nothing between them into one.
    if (m_fd >= 0) ::inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_MOVED_FROM | IN_MOVED_TO);
  }
  ~ReplacementCounter() {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool isValid() const { return m_fd >= 0; }
  int replacementsOf(const QString& fileName) {
    alignas(inotify_event) char buffer[64 * 1024];
    int count = 0;
    for (ssize_t length; (length = ::read(m_fd, buffer, sizeof buffer)) > 0;) {
      for (char* at = buffer; at < buffer + length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(at);
        if ((event->mask & IN_MOVED_TO) && event->len > 0 && QFile::decodeName(event->name) == fileName) ++count;
        at += sizeof(inotify_event) + event->len;
      }
    }
    return count;
  }

 private:
  int m_fd = -1;
};
}  // namespace

TEST_F(RecentsTest, ThousandsOfLostSessionsAreDroppedWithOneWriteOfThePreferences) {
  // Each lost entry rewrote (and synced) the whole preferences file: 2,000 of them took seconds, 20,000
  // kept the start-up from ever showing a window.
  const QString kept = makeSession(QStringLiteral("Kept"));
  const QString also = makeSession(QStringLiteral("Also Kept"));
  QVariantList stored;
  for (int i = 0; i < 2000; ++i) {
    stored << QVariantMap{{QStringLiteral("docPath"), folder + QStringLiteral("/Lost %1.vlvidcapb").arg(i)},
                          {QStringLiteral("openDate"), QDateTime::currentDateTimeUtc()}};
    if (i == 1000) stored << QVariantMap{{QStringLiteral("docPath"), also}};
  }
  stored.prepend(QVariantMap{{QStringLiteral("docPath"), kept}});
  UserDefaults::standard().setObject(kStoredKey, stored);
  ASSERT_TRUE(UserDefaults::standard().synchronize());

  const QFileInfo prefsFile(StandardLocations::preferencesFilePath());
  ReplacementCounter writes(prefsFile.absolutePath());
  ASSERT_TRUE(writes.isValid());
  delegate->loadZRNRecentsMenu();
  EXPECT_EQ(writes.replacementsOf(prefsFile.fileName()), 1);
  EXPECT_EQ(storedPaths(), (QStringList{kept, also}));
  EXPECT_EQ(listedPaths(), (QStringList{kept, also}));
  EXPECT_EQ(menuTitles(), (QStringList{QStringLiteral("Kept"), QStringLiteral("Also Kept"), QStringLiteral("---"),
                                       QStringLiteral("Clear Menu")}));
  // With nothing left to drop, building the menu writes nothing.
  delegate->loadZRNRecentsMenu();
  UserDefaults::standard().synchronize();
  EXPECT_EQ(writes.replacementsOf(prefsFile.fileName()), 0);
}
