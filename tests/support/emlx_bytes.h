// The bytes of Apple Mail's message files, for tests that write them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace drovanta::testing {

// The property list Apple Mail writes after a message, holding its flags.
inline std::string FlagsPropertyList(std::uint64_t flags) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
         "\t<key>flags</key>\n\t<integer>" +
         std::to_string(flags) + "</integer>\n</dict>\n</plist>\n";
}

// An .emlx file: the message's byte count on the first line, the message, then, when `flags`
// are given, the property list holding them.
inline std::string EmlxBytes(std::string_view message,
                             std::optional<std::uint64_t> flags = std::nullopt) {
  std::string bytes = std::to_string(message.size()) + "\n";
  bytes += message;
  if (flags) bytes += FlagsPropertyList(*flags);
  return bytes;
}

}  // namespace drovanta::testing
