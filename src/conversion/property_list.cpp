#include "conversion/property_list.h"

#include <charconv>
#include <cmath>

namespace drovanta {

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

// One markup item of the XML text: a tag, or the character data before the next tag.
struct Tag {
  std::string_view name;  // element name without "<", "/" and attributes
  bool closing = false;   // "</name>"
  bool empty = false;     // "<name/>"
  bool markup = false;    // "<?...?>", "<!...>" or a comment: carries no value
};

// Walks the tags of the text in order. Malformed input ends the walk; it never reads past the
// end of the text.
class TagReader {
 public:
  explicit TagReader(std::string_view xml) : xml_(xml) {}

  bool next(Tag& tag) {
    const std::size_t open = xml_.find('<', pos_);
    if (open == std::string_view::npos) return false;
    if (xml_.substr(open, 4) == "<!--") {
      const std::size_t close = xml_.find("-->", open + 4);
      if (close == std::string_view::npos) return false;
      pos_ = close + 3;
      tag = Tag{{}, false, false, true};
      return true;
    }
    const std::size_t close = xml_.find('>', open + 1);
    if (close == std::string_view::npos) return false;
    std::string_view body = xml_.substr(open + 1, close - open - 1);
    pos_ = close + 1;
    tag = Tag{};
    if (!body.empty() && (body.front() == '?' || body.front() == '!')) {
      tag.markup = true;
      return true;
    }
    if (!body.empty() && body.front() == '/') {
      tag.closing = true;
      body.remove_prefix(1);
    }
    if (!body.empty() && body.back() == '/') {
      tag.empty = true;
      body.remove_suffix(1);
    }
    std::size_t nameEnd = 0;
    while (nameEnd < body.size() && !isSpace(body[nameEnd])) ++nameEnd;
    tag.name = body.substr(0, nameEnd);
    return true;
  }

  // The character data from the current position to the next tag.
  std::string_view text() {
    std::size_t open = xml_.find('<', pos_);
    if (open == std::string_view::npos) open = xml_.size();
    const std::string_view data = xml_.substr(pos_, open - pos_);
    pos_ = open;
    return trim(data);
  }

 private:
  std::string_view xml_;
  std::size_t pos_ = 0;
};

std::optional<double> parseNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<std::uint64_t> parseUnsigned(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

EmlxProperties ParsePropertyList(std::string_view xml) {
  EmlxProperties properties;
  TagReader reader(xml);
  Tag tag;
  // Depth 1 is inside the top-level dictionary; deeper values are passed over.
  int depth = 0;
  std::string_view key;
  while (reader.next(tag)) {
    if (tag.markup) continue;
    const bool container = tag.name == "dict" || tag.name == "array";
    if (depth == 0) {
      if (tag.name == "dict" && !tag.closing && !tag.empty) depth = 1;
      continue;
    }
    if (depth > 1) {
      if (container && !tag.empty) depth += tag.closing ? -1 : 1;
      continue;
    }
    if (tag.closing) {
      if (tag.name == "dict") break;  // the end of the top-level dictionary
      continue;
    }
    if (tag.name == "key") {
      key = tag.empty ? std::string_view() : reader.text();
      continue;
    }
    const std::string_view owner = key;
    key = {};
    if (container) {
      if (!tag.empty) depth = 2;
      continue;
    }
    if (tag.empty || (tag.name != "integer" && tag.name != "real")) continue;
    const std::string_view value = reader.text();
    if (owner == "date-received") {
      properties.dateReceived = parseNumber(value);
    } else if (owner == "date-sent") {
      properties.dateSent = parseNumber(value);
    } else if (owner == "flags" && tag.name == "integer") {
      properties.flags = parseUnsigned(value);
    }
  }
  return properties;
}

}  // namespace drovanta
