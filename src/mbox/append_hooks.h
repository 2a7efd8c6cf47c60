#pragma once

#include <cstddef>
#include <functional>

#include "mbox/stop_request.h"

namespace drovanta {

// What an append of a record tells its caller on the way, and what may stop it. Every member
// may be empty.
struct AppendHooks {
  // The file is open, before it is locked and before anything is written.
  std::function<void()> opened;
  // Another process has held the mailbox's lock for a while; the append goes on waiting.
  std::function<void()> waitingForLock;
  // Called every few milliseconds while the lock is waited for, when set (instead of blocking
  // in the wait); true gives the wait up, nothing written, and the append fails as interrupted.
  std::function<bool()> whileWaiting;
  // The mailbox did not end with a line end and an empty line (a record torn by a killed run,
  // or another program's file): `added` line-end bytes were written before the record.
  std::function<void(std::size_t added)> tailMended;
  // Asked while waiting for the lock (stopping: give up, nothing written) and between writes
  // (abandoning: the record is cut back out and the append fails as interrupted).
  const StopRequest* stop = nullptr;
  // Flushes the mailbox to the disk once the writer is done with it, with fdatasync's contract
  // (0, or -1 and errno); empty: fdatasync. Taken from the hooks the mailbox was opened with, as
  // is `stop`, which also ends the check that follows (tests pass calls that fail, or that
  // change the file before they flush it).
  std::function<int(int fd)> flush;
};

}  // namespace drovanta
