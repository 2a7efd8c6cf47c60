#pragma once

#include <string>
#include <string_view>

#include "conversion/append_hooks.h"
#include "conversion/record_options.h"
#include "shellutil/failure.h"

namespace drovanta {

// Appends one record (separator line, line end, message text, line end) to the mailbox file,
// creating it (private to its owner) when missing. The mailbox is locked against other writers
// (an fcntl write lock, as mail readers and delivery agents take it) for the whole append. When
// the file cannot be opened or written completely it is cut back to the length it had when the
// lock was taken, so it only ever holds whole records. The separator line and the closing empty
// line end as options.lineEnds says: LF for Lf, else CR LF (give the message's settled
// convention).
MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view messageText, const RecordOptions& options = {},
                          const AppendHooks& hooks = {});

// The same with the message text in two pieces written one after the other: a text that borrows
// the bytes of the message file as read, then its closing line end.
MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view textHead, std::string_view textTail,
                          const RecordOptions& options, const AppendHooks& hooks);

}  // namespace drovanta
