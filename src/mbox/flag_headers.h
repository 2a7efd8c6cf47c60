#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "message/message_state.h"

namespace drovanta {

// "RO" for a read message, "O" otherwise: every converted message has been seen by a client.
std::string StatusValue(const MessageState& state);
// The letters A (answered), F (flagged), T (draft), D (deleted), in that order; may be empty.
std::string XStatusValue(const MessageState& state);
// Four upper-case hex digits of Thunderbird's status bits.
std::string MozillaStatusValue(const MessageState& state);

// The Status, X-Status and X-Mozilla-Status header lines, each closed by lineEnd. X-Status is
// left out when it has no letters, as mutt and most mbox writers do.
std::string FlagHeaderLines(const MessageState& state, std::string_view lineEnd);

// True for the names of the headers FlagHeaderLines writes (any letter case).
bool IsFlagHeaderName(std::string_view name);

// The message with every Status, X-Status and X-Mozilla-Status header (and its folded
// continuation lines) removed from its header block; nullopt when it holds none, so the caller
// need not copy. Header lines may end in CR LF, CR or LF.
std::optional<std::string> WithoutFlagHeaders(std::string_view message);

}  // namespace drovanta
