// The real executable ends while it records, by signal or by Quit (which asks first), and keeps the
// recording whole.

#include "tests/app/TerminationExecutableSupport.h"

using namespace terminationtest;

TEST(TerminationExecutable, EndsWhileRecordingAndKeepsTheRecording) { endEachWay(State::Recording); }
