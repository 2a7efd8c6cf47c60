#include "message/property_list_dictionary.h"

#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

namespace drovanta {

namespace {

struct FreeDeleter {
  void operator()(void* memory) const { std::free(memory); }
};

}  // namespace

void PropertyListDictionary::NodeDeleter::operator()(void* node) const {
  plist_free(node);
}

PropertyListDictionary PropertyListDictionary::Parse(std::string_view bytes) {
  PropertyListDictionary dictionary;
  if (bytes.empty() || bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    return dictionary;
  }
  // A terminated copy: the bytes may be a view into a file, and a parser that looks one byte
  // past a truncated list must find the end there.
  const std::string text(bytes);
  const auto length = static_cast<std::uint32_t>(text.size());
  plist_t parsed = nullptr;
  plist_from_memory(text.data(), length, &parsed);
  dictionary.root_.reset(parsed);
  // libplist's binary reader can build a dictionary whose keys are not keys, and its dictionary
  // iteration then stops the program with an assertion. Its XML reader checks that structure,
  // so a binary list is read again from its XML form.
  if (parsed != nullptr && plist_is_binary(text.data(), length)) {
    char* xml = nullptr;
    std::uint32_t xmlLength = 0;
    plist_to_xml(parsed, &xml, &xmlLength);
    parsed = nullptr;
    if (xml != nullptr) plist_from_memory(xml, xmlLength, &parsed);
    plist_to_xml_free(xml);
    dictionary.root_.reset(parsed);
  }
  if (parsed != nullptr && plist_get_node_type(parsed) != PLIST_DICT) dictionary.root_.reset();
  return dictionary;
}

void PropertyListDictionary::forEach(
    const std::function<void(std::string_view key, void* value)>& visit) const {
  if (root_ == nullptr) return;
  plist_dict_iter iterator = nullptr;
  plist_dict_new_iter(root_.get(), &iterator);
  const std::unique_ptr<void, FreeDeleter> ownedIterator(iterator);
  for (;;) {
    char* rawKey = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(root_.get(), iterator, &rawKey, &value);
    const std::unique_ptr<char, FreeDeleter> ownedKey(rawKey);
    if (value == nullptr) break;
    visit(rawKey != nullptr ? rawKey : "", value);
  }
}

}  // namespace drovanta
