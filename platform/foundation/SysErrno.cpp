#include "platform/foundation/SysErrno.h"

#include <cerrno>
#include <string.h>

namespace {

// strerror_r comes in two shapes, chosen by the feature macros the C library was built with: the GNU one
// returns the text (which need not be in the buffer), the XSI one fills the buffer and returns 0 or an
// error. Overloads on the return type take whichever this build has.
[[maybe_unused]] const char* U_Text(char* returned, const char*) { return returned; }
[[maybe_unused]] const char* U_Text(int returned, const char* buffer) { return returned == 0 ? buffer : nullptr; }

}  // namespace

QString Sys_ErrnoText(int error) {
  const int saved = errno;
  char buffer[256] = {};
  const char* text = U_Text(strerror_r(error, buffer, sizeof buffer), buffer);
  QString result = text && *text ? QString::fromLocal8Bit(text) : QStringLiteral("Unknown error %1").arg(error);
  errno = saved;
  return result;
}
