#include "conversion/mailbox_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "conversion/record_writer.h"

namespace drovanta {

namespace {

// How long another writer may hold the lock before the caller hears that the append waits.
constexpr auto kLockNoteAfter = std::chrono::seconds(2);
constexpr auto kLockRetryPause = std::chrono::milliseconds(10);
// A mailbox created here is its owner's alone, as mail delivery agents create them.
constexpr mode_t kNewMailboxMode = 0600;
// openLocked's answer for a path that names something other than a regular file.
constexpr int kNotAFile = -1;

Failure unwritable(const std::string& mailboxPath, int error) {
  return Failure{FailureCode::MailboxUnwritable, mailboxPath, std::strerror(error)};
}

bool stopping(const AppendHooks& hooks) {
  return hooks.stop != nullptr && hooks.stop->stopping();
}

// Opens for reading too where allowed, so that the end of the mailbox can be looked at.
int openExisting(const std::string& mailboxPath, int flags) {
  const int fd = ::open(mailboxPath.c_str(), O_RDWR | flags);
  if (fd >= 0 || errno != EACCES) return fd;
  return ::open(mailboxPath.c_str(), O_WRONLY | flags);
}

// Opens the mailbox for appending and says whether this call created it, so that a failed first
// record leaves no empty file behind.
int openForAppend(const std::string& mailboxPath, bool& created) {
  // Never blocks on a special file (a FIFO without a reader); no effect on a regular one.
  constexpr int kAppend = O_APPEND | O_CLOEXEC | O_NONBLOCK;
  created = false;
  int fd = openExisting(mailboxPath, kAppend);
  if (fd >= 0 || errno != ENOENT) return fd;
  fd = ::open(mailboxPath.c_str(), O_RDWR | kAppend | O_CREAT | O_EXCL, kNewMailboxMode);
  if (fd >= 0) {
    created = true;
    return fd;
  }
  if (errno != EEXIST) return fd;
  // Created by someone else in between, or a link whose target is missing (O_EXCL does not
  // follow links): open as plain append mode does, creating the target.
  return ::open(mailboxPath.c_str(), O_RDWR | kAppend | O_CREAT, kNewMailboxMode);
}

// Takes the write lock on the whole file, waiting while another writer holds it. It is tried
// without blocking first so that the wait can be told after a while; then it is waited for, in
// F_SETLKW, or, when the caller has something to do meanwhile (a window handling its events),
// by trying again every few milliseconds. 0, EINTR when a stop was asked for during the wait,
// or the error. A file system without locks (ENOLCK) is written as before, unlocked.
int lockWholeFile(int fd, const AppendHooks& hooks, bool tellWait) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  const auto tellAt = std::chrono::steady_clock::now() + kLockNoteAfter;
  bool told = false;
  while (::fcntl(fd, F_SETLK, &lock) != 0) {
    if (errno == ENOLCK) return 0;
    if (errno != EACCES && errno != EAGAIN) return errno;
    if (stopping(hooks) || (hooks.whileWaiting && hooks.whileWaiting())) return EINTR;
    if (!told && std::chrono::steady_clock::now() >= tellAt) {
      told = true;
      if (tellWait && hooks.waitingForLock) hooks.waitingForLock();
      if (!hooks.whileWaiting) {
        while (::fcntl(fd, F_SETLKW, &lock) != 0) {
          if (errno != EINTR) return errno;
          if (stopping(hooks)) return EINTR;
        }
        return 0;
      }
    }
    std::this_thread::sleep_for(kLockRetryPause);
  }
  return 0;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Where this thread's last record ended, so that the end of a mailbox it wrote last is not read
// again before the next record.
struct LastAppend {
  dev_t device = 0;
  ino_t inode = 0;
  off_t end = -1;
};
thread_local LastAppend lastAppend;

// How many line ends go before the record so that it starts after a line end and an empty
// line, whichever line ends the mailbox uses (LF LF, CR LF CR LF, or a mix of the two).
std::size_t missingLineEnds(int fd, off_t length) {
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

// Writes every byte of the buffers, going on after short writes, at most kRecordWriteChunk
// bytes per call. 0, EINTR when the record is to be abandoned, or the write's error.
template <std::size_t N>
int writeAll(int fd, std::array<iovec, N> buffers, const RecordWriteCall& writeCall,
             const AppendHooks& hooks) {
  iovec* first = buffers.data();
  int count = static_cast<int>(buffers.size());
  while (count > 0) {
    if (first->iov_len == 0) {
      ++first;
      --count;
      continue;
    }
    if (hooks.stop != nullptr && hooks.stop->abandoning()) return EINTR;
    int taken = 0;
    std::size_t total = 0;
    while (taken < count && total < kRecordWriteChunk) total += first[taken++].iov_len;
    iovec& last = first[taken - 1];
    const std::size_t lastLength = last.iov_len;
    if (total > kRecordWriteChunk) last.iov_len -= total - kRecordWriteChunk;
    const ssize_t written = writeCall(fd, first, taken);
    last.iov_len = lastLength;
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return EIO;  // a write that makes no progress would loop for ever
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
  return 0;
}

// Puts the mailbox back as the lock found it. A file this append created is removed (the
// writers waiting for its lock see that and open the path again), unless another writer got
// its record in first.
int cutBack(int fd, const std::string& mailboxPath, bool created, off_t lengthBefore) {
  const bool removed = created && lengthBefore == 0 ? ::unlink(mailboxPath.c_str()) == 0
                                                    : ::ftruncate(fd, lengthBefore) == 0;
  return removed ? 0 : errno;
}

// A failed close (a network file system may report a failed write only then) has let go of
// the lock: the record is cut back under a new lock, and only while nobody appended after it.
int cutBackAfterClose(const std::string& mailboxPath, const struct stat& opened, bool created,
                      off_t lengthBefore, off_t lengthAfter) {
  const int fd = ::open(mailboxPath.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  int error = lockWholeFile(fd, {}, false);
  struct stat now {};
  if (error == 0 && ::fstat(fd, &now) != 0) error = errno;
  if (error == 0 && (!sameFile(now, opened) || now.st_size != lengthAfter)) error = EBUSY;
  if (error == 0) error = cutBack(fd, mailboxPath, created, lengthBefore);
  ::close(fd);
  return error;
}

Failure appendFailure(const std::string& mailboxPath, int error, int restoreError) {
  Failure failure = unwritable(mailboxPath, error);
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

iovec buffer(std::string_view bytes) {
  return iovec{const_cast<char*>(bytes.data()), bytes.size()};
}

// The open, locked mailbox and what was found when the lock was taken.
struct LockedMailbox {
  int fd = -1;
  bool created = false;
  struct stat status {};
};

// Opens and locks the mailbox: 0, EINTR when a stop came during the wait, kNotAFile or the
// error. A writer whose first record failed removes the file it created: a file found removed
// once its lock is taken is given up and the path opened again.
int openLocked(const std::string& mailboxPath, const AppendHooks& hooks, LockedMailbox& mailbox) {
  for (bool first = true;; first = false) {
    mailbox.fd = openForAppend(mailboxPath, mailbox.created);
    if (mailbox.fd < 0) return errno;
    if (first && hooks.opened) hooks.opened();
    int error = lockWholeFile(mailbox.fd, hooks, true);
    if (error == 0 && ::fstat(mailbox.fd, &mailbox.status) != 0) error = errno;
    if (error == 0 && !S_ISREG(mailbox.status.st_mode)) error = kNotAFile;
    if (error == 0 && mailbox.status.st_nlink > 0) return 0;
    ::close(mailbox.fd);
    mailbox.fd = -1;
    if (error != 0) return error;
  }
}

}  // namespace

MaybeFailure AppendRecordWith(const std::string& mailboxPath, std::string_view separatorLine,
                              std::string_view textHead, std::string_view textTail,
                              const RecordOptions& options, const AppendHooks& hooks,
                              const RecordWriteCall& writeCall) {
  LockedMailbox mailbox;
  if (const int error = openLocked(mailboxPath, hooks, mailbox); error != 0) {
    if (error == kNotAFile) {
      return Failure{FailureCode::MailboxUnwritable, mailboxPath, "Not a regular file"};
    }
    if (error == EINTR) {
      return Failure{FailureCode::Interrupted, mailboxPath, "interrupted before it was written"};
    }
    return unwritable(mailboxPath, error);
  }
  const int fd = mailbox.fd;
  // Cut back to this length only: anything before it may be another writer's.
  const off_t lengthBefore = mailbox.status.st_size;

  // Separator, line end, text, line end: one gathered write, no copy of the text. A mailbox
  // left without a closing empty line gets its line ends first, so that the record does not
  // join the last line of what is there.
  const std::string_view lineEnd = RecordLineEnd(options.lineEnds);
  const bool endsWithOurRecord = lastAppend.device == mailbox.status.st_dev &&
                                 lastAppend.inode == mailbox.status.st_ino &&
                                 lastAppend.end == lengthBefore;
  const std::size_t mended = endsWithOurRecord ? 0 : missingLineEnds(fd, lengthBefore);
  const std::string padding = [&] {
    std::string text;
    for (std::size_t i = 0; i < mended; ++i) text += lineEnd;
    return text;
  }();
  const std::array<iovec, 6> buffers{buffer(padding),  buffer(separatorLine), buffer(lineEnd),
                                     buffer(textHead), buffer(textTail),      buffer(lineEnd)};
  if (const int error = writeAll(fd, buffers, writeCall, hooks); error != 0) {
    const int restoreError = cutBack(fd, mailboxPath, mailbox.created, lengthBefore);
    ::close(fd);
    return appendFailure(mailboxPath, error, restoreError);
  }
  if (!padding.empty() && hooks.tailMended) hooks.tailMended(padding.size());
  off_t lengthAfter = lengthBefore;
  for (const iovec& written : buffers) lengthAfter += static_cast<off_t>(written.iov_len);
  lastAppend = {mailbox.status.st_dev, mailbox.status.st_ino, lengthAfter};
  if (::close(fd) != 0) {
    lastAppend = {};
    const int error = errno;
    return appendFailure(
        mailboxPath, error,
        cutBackAfterClose(mailboxPath, mailbox.status, mailbox.created, lengthBefore, lengthAfter));
  }
  return std::nullopt;
}

MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view textHead, std::string_view textTail,
                          const RecordOptions& options, const AppendHooks& hooks) {
  return AppendRecordWith(
      mailboxPath, separatorLine, textHead, textTail, options, hooks,
      [](int fd, const iovec* buffers, int count) { return ::writev(fd, buffers, count); });
}

MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view messageText, const RecordOptions& options,
                          const AppendHooks& hooks) {
  return AppendRecord(mailboxPath, separatorLine, messageText, {}, options, hooks);
}

}  // namespace drovanta
