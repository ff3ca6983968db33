#pragma once
// Sets the process's local time zone (the TZ variable) for the lifetime of the object, so tests of
// local dates give the same answers on every machine.

#include <QByteArray>

#include <cstdlib>
#include <ctime>

class ScopedTimeZone {
 public:
  // A POSIX zone such as "XST-2" (two hours east of UTC, no daylight saving).
  explicit ScopedTimeZone(const char* zone) : m_hadOld(qEnvironmentVariableIsSet("TZ")), m_old(qgetenv("TZ")) {
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (m_hadOld)
      setenv("TZ", m_old.constData(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  bool m_hadOld;
  QByteArray m_old;
};
