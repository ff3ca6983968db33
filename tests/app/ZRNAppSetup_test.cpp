#include "app/ZRNAppSetup.h"

#include "platform/foundation/StandardLocations.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

namespace {
// Points the environment at a folder for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const QString& value) : m_name(name), m_old(qgetenv(name)) {
    qputenv(name, QFile::encodeName(value));
  }
  ~ScopedVariable() { qputenv(m_name, m_old); }

 private:
  const char* m_name;
  QByteArray m_old;
};

void writeExecutable(const QString& path, const QByteArray& script) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(script);
  file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
}  // namespace

TEST(AppSetup, MailerNameComesFromTheMailtoHandlerAndDefaultsToMail) {
  const QString root = Test_MakeTempDir(QStringLiteral("mailer"));
  QDir().mkpath(root + QStringLiteral("/bin"));
  QDir().mkpath(root + QStringLiteral("/share/applications"));
  const ScopedVariable path("PATH", root + QStringLiteral("/bin:") + qEnvironmentVariable("PATH"));
  const ScopedVariable data("XDG_DATA_HOME", root + QStringLiteral("/share"));
  const ScopedVariable dirs("XDG_DATA_DIRS", root + QStringLiteral("/none"));
  ZRNAppSetup* setup = ZRNAppSetup::sharedAppSetup();

  // No handler at all.
  writeExecutable(root + QStringLiteral("/bin/xdg-mime"), "#!/bin/sh\nexit 0\n");
  EXPECT_EQ(setup->currentMailerName(), QStringLiteral("Mail"));
  // A handler whose desktop entry is gone is no mailer either.
  writeExecutable(root + QStringLiteral("/bin/xdg-mime"), "#!/bin/sh\necho evolution.desktop\n");
  EXPECT_EQ(setup->currentMailerName(), QStringLiteral("Mail"));

  // The executable's file name, also when its path is quoted; other groups' Exec lines do not count.
  QFile entry(root + QStringLiteral("/share/applications/evolution.desktop"));
  ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
  entry.write("[Desktop Action Compose]\nExec=composer\n"
              "[Desktop Entry]\nType=Application\nTryExec=evo\nExec=\"/opt/gnome mail/evolution\" %U\n");
  entry.close();
  EXPECT_EQ(setup->currentMailerName(), QStringLiteral("evolution"));
  // Desktop IDs with dashes may name an entry in a subfolder.
  writeExecutable(root + QStringLiteral("/bin/xdg-mime"), "#!/bin/sh\necho kde-kmail2.desktop\n");
  QDir().mkpath(root + QStringLiteral("/share/applications/kde"));
  QFile kmail(root + QStringLiteral("/share/applications/kde/kmail2.desktop"));
  ASSERT_TRUE(kmail.open(QIODevice::WriteOnly));
  kmail.write("[Desktop Entry]\nExec=kmail -caption %c %u\n");
  kmail.close();
  EXPECT_EQ(setup->currentMailerName(), QStringLiteral("kmail"));
  EXPECT_TRUE(setup->machine_hasMailer());
  // Only the two scriptable mail programs, compared exactly.
  EXPECT_FALSE(setup->mailerSupportsApplescript(setup->currentMailerName()));
}

TEST(AppSetup, OnlyMailAndOutlookTakeOurMailScripts) {
  const struct {
    const char* name;
    bool supported;
  } cases[] = {{"Mail", true}, {"Microsoft Outlook", true}, {"mail", false}, {"Outlook", false},
               {"Mail ", false}, {"thunderbird", false}, {"", false}};
  for (const auto& c : cases)
    EXPECT_EQ(ZRNAppSetup::sharedAppSetup()->mailerSupportsApplescript(QString::fromLatin1(c.name)), c.supported) << c.name;
}

TEST(AppSetup, SessionUserPathsAndFixedSwitches) {
  ZRNAppSetup* setup = ZRNAppSetup::sharedAppSetup();
  const struct passwd* user = getpwuid(getuid());
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(setup->getSessionShortUserName(), QString::fromLocal8Bit(user->pw_name));
  EXPECT_EQ(setup->getSessionUserID(), static_cast<int32_t>(getuid()));
  EXPECT_EQ(setup->appPreferencesFilepath(), StandardLocations::configHome() + QStringLiteral("/org.velmora.Velmora.plist"));
  EXPECT_EQ(setup->machineNameAsAETitle(), QStringLiteral("STATION_AET"));
  // The test program runs from the build folder, which is writable.
  EXPECT_FALSE(setup->isRunningFromReadOnlyVolume());

  EXPECT_FALSE(setup->hasHEVCExport());
  EXPECT_FALSE(setup->supportsHEICWriting());
  EXPECT_FALSE(setup->hasUserDebugMenu());
  EXPECT_TRUE(setup->hasUpdateCheck());
  EXPECT_FALSE(setup->hasFullscreen());
}

TEST(AppSetup, LogsFallBackToTheNearestFolderThatCanBeMade) {
  ZRNAppSetup* setup = ZRNAppSetup::sharedAppSetup();
  const QString state = Test_MakeTempDir(QStringLiteral("state"));
  const ScopedVariable stateHome("XDG_STATE_HOME", state);
  const QString logs = state + QStringLiteral("/org.velmora.Velmora");
  const QString day = logs + QStringLiteral("/Debug_Logs/") + QDateTime::currentDateTimeUtc().date().toString(QStringLiteral("yyyyMMdd"));

  EXPECT_EQ(setup->zrnDebugLogsFolderPath(), day);
  EXPECT_TRUE(QFileInfo(day).isDir());

  // A file where today's folder belongs: the logs go straight into the logs folder.
  ASSERT_TRUE(QDir(day).removeRecursively());
  QFile blocker(day);
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  EXPECT_EQ(setup->zrnDebugLogsFolderPath(), logs);

  // No logs folder at all.
  QFile plain(state + QStringLiteral("/plain"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  const ScopedVariable blocked("XDG_STATE_HOME", plain.fileName());
  EXPECT_EQ(setup->zrnDebugLogsFolderPath(), QString());
}
