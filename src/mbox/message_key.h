#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace drovanta {

// What tells one message from another when a mailbox is converted into again: its Message-ID
// and Date values, or, for a message without a Message-ID, its header block. Kept as a 128-bit
// digest, so that an index of a large mailbox stays small.
struct MessageKey {
  std::uint64_t high = 0;
  std::uint64_t low = 0;
  bool operator==(const MessageKey&) const = default;
};

struct MessageKeyHash {
  std::size_t operator()(const MessageKey& key) const { return static_cast<std::size_t>(key.low); }
};

// The key of a message from its header block (up to the empty line that ends it; more bytes
// are ignored). Message-ID and Date are compared as values: unfolded, white space runs made one
// space, trimmed. The block's digest is taken line by line without line ends (CR LF, LF and a
// lone CR end a line alike) and without the state headers (Status, X-Status,
// X-Mozilla-Status), so a message written with other line ends or with its state added has the
// key it had. `inMailbox`: the block as a mailbox record holds it, whose "From " lines carry
// one more '>' than the message's.
MessageKey MessageKeyOf(std::string_view headerBlock, bool inMailbox);

// The key of a message from its bytes (without a message file's framing).
MessageKey MessageKeyOfMessage(std::string_view message);

}  // namespace drovanta
