#pragma once
// What the program knows about its environment: log and preferences paths, fixed build switches,
// the session user, the mail application, and the capture access flags.

#include <QString>

class ZRNAppSetup {
 public:
  static ZRNAppSetup* sharedAppSetup();

  // The day folder of the debug logs, created on demand; falls back to its parent when it cannot be made.
  QString zrnDebugLogsFolderPath();
  // This run's debug-log file; the first call fixes the path for the whole run.
  QString zrnDebugLogPathFor(const QString& name);
  QString debugLogFilename() const { return m_debugLogFilename; }

 private:
  ZRNAppSetup() = default;
  QString m_debugLogFilename;
};

// The logs folder: <state>/org.velmora.Velmora, created with its parents; empty when it cannot be made.
QString ZRNAppSetup_LogsDirectory();
