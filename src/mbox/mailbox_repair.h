#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

#include "shellutil/failure.h"

namespace drovanta {

// What the open mailbox `fd`, `length` bytes long, needs before the next record, so that the
// record starts after a line end and an empty line, whichever line ends the mailbox uses (LF
// LF, CR LF CR LF, or a mix of the two): its last line cut back (`cutTo`, its start) when it is a
// separator line without its line end (a record torn before its first line end holds no message
// byte), else the LF of a CR LF cut in half (`lf`) and that many line ends. Nothing for an
// empty or unreadable mailbox.
struct TailMending {
  off_t cutTo = -1;
  bool lf = false;
  std::size_t lineEnds = 0;
};
TailMending MendingForTail(int fd, off_t length);

// Puts the locked mailbox back as the lock found it, `lengthBefore` bytes long. A file this
// append created is removed (the writers waiting for its lock see that and open the path
// again), unless another writer got its record in first. 0 or the error.
int CutBack(int fd, const std::string& mailboxPath, bool created, off_t lengthBefore);

// After a failed close (a network file system may report a failed write only then), which has
// let go of the lock: cuts the records back under a new lock, and only while nobody appended
// after them (EBUSY otherwise). 0 or the error.
int CutBackAfterClose(const std::string& mailboxPath, const struct stat& opened, bool created,
                      off_t lengthBefore, off_t lengthAfter);

// The mailbox could not be written: `error` as errno gave it.
Failure Unwritable(const std::string& mailboxPath, int error);

// The failure of an append that stopped with `error` (EINTR: interrupted by a stop request),
// saying whether the partial record could be removed (`restoreError` 0) or not.
Failure AppendFailure(const std::string& mailboxPath, int error, int restoreError);

}  // namespace drovanta
