#include "conversion/mailbox_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "conversion/record_writer.h"

namespace drovanta {

namespace {

Failure unwritable(const std::string& mailboxPath, int error) {
  return Failure{FailureCode::MailboxUnwritable, mailboxPath, std::strerror(error)};
}

// Opens the mailbox for appending and says whether this call created it, so that a failed first
// record leaves no empty file behind.
int openForAppend(const std::string& mailboxPath, bool& created) {
  created = false;
  int fd = ::open(mailboxPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = ::open(mailboxPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    created = true;
    return fd;
  }
  if (errno != EEXIST) return fd;
  // Created by someone else in between, or a link whose target is missing (O_EXCL does not
  // follow links): open as plain append mode does, creating the target.
  return ::open(mailboxPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

// Writes every byte of the buffers, going on after short writes.
bool writeAll(int fd, std::array<iovec, 5> buffers, const RecordWriteCall& writeCall) {
  iovec* first = buffers.data();
  int count = static_cast<int>(buffers.size());
  while (count > 0) {
    if (first->iov_len == 0) {
      ++first;
      --count;
      continue;
    }
    const ssize_t written = writeCall(fd, first, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = EIO;  // a write that makes no progress would loop for ever
      return false;
    }
    auto left = static_cast<std::size_t>(written);
    while (count > 0 && left >= first->iov_len) {
      left -= first->iov_len;
      ++first;
      --count;
    }
    if (count > 0) {
      first->iov_base = static_cast<char*>(first->iov_base) + left;
      first->iov_len -= left;
    }
  }
  return true;
}

Failure rollbackFailure(const std::string& mailboxPath, int error, bool restored,
                        int restoreError) {
  Failure failure = unwritable(mailboxPath, error);
  if (!restored) {
    failure.reason += "; the partial record could not be removed: ";
    failure.reason += std::strerror(restoreError);
  }
  return failure;
}

iovec buffer(std::string_view bytes) {
  return iovec{const_cast<char*>(bytes.data()), bytes.size()};
}

}  // namespace

MaybeFailure AppendRecordWith(const std::string& mailboxPath, std::string_view separatorLine,
                              std::string_view textHead, std::string_view textTail,
                              const RecordOptions& options, const std::function<void()>& onOpened,
                              const RecordWriteCall& writeCall) {
  bool created = false;
  const int fd = openForAppend(mailboxPath, created);
  if (fd < 0) return unwritable(mailboxPath, errno);

  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    const int error = errno;
    ::close(fd);
    return unwritable(mailboxPath, error);
  }
  if (!S_ISREG(status.st_mode)) {
    ::close(fd);
    return Failure{FailureCode::MailboxUnwritable, mailboxPath, "Not a regular file"};
  }
  const off_t lengthBefore = status.st_size;
  if (onOpened) onOpened();

  // Separator, line end, text, line end: one gathered write, no copy of the text.
  const std::string_view lineEnd = options.lineEnds == LineEnds::CrLf ? "\r\n" : "\n";
  const std::array<iovec, 5> buffers{buffer(separatorLine), buffer(lineEnd), buffer(textHead),
                                     buffer(textTail), buffer(lineEnd)};
  if (!writeAll(fd, buffers, writeCall)) {
    const int error = errno;
    // Cut the mailbox back so it holds only whole records.
    const bool restored =
        created ? ::unlink(mailboxPath.c_str()) == 0 : ::ftruncate(fd, lengthBefore) == 0;
    const int restoreError = errno;
    ::close(fd);
    return rollbackFailure(mailboxPath, error, restored, restoreError);
  }
  if (::close(fd) != 0) {
    // A network file system may report a failed write only here.
    const int error = errno;
    const bool restored = created ? ::unlink(mailboxPath.c_str()) == 0
                                  : ::truncate(mailboxPath.c_str(), lengthBefore) == 0;
    return rollbackFailure(mailboxPath, error, restored, errno);
  }
  return std::nullopt;
}

MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view textHead, std::string_view textTail,
                          const RecordOptions& options, const std::function<void()>& onOpened) {
  return AppendRecordWith(
      mailboxPath, separatorLine, textHead, textTail, options, onOpened,
      [](int fd, const iovec* buffers, int count) { return ::writev(fd, buffers, count); });
}

MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view messageText, const RecordOptions& options,
                          const std::function<void()>& onOpened) {
  return AppendRecord(mailboxPath, separatorLine, messageText, {}, options, onOpened);
}

}  // namespace drovanta
