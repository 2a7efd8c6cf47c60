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

// Opens the mailbox for appending (creating it, private to its owner, when missing) and takes
// the write lock on the whole file, as mail readers and delivery agents take it: 0, EINTR when a
// stop came during the wait, kNotAFile, kSymbolicLink or the error. A writer whose first record
// failed removes the file it created: a file found removed once its lock is taken is given up and
// the path opened again.
int OpenLockedMailbox(const std::string& mailboxPath, const AppendHooks& hooks,
                      LockedMailbox& mailbox);

// Whether `path` itself is a symbolic link: what an open with O_NOFOLLOW failing with ELOOP
// needs to know to say so.
bool IsSymbolicLink(const std::string& path);

// Takes the write lock on the whole of the open file `fd`, waiting while another writer holds
// it; `tellWait` lets hooks.waitingForLock hear of a long wait. 0, EINTR or the error.
int LockWholeFile(int fd, const AppendHooks& hooks, bool tellWait);

}  // namespace drovanta
