#include "run/stop_signals.h"

#include <csignal>
#include <iterator>

namespace drovanta {

namespace {

StopRequest* gRequest = nullptr;
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
bool gInstalled[std::size(kEndingSignals)] = {};

extern "C" void onStopSignal(int signal) {
  if (gRequest != nullptr) gRequest->request(signal);
}

// Whoever started the process asked for the signal to be ignored (nohup for SIGHUP, a shell
// without job control for SIGINT of a background job): the run must not stop on it.
bool ignoredOnEntry(int signal) {
  struct sigaction current {};
  return ::sigaction(signal, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
         current.sa_handler == SIG_IGN;
}

}  // namespace

void InstallStopSignals(StopRequest& request) {
  gRequest = &request;
  InstallEndingSignalHandler(onStopSignal);
}

void InstallEndingSignalHandler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait for a mailbox lock sees the request
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    if (gInstalled[i] || !ignoredOnEntry(kEndingSignals[i])) {
      gInstalled[i] = ::sigaction(kEndingSignals[i], &action, nullptr) == 0;
    }
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

void ReleaseStopSignals(const StopRequest& request) {
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    if (gInstalled[i]) std::signal(kEndingSignals[i], SIG_DFL);
    gInstalled[i] = false;
  }
  if (request.reason() > 0) ::raise(request.reason());
}

int ExitStatusForSignal(int signal) {
  return 128 + signal;
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

}  // namespace drovanta
