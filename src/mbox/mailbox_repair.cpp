#include "mbox/mailbox_repair.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "mbox/mailbox_lock.h"

namespace drovanta {
namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::size_t MissingLineEnds(int fd, off_t length) {
  if (length == 0) return 0;
  char tail[3] = {};
  const off_t take = length < 3 ? length : 3;
  ssize_t got = -1;
  do {
    got = ::pread(fd, tail, static_cast<std::size_t>(take), length - take);
  } while (got < 0 && errno == EINTR);
  if (got != take) return 0;  // unreadable (opened for writing only): trusted as it is
  const std::string_view end(tail, static_cast<std::size_t>(take));
  if (end.ends_with("\n\n") || end.ends_with("\n\r\n")) return 0;
  return end.ends_with("\n") ? 1 : 2;
}

int CutBack(int fd, const std::string& mailboxPath, bool created, off_t lengthBefore) {
  const bool removed = created && lengthBefore == 0 ? ::unlink(mailboxPath.c_str()) == 0
                                                    : ::ftruncate(fd, lengthBefore) == 0;
  return removed ? 0 : errno;
}

int CutBackAfterClose(const std::string& mailboxPath, const struct stat& opened, bool created,
                      off_t lengthBefore, off_t lengthAfter) {
  const int fd = ::open(mailboxPath.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) return errno;
  int error = LockWholeFile(fd, {}, false);
  struct stat now {};
  if (error == 0 && ::fstat(fd, &now) != 0) error = errno;
  if (error == 0 && (!sameFile(now, opened) || now.st_size != lengthAfter)) error = EBUSY;
  if (error == 0) error = CutBack(fd, mailboxPath, created, lengthBefore);
  ::close(fd);
  return error;
}

Failure Unwritable(const std::string& mailboxPath, int error) {
  return Failure{FailureCode::MailboxUnwritable, mailboxPath, std::strerror(error)};
}

Failure AppendFailure(const std::string& mailboxPath, int error, int restoreError) {
  Failure failure = Unwritable(mailboxPath, error);
  if (error == EINTR) {
    failure.code = FailureCode::Interrupted;
    failure.reason = "interrupted; the partial record was removed";
  }
  if (restoreError != 0) {
    failure.code = FailureCode::MailboxUnwritable;
    if (error == EINTR) failure.reason = "interrupted";
    failure.reason += "; the partial record could not be removed: ";
    failure.reason += restoreError == EBUSY ? "another program has written to the mailbox since"
                                            : std::strerror(restoreError);
  }
  return failure;
}

}  // namespace drovanta
