#include "cli/stop_signals.h"

#include <csignal>

namespace drovanta {

namespace {

StopRequest* gRequest = nullptr;

extern "C" void onStopSignal(int signal) {
  if (gRequest != nullptr) gRequest->request(signal);
}

}  // namespace

void InstallStopSignals(StopRequest& request) {
  gRequest = &request;
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  std::signal(SIGXFSZ, SIG_IGN);
}

int ExitStatusForSignal(int signal) {
  return 128 + signal;
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}

}  // namespace drovanta
