#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "conversion/record_options.h"
#include "conversion/stop_request.h"
#include "shellutil/failure.h"

namespace drovanta {

// What an append tells its caller on the way, and what may stop it. Every member may be empty.
struct AppendHooks {
  // The file is open, before it is locked and before anything is written.
  std::function<void()> opened;
  // Another process has held the mailbox's lock for a while; the append goes on waiting.
  std::function<void()> waitingForLock;
  // The mailbox did not end with a line end and an empty line (a record torn by a killed run,
  // or another program's file): `added` line-end bytes were written before the record.
  std::function<void(std::size_t added)> tailMended;
  // Asked while waiting for the lock (stopping: give up, nothing written) and between writes
  // (abandoning: the record is cut back out and the append fails as interrupted).
  const StopRequest* stop = nullptr;
};

// Appends one record (separator line, line end, message text, line end) to the mailbox file,
// creating it (private to its owner) when missing. The mailbox is locked against other writers
// (an fcntl write lock, as mail readers and delivery agents take it) for the whole append. When
// the file cannot be opened or written completely it is cut back to the length it had when the
// lock was taken, so it only ever holds whole records.
MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view messageText, const RecordOptions& options = {},
                          const AppendHooks& hooks = {});

// The same with the message text in two pieces written one after the other: a text that borrows
// the bytes of the message file as read, then its closing line end.
MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view textHead, std::string_view textTail,
                          const RecordOptions& options, const AppendHooks& hooks);

}  // namespace drovanta
