#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drovanta {

// The header fields the separator line needs, found as GMime's message parser finds them, so
// that no GMime message (a header list, a MIME part, their objects) is built for each file.
struct HeaderFields {
  // False when GMime would make no message of the block: its last line is cut off inside a
  // field name. A block whose first line is not a field (nor an mbox From line) gives no
  // message either, which reads the same as a block without fields.
  bool isMessage = true;
  std::vector<std::string_view> from;  // raw values (after the colon), in order
  std::vector<std::string_view> sender;
  std::optional<std::string_view> returnPath;  // the first field of that name counts
  std::optional<std::string_view> date;
};

// Where the header block of `message` ends: just after the empty line that closes it, or npos.
std::size_t HeaderBlockEnd(std::string_view message);

// Splits the header block into fields the way GMime does: a line that starts with a blank
// continues the open field; any other line starts a new one; an invalid field after the first
// valid one is dropped; an empty line ends the block. A value keeps its folds and line ends
// and ends at a NUL byte, as GMime's copy of it does. The values are views into `block`.
HeaderFields FindHeaderFields(std::string_view block);

// Whether `message` opens with a header field, after an mbox From line if it has one, as every
// mail message does; text without a header, or bytes that are no text at all, do not. Only the
// first 64 KB are looked at: a field name does not run longer.
bool HasHeaderField(std::string_view message);

// A raw value as GMime hands it out: unfolded, encoded words decoded.
std::string DecodedFieldValue(std::string_view raw);

}  // namespace drovanta
