#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "mbox/append_hooks.h"
#include "mbox/mailbox_settle.h"
#include "mbox/record_options.h"
#include "mbox/record_output.h"
#include "mbox/written_record.h"
#include "shellutil/failure.h"

namespace drovanta {

// Gives one record's bytes to the output, in order; false when the output failed.
using RecordProducer = std::function<bool(RecordOutput& out)>;

// Appends records to mailbox files, creating them when missing. The mailbox stays open while
// consecutive records go to it; it is closed when a record goes to another mailbox and by
// close(). Each record reaches the file whole or not at all: when it cannot be written
// completely the file is cut back to its length before the record, so between any two records
// it holds whole records only. Bytes pass through one buffer of fixed size; ranges of message
// files are moved file to file by the kernel where the file systems allow it.
class MailboxWriter {
 public:
  // How a range of a message file is written: moved by the kernel where it can, or read into
  // the writer's buffer like any other bytes (the same bytes either way).
  enum class RangeCopy { Kernel, Buffer };
  explicit MailboxWriter(RangeCopy rangeCopy = RangeCopy::Kernel);
  ~MailboxWriter();
  MailboxWriter(const MailboxWriter&) = delete;
  MailboxWriter& operator=(const MailboxWriter&) = delete;

  // Appends the record `produce` gives. While the mailbox is open it is locked against other
  // writers (LockWholeFile: fcntl and flock locks, after any dot-lock is gone); a mailbox this
  // writer creates is private to its owner. A mailbox that does not end with a line end and an
  // empty line gets them before its first record, in `lineEnd`, the record's framing line end. An
  // existing file that does not start with "From " is not an mbox: it is left as it was and the
  // append fails (MailboxNotMbox). A failure names the mailbox; a second stop request in `hooks`
  // abandons the record (Interrupted).
  MaybeFailure append(const std::string& mailboxPath, std::string_view lineEnd,
                      const RecordProducer& produce, const AppendHooks& hooks = {});
  // Opens and locks the mailbox as append does, without writing to it, so that the caller can
  // look at it while no other writer can add to it; nothing when it is the open one already.
  // `lockedNow`: the lock was taken by this call (other writers may have added to the mailbox
  // since this writer last held it). The same failures as append. A mailbox this call creates is
  // removed again if it gets no record.
  MaybeFailure hold(const std::string& mailboxPath, const AppendHooks& hooks, bool& lockedNow);
  // The open mailbox's descriptor (readable where its permissions allow); -1 when none is open.
  int openDescriptor() const;
  // Closes the open mailbox, if any, flushed and checked as setOnDisk asks (SettleMailbox), and
  // waits until every mailbox let go of before is settled too and told to the settled call. A
  // failure to flush or to close (a network file system may report a failed write only then)
  // cuts the records written since it was opened back out of it; the failure says how many.
  MaybeFailure close();
  // Lets go of the open mailbox, if any, as close() does, but with setOnDisk's Checked and
  // ReadBack its flush and check go on beside the next appends (the mailbox stays locked until
  // they are done): what they find reaches the settled call from a later letGo, hold, append or
  // close. A mailbox still being settled is waited for before it is opened again.
  void letGo();
  // How many records the open mailbox got since it was opened (what a failed close removes).
  long openRecords() const;

  // What is made sure of before each mailbox is let go of (NotFlushed by default). ReadBack
  // takes a digest of every record's bytes as they are written: a pass over the bytes that the
  // kernel's copy otherwise never brings through memory. It reads the records back from the
  // device on another thread as the kernel writes them there, while the writer goes on.
  void setOnDisk(OnDisk onDisk);
  // Told, on the writer's thread, for each mailbox the writer let go of after appending to it
  // (close, letGo, a failed append, a record for another mailbox), what it made sure of. A flush
  // that fails cuts the records appended since the mailbox was opened back out, under the lock
  // still held.
  void setSettledCall(std::function<void(MailboxSettled)> settled);
  // The record the last successful append wrote; its digest is 0 unless digests are on.
  const WrittenRecord& lastRecord() const;

  // The call that writes the buffer, with writev's contract (tests pass calls that stop short or
  // fail part-way).
  void setWriteCall(std::function<ssize_t(int fd, const iovec* buffers, int count)> writeCall);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Appends one record (separator line, line end, message text, line end) to the mailbox file with
// a MailboxWriter of its own, and closes it. The separator line and the closing empty line end
// with CR LF in the CrLf mode, else with LF, whatever the message text's own line ends.
MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view messageText, const RecordOptions& options = {},
                          const AppendHooks& hooks = {});

// The same with the message text in two pieces written one after the other.
MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view textHead, std::string_view textTail,
                          const RecordOptions& options, const AppendHooks& hooks);

}  // namespace drovanta
