// First aid as the delegate runs it: the window's actions, what they leave on the Desktop and in the
// preferences, and the crash locks each caller of the clean-up removes.

#include "app/ZRNAppDelegate_FirstAid.h"

#include "app/ZRNAppMenus.h"
#include "firstaid/ZRNFirstAidWindowController.h"
#include "support/ZipTestSupport.h"
#include "tests/app/AppTestSupport.h"
#include "support/FileFaults.h"
#include "tests/firstaid/FirstAidTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <iostream>
#include <sys/mount.h>
#include <unistd.h>

namespace {
void writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

// A desktop whose mail program is Thunderbird, reached through xdg-email: the given script stands in for
// xdg-email, first on PATH while this object lives.
class FakeMailProgram {
 public:
  explicit FakeMailProgram(const QByteArray& emailScript) : m_path(qgetenv("PATH")) {
    const QString bin = Test_MakeTempDir(QStringLiteral("bin"));
    writeFile(bin + QStringLiteral("/xdg-mime"), "#!/bin/sh\necho thunderbird.desktop\n");
    writeFile(bin + QStringLiteral("/xdg-email"), emailScript);
    for (const char* tool : {"/xdg-mime", "/xdg-email"})
      QFile::setPermissions(bin + QString::fromLatin1(tool), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    writeFile(StandardLocations::dataHome() + QStringLiteral("/applications/thunderbird.desktop"),
              "[Desktop Entry]\nType=Application\nName=Thunderbird\nExec=thunderbird %u\n");
    qputenv("PATH", QFile::encodeName(bin) + ':' + m_path);
  }
  ~FakeMailProgram() { restore(); }
  FakeMailProgram(const FakeMailProgram&) = delete;
  FakeMailProgram& operator=(const FakeMailProgram&) = delete;
  void restore() { qputenv("PATH", m_path); }

 private:
  QByteArray m_path;
};

class FirstAidAppTest : public LaunchedAppTest {
 protected:
  void SetUp() override {
    LaunchedAppTest::SetUp();
    QDir(StandardLocations::applicationSupportPath()).removeRecursively();
    setCrashLockFileURL(QUrl());
  }
  // A delegate that has finished launching up to the crash check.
  void willFinish() {
    delegate = std::make_unique<ZRNAppDelegate>();
    delegate->applicationWillFinishLaunching();
  }
  QString own() const { return Process_OwnExecutable().path; }
};
}  // namespace

TEST_F(FirstAidAppTest, SavingTheLogsTwicePutsTwoArchivesOnTheDesktop) {
  const QString desktop = Test_HomePath() + QStringLiteral("/Desktop");
  QDir(desktop).removeRecursively();
  QDir().mkpath(desktop);
  const QString reports = FirstAid_UserDiagnosticReportsPath();
  const QByteArray crashReport = "Process:         velmora [4242]\nSignal:          11 (SIGSEGV)\n";
  writeFile(reports + QStringLiteral("/velmora_2026-12-05-101010.crash"), crashReport);
  writeFile(reports + QStringLiteral("/othertool_2026-12-05-101010.crash"), "not ours");
  const QString days = FirstAid_DebugLogsPath();
  writeFile(days + QStringLiteral("/20261205/1234_Debug.log"), "10:00:00:000 yesterday's line\n");
  writeFile(days + QStringLiteral("/20261205/99_Debug.log"), "");
  UserDefaults::standard().setObject(QStringLiteral("ZRNTestMark"), QStringLiteral("kept"));
  UserDefaults::standard().setObject(QStringLiteral("NSNavPanelExpandedSizeForOpenMode"), QStringLiteral("{1, 2}"));
  willFinish();

  const QStringList expectedNames = {QStringLiteral("Velmora_CrashLogs.zip"), QStringLiteral("Velmora_CrashLogs_1.zip")};
  for (int save = 0; save < 2; ++save) {
    // After a crash "Save logs" is preselected: OK saves, and a message says where.
    QString message;
    Test_AnswerFirstAidThenItsMessage(&message);
    showFirstAidWindowForAppStartup(delegate.get(), false, true);
    const QString saved = desktop + QLatin1Char('/') + expectedNames[save];
    ASSERT_TRUE(Test_WaitUntil([&] { return QFileInfo::exists(saved) && !message.isEmpty(); }, 30000));
    EXPECT_TRUE(message.contains(QStringLiteral("The crash logs were saved as \"%1\".").arg(saved))) << message.toStdString();
  }
  QStringList onDesktop = QDir(desktop).entryList(QDir::Files);
  onDesktop.sort();
  EXPECT_EQ(onDesktop, expectedNames);
  EXPECT_TRUE(QDir(StandardLocations::tempPath()).entryList({QStringLiteral("Velmora_CrashLogs*"), QStringLiteral("pref_plist.tmp")}).isEmpty())
      << "the archives were moved, the temporary property list deleted";

  for (const QString& name : expectedNames) {
    SCOPED_TRACE(name.toStdString());
    QString error;
    const QList<QVariantMap> entries = Test_PythonZipEntries(desktop + QLatin1Char('/') + name, &error);
    ASSERT_FALSE(entries.isEmpty()) << error.toStdString();
    QStringList names;
    for (const QVariantMap& entry : entries) {
      names << entry.value("name").toString();
      EXPECT_EQ(entry.value("compress_type").toInt(), 8);
      EXPECT_EQ((entry.value("flag_bits").toInt() >> 1) & 3, 1) << "level 9";
    }
    ASSERT_GE(names.size(), 5) << names.join(' ').toStdString();
    EXPECT_EQ(names.first(), QStringLiteral("ksu_SystemInfo.txt"));
    EXPECT_EQ(names[1], QStringLiteral("velmora_2026-12-05-101010.crash"));
    EXPECT_EQ(names.mid(names.size() - 2), (QStringList{QStringLiteral("vl_prefs.plist"), QStringLiteral("system.log")}));
    EXPECT_FALSE(names.contains(QStringLiteral("othertool_2026-12-05-101010.crash")));
    EXPECT_TRUE(names.contains(QStringLiteral("Debug_Logs/20261205/1234_Debug.log")));
    EXPECT_FALSE(names.contains(QStringLiteral("Debug_Logs/20261205/99_Debug.log"))) << "an empty log gets no entry";
    for (const QVariantMap& entry : entries) {
      if (entry.value("name").toString().startsWith(QStringLiteral("Debug_Logs/"))) {
        EXPECT_FALSE(entry.value("data").toByteArray().isEmpty()) << entry.value("name").toString().toStdString();
      }
    }

    const QString report = QString::fromUtf8(Test_ZipEntry(entries, QStringLiteral("ksu_SystemInfo.txt")).value("data").toByteArray());
    EXPECT_TRUE(report.startsWith(QStringLiteral("\n") + QString(35, '-') + QStringLiteral("Mail program:  "))) << report.left(200).toStdString();
    // Without a mail program that takes attachments, the report itself carries the crash reports.
    EXPECT_TRUE(report.contains(QString::fromUtf8(crashReport)));
    EXPECT_TRUE(report.contains(QStringLiteral("No .hang logs found.\n")));
    EXPECT_TRUE(report.contains(QStringLiteral("No .diag logs found.\n")));
    EXPECT_TRUE(report.contains(QStringLiteral("Program Preferences:\n")));
    EXPECT_TRUE(report.contains(QStringLiteral("ZRNTestMark")));
    EXPECT_FALSE(report.contains(QStringLiteral("NSNavPanelExpandedSizeForOpenMode")));
    EXPECT_EQ(Test_ZipEntry(entries, QStringLiteral("velmora_2026-12-05-101010.crash")).value("data").toByteArray(), crashReport);
    EXPECT_EQ(Test_ZipEntry(entries, QStringLiteral("Debug_Logs/20261205/1234_Debug.log")).value("data").toByteArray(),
              QByteArray("10:00:00:000 yesterday's line\n"));
    const QVariantMap prefs = Test_ZipEntry(entries, QStringLiteral("vl_prefs.plist")).value("plist").toMap();
    EXPECT_EQ(prefs.value("ZRNTestMark").toString(), QStringLiteral("kept"));
    EXPECT_FALSE(prefs.contains(QStringLiteral("NSNavPanelExpandedSizeForOpenMode")));
  }
}

// A small file system mounted at a folder for as long as the object lives (only where this process may
// mount one: as root, or not at all).
class ScopedSmallFileSystem {
 public:
  ScopedSmallFileSystem(const QString& folder, bool readOnly) : m_folder(folder) {
    QDir().mkpath(folder);
    const QByteArray path = QFile::encodeName(folder);
    m_mounted = ::mount("tmpfs", path.constData(), "tmpfs", 0, "size=64k") == 0;
    if (!m_mounted) return;
    // Full to the last byte.
    QFile filler(folder + QStringLiteral("/filler"));
    if (filler.open(QIODevice::WriteOnly))
      while (filler.write(QByteArray(4096, 'f')) > 0 && filler.flush()) {
      }
    filler.close();
    if (readOnly) {
      EXPECT_EQ(::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0) << strerror(errno);
    }
  }
  ~ScopedSmallFileSystem() {
    if (m_mounted) ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
  }
  bool mounted() const { return m_mounted; }

 private:
  QString m_folder;
  bool m_mounted = false;
};

int countOf(const QString& text, const QString& part) { return static_cast<int>(text.count(part)); }

TEST_F(FirstAidAppTest, SavingTheLogsSaysWhereTheyAreAndNeverCountsAnArchiveThatIsNotWhole) {
  const QString desktop = Test_HomePath() + QStringLiteral("/Desktop");
  const QString temp = StandardLocations::tempPath();
  writeFile(FirstAid_DebugLogsPath() + QStringLiteral("/20261205/1234_Debug.log"), QByteArray(20000, 'l'));
  willFinish();
  enum class Where { Desktop, Home, TemporaryWhole, TemporaryCut };
  struct Case {
    const char* name;
    std::function<std::shared_ptr<void>()> arrange;  // what it holds is undone when it goes
    Where where;
    const char* says;
  };
  bool mountable = true;
  auto smallDesktop = [&](bool readOnly) {
    auto fs = std::make_shared<ScopedSmallFileSystem>(desktop, readOnly);
    mountable = fs->mounted();
    return std::shared_ptr<void>(fs);
  };
  const Case cases[] = {
      {"the Desktop", [&] { QDir().mkpath(desktop); return std::shared_ptr<void>(); }, Where::Desktop, "were saved as"},
      {"no Desktop folder", [&] { QDir(desktop).removeRecursively(); return std::shared_ptr<void>(); }, Where::Home,
       "were saved as"},
      {"a full Desktop", [&] { return smallDesktop(false); }, Where::TemporaryWhole, "No space left on device"},
      {"a read-only Desktop", [&] { return smallDesktop(true); }, Where::TemporaryWhole, "Read-only file system"},
      {"a file-size limit", [&] {
         QDir().mkpath(desktop);
         return std::shared_ptr<void>(std::make_shared<Test_FileSizeLimit>(1024));
       }, Where::TemporaryCut, "could not be saved"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const QString& folder : {desktop, Test_HomePath(), temp})
      for (const QString& name : QDir(folder).entryList({QStringLiteral("Velmora_CrashLogs*")}, QDir::Files))
        QFile::remove(folder + QLatin1Char('/') + name);
    const int savedBefore = countOf(Test_LoggedText(), QStringLiteral("crash logs saved"));
    QString message;
    QStringList onDesktop;
    {
      const std::shared_ptr<void> arranged = c.arrange();
      if (!mountable) {
        std::cout << "[  SKIPPED ] " << c.name << ": this process may not mount a file system\n";
        mountable = true;
        continue;
      }
      Test_AnswerFirstAidThenItsMessage(&message);
      showFirstAidWindowForAppStartup(delegate.get(), false, true);
      ASSERT_TRUE(Test_WaitUntil([&] { return !message.isEmpty(); }, 30000));
      onDesktop = QDir(desktop).entryList(QDir::Files | QDir::Hidden);
    }
    EXPECT_TRUE(message.contains(QString::fromLatin1(c.says))) << message.toStdString();
    const QString folder = c.where == Where::Desktop ? desktop : c.where == Where::Home ? Test_HomePath() : temp;
    const QString archive = folder + QStringLiteral("/Velmora_CrashLogs.zip");
    EXPECT_TRUE(message.contains(QStringLiteral("\"%1\"").arg(archive))) << "told where: " << message.toStdString();
    ASSERT_TRUE(QFileInfo(archive).isFile());
    const bool saved = c.where == Where::Desktop || c.where == Where::Home;
    EXPECT_EQ(countOf(Test_LoggedText(), QStringLiteral("crash logs saved")), savedBefore + (saved ? 1 : 0));
    QString error;
    const QList<QVariantMap> entries = Test_PythonZipEntries(archive, &error);
    if (c.where == Where::TemporaryCut) continue;  // kept as far as it was written
    // Whole wherever it is, and nowhere else: no empty or half-copied archive on the Desktop.
    ASSERT_GE(entries.size(), 4) << error.toStdString();
    EXPECT_EQ(Test_ZipEntry(entries, QStringLiteral("Debug_Logs/20261205/1234_Debug.log")).value("data").toByteArray(),
              QByteArray(20000, 'l'));
    if (c.where != Where::Desktop) {
      EXPECT_EQ(onDesktop, c.where == Where::TemporaryWhole ? QStringList{QStringLiteral("filler")} : QStringList{});
    }
    if (c.where != Where::TemporaryWhole) {
      EXPECT_TRUE(QDir(temp).entryList({QStringLiteral("Velmora_CrashLogs*")}, QDir::Files).isEmpty());
    }
  }
}

TEST_F(FirstAidAppTest, PruningKeepsTheSevenNewestDayFolders) {
  const QString days = FirstAid_DebugLogsPath();
  // Today's folder of this run's log may be there already; older days fill up to eight.
  QStringList all = FirstAid_DebugLogDayFolders(StandardLocations::logsFolderPath(), QStringLiteral("Debug_Logs"));
  for (QString& day : all) day = QFileInfo(day).fileName();
  for (int day = 1; all.size() < 8; ++day) {
    all << QStringLiteral("201911%1").arg(day, 2, 10, QLatin1Char('0'));
    writeFile(days + QLatin1Char('/') + all.last() + QStringLiteral("/1_Debug.log"), "line\n");
  }
  all.sort();
  writeFile(days + QStringLiteral("/notes.txt"), "not a day");
  FirstAid_PruneDebugLogDays();
  QStringList left = QDir(days).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
  left.sort();
  EXPECT_EQ(left, all.mid(1) + QStringList{QStringLiteral("notes.txt")}) << "the oldest day goes";
  // Seven are kept as they are.
  FirstAid_PruneDebugLogDays();
  EXPECT_EQ(QDir(days).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 8);
}

TEST_F(FirstAidAppTest, TheResetThroughTheWindowDeletesThePreferences) {
  willFinish();
  UserDefaults::standard().setObject(QStringLiteral("ZRNTestMark"), QStringLiteral("gone"));
  ASSERT_TRUE(UserDefaults::standard().synchronize());
  ASSERT_TRUE(QFileInfo::exists(StandardLocations::preferencesFilePath()));
  // On request the reset is preselected; its alert is answered with Continue.
  bool alertSeen = false;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* window) {
    Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget*) { alertSeen = true; }, window);
  });
  showFirstAidWindow(delegate.get());
  EXPECT_TRUE(alertSeen) << "the reset was confirmed first";
  EXPECT_FALSE(QFileInfo::exists(StandardLocations::preferencesFilePath()));
  EXPECT_TRUE(UserDefaults::standard().persistentDomain().isEmpty());
  EXPECT_TRUE(delegate->appIsQuitting()) << "the application terminates for the relaunch";
  // No relaunch tool beside the test program: that is said.
  const QString logged = Test_LoggedText();
  EXPECT_TRUE(logged.contains(QStringLiteral("relaunchMe tool NOT found."))) << logged.toStdString();
}

TEST_F(FirstAidAppTest, TheRelaunchToolStartsTheApplicationOnceThisProcessLetsGo) {
  const QString folder = Test_MakeTempDir(QStringLiteral("relaunch"));
  const QString marker = folder + QStringLiteral("/relaunched");
  const QString application = folder + QStringLiteral("/velmora-again");
  writeFile(application, QStringLiteral("#!/bin/sh\necho \"$0 $$\" > '%1'\n").arg(marker).toUtf8());
  QFile::setPermissions(application, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  UserDefaults::standard().setObject(QStringLiteral("ZRNTestMark"), QStringLiteral("gone"));
  ASSERT_TRUE(UserDefaults::standard().synchronize());

  const int holding = FirstAid_ResetPreferencesAndStartRelaunch(Test_BinaryPath(QStringLiteral("relaunchMe")), application);
  ASSERT_GE(holding, 0);
  EXPECT_FALSE(QFileInfo::exists(StandardLocations::preferencesFilePath()));
  EXPECT_TRUE(UserDefaults::standard().persistentDomain().isEmpty());
  // While we hold its input the tool waits; it cannot have started the application yet.
  EXPECT_FALSE(QFileInfo::exists(marker));
  ::close(holding);
  ASSERT_TRUE(Test_WaitUntil([&] { return QFileInfo::exists(marker) && QFileInfo(marker).size() > 0; }, 20000));
  QFile file(marker);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_TRUE(file.readAll().startsWith(application.toUtf8())) << "started with the path it was given";
}

TEST_F(FirstAidAppTest, EachCallerOfTheCleanUpRemovesItsLocks) {
  Test_RunningCopy other(Test_MakeTempDir(QStringLiteral("other")));
  const QString stopped = Test_CopyBinary(Test_BinaryPath(QStringLiteral("relaunchMe")), Test_MakeTempDir(QStringLiteral("stopped")));
  Test_WriteLock(QStringLiteral("lockfile_1"), own());         // our own, left by an earlier run
  Test_WriteLock(QStringLiteral("lockfile_2"), other.path);    // the other copy's, which still runs
  Test_WriteLock(QStringLiteral("lockfile_3"), stopped);       // a copy that does not run
  Test_WriteLock(QStringLiteral("lockfile_4"), QString(), "damaged");
  Test_WriteLock(QStringLiteral("notes.txt"), QString(), "not a lock");
  willFinish();

  // After the First Aid window, whatever was chosen: the stopped copy's and the unreadable lock go.
  Test_AnswerNextModal(QStringLiteral("cancelBtn"));
  showFirstAidWindow(delegate.get());
  EXPECT_EQ(Test_LockEntries(), (QStringList{QStringLiteral("lockfile_1"), QStringLiteral("lockfile_2"), QStringLiteral("notes.txt")}));

  // The normal start: our earlier lock goes and this run's comes.
  delegate->finishNormalApplicationStartup();
  const QString runLock = QFileInfo(crashLockFileURL().toLocalFile()).fileName();
  ASSERT_FALSE(runLock.isEmpty());
  EXPECT_EQ(Test_LockEntries(), (QStringList{QStringLiteral("lockfile_2"), runLock, QStringLiteral("notes.txt")}));
  QString path;
  EXPECT_EQ(readContentsOfFile(crashLockFileURL().toLocalFile(), &path), 0);
  EXPECT_EQ(path, own());

  // Termination: only this run's lock goes.
  delegate->applicationWillTerminate();
  EXPECT_EQ(Test_LockEntries(), (QStringList{QStringLiteral("lockfile_2"), QStringLiteral("notes.txt")}));
}

TEST_F(FirstAidAppTest, TheHelpMenuOpensTheWindowOnRequestAndCancelDoesNothingMore) {
  willFinish();
  int height = 0;
  QString okTitle;
  Test_AnswerNextModal(QStringLiteral("cancelBtn"), [&](QWidget* modal) {
    height = modal->height();
    if (auto* window = qobject_cast<ZRNFirstAidWindowController*>(modal)) okTitle = window->okBtn()->text();
  });
  QAction* command = delegate->mainMenu()->action(QStringLiteral("showFirstAidWindow"));
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(command->text(), QStringLiteral("First Aid…"));
  command->trigger();
  EXPECT_EQ(height, 412);
  EXPECT_EQ(okTitle, QStringLiteral("Reset"));
  EXPECT_FALSE(ran(QStringLiteral("finishNormalApplicationStartup"))) << "outside the launch Cancel only closes it";
  EXPECT_FALSE(delegate->appIsQuitting());
}

TEST_F(FirstAidAppTest, AnEMailWithoutAnAttachingMailProgramCarriesTheReportInItsBody) {
  const QString reports = FirstAid_UserDiagnosticReportsPath();
  QDir(reports).removeRecursively();
  writeFile(reports + QStringLiteral("/velmora_2026-12-01-101010.crash"), "older crash\n");
  writeFile(reports + QStringLiteral("/velmora_2026-12-02-101010.crash"), "newer crash\n");
  const QString oldLog = FirstAid_DebugLogsPath() + QStringLiteral("/20261201/77_Debug.log");
  writeFile(oldLog, "an old line\n");
  willFinish();
  Test_AnswerNextModal(QStringLiteral("okBtn"), [](QWidget* modal) {
    auto* window = qobject_cast<ZRNFirstAidWindowController*>(modal);
    if (!window) return;
    window->prepareEmailBtn()->click();
    window->userText()->setPlainText(QStringLiteral("It froze & quit at 1:0"));
    window->clearLogsCheck()->setChecked(true);
  });
  const QUrl before = FirstAid_LastMailtoURL();
  showFirstAidWindowForAppStartup(delegate.get(), false, true);
  // Offscreen no mail program takes the mailto: URL: the user is told, and the logs wait on the Desktop.
  QString told;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
    if (modal->objectName() == QLatin1String("handOffFailureAlert")) told = Test_LabelsText(modal);
  });
  ASSERT_TRUE(Test_WaitUntil([&] { return FirstAid_LastMailtoURL() != before; }, 30000));
  ASSERT_TRUE(Test_WaitUntil([&] { return !told.isEmpty(); }, 30000));
  EXPECT_TRUE(told.contains(QStringLiteral("The email to ") + FirstAid_SupportAddress() + QStringLiteral(" cannot be prepared."))) << told.toStdString();
  EXPECT_TRUE(told.contains(QStringLiteral("No mail program on this desktop takes it."))) << told.toStdString();
  const qsizetype at = told.indexOf(StandardLocations::desktopPath() + QStringLiteral("/Velmora_CrashLogs"));
  ASSERT_GE(at, 0) << told.toStdString();
  const QString saved = told.mid(at, told.indexOf(QStringLiteral(".zip"), at) + 4 - at);
  EXPECT_TRUE(QFileInfo::exists(saved));
  const QUrl mail = FirstAid_LastMailtoURL();
  EXPECT_EQ(mail.scheme(), QStringLiteral("mailto"));
  EXPECT_EQ(mail.path(), FirstAid_SupportAddress());
  const QUrlQuery query(mail);
  EXPECT_EQ(query.queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded), QStringLiteral("Velmora " VELMORA_VERSION_STRING " Crash Report"));
  const QString body = query.queryItemValue(QStringLiteral("Body"), QUrl::FullyDecoded);
  EXPECT_TRUE(body.contains(QStringLiteral("It froze & quit at 1:0\n"))) << "the user's text, its '&' escaped";
  EXPECT_TRUE(body.contains(QStringLiteral("older crash\n") + QString(100, '-') + QStringLiteral("\n\nnewer crash\n")));
  EXPECT_TRUE(delegate->logsForEmailURL().isEmpty()) << "no archive for the mailto: route";
  // No mail program took the report: the logs to be cleared stay, and the archive on the Desktop holds them.
  Test_ProcessEvents(200);
  EXPECT_TRUE(QFileInfo::exists(oldLog));
  EXPECT_EQ(QDir(reports).entryList(QDir::Files).size(), 2);
  QString error;
  const QList<QVariantMap> entries = Test_PythonZipEntries(saved, &error);
  ASSERT_FALSE(entries.isEmpty()) << error.toStdString();
  EXPECT_EQ(Test_ZipEntry(entries, QStringLiteral("velmora_2026-12-01-101010.crash")).value("data").toByteArray(), QByteArray("older crash\n"));
  EXPECT_EQ(Test_ZipEntry(entries, QStringLiteral("Debug_Logs/20261201/77_Debug.log")).value("data").toByteArray(), QByteArray("an old line\n"));
}

TEST_F(FirstAidAppTest, QuittingWhileTheWindowIsUpStartsNothingMore) {
  Test_WriteLock(QStringLiteral("lockfile_1"), own());
  Test_AnswerNextModal(QStringLiteral("cancelBtn"), [this](QWidget*) { delegate->terminate(); });
  launch();
  EXPECT_TRUE(ran(QStringLiteral("U_CheckForPreviousCrash")));
  EXPECT_FALSE(ran(QStringLiteral("finishNormalApplicationStartup")));
  EXPECT_TRUE(crashLockFileURL().isEmpty()) << "no lock of this run";
}

TEST_F(FirstAidAppTest, AMailProgramThatTakesAttachmentsGetsTheArchiveAndAShortBody) {
  // Stand-ins for the desktop's tools, which this machine lacks: xdg-mime names Thunderbird as the mail
  // program, xdg-email writes down the arguments it was given.
  const QString recorded = Test_MakeTempDir(QStringLiteral("mail")) + QStringLiteral("/xdg-email.args");
  FakeMailProgram mail(
      QStringLiteral("#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n--\\n' \"$a\"; done > '%1.tmp' && mv '%1.tmp' '%1'\n").arg(recorded).toUtf8());
  const QString reports = FirstAid_UserDiagnosticReportsPath();
  QDir(reports).removeRecursively();
  writeFile(reports + QStringLiteral("/velmora_2026-12-02-101010.crash"), "an older crash\n");
  writeFile(reports + QStringLiteral("/velmora_2026-12-03-101010.crash"), "the crash itself\n");
  const QString oldLog = FirstAid_DebugLogsPath() + QStringLiteral("/20261201/77_Debug.log");
  writeFile(oldLog, "an old line\n");
  willFinish();

  QString okTitle;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
    auto* window = qobject_cast<ZRNFirstAidWindowController*>(modal);
    if (!window) return;
    okTitle = window->okBtn()->text();
    window->userText()->setPlainText(QStringLiteral("Froze at kick-off"));
    window->clearLogsCheck()->setChecked(true);
  });
  showFirstAidWindowForAppStartup(delegate.get(), false, true);
  const bool mailed = Test_WaitUntil([&] { return QFileInfo::exists(recorded) && !delegate->logsForEmailURL().isEmpty(); }, 30000);
  mail.restore();
  ASSERT_TRUE(mailed);
  EXPECT_EQ(okTitle, QStringLiteral("Prepare email")) << "preselected after a crash";

  QFile file(recorded);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  QStringList args = QString::fromUtf8(file.readAll()).split(QStringLiteral("\n--\n"));
  args.removeLast();
  ASSERT_EQ(args.size(), 7) << args.join('|').toStdString();
  EXPECT_EQ(args[0], QStringLiteral("--subject"));
  EXPECT_EQ(args[1], QStringLiteral("Velmora " VELMORA_VERSION_STRING " Crash Report"));
  EXPECT_EQ(args[2], QStringLiteral("--body"));
  EXPECT_EQ(args[4], QStringLiteral("--attach"));
  EXPECT_EQ(args[6], FirstAid_SupportAddress());
  const QString body = args[3];
  EXPECT_TRUE(body.contains(QStringLiteral("Mail program:  thunderbird\nFroze at kick-off\n"))) << body.left(300).toStdString();
  // The reports travel in the archive, not in the body.
  EXPECT_FALSE(body.contains(QStringLiteral("the crash itself")));
  EXPECT_FALSE(body.contains(QStringLiteral("No .hang logs found.")));
  const QString archive = args[5];
  EXPECT_EQ(delegate->logsForEmailURL(), QUrl::fromLocalFile(archive));
  QString error;
  const QList<QVariantMap> entries = Test_PythonZipEntries(archive, &error);
  ASSERT_FALSE(entries.isEmpty()) << error.toStdString();
  EXPECT_TRUE(Test_ZipEntry(entries, QStringLiteral("ksu_SystemInfo.txt")).isEmpty()) << "the report is the body";
  EXPECT_EQ(Test_ZipEntry(entries, QStringLiteral("velmora_2026-12-03-101010.crash")).value("data").toByteArray(),
            QByteArray("the crash itself\n"));
  EXPECT_EQ(Test_ZipEntry(entries, QStringLiteral("Debug_Logs/20261201/77_Debug.log")).value("data").toByteArray(),
            QByteArray("an old line\n"));
  // The mail program took the report: cleaning up keeps the newest crash report and empties the day folders.
  ASSERT_TRUE(Test_WaitUntil([&] { return !QFileInfo::exists(oldLog); }));
  EXPECT_EQ(QDir(reports).entryList(QDir::Files), QStringList{QStringLiteral("velmora_2026-12-03-101010.crash")});
  EXPECT_TRUE(QFileInfo(QFileInfo(oldLog).path()).isDir());
  // The archive made for the mail goes when the application terminates.
  delegate->applicationWillTerminate();
  EXPECT_FALSE(QFileInfo::exists(archive));
}

TEST_F(FirstAidAppTest, AMailProgramThatRefusesTheReportIsToldWithTheSavedLogs) {
  // xdg-email finds Thunderbird but the hand-off fails, as it does when the program cannot start.
  FakeMailProgram mail("#!/bin/sh\nexit 3\n");
  willFinish();
  Test_AnswerNextModal(QStringLiteral("okBtn"));
  showFirstAidWindowForAppStartup(delegate.get(), false, true);
  QString told;
  Test_AnswerNextModal(QStringLiteral("okBtn"), [&](QWidget* modal) {
    if (modal->objectName() == QLatin1String("handOffFailureAlert")) told = Test_LabelsText(modal);
  });
  const bool alerted = Test_WaitUntil([&] { return !told.isEmpty(); }, 30000);
  mail.restore();
  ASSERT_TRUE(alerted);
  EXPECT_TRUE(told.contains(QStringLiteral("cannot be prepared."))) << told.toStdString();
  EXPECT_TRUE(told.contains(QStringLiteral("xdg-email ended with status 3."))) << told.toStdString();
  const qsizetype at = told.indexOf(StandardLocations::desktopPath() + QStringLiteral("/Velmora_CrashLogs"));
  ASSERT_GE(at, 0) << told.toStdString();
  EXPECT_TRUE(QFileInfo::exists(told.mid(at, told.indexOf(QStringLiteral(".zip"), at) + 4 - at)));
}
