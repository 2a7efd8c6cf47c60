#include "mbox/mailbox_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace drovanta {
namespace {

// How long another writer may hold the lock before the caller hears that the append waits.
constexpr auto kLockNoteAfter = std::chrono::seconds(2);
constexpr auto kLockRetryPause = std::chrono::milliseconds(10);
// A dot-lock older than this is taken as left behind by a program that died (procmail breaks
// them after 17 minutes, Dovecot after 2 without a change).
constexpr auto kStaleDotLock = std::chrono::minutes(5);
// statfs's f_type of the network file systems whose clients emulate flock() with fcntl locks.
constexpr unsigned long kNfsMagic = 0x6969;
constexpr unsigned long kSmbMagic = 0x517B;
constexpr unsigned long kCifsMagic = 0xFF534D42;
constexpr unsigned long kSmb2Magic = 0xFE534D42;
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

// Whether flock() is a lock of its own on the file's file system. NFS and SMB clients emulate
// it with a byte-range lock, which our own fcntl lock would then stand against for ever, and
// which the fcntl lock already stands for against other programs.
bool flockIsItsOwnLock(int fd) {
  struct statfs system {};
  if (::fstatfs(fd, &system) != 0) return true;
  switch (static_cast<unsigned long>(system.f_type)) {
    case kNfsMagic:
    case kSmbMagic:
    case kCifsMagic:
    case kSmb2Magic:
      return false;
    default:
      return true;
  }
}

// Takes the fcntl write lock, the flock lock (withFlock) and makes sure no other program holds
// the dot-lock: 0 with every lock held; EAGAIN, holding none, while one is held elsewhere; or an
// error.
int tryLocks(int fd, const std::string& mailboxPath, bool withFlock) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  const bool fcntlHeld = ::fcntl(fd, F_SETLK, &lock) == 0;
  if (!fcntlHeld && errno != ENOLCK) return errno == EACCES || errno == EAGAIN ? EAGAIN : errno;
  const auto letGo = [&](bool flockHeld) {
    if (flockHeld) ::flock(fd, LOCK_UN);
    lock.l_type = F_UNLCK;
    if (fcntlHeld) ::fcntl(fd, F_SETLK, &lock);
  };
  bool flockHeld = false;
  if (withFlock) {
    int result = 0;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    flockHeld = result == 0;
    if (!flockHeld && errno != ENOLCK && errno != EINVAL) {
      const int error = errno == EWOULDBLOCK ? EAGAIN : errno;
      letGo(false);
      return error;
    }
  }
  if (ForeignDotLockHeld(mailboxPath)) {
    letGo(flockHeld);
    return EAGAIN;
  }
  return 0;
}

}  // namespace

// Every lock is tried without blocking, and all are let go again while one is held elsewhere, so
// that no order in which other programs take theirs can deadlock with us; the wait is told after
// a while, and the caller's whileWaiting (a window handling its events) is called between tries.
// A file system without a kind of lock (ENOLCK, EINVAL for flock) is written without it.
int LockWholeFile(int fd, const std::string& mailboxPath, const AppendHooks& hooks, bool tellWait) {
  const auto tellAt = std::chrono::steady_clock::now() + kLockNoteAfter;
  const bool withFlock = flockIsItsOwnLock(fd);
  bool told = false;
  for (;;) {
    const int error = tryLocks(fd, mailboxPath, withFlock);
    if (error != EAGAIN) return error;
    if (stopping(hooks) || (hooks.whileWaiting && hooks.whileWaiting())) return EINTR;
    if (!told && std::chrono::steady_clock::now() >= tellAt) {
      told = true;
      if (tellWait && hooks.waitingForLock) hooks.waitingForLock();
    }
    std::this_thread::sleep_for(kLockRetryPause);
  }
}

bool ForeignDotLockHeld(const std::string& mailboxPath) {
  struct stat lock {};
  if (::lstat((mailboxPath + ".lock").c_str(), &lock) != 0) return false;
  // Left by a program that died: others break such locks after a few minutes, we pass them by.
  // So is one dated further ahead (a clock set wrong, a mistaken touch): it would never age.
  const auto changed = std::chrono::system_clock::from_time_t(lock.st_mtim.tv_sec);
  const auto age = std::chrono::system_clock::now() - changed;
  return age < kStaleDotLock && age > -kStaleDotLock;
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
    int error = LockWholeFile(mailbox.fd, mailboxPath, hooks, true);
    if (error == 0 && ::fstat(mailbox.fd, &mailbox.status) != 0) error = errno;
    if (error == 0 && !S_ISREG(mailbox.status.st_mode)) error = kNotAFile;
    if (error == 0 && mailbox.status.st_nlink > 0) return 0;
    ::close(mailbox.fd);
    mailbox.fd = -1;
    if (error != 0) return error;
  }
}

}  // namespace drovanta
