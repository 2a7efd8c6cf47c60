#include "mbox/settling_lane.h"

#include <algorithm>
#include <utility>

namespace drovanta {

SettlingLane::~SettlingLane() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void SettlingLane::add(std::function<void()> work) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
    if (!thread_.joinable()) thread_ = std::thread([this] { this->work(); });
  }
  changed_.notify_all();
}

void SettlingLane::settle(LetGoMailbox mailbox) {
  {
    // Each mailbox waiting holds its descriptor open: a writer that lets go of many small ones
    // faster than they are flushed waits here instead of running out of descriptors.
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return waiting_ < kMostWaiting; });
    ++waiting_;
    settling_.push_back(mailbox.path);
  }
  // std::function needs a copyable callable: the mailbox is shared with the one call.
  auto given = std::make_shared<LetGoMailbox>(std::move(mailbox));
  add([this, given] {
    MailboxSettled found;
    try {
      found = SettleMailbox(std::move(*given));
    } catch (...) {
      std::lock_guard lock(mutex_);
      --waiting_;
      throw;
    }
    std::lock_guard lock(mutex_);
    --waiting_;
    settled_.push_back(std::move(found));
  });
}

std::vector<MailboxSettled> SettlingLane::takeSettled(bool waitForAll) {
  std::unique_lock lock(mutex_);
  if (waitForAll) changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
  if (failed_) std::rethrow_exception(std::exchange(failed_, nullptr));
  std::vector<MailboxSettled> taken = std::exchange(settled_, {});
  for (const MailboxSettled& found : taken) {
    const auto given = std::find(settling_.begin(), settling_.end(), found.path);
    if (given != settling_.end()) settling_.erase(given);
  }
  return taken;
}

bool SettlingLane::settling(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return std::find(settling_.begin(), settling_.end(), path) != settling_.end();
}

void SettlingLane::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || ending_; });
    if (queue_.empty()) return;
    std::function<void()> piece = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    try {
      piece();
    } catch (...) {
      std::lock_guard failing(mutex_);
      if (!failed_) failed_ = std::current_exception();
    }
    piece = nullptr;  // what it holds (a reader's descriptor) goes before the next piece runs
    lock.lock();
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace drovanta
