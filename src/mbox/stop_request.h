#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace drovanta {

// A request, made from outside a run (a signal handler, a Cancel button), that the run end.
// The first request lets the record being written be completed; a second one asks that it be
// abandoned at once, which cuts it back out of its mailbox. Safe to make from a signal handler.
class StopRequest {
 public:
  // `reason` is what the front-end wants back when the run has ended (a signal number); only
  // the first request's reason is kept.
  void request(int reason) noexcept {
    int none = 0;
    if (!reason_.compare_exchange_strong(none, reason == 0 ? -1 : reason)) abandon_.store(true);
  }

  bool stopping() const noexcept { return reason_.load() != 0; }

  // A hold, while the user is asked whether to stop: a run takes no new message (the records
  // being written are completed) until the hold is released or a stop is requested.
  void hold() noexcept { held_.store(true); }
  void release() noexcept { held_.store(false); }
  // Called by a run before each message. Polls: a signal handler may make the stop request.
  void waitWhileHeld() const {
    while (held_.load() && !stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  bool abandoning() const noexcept { return abandon_.load(); }
  int reason() const noexcept { return reason_.load(); }

 private:
  static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
                "a signal handler may only touch lock-free atomics");
  std::atomic<int> reason_{0};
  std::atomic<bool> abandon_{false};
  std::atomic<bool> held_{false};
};

}  // namespace drovanta
