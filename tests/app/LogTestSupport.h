#pragma once
// Reading what the application logged, for tests that check a failure was logged.

#include "app/ZRNAppSetup.h"
#include "app/ZRNLogger.h"

#include <QFile>
#include <QString>

// Everything logged so far: stopping the logger waits until its queue has written every line; it runs
// again afterwards.
inline QString Test_LoggedText() {
  ZRNLogger_Stop();
  QFile file(ZRNAppSetup::sharedAppSetup()->zrnDebugLogPathFor(QStringLiteral("Debug")));
  const QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
  ZRNLogger_Start(1);
  return text;
}
