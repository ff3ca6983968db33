#include "platform/system/ProcessSignals.h"

#include <csignal>

void Process_IgnoreFileSizeSignal() {
  struct sigaction action = {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGXFSZ, &action, nullptr);
}
