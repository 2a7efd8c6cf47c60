#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mbox/read_back.h"
#include "mbox/record_options.h"
#include "mbox/stop_request.h"
#include "mbox/written_record.h"
#include "shellutil/failure.h"

namespace drovanta {

// What a writer found when it let go of a mailbox it had appended records to.
struct MailboxSettled {
  std::string path;
  long records = 0;      // the records appended since the mailbox was opened
  bool created = false;  // the writer created the file, which stays
  bool removed = false;  // the records were cut back out (a failed flush or close): see failure
  long checked = 0;      // records found in place (OnDisk::Checked and ReadBack)
  long readBack = 0;     // records read back whole (OnDisk::ReadBack)
  bool stopped = false;  // a stop request ended the check before its end
  MaybeFailure failure;  // why the records were removed, or how the mailbox differs
};

// The records of a mailbox read back from the device while the writer was still appending to
// it, each part once the kernel had written it there; the rest is read back when it is let go.
struct EarlyReadBack {
  explicit EarlyReadBack(int fd) : reader(fd) {}
  DeviceReader reader;
  ReadBackTally tally;
  std::atomic<bool> writing{true};  // the writer may still append to the mailbox
};

// A mailbox a writer has let go of, with what its flush, check and close need. It holds the open
// descriptor, and with it the mailbox's locks, until SettleMailbox closes it.
struct LetGoMailbox {
  std::string path;
  int fd = -1;
  struct stat opened {};       // the file as the lock found it
  bool createdAtOpen = false;  // the writer created the file
  bool createdEmpty = false;   // ... and gave it no record: it is removed if still empty
  off_t lengthAtOpen = 0;      // where the records appended since it was opened begin
  off_t expectedEnd = 0;       // where the last of them ends
  long records = 0;            // how many there are
  bool checkable = true;       // the file is as the writer left it
  OnDisk onDisk = OnDisk::NotFlushed;
  std::function<int(int)> flushCall;     // fdatasync unless tests give another call
  const StopRequest* stop = nullptr;     // what ends the check
  std::vector<WrittenRecord> appended;   // where they lie, unless OnDisk::NotFlushed
  std::shared_ptr<EarlyReadBack> early;  // with OnDisk::ReadBack, when the writer began it
};

// Makes sure of the mailbox as `onDisk` asks, then closes it. A flush that fails cuts the
// records appended since it was opened back out, under the lock still held; a close that fails
// (a network file system may report a failed write only then) cuts them out under a new lock,
// and only while nobody appended after them.
MailboxSettled SettleMailbox(LetGoMailbox mailbox);

}  // namespace drovanta
