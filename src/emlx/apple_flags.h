#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace drovanta {

// The parts of Apple Mail's 64-bit message flags that mail readers can show.
struct AppleMessageState {
  bool read = false;
  bool deleted = false;
  bool answered = false;
  bool flagged = false;
  bool draft = false;
  bool forwarded = false;
  bool redirected = false;
};

AppleMessageState DecodeAppleFlags(std::uint64_t flags);

// "RO" for a read message, "O" otherwise: every converted message has been seen by a client.
std::string StatusValue(const AppleMessageState& state);
// The letters A (answered), F (flagged), T (draft), D (deleted), in that order; may be empty.
std::string XStatusValue(const AppleMessageState& state);
// Four upper-case hex digits of Thunderbird's status bits.
std::string MozillaStatusValue(const AppleMessageState& state);

// The Status, X-Status and X-Mozilla-Status header lines, each closed by lineEnd. X-Status is
// left out when it has no letters, as mutt and most mbox writers do.
std::string FlagHeaderLines(std::uint64_t flags, std::string_view lineEnd);

// True for the names of the headers FlagHeaderLines writes (any letter case).
bool IsFlagHeaderName(std::string_view name);

// The message with every Status, X-Status and X-Mozilla-Status header (and its folded
// continuation lines) removed from its header block; nullopt when it holds none, so the caller
// need not copy. Header lines may end in CR LF, CR or LF.
std::optional<std::string> WithoutFlagHeaders(std::string_view message);

}  // namespace drovanta
