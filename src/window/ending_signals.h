#pragma once

#include <QObject>
#include <functional>

#include "mbox/stop_request.h"

namespace drovanta {

// SIGINT, SIGTERM and SIGHUP (a terminal closed, the session ending, kill) end the window
// program the way they end a run of the command line: the handler itself asks the running
// conversion to stop, so the records being written are completed (a second signal cuts them
// back out at once) even while the window's thread is busy; then `ended` runs on the window's
// thread with the signal's number, to wait for the run and end the process. A signal that was
// ignored when the program started (nohup) stays ignored. Does nothing where these signals do
// not exist.
class EndingSignals : public QObject {
 public:
  explicit EndingSignals(std::function<void(int signal)> ended, QObject* parent = nullptr);
  ~EndingSignals() override;

  // Installs the handler before anything else of the program (Qt's start-up takes a while): a
  // signal that comes before the window exists is kept in the pipe, and the EndingSignals made
  // later ends the program with it once the event loop runs.
  static void installFirst();

  // The stop request of the conversion now running, asked by the handler; null when none.
  static void setRunningStop(StopRequest* stop);

  // Ends the process as the signal's default action does, so that whoever started it sees
  // which signal ended it.
  [[noreturn]] static void endAsSignalled(int signal);

 private:
  std::function<void(int)> ended_;
};

}  // namespace drovanta
