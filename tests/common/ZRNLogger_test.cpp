#include "common/ZRNLogger.h"

#include "common/ZRNAppSetup.h"
#include "platform/foundation/StandardLocations.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>
#include <vector>

namespace {
QString logPath() { return ZRNAppSetup::sharedAppSetup()->zrnDebugLogPathFor(QStringLiteral("Debug")); }

qint64 logSize() { return QFileInfo(logPath()).size(); }

// The lines the log file gained after the given size.
QStringList linesAfter(qint64 size) {
  QFile file(logPath());
  if (!file.open(QIODevice::ReadOnly) || !file.seek(size)) return {};
  QString text = QString::fromUtf8(file.readAll());
  if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// Every line is a stamp, one blank and the message.
QString messageOf(const QString& line) {
  static const QRegularExpression stamped(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d (.*)$"));
  const QRegularExpressionMatch match = stamped.match(line);
  return match.hasMatch() ? match.captured(1) : QStringLiteral("<unstamped> ") + line;
}
}  // namespace

TEST(Logger, StampIsLocalTimeWithTruncatedMilliseconds) {
  struct Case {
    QTime time;
    double fraction;
    const char* expected;
  };
  const Case cases[] = {
      {QTime(13, 5, 9), 0.0427, "13:05:09:042"},
      {QTime(13, 5, 9), 0.9999, "13:05:09:999"},  // never rounded up into the next second
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const QDateTime local(QDate(2026, 3, 14), c.time, QTimeZone::systemTimeZone());
    const double seconds = static_cast<double>(local.toSecsSinceEpoch()) + c.fraction;
    EXPECT_EQ(ZRNLogger_StampForTime(seconds), QString::fromLatin1(c.expected));
  }
}

TEST(Logger, WritesThisRunsFileInTheDayFolderOfItsStart) {
  const QDate today = QDateTime::currentDateTimeUtc().date();
  EXPECT_EQ(logPath(), StandardLocations::stateHome() + QStringLiteral("/org.velmora.Velmora/Debug_Logs/") +
                           today.toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("/") +
                           QString::number(getpid()) + QStringLiteral("_Debug.log"));
  // The first name fixes the file for the whole run.
  EXPECT_EQ(ZRNAppSetup::sharedAppSetup()->zrnDebugLogPathFor(QStringLiteral("Other")), logPath());

  ZRNLogger_Start(1);
  const qint64 before = logSize();
  ZRNLogger_Log(QStringLiteral("camera %@ at %d fps, %.1f%%"), QStringLiteral("USB Cam"), 30, 99.5);
  ZRNLogger_Stop();
  EXPECT_EQ(messageOf(linesAfter(before).value(0)), QStringLiteral("camera USB Cam at 30 fps, 99.5%"));
}

TEST(Logger, EveryLineOfARunIsInTheFileWhenTheStopReturnsAndOthersAreDropped) {
  ZRNLogger_Stop();  // whatever ran before is over
  const qint64 before = logSize();
  ZRNLogger_Log(QStringLiteral("before the start %d"), 1);
  ZRNLogger_Start(1);
  for (int i = 0; i < 3000; ++i) ZRNLogger_Log(QStringLiteral("line %d"), i);
  ZRNLogger_Stop();
  ZRNLogger_Log(QStringLiteral("after the stop"));
  ZRNLogger_Stop();  // a second stop neither blocks nor writes

  const QStringList lines = linesAfter(before);
  ASSERT_EQ(lines.size(), 3001);
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(messageOf(lines[i]), QStringLiteral("line %1").arg(i));
  EXPECT_EQ(messageOf(lines.last()), QStringLiteral("prepare to ZRNLogger_Stop"));
}

TEST(Logger, ConcurrentCallersLeaveWholeLinesInEachThreadsOrder) {
  constexpr int kThreads = 8;
  constexpr int kLines = 400;
  ZRNLogger_Start(1);
  const qint64 before = logSize();
  // Long lines make a torn write visible.
  const QString padding(300, QLatin1Char('x'));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &padding] {
      for (int i = 0; i < kLines; ++i) ZRNLogger_Log(QStringLiteral("T%d #%d %@"), t, i, padding);
    });
  for (auto& thread : threads) thread.join();
  ZRNLogger_Stop();

  const QStringList lines = linesAfter(before);
  ASSERT_EQ(lines.size(), kThreads * kLines + 1);
  static const QRegularExpression shape(QStringLiteral("^T(\\d) #(\\d+) (x{300})$"));
  int next[kThreads] = {};
  for (int n = 0; n < kThreads * kLines; ++n) {
    const QRegularExpressionMatch match = shape.match(messageOf(lines[n]));
    ASSERT_TRUE(match.hasMatch()) << qPrintable(lines[n].left(80));
    const int t = match.captured(1).toInt();
    ASSERT_EQ(match.captured(2).toInt(), next[t]) << "thread " << t;
    ++next[t];
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines);
}
