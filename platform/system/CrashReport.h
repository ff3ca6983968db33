#pragma once
// The report of a fatal signal. SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT write
// "<executable>_<UTC yyyy-mm-dd-HHMMSS>.crash" into the reports folder: the signal, the faulting address,
// the stack and the version. Then the signal is raised again with the system's own handling, so a core
// dump (or systemd-coredump) still happens. The handler makes only async-signal-safe calls.

#include <QString>

// Creates the folder and installs the handler; false when the folder cannot be made (nothing installed).
// A second call moves the reports to the new folder.
bool CrashReport_Install(const QString& reportsFolder, const QString& executableName, const QString& version);

// The signals that write a report.
inline constexpr int kCrashReport_Signals[] = {11 /*SIGSEGV*/, 7 /*SIGBUS*/, 4 /*SIGILL*/, 8 /*SIGFPE*/, 6 /*SIGABRT*/};
