// The real executable ends from whatever is on screen (the recording state is a media test: it records).

#include "tests/app/TerminationExecutableSupport.h"

using namespace terminationtest;

TEST(TerminationExecutable, EndsFromTheStartupNoteWithoutOpeningItsPageOrCountingItShown) {
  endEachWay(State::StartupNote);
}
TEST(TerminationExecutable, EndsFromTheWaitingForDeviceDialog) { endEachWay(State::WaitingForDevice); }
TEST(TerminationExecutable, EndsFromTheNamingPanel) { endEachWay(State::NamingPanel); }
TEST(TerminationExecutable, EndsFromAnAlert) { endEachWay(State::Alert); }
TEST(TerminationExecutable, EndsWhenIdle) { endEachWay(State::Idle); }
