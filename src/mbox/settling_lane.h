#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mbox/mailbox_settle.h"

namespace drovanta {

// The work a mailbox writer hands off so that it can go on with the next records meanwhile:
// reading back what it wrote, and flushing, checking and closing the mailboxes it let go of.
// The work is done in the order it was given, one piece at a time, on a thread of the lane's
// own, started with the first piece. All calls are made from the writer's thread.
class SettlingLane {
 public:
  SettlingLane() = default;
  // Does the work given, then ends the thread.
  ~SettlingLane();
  SettlingLane(const SettlingLane&) = delete;
  SettlingLane& operator=(const SettlingLane&) = delete;

  void add(std::function<void()> work);
  // SettleMailbox on the lane; what it finds is kept for takeSettled. Waits while kMostWaiting
  // mailboxes given before are not yet settled.
  void settle(LetGoMailbox mailbox);
  // What the mailboxes settled since the last call found, in the order they were given; with
  // `waitForAll`, once all work given so far is done. An exception that ended a piece of work
  // is thrown here.
  std::vector<MailboxSettled> takeSettled(bool waitForAll);
  // Whether a mailbox at `path` was given to settle and its finding not yet taken: it is still
  // open (and locked) until it is.
  bool settling(const std::string& path) const;

 private:
  static constexpr int kMostWaiting = 8;
  void work();

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> queue_;
  bool busy_ = false;  // a piece taken from the queue is being done
  bool ending_ = false;
  int waiting_ = 0;  // mailboxes given to settle and not yet settled
  std::vector<MailboxSettled> settled_;
  std::vector<std::string> settling_;  // paths given to settle, until their finding is taken
  std::exception_ptr failed_;
  std::thread thread_;
};

}  // namespace drovanta
