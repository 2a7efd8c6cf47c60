#include "run/messages_ahead.h"

#include <algorithm>
#include <utility>

namespace drovanta {

MessagesAhead::MessagesAhead(const RecordOptions& options, const StopRequest* stop,
                             std::size_t writers, std::size_t byteBudget)
    : options_(options), stop_(stop), byteBudget_(byteBudget), writersLeft_(writers) {}

MessagesAhead::~MessagesAhead() = default;

bool MessagesAhead::stopping() const {
  return stopped_ || (stop_ != nullptr && stop_->stopping());
}

bool MessagesAhead::canTakeFrom(const WriterLane& lane) const {
  return !lane.closing_ && lane.takenUpTo_ < lane.rowCount_ && lane.ahead() < kMessagesAhead &&
         held_ + kPreparedBytesLimit <= byteBudget_ && !stopping();
}

MessagesAhead::Claim MessagesAhead::claim(WriterLane* only) {
  WriterLane* lane = only;
  if (lane == nullptr) {
    // The lane least far ahead is the one whose writer will wait soonest.
    for (WriterLane* open : lanes_) {
      if (canTakeFrom(*open) && (lane == nullptr || open->ahead() < lane->ahead())) lane = open;
    }
  }
  if (lane == nullptr || !canTakeFrom(*lane)) return {};
  lane->slots_.push_back(Slot{Slot::State::Preparing, nullptr, kPreparedBytesLimit});
  held_ += kPreparedBytesLimit;
  ++lane->preparing_;
  return Claim{lane, lane->takenUpTo_++};
}

void MessagesAhead::prepare(Claim claim, std::unique_lock<std::mutex>& lock, MessageFile& file) {
  WriterLane& lane = *claim.lane;
  lock.unlock();
  std::unique_ptr<PreparedMessage> message;
  try {
    message =
        PrepareMessage(MessagePathOfRow(lane.rows_.rowText(claim.row)), options_, file, withKeys_);
  } catch (...) {
    message = nullptr;  // its turn meets the same trouble and reports it
  }
  lock.lock();
  // The writer does not pass a row being prepared, nor does the lane close under it.
  Slot& slot = lane.slots_[static_cast<std::size_t>(claim.row - lane.writerAt_)];
  held_ -= slot.held;
  slot.held = message ? message->heldBytes() : 0;
  held_ += slot.held;
  slot.state = message ? Slot::State::Ready : Slot::State::AtTurn;
  slot.message = std::move(message);
  --lane.preparing_;
  if (lane.awaited_ == claim.row || (lane.closing_ && lane.preparing_ == 0)) {
    lane.ready_.notify_all();
  }
}

void MessagesAhead::help() {
  MessageFile file;
  std::unique_lock lock(mutex_);
  while (writersLeft_ > 0) {
    if (const Claim taken = claim(nullptr); taken.lane != nullptr) {
      prepare(taken, lock, file);
      continue;
    }
    ++idleHelpers_;
    work_.wait(lock);
    --idleHelpers_;
  }
}

void MessagesAhead::stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
}

void MessagesAhead::writerEnded() {
  {
    std::lock_guard lock(mutex_);
    --writersLeft_;
  }
  work_.notify_all();
}

std::size_t MessagesAhead::heldBytes() const {
  std::lock_guard lock(mutex_);
  return held_;
}

WriterLane::WriterLane(MessagesAhead& pool, RowSource& rows)
    : pool_(pool), rows_(rows), rowCount_(rows.rowCount()) {
  {
    std::lock_guard lock(pool_.mutex_);
    pool_.lanes_.push_back(this);
  }
  pool_.work_.notify_all();
}

WriterLane::~WriterLane() {
  std::unique_lock lock(pool_.mutex_);
  closing_ = true;
  ready_.wait(lock, [this] { return preparing_ == 0; });
  for (const MessagesAhead::Slot& slot : slots_) pool_.held_ -= slot.held;
  slots_.clear();
  std::erase(pool_.lanes_, this);
}

std::unique_ptr<PreparedMessage> WriterLane::take(long row) {
  std::unique_lock lock(pool_.mutex_);
  std::unique_ptr<PreparedMessage> given;
  while (writerAt_ <= row) {
    if (writerAt_ == takenUpTo_) {  // nobody took it: the writer's own
      writerAt_ = takenUpTo_ = row + 1;
      break;
    }
    MessagesAhead::Slot& slot = slots_.front();
    if (slot.state == MessagesAhead::Slot::State::Preparing) {
      awaited_ = writerAt_;
      // Rather than wait for the helper, the writer prepares a later row meanwhile.
      if (const MessagesAhead::Claim taken = pool_.claim(this); taken.lane != nullptr) {
        pool_.prepare(taken, lock, file_);
      } else {
        ready_.wait(lock);
      }
      continue;
    }
    if (writerAt_ == row) given = std::move(slot.message);
    pool_.held_ -= slot.held;
    slots_.pop_front();
    ++writerAt_;
  }
  awaited_ = -1;
  // Idle helpers are woken once there is room for a run of rows, not for every row.
  if (pool_.idleHelpers_ > 0 && ahead() <= MessagesAhead::kMessagesAhead * 3 / 4 &&
      pool_.canTakeFrom(*this)) {
    pool_.work_.notify_all();
  }
  return given;
}

}  // namespace drovanta
