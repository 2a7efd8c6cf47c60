#include "mbox/mailbox_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace drovanta {
namespace {

// How long another writer may hold the lock before the caller hears that the append waits.
constexpr auto kLockNoteAfter = std::chrono::seconds(2);
constexpr auto kLockRetryPause = std::chrono::milliseconds(10);
// A mailbox created here is its owner's alone, as mail delivery agents create them.
constexpr mode_t kNewMailboxMode = 0600;

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
// record leaves no empty file behind. The last component of the path is never followed as a
// link, not even one whose target is missing.
int openForAppend(const std::string& mailboxPath, bool& created) {
  // Never blocks on a special file (a FIFO without a reader); no effect on a regular one.
  constexpr int kAppend = O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
  created = false;
  for (;;) {
    const int fd = openExisting(mailboxPath, kAppend);
    if (fd >= 0 || errno != ENOENT) return fd;
    const int made =
        ::open(mailboxPath.c_str(), O_RDWR | kAppend | O_CREAT | O_EXCL, kNewMailboxMode);
    if (made >= 0) {
      created = true;
      return made;
    }
    // Made by another writer in between (opened as it is), or a link whose target is missing
    // (refused on the next try).
    if (errno != EEXIST) return made;
  }
}

}  // namespace

// The lock is tried without blocking first so that the wait can be told after a while; then it
// is waited for, in F_SETLKW, or, when the caller has something to do meanwhile (a window
// handling its events), by trying again every few milliseconds. A file system without locks
// (ENOLCK) is written as before, unlocked.
int LockWholeFile(int fd, const AppendHooks& hooks, bool tellWait) {
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

bool IsSymbolicLink(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

int OpenLockedMailbox(const std::string& mailboxPath, const AppendHooks& hooks,
                      LockedMailbox& mailbox) {
  for (bool first = true;; first = false) {
    mailbox.fd = openForAppend(mailboxPath, mailbox.created);
    if (mailbox.fd < 0) {
      const int error = errno;
      return error == ELOOP && IsSymbolicLink(mailboxPath) ? kSymbolicLink : error;
    }
    if (first && hooks.opened) hooks.opened();
    int error = LockWholeFile(mailbox.fd, hooks, true);
    if (error == 0 && ::fstat(mailbox.fd, &mailbox.status) != 0) error = errno;
    if (error == 0 && !S_ISREG(mailbox.status.st_mode)) error = kNotAFile;
    if (error == 0 && mailbox.status.st_nlink > 0) return 0;
    ::close(mailbox.fd);
    mailbox.fd = -1;
    if (error != 0) return error;
  }
}

}  // namespace drovanta
