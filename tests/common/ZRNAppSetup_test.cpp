#include "common/ZRNAppSetup.h"

#include "platform/foundation/StandardLocations.h"
#include "platform/system/PrivateDBus.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {
void writeFile(const QString& path, const QByteArray& text, bool executable = false) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(text);
  if (executable) file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
}  // namespace

TEST(AppSetup, MailerNameComesFromTheMailtoHandlerAndDefaultsToMail) {
  const QString root = Test_MakeTempDir(QStringLiteral("mailer"));
  const ScopedEnvironment path("PATH", QFile::encodeName(root + QStringLiteral("/bin:") + qEnvironmentVariable("PATH")));
  const ScopedEnvironment data("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/share")));
  const ScopedEnvironment dirs("XDG_DATA_DIRS", QFile::encodeName(root + QStringLiteral("/none")));
  ZRNAppSetup* setup = ZRNAppSetup::sharedAppSetup();

  // No handler at all.
  writeFile(root + QStringLiteral("/bin/xdg-mime"), "#!/bin/sh\nexit 0\n", true);
  EXPECT_EQ(setup->currentMailerName(), QStringLiteral("Mail"));
  EXPECT_EQ(setup->installedMailerName(), QString());
  // A handler whose desktop entry is gone is no mailer either.
  writeFile(root + QStringLiteral("/bin/xdg-mime"), "#!/bin/sh\necho evolution.desktop\n", true);
  EXPECT_EQ(setup->currentMailerName(), QStringLiteral("Mail"));

  // The executable's file name, also when its path is quoted; other groups' Exec lines do not count.
  writeFile(root + QStringLiteral("/share/applications/evolution.desktop"),
            "[Desktop Action Compose]\nExec=composer\n"
            "[Desktop Entry]\nType=Application\nTryExec=evo\nExec=\"/opt/gnome mail/evolution\" %U\n");
  EXPECT_EQ(setup->currentMailerName(), QStringLiteral("evolution"));
  EXPECT_EQ(setup->installedMailerName(), QStringLiteral("evolution"));
  // Desktop IDs with dashes may name an entry in a subfolder.
  writeFile(root + QStringLiteral("/bin/xdg-mime"), "#!/bin/sh\necho kde-kmail2.desktop\n", true);
  writeFile(root + QStringLiteral("/share/applications/kde/kmail2.desktop"), "[Desktop Entry]\nExec=kmail -caption %c %u\n");
  EXPECT_EQ(setup->currentMailerName(), QStringLiteral("kmail"));
  EXPECT_TRUE(setup->machine_hasMailer());
  // Only the two scriptable mail programs, compared exactly.
  EXPECT_FALSE(setup->mailerSupportsApplescript(setup->currentMailerName()));
  EXPECT_FALSE(setup->mailerSupportsApplescript(QStringLiteral("mail")));
  EXPECT_TRUE(setup->mailerSupportsApplescript(QStringLiteral("Microsoft Outlook")));
}

TEST(AppSetup, LogsFallBackToTheNearestFolderThatCanBeMade) {
  ZRNAppSetup* setup = ZRNAppSetup::sharedAppSetup();
  const QString state = Test_MakeTempDir(QStringLiteral("state"));
  const ScopedEnvironment stateHome("XDG_STATE_HOME", QFile::encodeName(state));
  const QString logs = state + QStringLiteral("/org.velmora.Velmora");
  const QString day = logs + QStringLiteral("/Debug_Logs/") + QDateTime::currentDateTimeUtc().date().toString(QStringLiteral("yyyyMMdd"));

  EXPECT_EQ(setup->zrnDebugLogsFolderPath(), day);
  EXPECT_TRUE(QFileInfo(day).isDir());

  // A file where today's folder belongs: the logs go straight into the logs folder.
  ASSERT_TRUE(QDir(day).removeRecursively());
  writeFile(day, {});
  EXPECT_EQ(setup->zrnDebugLogsFolderPath(), logs);

  // No logs folder at all.
  writeFile(state + QStringLiteral("/plain"), {});
  const ScopedEnvironment blocked("XDG_STATE_HOME", QFile::encodeName(state + QStringLiteral("/plain")));
  EXPECT_EQ(setup->zrnDebugLogsFolderPath(), QString());
}
