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
  // The dictionary holds a key Apple Mail writes into a message's list: the mark that tells its
  // list from one a message carries as text.
  bool hasMessageKey = false;
};

// Reads the top-level dictionary of an Apple property list (XML or binary) with libplist. A
// list libplist rejects gives no values; so do keys whose value is of another type.
EmlxProperties ParsePropertyList(std::string_view list);

}  // namespace drovanta
