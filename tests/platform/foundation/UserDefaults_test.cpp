#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/StandardLocations.h"
#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {
QString freshPath() { return Test_MakeTempDir(QStringLiteral("defaults")) + QStringLiteral("/org.velmora.Velmora.plist"); }
}  // namespace

TEST(UserDefaults, TypedReadsConvertStoredValues) {
  UserDefaults d(freshPath());
  const struct {
    const char* name;
    QVariant stored;
    qint64 integer;
    double real;
    bool boolean;
    QString string;
  } cases[] = {
      {"absent", QVariant(), 0, 0.0, false, QString()},
      {"integer", QVariant::fromValue<qint64>(42), 42, 42.0, true, QStringLiteral("42")},
      {"negative real", QVariant(-2.75), -2, -2.75, true, QStringLiteral("-2.75")},
      {"numeric text", QVariant(QStringLiteral("12.7abc")), 12, 12.7, true, QStringLiteral("12.7abc")},
      {"YES", QVariant(QStringLiteral("YES")), 1, 0.0, true, QStringLiteral("YES")},
      {"plain text", QVariant(QStringLiteral("Home")), 0, 0.0, false, QStringLiteral("Home")},
      {"true", QVariant(true), 1, 1.0, true, QStringLiteral("1")},
      {"list", QVariant(QVariantList{1}), 0, 0.0, false, QString()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    d.setObject(QStringLiteral("k"), c.stored);
    EXPECT_EQ(d.integerForKey(QStringLiteral("k")), c.integer);
    EXPECT_DOUBLE_EQ(d.doubleForKey(QStringLiteral("k")), c.real);
    EXPECT_EQ(d.boolForKey(QStringLiteral("k")), c.boolean);
    EXPECT_EQ(d.stringForKey(QStringLiteral("k")), c.string);
  }
}

TEST(UserDefaults, URLsAndContainers) {
  UserDefaults d(freshPath());
  d.setObject(QStringLiteral("u"), QStringLiteral("~/Videos"));
  EXPECT_EQ(d.URLForKey(QStringLiteral("u")), QUrl::fromLocalFile(StandardLocations::homePath() + QStringLiteral("/Videos")));
  d.setURL(QStringLiteral("u"), QUrl());
  EXPECT_FALSE(d.persistentDomain().contains(QStringLiteral("u")));
  d.setObject(QStringLiteral("m"), QVariantMap{{QStringLiteral("numLaunches"), -1}});
  EXPECT_EQ(d.dictionaryForKey(QStringLiteral("m")).value(QStringLiteral("numLaunches")).toInt(), -1);
  EXPECT_TRUE(d.arrayForKey(QStringLiteral("m")).isEmpty());
}

TEST(UserDefaults, PersistentValuesCoverRegisteredOnes) {
  UserDefaults d(freshPath());
  d.registerDefaults({{QStringLiteral("a"), 1}, {QStringLiteral("b"), 2}});
  d.registerDefaults({{QStringLiteral("b"), 3}});  // later registrations add and replace
  d.setInteger(QStringLiteral("a"), 10);
  EXPECT_EQ(d.integerForKey(QStringLiteral("a")), 10);
  EXPECT_EQ(d.integerForKey(QStringLiteral("b")), 3);
  EXPECT_EQ(d.dictionaryRepresentation().value(QStringLiteral("a")).toInt(), 10);
  d.removeObject(QStringLiteral("a"));
  EXPECT_EQ(d.integerForKey(QStringLiteral("a")), 1);
  d.setObject(QStringLiteral("b"), QVariant());  // no value removes
  EXPECT_FALSE(d.persistentDomain().contains(QStringLiteral("b")));
}

TEST(UserDefaults, ChangesReachTheFileWithAndWithoutSynchronize) {
  const QString path = freshPath();
  {
    UserDefaults d(path);
    d.setInteger(QStringLiteral("RunCounterCurrent"), 3);
    // Written shortly after the change even when nobody synchronizes.
    EXPECT_TRUE(Test_WaitUntil([&] { return PropertyList_ReadFile(path).toMap().value(QStringLiteral("RunCounterCurrent")).toInt() == 3; }));
    d.setBool(QStringLiteral("ZRNCaptureAudio"), false);
    ASSERT_TRUE(d.synchronize());
    EXPECT_EQ(PropertyList_ReadFile(path).toMap(), d.persistentDomain());
    d.setInteger(QStringLiteral("ZRNSegmentKBPS"), 6000);
  }
  UserDefaults again(path);
  EXPECT_EQ(again.integerForKey(QStringLiteral("ZRNSegmentKBPS")), 6000) << "written when the object goes";
  EXPECT_FALSE(again.boolForKey(QStringLiteral("ZRNCaptureAudio")));
  EXPECT_TRUE(again.persistentDomain().contains(QStringLiteral("ZRNCaptureAudio")));
}

TEST(UserDefaults, ConcurrentWritersAndReaders) {
  const QString path = freshPath();
  UserDefaults d(path);
  constexpr int kThreads = 4, kWrites = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([&d, t] {
      const QString key = QStringLiteral("key%1").arg(t);
      for (int i = 1; i <= kWrites; ++i) {
        d.setInteger(key, i);
        EXPECT_GE(d.integerForKey(key), i);
        d.dictionaryRepresentation();
        if (i % 6 == 0) d.synchronize();
      }
    });
  for (auto& t : threads) t.join();
  ASSERT_TRUE(d.synchronize());
  const QVariantMap onDisk = PropertyList_ReadFile(path).toMap();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(onDisk.value(QStringLiteral("key%1").arg(t)).toInt(), kWrites);
}

TEST(UserDefaults, DamagedFileIsKeptAsideAndReported) {
  const QString path = freshPath();
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("\x00\x01garbage", 9) == 9);
  }
  UserDefaults d(path);
  EXPECT_TRUE(d.persistentDomain().isEmpty());
  const QStringList messages = d.takePendingMessages();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages.first().contains(QStringLiteral(".damaged-")));
  EXPECT_TRUE(d.takePendingMessages().isEmpty()) << "each message is handed over once";
  EXPECT_FALSE(QFile::exists(path));
  d.setInteger(QStringLiteral("a"), 1);
  ASSERT_TRUE(d.synchronize());
  EXPECT_EQ(PropertyList_ReadFile(path).toMap().value(QStringLiteral("a")).toInt(), 1);
}
