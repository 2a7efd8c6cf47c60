#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mbox/message_key.h"
#include "mbox/message_text.h"
#include "mbox/record_options.h"
#include "message/message_file.h"
#include "shellutil/failure.h"

namespace drovanta {

// One message converted into memory ahead of its turn: all its record needs but the mailbox.
struct PreparedMessage {
  std::string path;
  std::string separator;  // the separator line, without its line end
  std::string text;       // the record's text, as MessageTextWriter writes it
  LineEnds lineEnds = LineEnds::CrLf;
  std::uint64_t fileLength = 0;
  std::optional<std::uint64_t> lastLineRead;  // the last length the text's writing reported
  std::vector<Notice> warnings;
  std::optional<MessageKey> key;  // when asked for: what tells it among a mailbox's records

  // Memory it holds.
  std::size_t heldBytes() const { return text.capacity() + separator.capacity() + path.capacity(); }
};

// Messages up to this length (rebuilt length, for a partial message) are prepared ahead; a
// larger one is mapped and streamed at its turn, so that memory does not grow with it.
constexpr std::size_t kPreparedMessageLimit = MessageFile::kReadLimit;
// The most a prepared message can hold: its text is at most twice the message (every line end
// made CR LF) with the flag headers and closing line ends, in a string grown by doubling.
constexpr std::size_t kPreparedBytesLimit = 4 * kPreparedMessageLimit + (std::size_t{64} << 10);

// Reads and converts the message at `path` with `file`, a scratch file kept from one message to
// the next. Null when the message is better left to its turn: it cannot be read, is not a
// message, is over kPreparedMessageLimit, or could not be read whole while it was converted;
// its turn then meets the file as a serial run does and reports it the same way. `withKey`:
// the message's key is taken too, for a run that adds only new messages.
std::unique_ptr<PreparedMessage> PrepareMessage(const std::string& path,
                                                const RecordOptions& options, MessageFile& file,
                                                bool withKey = false);

}  // namespace drovanta
