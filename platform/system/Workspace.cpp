#include "platform/system/Workspace.h"

#include "platform/system/SystemBus.h"

#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {
constexpr int kBusTimeoutMs = 3000;
constexpr int kProcessTimeoutMs = 5000;

bool askFileManager(const QString& method, const QString& path) {
  SystemBusConnection bus(SystemBusConnection::Bus::Session);
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                     QStringLiteral("/org/freedesktop/FileManager1"),
                                                     QStringLiteral("org.freedesktop.FileManager1"), method);
  call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
  const QDBusMessage reply = bus.connection().call(call, QDBus::Block, kBusTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage;
}

QStringList dataFolders() {
  QStringList folders;
  const QString home = qEnvironmentVariable("XDG_DATA_HOME");
  folders << (home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : home);
  QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
  if (dirs.isEmpty()) dirs = QStringLiteral("/usr/local/share:/usr/share");
  folders << dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts);
  return folders;
}

// The first word of an Exec value, honouring the quoting rules of desktop entries.
QString firstExecWord(const QString& exec) {
  QString word;
  bool quoted = false;
  for (qsizetype i = 0; i < exec.size(); ++i) {
    const QChar c = exec[i];
    if (quoted) {
      if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
        word += exec[++i];
      } else if (c == QLatin1Char('"')) {
        quoted = false;
      } else {
        word += c;
      }
    } else if (c == QLatin1Char('"')) {
      quoted = true;
    } else if (c.isSpace()) {
      if (!word.isEmpty()) break;
    } else {
      word += c;
    }
  }
  return word;
}
}  // namespace

bool Workspace_RevealItem(const QString& path, bool isFolder) {
  if (askFileManager(isFolder ? QStringLiteral("ShowFolders") : QStringLiteral("ShowItems"), path)) return true;
  const QString folder = isFolder ? path : QFileInfo(path).absolutePath();
  return Workspace_OpenURL(QUrl::fromLocalFile(folder));
}

bool Workspace_OpenURL(const QUrl& url) { return url.isValid() && QDesktopServices::openUrl(url); }

void Workspace_ComposeMail(const QStringList& arguments, QObject* context, std::function<void(bool, const QString&)> done,
                           int patienceMs) {
  const QString xdgEmail = QStandardPaths::findExecutable(QStringLiteral("xdg-email"));
  if (xdgEmail.isEmpty()) {
    QMetaObject::invokeMethod(context, [done] { done(false, QStringLiteral("xdg-email is not installed.")); }, Qt::QueuedConnection);
    return;
  }
  // Owned by the context: the answer comes once, from whichever ends first.
  auto* process = new QProcess(context);
  auto answered = std::make_shared<bool>(false);
  auto answer = [process, answered, done](bool ok, const QString& reason) {
    if (*answered) return;
    *answered = true;
    done(ok, reason);
    // A mail program still running keeps its process object until it ends.
    if (process->state() == QProcess::NotRunning) process->deleteLater();
  };
  QObject::connect(process, &QProcess::finished, context, [process, answer](int code, QProcess::ExitStatus status) {
    if (status != QProcess::NormalExit)
      answer(false, QStringLiteral("xdg-email ended abnormally."));
    else if (code != 0)
      answer(false, QStringLiteral("xdg-email ended with status %1.").arg(code));
    else
      answer(true, QString());
    process->deleteLater();
  });
  QObject::connect(process, &QProcess::errorOccurred, context, [process, answer](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) {
      answer(false, QStringLiteral("xdg-email could not be started: %1").arg(process->errorString()));
      process->deleteLater();
    }
  });
  QTimer::singleShot(patienceMs, process, [answer] { answer(true, QString()); });
  process->start(xdgEmail, arguments);
}

QString Workspace_MailtoHandlerDesktopID() {
  const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
  if (xdgMime.isEmpty()) return QString();
  QProcess process;
  process.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/mailto")});
  if (!process.waitForFinished(kProcessTimeoutMs)) {
    process.kill();
    process.waitForFinished();
    return QString();
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return QString();
  const QString answer = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
  // Only the first line counts; xdg-mime may list several handlers.
  return answer.section(QLatin1Char('\n'), 0, 0).trimmed();
}

QString Workspace_DesktopEntryPath(const QString& desktopID) {
  if (desktopID.isEmpty() || desktopID.contains(QLatin1Char('/'))) return QString();
  for (const QString& data : dataFolders()) {
    const QString applications = data + QStringLiteral("/applications/");
    const QString direct = applications + desktopID;
    if (QFileInfo(direct).isFile()) return direct;
    // "kde-foo.desktop" may live at applications/kde/foo.desktop.
    QString nested = desktopID;
    for (qsizetype dash = nested.indexOf(QLatin1Char('-')); dash >= 0; dash = nested.indexOf(QLatin1Char('-'), dash + 1)) {
      QString candidate = nested;
      candidate[dash] = QLatin1Char('/');
      if (QFileInfo(applications + candidate).isFile()) return applications + candidate;
    }
  }
  return QString();
}

QString Workspace_DesktopEntryExecutableName(const QString& desktopEntryPath) {
  QFile file(desktopEntryPath);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return QString();
  QTextStream in(&file);
  bool inMainGroup = false;
  while (!in.atEnd()) {
    const QString line = in.readLine().trimmed();
    if (line.startsWith(QLatin1Char('['))) {
      inMainGroup = line == QLatin1String("[Desktop Entry]");
      continue;
    }
    if (!inMainGroup || !line.startsWith(QLatin1String("Exec"))) continue;
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0 || line.left(equals).trimmed() != QLatin1String("Exec")) continue;
    const QString program = firstExecWord(line.mid(equals + 1).trimmed());
    return program.isEmpty() ? QString() : QFileInfo(program).fileName();
  }
  return QString();
}
