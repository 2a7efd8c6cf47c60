#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drovanta {

// A byte range [begin, end) of the message.
struct ByteSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// One MIME leaf as the message holds it: where its header lines sit, where its body sits, and
// how its body is transfer-encoded.
struct LeafPart {
  std::string number;                     // IMAP section number: "1", "2.4", ...
  std::vector<ByteSpan> strippedHeaders;  // X-Apple-Content-Length lines, each with its line end
  std::optional<ByteSpan> body;           // unset when the part's header block never ends
  std::string transferEncoding;           // trimmed header value, "" when absent
  bool textual = true;  // declared text/* or message/* (or no type): its line breaks are lines
};

// Parses the message and lists its MIME leaves, numbered as IMAP numbers sections, with the
// ranges in `bytes` of their X-Apple-Content-Length lines and of their bodies. An attached
// message that kept its body is walked into; empty when no message can be made of the bytes.
std::vector<LeafPart> CollectLeafParts(std::string_view bytes);

}  // namespace drovanta
