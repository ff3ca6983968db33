#include "platform/media/io/MediaLog.h"

#include "platform/foundation/PlatformLog.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <mutex>

namespace {
void routeLine(void* avcl, int level, const char* format, va_list args) {
  if (level > AV_LOG_WARNING) return;  // encoder statistics and progress chatter
  char line[1024];
  int printPrefix = 1;
  av_log_format_line2(avcl, level, format, args, line, sizeof line, &printPrefix);
  QString text = QString::fromUtf8(line).trimmed();
  if (text.isEmpty()) return;
  Platform_LogLine(QStringLiteral("ffmpeg: ") + text);
}
}  // namespace

void MediaLog_Install() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(routeLine); });
}
