#include "emlx/property_list.h"

#include <plist/plist.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace drovanta {

namespace {

// The keys Apple Mail writes into the list after a message (any of them marks its list).
constexpr std::string_view kMessageKeys[] = {"color",         "conversation-id", "date-last-viewed",
                                             "date-received", "date-sent",       "flags",
                                             "remote-id"};

struct PlistDeleter {
  void operator()(void* node) const { plist_free(node); }
};
using PlistRef = std::unique_ptr<void, PlistDeleter>;

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

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
  if (list.empty() || list.size() > std::numeric_limits<std::uint32_t>::max()) return properties;
  // A terminated copy: the list is a view into file bytes, and a parser that looks one byte
  // past a truncated list must find the end there.
  const std::string text(list);
  plist_t parsed = nullptr;
  plist_from_memory(text.data(), static_cast<std::uint32_t>(text.size()), &parsed);
  PlistRef root(parsed);
  // libplist's binary reader can build a dictionary whose keys are not keys, and its dictionary
  // iteration then stops the program with an assertion. Its XML reader checks that structure,
  // so a binary list is read again from its XML form.
  if (root != nullptr && plist_is_binary(text.data(), static_cast<std::uint32_t>(text.size()))) {
    char* xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    parsed = nullptr;
    if (xml != nullptr) plist_from_memory(xml, length, &parsed);
    plist_to_xml_free(xml);
    root.reset(parsed);
  }
  if (root == nullptr || plist_get_node_type(root.get()) != PLIST_DICT) return properties;

  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(root.get(), &iterator);
  const std::unique_ptr<void, FreeDeleter> ownedIterator(iterator);
  for (;;) {
    char* rawKey = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(root.get(), iterator, &rawKey, &value);
    const std::unique_ptr<char, FreeDeleter> ownedKey(rawKey);
    if (value == nullptr) break;
    // Keys are matched without the white space a hand-edited list may put around them.
    const std::string_view key = trimmed(rawKey != nullptr ? rawKey : "");
    if (std::ranges::find(kMessageKeys, key) != std::end(kMessageKeys))
      properties.hasMessageKey = true;
    if (key == "date-received") {
      properties.dateReceived = numberOf(value);
    } else if (key == "date-sent") {
      properties.dateSent = numberOf(value);
    } else if (key == "flags") {
      properties.flags = flagsOf(value);
    }
  }
  return properties;
}

}  // namespace drovanta
