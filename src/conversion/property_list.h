#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace drovanta {

// The few values of an .emlx property list the conversion uses.
struct EmlxProperties {
  std::optional<double> dateReceived;  // seconds since 1970-01-01 UTC
  std::optional<double> dateSent;
  std::optional<std::uint64_t> flags;  // Apple Mail's 64-bit message flags
};

// Reads the top-level dictionary of an Apple property list given as XML text. Unknown keys and
// malformed values are passed over.
EmlxProperties ParsePropertyList(std::string_view xml);

}  // namespace drovanta
