#include "emlx/property_list.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string_view>

#include "message/property_list_dictionary.h"

namespace drovanta {

namespace {

// The keys Apple Mail writes into the list after a message (any of them marks its list).
constexpr std::string_view kMessageKeys[] = {"color",         "conversation-id", "date-last-viewed",
                                             "date-received", "date-sent",       "flags",
                                             "remote-id"};

std::string_view trimmed(std::string_view text) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

// A property-list integer is signed 64-bit; libplist hands its bits over as unsigned and
// saturates one too large to all ones, which reads as -1 here.
std::optional<std::int64_t> integerOf(plist_t node) {
  if (plist_get_node_type(node) != PLIST_UINT) return std::nullopt;
  std::uint64_t bits = 0;
  plist_get_uint_val(node, &bits);
  return static_cast<std::int64_t>(bits);
}

std::optional<double> numberOf(plist_t node) {
  if (const auto integer = integerOf(node)) return static_cast<double>(*integer);
  if (plist_get_node_type(node) != PLIST_REAL) return std::nullopt;
  double value = 0;
  plist_get_real_val(node, &value);
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> flagsOf(plist_t node) {
  const auto integer = integerOf(node);
  if (!integer || *integer < 0) return std::nullopt;
  return static_cast<std::uint64_t>(*integer);
}

}  // namespace

EmlxProperties ParsePropertyList(std::string_view list) {
  EmlxProperties properties;
  PropertyListDictionary::Parse(list).forEach([&](std::string_view rawKey, plist_t value) {
    // Keys are matched without the white space a hand-edited list may put around them.
    const std::string_view key = trimmed(rawKey);
    if (std::ranges::find(kMessageKeys, key) != std::end(kMessageKeys))
      properties.hasMessageKey = true;
    if (key == "date-received") {
      properties.dateReceived = numberOf(value);
    } else if (key == "date-sent") {
      properties.dateSent = numberOf(value);
    } else if (key == "flags") {
      properties.flags = flagsOf(value);
    }
  });
  return properties;
}

}  // namespace drovanta
