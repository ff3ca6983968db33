// The errno texts in logs and alerts: the system's own sentence for a known number (whichever strerror_r
// the C library has), the number itself for an unknown one, and errno untouched for the caller.

#include "platform/foundation/SysErrno.h"

#include <QStringList>

#include <cerrno>

#include <gtest/gtest.h>

TEST(SysErrno, KnownNumbersHaveTheirOwnTextAndUnknownOnesTheirNumber) {
  const QString unknownPrefix = QStringLiteral("Unknown error");
  QStringList seen;
  for (int error : {ENOENT, EACCES, ENOSPC, EEXIST}) {
    const QString text = Sys_ErrnoText(error);
    EXPECT_FALSE(text.isEmpty()) << error;
    EXPECT_FALSE(text.startsWith(unknownPrefix)) << error << ": " << text.toStdString();
    EXPECT_FALSE(seen.contains(text)) << error << ": " << text.toStdString();
    seen << text;
  }
  EXPECT_TRUE(Sys_ErrnoText(987654).contains(QStringLiteral("987654"))) << Sys_ErrnoText(987654).toStdString();
}

TEST(SysErrno, LeavesErrnoAsItWas) {
  errno = EPERM;
  Sys_ErrnoText(987654);
  EXPECT_EQ(errno, EPERM);
}
