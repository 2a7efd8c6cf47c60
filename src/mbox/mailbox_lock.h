#pragma once

#include <sys/stat.h>

#include <string>

#include "mbox/append_hooks.h"

namespace drovanta {

// OpenLockedMailbox's answers for a path that names something other than a regular file, and
// for one that is a symbolic link (never followed: in a shared destination a planted link would
// have the run create or fill a file anywhere).
constexpr int kNotAFile = -1;
constexpr int kSymbolicLink = -2;

// The open, locked mailbox and what was found when the lock was taken.
struct LockedMailbox {
  int fd = -1;
  bool created = false;
  struct stat status {};
};

// Opens the mailbox for appending (creating it, private to its owner, when missing) and locks it
// (LockWholeFile): 0, EINTR when a stop came during the wait, kNotAFile, kSymbolicLink or the
// error. A writer whose first record failed removes the file it created: a file found removed
// once its lock is taken is given up and the path opened again.
int OpenLockedMailbox(const std::string& mailboxPath, const AppendHooks& hooks,
                      LockedMailbox& mailbox);

// Whether `path` itself is a symbolic link: what an open with O_NOFOLLOW failing with ELOOP
// needs to know to say so.
bool IsSymbolicLink(const std::string& path);

// Locks the open mailbox file `fd` at `mailboxPath` against other writers as mail readers and
// delivery agents lock it: an fcntl write lock and a flock() lock on the whole file (both let go
// by the kernel however the process ends), and no other program's dot-lock
// (`<mailboxPath>.lock`, younger than a few minutes) while they are held. No dot-lock is made:
// one left behind by a killed run would keep mail readers out. Waits while another writer holds
// any of them; `tellWait` lets hooks.waitingForLock hear of a long wait. 0, EINTR or the error.
int LockWholeFile(int fd, const std::string& mailboxPath, const AppendHooks& hooks, bool tellWait);

// Whether another program holds the mailbox's dot-lock: `<mailboxPath>.lock` exists and is not
// so old that it was left behind by a program that died (nor dated as far in the future).
bool ForeignDotLockHeld(const std::string& mailboxPath);

}  // namespace drovanta
