#pragma once
// Signals whose default action would end the program where an error return lets it end its work.

// SIGXFSZ, raised when a write passes the file-size limit (ulimit -f), would kill the program in the
// middle of a recording. Ignored, the write fails with EFBIG instead and the writer's failure path ends
// the recording and says why. Call once at start, before any file is written.
void Process_IgnoreFileSizeSignal();
