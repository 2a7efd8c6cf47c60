#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <functional>
#include <string>
#include <string_view>

#include "mbox/append_hooks.h"
#include "mbox/record_options.h"
#include "shellutil/failure.h"

namespace drovanta {

// Writes some leading part of the buffers to the open file, as writev does: the number of bytes
// written, or -1 with errno set. The mailbox writer uses ::writev; tests pass writers that stop
// short or fail part-way to check that a failed append leaves only whole records.
using RecordWriteCall = std::function<ssize_t(int fd, const iovec* buffers, int count)>;

// AppendRecord with the write call made explicit; the text is textHead followed by textTail.
MaybeFailure AppendRecordWith(const std::string& mailboxPath, std::string_view separatorLine,
                              std::string_view textHead, std::string_view textTail,
                              const RecordOptions& options, const AppendHooks& hooks,
                              const RecordWriteCall& writeCall);

}  // namespace drovanta
