#pragma once
// FFmpeg's own messages: warnings and errors go to the application's log, chatter is dropped.

void MediaLog_Install();
