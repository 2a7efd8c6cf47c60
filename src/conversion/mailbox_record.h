#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "conversion/record_options.h"
#include "shellutil/failure.h"

namespace drovanta {

// Appends one record (separator line, line end, message text, line end) to the mailbox file in
// a single write, creating the file when missing. When the file cannot be opened or written
// completely it is cut back to its earlier length, so it only ever holds whole records.
// onOpened runs once the file is open, before anything is written.
MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view messageText, const RecordOptions& options = {},
                          const std::function<void()>& onOpened = {});

// The same with the message text in two pieces written one after the other: a text that borrows
// the bytes of the message file as read, then its closing line end.
MaybeFailure AppendRecord(const std::string& mailboxPath, std::string_view separatorLine,
                          std::string_view textHead, std::string_view textTail,
                          const RecordOptions& options, const std::function<void()>& onOpened);

}  // namespace drovanta
