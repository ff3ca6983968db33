#pragma once
// System functions: version, hardware, power source, sleep prevention and the report for crash logs.

#include <QString>

#include <cstdint>

// "major.minor.patch" of the running kernel; "0.0.0" when it cannot be read.
QString Sys_OSVersionString();
// major * 10000 + minor * 100 + patch; 0 when the version cannot be read.
long Sys_OSVersionNumber();
int32_t Sys_PhysicalMemoryMB();
QString Sys_HostName();
// The feature checks written against the other desktop's 10.x releases: every feature they guard exists
// here, so the answer is that of the newest release (reported as 10.16).
bool Sys_OSMinorAtLeast(int minor);
bool Sys_OSAtLeast10_12();
bool Sys_OSAtLeast10_13();
bool Sys_OSAtLeast10_14();
// Processors online; 1 when it cannot be read.
int32_t Sys_CPUCount();
// The machine's product name; an empty QString when the firmware does not say.
QString Sys_MachineModel();
// The highest processor frequency in GHz; 0.0 when it cannot be read.
float Sys_CPUMaxGHz();
bool Sys_VerboseTrace();
// The text about this machine that goes into the crash-log archive.
QString Sys_SystemReport();

// Whether the machine runs on battery; NO when nothing tells.
bool Sys_IsOnBattery();
// Keeps the display and the system awake while recording: logind inhibitor locks, held until reset.
void Sys_PreventSystemSleep();
// Releases the locks taken above, each once.
void Sys_ResetSystemSleep();
// The held locks' descriptors (0 when none): display idle, system sleep, disk idle (never held on Linux).
int32_t Sys_SleepAssertionID(int slot);
