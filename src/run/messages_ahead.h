#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "mbox/record_options.h"
#include "mbox/stop_request.h"
#include "message/message_file.h"
#include "run/prepared_message.h"
#include "run/row_source.h"

namespace drovanta {

class WriterLane;

// Converts messages into memory ahead of their turn, on any number of threads, for runs that
// write them in row order: one writer per lane (the rows of one mailbox, or of a whole run),
// any number of helpers shared by all lanes.
//
// A helper takes the lane least far ahead and converts its first row not yet taken
// (PrepareMessage); a writer asks for its rows in increasing order with take(). A row is
// prepared once, by one thread; take() gives its message once it is ready, waiting for a
// helper busy with it (and meanwhile preparing a later row itself), or nothing: the row was
// not taken by anyone (the writer converts it now, as a serial run does), or was better left
// to its turn (PrepareMessage gave nothing: a failure, not a message, a large message), when
// the writer reads it again. So a message that fails or is not one is found out by the writer
// itself, at its turn, as in a serial run.
//
// Memory stays bounded: each lane is at most kMessagesAhead rows ahead of its writer, and the
// messages held, those being prepared counted at their most, stay under the byte budget
// together. A message is let go as its writer takes it.
//
// After stop(), or once the options' stop request is made, no row is taken any more; what is
// ready is still given. Rows a writer passes over (or leaves behind when its run ends) are
// dropped unread.
class MessagesAhead {
 public:
  static constexpr std::size_t kMessagesAhead = 256;
  // With the buffers of the writers and helpers, a run stays under 64 MB.
  static constexpr std::size_t kByteBudget = std::size_t{32} << 20;

  // `writers`: how many writers the run has over its life, each of which calls writerEnded()
  // once it is done, whether it opened its lane or not.
  MessagesAhead(const RecordOptions& options, const StopRequest* stop, std::size_t writers,
                std::size_t byteBudget = kByteBudget);
  ~MessagesAhead();
  MessagesAhead(const MessagesAhead&) = delete;
  MessagesAhead& operator=(const MessagesAhead&) = delete;

  // Prepared messages carry their keys (for a run that adds only new messages); called before
  // any help().
  void keepMessageKeys() { withKeys_ = true; }
  // Prepares rows of the open lanes until every writer has ended.
  void help();
  // Takes no row from now on.
  void stop();
  // A writer is done, its lane (if it opened one) closed.
  void writerEnded();

  // Bytes held by prepared messages and those being prepared, counted at their most.
  std::size_t heldBytes() const;

 private:
  friend class WriterLane;

  // One row taken: being prepared, then ready (its message), or left to its turn.
  struct Slot {
    enum class State : unsigned char { Preparing, Ready, AtTurn };
    State state = State::Preparing;
    std::unique_ptr<PreparedMessage> message;
    std::size_t held = 0;  // counted in held_
  };
  struct Claim {
    WriterLane* lane = nullptr;
    long row = -1;
  };

  // Called with mutex_ held.
  bool stopping() const;
  bool canTakeFrom(const WriterLane& lane) const;
  Claim claim(WriterLane* only);
  // Prepares the claimed row with mutex_ let go meanwhile.
  void prepare(Claim claim, std::unique_lock<std::mutex>& lock, MessageFile& file);

  const RecordOptions options_;
  const StopRequest* const stop_;
  bool withKeys_ = false;
  const std::size_t byteBudget_;
  mutable std::mutex mutex_;
  std::condition_variable work_;  // helpers wait here for a row to take
  std::vector<WriterLane*> lanes_;
  std::size_t writersLeft_;
  std::size_t held_ = 0;
  std::size_t idleHelpers_ = 0;
  bool stopped_ = false;
};

// The rows one writer writes, in increasing row order. Opened by constructing it, closed by
// destroying it (after the rows prepared meanwhile are finished and dropped).
class WriterLane {
 public:
  // `rows`' rowText is called on the helpers' threads: its rows must not change (a vector).
  WriterLane(MessagesAhead& pool, RowSource& rows);
  ~WriterLane();
  WriterLane(const WriterLane&) = delete;
  WriterLane& operator=(const WriterLane&) = delete;

  // The message of `row` made ready ahead, or null: the writer converts the row itself. Rows
  // before it that the writer did not take are dropped (once any being prepared is done).
  std::unique_ptr<PreparedMessage> take(long row);

 private:
  friend class MessagesAhead;

  std::size_t ahead() const { return static_cast<std::size_t>(takenUpTo_ - writerAt_); }

  MessagesAhead& pool_;
  RowSource& rows_;
  const long rowCount_;
  MessageFile file_;                       // for rows its writer prepares while it waits
  std::condition_variable ready_;          // its writer waits here for a row being prepared
  std::deque<MessagesAhead::Slot> slots_;  // rows writerAt_ to takenUpTo_ - 1
  long writerAt_ = 0;                      // the next row its writer will take
  long takenUpTo_ = 0;                     // rows below this one are taken
  long awaited_ = -1;                      // the row its writer waits for
  std::size_t preparing_ = 0;              // rows being prepared
  bool closing_ = false;
};

}  // namespace drovanta
