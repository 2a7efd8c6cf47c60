#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mbox/stop_request.h"
#include "run/conversion_run.h"

namespace drovanta {

// What a window shows of a running conversion, as of the latest message told.
struct RunProgress {
  long ended = 0;      // messages converted, failed, skipped or found already there so far
  long converted = 0;  // of those, converted
  long latestRow = -1;
  // The message bytes of the latest message read so far, never more than its length; a finished
  // message counts all of its bytes.
  std::uint64_t bytesRead = 0;
  std::uint64_t messageLength = 0;
  bool messageTold = false;
  // No message is being converted: the latest one told has ended (or none has started).
  bool betweenMessages = true;
  // Not empty while the run waits for another program to finish writing this mailbox (its
  // path).
  std::string busyMailbox;
  // Changes with every change above, so a display can tell when there is nothing new.
  std::uint64_t version = 0;
};

// What a run said of messages it converted with something missing, and of files it left out as
// not messages, each in row order.
struct RunNotices {
  std::vector<Notice> warnings;
  std::vector<Notice> skipped;
  // A stop was asked for when every message had been taken already: nothing was left out.
  bool stopAfterLast = false;
};

// A conversion of the given rows that runs on a thread of its own, with the engine of the
// command line: up to `jobs` mailboxes at once, each mailbox's messages in row order on one
// thread, so the mailboxes are byte for byte the command line's. The thread that starts it only
// reads its progress and waits for its end; nothing of the run ever waits for that thread.
//
// Stopping: requestStop() (the window's Escape or exit) lets every record being written be
// completed; the stop request itself (stopRequest()) may also be made from a signal handler,
// and a second request cuts the records being written back out at once. The destructor asks
// for a stop and waits, so the run never outlives its owner with a record half-written.
class BackgroundRun {
 public:
  // `options` as RunConversionInParallel takes them; their stop request is the run's own.
  BackgroundRun(std::vector<std::string> rows, std::string destinationFolder, unsigned jobs,
                RunOptions options = {});
  ~BackgroundRun();
  BackgroundRun(const BackgroundRun&) = delete;
  BackgroundRun& operator=(const BackgroundRun&) = delete;

  // Waits until the run has ended or `timeout` has passed; true once it has ended.
  bool waitFor(std::chrono::microseconds timeout);
  // Waits until the run has ended.
  void wait();
  RunProgress progress() const;
  // A first stop request, unless one was made already (by this or a signal).
  void requestStop();
  StopRequest& stopRequest() { return stop_; }
  // The run's summary once it has ended; an exception that ended the run is thrown here.
  RunSummary summary();
  // The run's warnings and skipped files, once it has ended.
  RunNotices notices();

 private:
  class Keeper;
  void work(unsigned jobs);

  const std::vector<std::string> rows_;
  const std::string destination_;
  RunOptions options_;
  // Kept for the life of the program: a signal handler on another thread may still be about to
  // use it when the run is gone.
  StopRequest& stop_;
  mutable std::mutex mutex_;
  std::condition_variable endedSignal_;
  bool ended_ = false;
  RunProgress progress_;
  RunSummary summary_;
  // With the row each came from: the parallel engine tells them out of row order.
  std::vector<std::pair<long, Notice>> warnings_;
  std::vector<std::pair<long, Notice>> skipped_;
  std::exception_ptr error_;
  std::thread thread_;  // last: started once everything above exists
};

}  // namespace drovanta
