#include "common/ZRNAppPrefs.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/StandardLocations.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TestSupport.h"
#include "tests/app/AppTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <gtest/gtest.h>

#include <optional>

namespace {
const QString kVersionKey = QStringLiteral("ZRNPreferencesVersion");

// Every test starts as a first launch: no preferences file, only the built-in defaults registered.
class PrefsTest : public ::testing::Test {
 protected:
  void SetUp() override { Test_FreshPrefs(); }
  void TearDown() override { gZRNAppPrefs = nullptr; }

  UserDefaults& defaults() { return UserDefaults::standard(); }
  bool isStored(const QString& key) { return defaults().persistentDomain().contains(key); }

  ZRNAppPrefs prefs;
};

QString userResourcesPath() {
  return StandardLocations::dataHome() + QStringLiteral("/org.velmora.Velmora/UserResources");
}

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
}  // namespace

TEST_F(PrefsTest, MigrationByStoredVersion) {
  struct Case {
    const char* name;
    std::optional<qint64> storedVersion;  // nullopt: first run
    bool expectWipe;
    bool expectClamp;
    bool expectRunsReset;
  };
  const Case cases[] = {
      {"first run", std::nullopt, true, true, false},
      {"below 90001", 50000, true, true, true},
      {"90001", 90001, false, true, true},
      {"90003", 90003, false, true, true},
      {"90004", 90004, false, false, true},
      {"older 1.x", 1000002, false, false, true},
      {"current", kZRNPreferencesVersionCurrent, false, false, false},
      {"newer than this build", 2000000, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    if (c.storedVersion) defaults().setInteger(kVersionKey, *c.storedVersion);
    defaults().setObject(QStringLiteral("ZRNCameraUID"), QStringLiteral("usb-cam-1"));
    defaults().setInteger(QStringLiteral("RunCounterCurrent"), 7);
    defaults().setDouble(QStringLiteral("ZRNFragmentLengthSeconds"), 0.5);
    defaults().setDouble(QStringLiteral("ZRNMomentSecsBefore"), -3.0);
    defaults().setDouble(QStringLiteral("ZRNMomentSecsAfter"), -1.0);
    gZRNAppPrefs = &prefs;

    Prefs_MigratePreferences();

    EXPECT_EQ(defaults().integerForKey(kVersionKey), kZRNPreferencesVersionCurrent);
    EXPECT_EQ(prefs.cameraUID().isNull(), c.expectWipe);
    if (c.expectWipe) {
      // Wiped: the clamps see the built-in defaults, which need no change, so nothing is written for them.
      EXPECT_FALSE(isStored(QStringLiteral("ZRNFragmentLengthSeconds")));
      EXPECT_EQ(prefs.momentSecsBefore(), 10);
      EXPECT_EQ(prefs.momentSecsAfter(), 10);
    } else if (c.expectClamp) {
      EXPECT_FLOAT_EQ(prefs.segmentSeconds(), 1.0f);
      EXPECT_EQ(prefs.momentSecsBefore(), 0);
      EXPECT_EQ(prefs.momentSecsAfter(), 1);  // raised to "before" (0), then to at least 1
    } else {
      EXPECT_FLOAT_EQ(prefs.segmentSeconds(), 0.5f);
      EXPECT_EQ(prefs.momentSecsBefore(), -3);
    }
    if (c.expectRunsReset) {
      EXPECT_TRUE(isStored(QStringLiteral("RunCounterCurrent")));
      EXPECT_EQ(prefs.numberOfRunsCurrent(), 0);
    } else if (c.expectWipe) {
      EXPECT_FALSE(isStored(QStringLiteral("RunCounterCurrent")));
    } else {
      EXPECT_EQ(prefs.numberOfRunsCurrent(), 7);
    }
    // The migration leaves the result on disk.
    const QVariantMap onDisk = PropertyList_ReadFile(StandardLocations::preferencesFilePath()).toMap();
    EXPECT_EQ(onDisk.value(kVersionKey).toLongLong(), kZRNPreferencesVersionCurrent);
  }
}

TEST_F(PrefsTest, MigrationClampsMomentAfterUpToBefore) {
  defaults().setInteger(kVersionKey, 90002);
  prefs.setMomentSecsBefore(12);
  prefs.setMomentSecsAfter(5);
  gZRNAppPrefs = &prefs;
  Prefs_MigratePreferences();
  EXPECT_EQ(prefs.momentSecsAfter(), 12);
}

TEST_F(PrefsTest, MomentSecondsAndMilliseconds) {
  struct Case {
    double stored;
    qint64 seconds;
    qint64 millis;
  };
  const Case cases[] = {{2.6, 2, 2600}, {2.9996, 2, 3000}, {0.0004, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    defaults().setDouble(QStringLiteral("ZRNMomentSecsAfter"), c.stored);
    defaults().setDouble(QStringLiteral("ZRNMomentSecsBefore"), c.stored);
    EXPECT_EQ(prefs.momentSecsAfter(), c.seconds);
    EXPECT_EQ(prefs.momentMillisAfter(), c.millis);
    EXPECT_EQ(prefs.momentSecsBefore(), c.seconds);
    EXPECT_EQ(prefs.momentMillisBefore(), c.millis);
  }
  prefs.setMomentMillisBefore(2500);
  EXPECT_DOUBLE_EQ(defaults().doubleForKey(QStringLiteral("ZRNMomentSecsBefore")), 2.5);
  EXPECT_EQ(prefs.momentSecsBefore(), 2);
}

TEST_F(PrefsTest, MovieFileExtensionFollowsFileType) {
  const struct {
    QString type;
    const char* extension;
  } cases[] = {{QString(), "mov"},
               {QStringLiteral("video/quicktime"), "mov"},
               {QStringLiteral("video/mp4"), "mp4"},
               {QStringLiteral("video/x-matroska"), "mov"}};
  for (const auto& c : cases) {
    if (c.type.isNull()) defaults().setObject(QStringLiteral("ZRNCaptureFileType"), QVariant(42));  // not a string
    else prefs.setCaptureFileType(c.type);
    EXPECT_EQ(prefs.movieFileExtension().toStdString(), c.extension) << c.type.toStdString();
  }
}

TEST_F(PrefsTest, SaveTargetDirectoryFallsBackToDesktop) {
  const QUrl desktop = QUrl::fromLocalFile(StandardLocations::desktopPath());
  EXPECT_EQ(prefs.saveTargetDirectory(), desktop) << "nothing stored";
  defaults().setObject(QStringLiteral("ZRNSaveTargetDirectory"), QStringLiteral("file://"));
  EXPECT_EQ(prefs.saveTargetDirectory(), desktop) << "stored URL with an empty path";
  const QUrl chosen = QUrl::fromLocalFile(Test_MakeTempDir(QStringLiteral("recordings")));
  prefs.setSaveTargetDirectory(chosen);
  EXPECT_EQ(prefs.saveTargetDirectory(), chosen);
  EXPECT_TRUE(prefs.openTargetDirectory().isEmpty()) << "no fallback for the open folder";
}

TEST_F(PrefsTest, StoredValueConversions) {
  prefs.setLowerCaptureFrameRateAction(2);
  EXPECT_EQ(defaults().integerForKey(QStringLiteral("ZRNLowerFrameRateType")), 2);
  EXPECT_EQ(prefs.lowerCaptureFrameRateAction(), -1);

  defaults().setInteger(QStringLiteral("ZRNCaptureSubType"), 0x132767579LL);
  EXPECT_EQ(prefs.captureMediaSubType(), 0x32767579u) << "four-character codes keep their low 32 bits";

  // One key, seen as float seconds and as whole seconds.
  prefs.setSegmentSeconds(2.5f);
  EXPECT_EQ(prefs.fragmentSeconds(), 2);
}

TEST_F(PrefsTest, PersistentDomainOverridesRegistration) {
  EXPECT_TRUE(defaults().persistentDomain().isEmpty()) << "defaults are registered, not written";
  prefs.setHomeTeamName(QStringLiteral("Lions"));
  EXPECT_EQ(prefs.homeTeamName(), QStringLiteral("Lions"));
  EXPECT_EQ(defaults().registrationDomain().value(QStringLiteral("ZRNHomeTeamName")).toString(), QStringLiteral("Home"));
  prefs.setHomeTeamName(QString());  // no name: the built-in default shows again
  EXPECT_EQ(prefs.homeTeamName(), QStringLiteral("Home"));
  EXPECT_FALSE(isStored(QStringLiteral("ZRNHomeTeamName")));
  EXPECT_TRUE(prefs.cameraUID().isNull()) << "an absent string reads as none";
}

TEST_F(PrefsTest, ValuesSurviveARestartOfTheDefaults) {
  prefs.setCameraUID(QStringLiteral("usb-046d-0825"));
  prefs.setCaptureAudio(false);
  prefs.setMomentMillisAfter(2600);
  prefs.setSaveTargetDirectory(QUrl::fromLocalFile(QStringLiteral("/srv/matches")));
  UserDefaults::resetStandard();
  Prefs_RegisterDefaultPrefs();

  ZRNAppPrefs again;
  EXPECT_EQ(again.cameraUID(), QStringLiteral("usb-046d-0825"));
  EXPECT_FALSE(again.captureAudio());
  EXPECT_EQ(again.momentMillisAfter(), 2600);
  EXPECT_EQ(again.saveTargetDirectory(), QUrl::fromLocalFile(QStringLiteral("/srv/matches")));
}

TEST_F(PrefsTest, DamagedDefaultsFileIsMovedAsideNotOverwritten) {
  UserDefaults::resetStandard();
  const QString path = StandardLocations::preferencesFilePath();
  const QByteArray garbage("<?xml version=\"1.0\"?><plist><dict><key>ZRNCameraUID</key>");
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(garbage) == garbage.size());
  f.close();
  Prefs_RegisterDefaultPrefs();
  EXPECT_EQ(prefs.segmentKBPS(), 8000) << "starts on the defaults";
  const QStringList messages = defaults().takePendingMessages();
  ASSERT_EQ(messages.size(), 1);
  EXPECT_TRUE(messages.first().startsWith(QStringLiteral("ATT: "))) << messages.first().toStdString();

  const QFileInfo info(path);
  const QStringList aside = info.dir().entryList({info.fileName() + QStringLiteral(".damaged-*")}, QDir::Files);
  ASSERT_EQ(aside.size(), 1);
  EXPECT_EQ(fileBytes(info.dir().filePath(aside.first())), garbage);
  QFile::remove(info.dir().filePath(aside.first()));
}

TEST_F(PrefsTest, BadgeSeedsAreCopiedIntoUserResources) {
  QDir(userResourcesPath()).removeRecursively();

  const QUrl templateURL = prefs.badgeTemplateURL();
  EXPECT_EQ(fileBytes(templateURL.toLocalFile()), fileBytes(QStringLiteral(":/overlays/badge_template.json")));
  const QString seedImage = userResourcesPath() + QStringLiteral("/badge_overlay/images/tessaro_badge.png");
  EXPECT_EQ(fileBytes(seedImage), fileBytes(QStringLiteral(":/overlays/images/tessaro_badge.png")));
  EXPECT_EQ(prefs.badgeImageURL().toLocalFile(), seedImage);

  // A user's edited template is kept.
  QFile edited(templateURL.toLocalFile());
  ASSERT_TRUE(edited.open(QIODevice::WriteOnly | QIODevice::Truncate) && edited.write("{}") == 2);
  edited.close();
  prefs.badgeTemplateURL();
  EXPECT_EQ(fileBytes(templateURL.toLocalFile()), QByteArray("{}"));
}

TEST_F(PrefsTest, SaveAsBadgeImageWritesUserBadgePNG) {
  QDir(userResourcesPath()).removeRecursively();
  const QString temp = Test_MakeTempDir(QStringLiteral("tmpdir"));
  std::optional<ScopedEnvironment> tmpdir(std::in_place, "TMPDIR", QFile::encodeName(temp));

  QImage first(40, 20, QImage::Format_RGB32);
  first.fill(Qt::red);
  prefs.saveAsBadgeImage(first);
  QImage second(10, 30, QImage::Format_RGB32);
  second.fill(Qt::green);
  prefs.saveAsBadgeImage(second);
  tmpdir.reset();

  const QString userBadge = userResourcesPath() + QStringLiteral("/badge_overlay/images/userBadge.png");
  const QImage saved(userBadge);
  ASSERT_FALSE(saved.isNull());
  EXPECT_EQ(saved.size(), QSize(10, 30)) << "the second badge replaced the first";
  EXPECT_EQ(QColor(saved.pixel(5, 5)), QColor(Qt::green));
  EXPECT_EQ(prefs.badgeImageURL().toLocalFile(), userBadge);
  // Temporary copies stay, each under its own free name.
  EXPECT_EQ(QDir(temp).entryList(QDir::Files), (QStringList{QStringLiteral("bufBadge.png"), QStringLiteral("bufBadge_1.png")}));
}

TEST_F(PrefsTest, HiddenWarnings) {
  EXPECT_TRUE(prefs.shouldShowWarningWithKey(QStringLiteral("20007")));
  prefs.hideWarningWithKey(QStringLiteral("20007"));
  prefs.hideWarningWithKey(QStringLiteral("20007"));
  EXPECT_FALSE(prefs.shouldShowWarningWithKey(QStringLiteral("20007")));
  EXPECT_EQ(defaults().arrayForKey(QStringLiteral("ZRNHiddenWarnings")), QVariantList{QStringLiteral("20007")});

  ZRNAppPrefs nextRun;
  EXPECT_FALSE(nextRun.shouldShowWarningWithKey(QStringLiteral("20007")));
  EXPECT_TRUE(nextRun.shouldShowWarningWithKey(QStringLiteral("20015")));
  nextRun.resetAllWarnings();
  EXPECT_TRUE(nextRun.shouldShowWarningWithKey(QStringLiteral("20007")));
  EXPECT_FALSE(isStored(QStringLiteral("ZRNHiddenWarnings")));
}
