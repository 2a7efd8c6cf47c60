#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "mbox/stop_request.h"
#include "mbox/written_record.h"
#include "shellutil/failure.h"

namespace drovanta {

// Whether a check of a mailbox is to end now: a stop request made since the watch began, or a
// second one (a run stopped before its check still checks what it wrote, unless abandoned).
class StopWatch {
 public:
  explicit StopWatch(const StopRequest* stop)
      : stop_(stop), stoppingBefore_(stop != nullptr && stop->stopping()) {}
  bool ended() const {
    if (stop_ == nullptr) return false;
    return stoppingBefore_ ? stop_->abandoning() : stop_->stopping();
  }

 private:
  const StopRequest* stop_;
  bool stoppingBefore_;
};

// What looking at the records a run appended to a mailbox, after it was flushed, found.
struct RecordsCheck {
  long records = 0;      // records found where they were put
  long readBack = 0;     // of them, read back from the device and found whole
  bool stopped = false;  // a stop request ended the check before its last record
  MaybeFailure differs;  // names the mailbox and says how it differs from what was written
};

// Looks at the open mailbox `fd` (readable) once what was appended to it has been flushed: it
// must be `length` bytes long, and each record in `appended` (as MailboxWriter::lastRecord gave
// them) must start with "From " where it was put. Reads a few bytes a record, from the page
// cache. `watch` is asked between records.
RecordsCheck CheckRecordStarts(int fd, const std::string& mailboxPath, std::uint64_t length,
                               const std::vector<WrittenRecord>& appended, const StopWatch& watch);

// What reading one mailbox's records back from the device has found so far. The records are
// read in the order they were appended, possibly in several steps.
struct ReadBackTally {
  std::size_t next = 0;       // the records before this one have been read back
  long whole = 0;             // of them, those found as they were written
  std::size_t differing = 0;  // of them, those found changed
  int error = 0;              // why reading back failed (errno), 0 while it has not
};

// Reads the records a writer appended to an open mailbox back from the device, not from the
// page cache, and compares each with the digest taken while it was written. Direct reads
// (O_DIRECT) go through a second descriptor of the same file, kept open until the reader is
// destroyed: closing a descriptor lets go of the process's fcntl locks on the file, so the reader
// is to be destroyed only after the mailbox's own descriptor is closed. Where the file system
// refuses direct reads, the records' pages are written out, dropped from the cache and read
// again through `fd`.
class DeviceReader {
 public:
  explicit DeviceReader(int fd);
  ~DeviceReader();
  DeviceReader(const DeviceReader&) = delete;
  DeviceReader& operator=(const DeviceReader&) = delete;

  // Reads back `records`, the next ones of the mailbox after those `tally` has counted, adding
  // what it finds to `tally`. Ends early, leaving `tally.next` at the first record not read,
  // when `ended` says so between records, and at the first error (`tally.error`).
  // `whileWriting`: the writer may still be appending to the file.
  void readBack(std::span<const WrittenRecord> records, ReadBackTally& tally,
                const std::function<bool()>& ended, bool whileWriting);

 private:
  class Buffer;
  std::unique_ptr<Buffer> buffer_;
};

// How the records of a mailbox read back differ from what was written, or nothing when they all
// came back whole. `written`: how many records the run wrote to it.
MaybeFailure ReadBackFailure(const std::string& mailboxPath, const ReadBackTally& tally,
                             std::size_t written);

}  // namespace drovanta
