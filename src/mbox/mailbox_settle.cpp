#include "mbox/mailbox_settle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <span>
#include <string>
#include <utility>

#include "mbox/mailbox_repair.h"

namespace drovanta {
namespace {

// What the failure of a flush or a close says about the records written since the mailbox was
// opened: removed (`restoreError` 0) or not.
std::string recordsRemoved(long records, int restoreError) {
  const std::string written =
      std::to_string(records) + (records == 1 ? " record" : " records") + " written to it";
  if (restoreError == 0)
    return "; the last " + written + (records == 1 ? " was" : " were") + " removed";
  return "; the last " + written + " could not be removed: " +
         (restoreError == EBUSY ? std::string("another program has written to the mailbox since")
                                : std::string(std::strerror(restoreError)));
}

// The flush; a failure takes the records back out.
bool flushed(LetGoMailbox& mailbox, MailboxSettled& found) {
  if ((mailbox.flushCall ? mailbox.flushCall(mailbox.fd) : ::fdatasync(mailbox.fd)) == 0) {
    return true;
  }
  const int error = errno;
  const int restoreError =
      CutBack(mailbox.fd, mailbox.path, mailbox.createdAtOpen, mailbox.lengthAtOpen);
  if (restoreError == 0) ::fdatasync(mailbox.fd);  // the cut back too, as far as it goes
  found.removed = true;
  if (restoreError == 0 && mailbox.createdAtOpen && mailbox.lengthAtOpen == 0) {
    found.created = false;
  }
  found.failure = Failure{FailureCode::MailboxUnwritable, mailbox.path,
                          std::string("not flushed to the disk: ") + std::strerror(error) +
                              recordsRemoved(mailbox.records, restoreError)};
  return false;
}

// The check after the flush: where the records start and, with OnDisk::ReadBack, every byte of
// those not read back while the writer went on. `readFd`: a readable descriptor of the file.
void check(LetGoMailbox& mailbox, int readFd, MailboxSettled& found) {
  const StopWatch watch(mailbox.stop);
  RecordsCheck starts =
      CheckRecordStarts(readFd, mailbox.path, static_cast<std::uint64_t>(mailbox.expectedEnd),
                        mailbox.appended, watch);
  found.checked = starts.records;
  found.stopped = starts.stopped;
  found.failure = std::move(starts.differs);
  if (mailbox.onDisk != OnDisk::ReadBack || found.failure || found.stopped) return;
  if (!mailbox.early) mailbox.early = std::make_shared<EarlyReadBack>(mailbox.fd);
  EarlyReadBack& early = *mailbox.early;
  const std::span<const WrittenRecord> all(mailbox.appended);
  early.reader.readBack(
      all.subspan(std::min(early.tally.next, all.size())), early.tally,
      [&watch] { return watch.ended(); }, false);
  found.readBack = early.tally.whole;
  found.stopped = early.tally.error == 0 && early.tally.next < all.size();
  found.failure = ReadBackFailure(mailbox.path, early.tally, all.size());
}

}  // namespace

MailboxSettled SettleMailbox(LetGoMailbox mailbox) {
  MailboxSettled found;
  found.path = mailbox.path;
  found.records = mailbox.records;
  found.created = mailbox.createdAtOpen && found.records > 0;
  const off_t lengthAfter = ::lseek(mailbox.fd, 0, SEEK_END);
  // Held but given no record, by this writer or another: no empty file is left behind.
  if (mailbox.createdEmpty && lengthAfter == 0) CutBack(mailbox.fd, mailbox.path, true, 0);

  // The file may have been opened for writing only: the check reads it through another
  // descriptor, and is left out when there is none. It is closed after the mailbox's own, since
  // closing any descriptor of the file lets go of the process's fcntl locks on it.
  int readFd = -1;
  if (mailbox.onDisk != OnDisk::NotFlushed && found.records > 0 && flushed(mailbox, found) &&
      mailbox.checkable) {
    readFd = mailbox.fd;
    if ((::fcntl(mailbox.fd, F_GETFL) & O_ACCMODE) == O_WRONLY) {
      readFd = ::open(mailbox.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    }
    if (readFd >= 0) check(mailbox, readFd, found);
  }

  if (::close(mailbox.fd) != 0 && !found.removed && found.records > 0) {
    const int error = errno;
    const int restoreError = CutBackAfterClose(mailbox.path, mailbox.opened, mailbox.createdAtOpen,
                                               mailbox.lengthAtOpen, lengthAfter);
    found.removed = true;
    found.failure = Unwritable(mailbox.path, error);
    found.failure->reason += recordsRemoved(found.records, restoreError);
  }
  if (readFd >= 0 && readFd != mailbox.fd) ::close(readFd);
  mailbox.early.reset();
  return found;
}

}  // namespace drovanta
