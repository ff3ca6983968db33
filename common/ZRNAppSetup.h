#pragma once
// What the program knows about its environment: log and preferences paths, fixed build switches,
// the session user, the mail application, and the capture access flags.

#include <QString>

#include <atomic>
#include <cstdint>

class ZRNAppSetup {
 public:
  static ZRNAppSetup* sharedAppSetup();

  // Capture access as the capture code last recorded it; NO until then.
  bool hasCameraAccess() const { return m_hasCameraAccess; }
  void setHasCameraAccess(bool granted) { m_hasCameraAccess = granted; }
  bool hasMicrophoneAccess() const { return m_hasMicrophoneAccess; }
  void setHasMicrophoneAccess(bool granted) { m_hasMicrophoneAccess = granted; }

  // Switches fixed for every build.
  bool hasHEVCExport() const { return false; }
  bool supportsHEICWriting() const { return false; }
  bool hasUserDebugMenu() const { return false; }
  bool hasUpdateCheck() const { return true; }
  bool hasFullscreen() const { return false; }

  // Whether the desktop has an application for mailto: URLs; asked once per run.
  bool machine_hasMailer();
  // The executable name of the desktop's mailto: handler, "Mail" when there is none.
  QString currentMailerName();
  // The executable name of the desktop's mail program; empty when the desktop has none.
  QString installedMailerName();
  // Only these mail programs can be driven by our mail scripts; the comparison is exact.
  bool mailerSupportsApplescript(const QString& mailerName) const;

  // The day folder of the debug logs, created on demand; falls back to its parent when it cannot be made.
  QString zrnDebugLogsFolderPath();
  // This run's debug-log file; the first call fixes the path for the whole run.
  QString zrnDebugLogPathFor(const QString& name);
  QString debugLogFilename() const { return m_debugLogFilename; }

  // The user of this login session; an empty QString when it cannot be told.
  QString getSessionShortUserName() const;
  int32_t getSessionUserID() const;
  // The executable lies on a file system mounted read-only.
  bool isRunningFromReadOnlyVolume() const;
  QString appPreferencesFilepath() const;
  QString machineNameAsAETitle() const { return QStringLiteral("STATION_AET"); }

 private:
  ZRNAppSetup() = default;
  std::atomic<bool> m_hasCameraAccess{false};
  std::atomic<bool> m_hasMicrophoneAccess{false};
  QString m_debugLogFilename;
};

// The logs folder: <state>/org.velmora.Velmora, created with its parents; empty when it cannot be made.
QString ZRNAppSetup_LogsDirectory();

// The environment of the run, set when launching begins (null in tools and tests that make none).
extern ZRNAppSetup* gZRNAppSetup;
// Whether the microphone may be used; without an environment (tools, tests) it may.
bool ZRNAppSetup_HasMicrophoneAccess();
