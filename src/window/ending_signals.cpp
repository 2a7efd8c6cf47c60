#include "window/ending_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#endif

#include "run/stop_signals.h"

namespace drovanta {
namespace {

std::atomic<StopRequest*> gRunningStop{nullptr};

#ifndef _WIN32
int gSignalPipe[2] = {-1, -1};

extern "C" void onEndingSignal(int signal) {
  const int savedErrno = errno;
  if (StopRequest* stop = gRunningStop.load()) stop->request(signal);
  // The window's thread learns of it through the pipe; a full pipe already holds a signal.
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const auto written = ::write(gSignalPipe[1], &byte, 1);
  errno = savedErrno;
}

// The pipe from the handler to the window's thread, made once; false when none can be made.
bool signalPipeReady() {
  if (gSignalPipe[0] >= 0) return true;
  if (::pipe(gSignalPipe) != 0) return false;
  for (const int end : gSignalPipe) {
    ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    ::fcntl(end, F_SETFD, FD_CLOEXEC);
  }
  return true;
}
#endif

}  // namespace

void EndingSignals::installFirst() {
#ifndef _WIN32
  if (signalPipeReady()) {
    InstallEndingSignalHandler(onEndingSignal);
  } else {
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the file size limit fails and is cut back
  }
#endif
}

EndingSignals::EndingSignals(std::function<void(int)> ended, QObject* parent)
    : QObject(parent), ended_(std::move(ended)) {
#ifndef _WIN32
  if (!signalPipeReady()) return;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] {
    char byte = 0;
    if (::read(gSignalPipe[0], &byte, 1) == 1 && ended_) ended_(static_cast<unsigned char>(byte));
  });
  InstallEndingSignalHandler(onEndingSignal);
#endif
}

EndingSignals::~EndingSignals() {
#ifndef _WIN32
  // The handlers stay (their pipe is kept), but nothing reads what they write any more.
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {};
    if (::sigaction(signal, nullptr, &now) == 0 && now.sa_handler == onEndingSignal) {
      std::signal(signal, SIG_DFL);
    }
  }
#endif
}

void EndingSignals::setRunningStop(StopRequest* stop) {
  gRunningStop.store(stop);
}

void EndingSignals::endAsSignalled(int signal) {
#ifndef _WIN32
  std::signal(signal, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
#endif
  std::_Exit(128 + signal);
}

}  // namespace drovanta
