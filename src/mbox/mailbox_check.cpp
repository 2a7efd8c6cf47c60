#include "mbox/mailbox_check.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string_view>

#include "mbox/mailbox_lock.h"

namespace drovanta {

MaybeFailure NotAnMbox(int fd, const std::string& path) {
  char start[5] = {};
  const ssize_t got = ::pread(fd, start, sizeof start, 0);
  if (got <= 0) return std::nullopt;
  if (std::string_view(start, static_cast<std::size_t>(got)) == "From ") return std::nullopt;
  return Failure{FailureCode::MailboxNotMbox, path,
                 "not an mbox file (it does not start with \"From \"); left as it was"};
}

MaybeFailure CheckExistingMailbox(int fd, const std::string& path) {
  if (MaybeFailure failure = NotAnMbox(fd, path)) return failure;
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  bool busy = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type == F_WRLCK;
  // A shared flock() is refused only while another program holds the exclusive one.
  if (!busy && ::flock(fd, LOCK_SH | LOCK_NB) == 0) {
    ::flock(fd, LOCK_UN);
  } else if (!busy) {
    busy = errno == EWOULDBLOCK;
  }
  if (busy || ForeignDotLockHeld(path)) {
    return Failure{FailureCode::MailboxBusy, path,
                   "another program is writing to this mailbox; left as it was"};
  }
  return std::nullopt;
}

}  // namespace drovanta
