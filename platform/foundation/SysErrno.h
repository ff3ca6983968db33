#pragma once
// The system's text for an errno value, safe on any thread.
//
// std::strerror hands back a buffer it may share between threads (and reuse for an unknown number), and
// logs and alerts are written from worker queues too, so every errno text comes from here.

#include <QString>

// The text for error ("Permission denied"); "Unknown error N" where the system has none. Leaves errno as
// it was, so a caller may still look at it afterwards.
QString Sys_ErrnoText(int error);
