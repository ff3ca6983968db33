#pragma once
// Power management on Linux: inhibitor locks of systemd-logind and the power source.

#include <QString>

// Takes a logind inhibitor lock ("idle", "sleep", "shutdown", ... or several joined by ':') in block mode.
// Answers the lock's file descriptor, which holds the lock until it is closed, or -1 when there is no
// system bus, no logind or a refusal (errorText then says why). The descriptor is never 0.
int Power_TakeInhibitLock(const QString& what, const QString& who, const QString& why, QString* errorText = nullptr);
// Releases a lock taken above; -1 and 0 are ignored.
void Power_ReleaseInhibitLock(int fd);

enum class PowerSource { Unknown, AC, Battery };

// UPower's OnBattery over the system bus; Unknown when UPower cannot be asked.
PowerSource Power_UPowerSource();
// The kernel's view below a power_supply class folder (normally /sys/class/power_supply): AC when a mains,
// USB or wireless supply is online, Battery when none is and a battery discharges, Unknown otherwise.
PowerSource Power_SysfsSource(const QString& powerSupplyFolder = QStringLiteral("/sys/class/power_supply"));
// UPower first, the kernel's view when UPower cannot tell.
PowerSource Power_CurrentSource();
