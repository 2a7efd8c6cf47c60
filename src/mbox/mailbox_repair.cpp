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

TailMending MendingForTail(int fd, off_t length) {
  if (length == 0) return {};
  // Enough for the last line when it is a separator line cut short.
  char tail[1024];
  const off_t take = length < static_cast<off_t>(sizeof tail) ? length : sizeof tail;
  ssize_t got = -1;
  do {
    got = ::pread(fd, tail, static_cast<std::size_t>(take), length - take);
  } while (got < 0 && errno == EINTR);
  if (got != take) return {};  // unreadable (opened for writing only): trusted as it is
  const std::string_view end(tail, static_cast<std::size_t>(take));
  if (end.ends_with("\n\n") || end.ends_with("\n\r\n")) return {};
  if (end.ends_with("\n")) return {-1, false, 1};
  // The last line has no line end. When it starts a record (it begins the file or follows an
  // empty line) with "From ", it is a separator line cut short, and holds no message byte.
  const std::size_t lineFeed = end.rfind('\n');
  const std::size_t lastLine = lineFeed == std::string_view::npos ? 0 : lineFeed + 1;
  const std::string_view before = end.substr(0, lastLine);
  const bool startsRecord =
      lastLine == 0 ? take == length : before.ends_with("\n\n") || before.ends_with("\n\r\n");
  if (startsRecord && end.substr(lastLine).starts_with("From ")) {
    return {length - static_cast<off_t>(end.size() - lastLine), false, 0};
  }
  // A CR LF cut after its CR gets its LF, so that no line end is added to the message.
  if (end.ends_with("\n\r")) return {-1, true, 0};
  if (end.ends_with("\r")) return {-1, true, 1};
  return {-1, false, 2};
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
  int error = LockWholeFile(fd, mailboxPath, {}, false);
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
