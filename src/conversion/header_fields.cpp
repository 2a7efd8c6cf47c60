#include "conversion/header_fields.h"

#include <gmime/gmime.h>

#include <cstring>

#include "conversion/gmime_setup.h"

namespace drovanta {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

bool isControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

bool equalsIgnoringCase(std::string_view text, std::string_view lowerName) {
  if (text.size() != lowerName.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (c != lowerName[i]) return false;
  }
  return true;
}

enum class FieldName { Colon, Invalid, CutOff };

// Scans a field name from the start of `line`: blanks may stand between the name and its colon
// but not inside the name, and no control character may. `stop` is where the scan stopped.
FieldName scanFieldName(std::string_view line, std::size_t& stop) {
  stop = 0;
  if (line.starts_with(':')) return FieldName::Invalid;  // a field needs a name
  bool blank = false;
  for (; stop < line.size(); ++stop) {
    const char c = line[stop];
    if (c == ':') return FieldName::Colon;
    if (isBlank(c)) {
      blank = true;
    } else if (blank || isControl(c)) {
      return FieldName::Invalid;
    }
  }
  return FieldName::CutOff;
}

// An mbox "From " line (or ">From ") may stand before the first field; GMime passes over it.
bool isMboxFromLine(std::string_view scanned) {
  if (scanned.starts_with('>')) scanned.remove_prefix(1);
  return scanned.starts_with("From ");
}

}  // namespace

std::size_t HeaderBlockEnd(std::string_view message) {
  std::size_t pos = 0;
  if (message.starts_with("\n")) return 1;
  if (message.starts_with("\r\n")) return 2;
  while (pos < message.size()) {
    const void* lf = std::memchr(message.data() + pos, '\n', message.size() - pos);
    if (lf == nullptr) return std::string_view::npos;
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(lf) - message.data());
    if (at + 1 < message.size() && message[at + 1] == '\n') return at + 2;
    if (at + 2 < message.size() && message[at + 1] == '\r' && message[at + 2] == '\n')
      return at + 3;
    pos = at + 1;
  }
  return std::string_view::npos;
}

HeaderFields FindHeaderFields(std::string_view block) {
  HeaderFields fields;
  std::size_t validFields = 0;
  std::size_t fieldBegin = std::string_view::npos;  // the open field, if any
  std::size_t fieldColon = 0;
  bool fieldValid = false;

  const auto closeField = [&](std::size_t end) {
    if (fieldBegin == std::string_view::npos) return;
    const std::size_t begin = fieldBegin;
    fieldBegin = std::string_view::npos;
    if (!fieldValid) return;
    ++validFields;
    std::string_view name = block.substr(begin, fieldColon - begin);
    while (!name.empty() && isBlank(name.back())) name.remove_suffix(1);
    std::string_view value = block.substr(fieldColon + 1, end - fieldColon - 1);
    value = value.substr(0, value.find('\0'));
    if (equalsIgnoringCase(name, "from")) {
      fields.from.push_back(value);
    } else if (equalsIgnoringCase(name, "sender")) {
      fields.sender.push_back(value);
    } else if (equalsIgnoringCase(name, "return-path")) {
      if (!fields.returnPath) fields.returnPath = value;
    } else if (equalsIgnoringCase(name, "date")) {
      if (!fields.date) fields.date = value;
    }
  };

  std::size_t pos = 0;
  while (pos < block.size()) {
    const void* lf = std::memchr(block.data() + pos, '\n', block.size() - pos);
    const std::size_t lineEnd =
        lf == nullptr ? block.size()
                      : static_cast<std::size_t>(static_cast<const char*>(lf) - block.data()) + 1;
    const std::string_view line = block.substr(pos, lineEnd - pos);
    if (fieldBegin != std::string_view::npos && isBlank(line[0])) {
      pos = lineEnd;  // a folded line of the open field
      continue;
    }
    closeField(pos);
    // An empty line ends the block (a CR alone at the very end reads as one too).
    if (line[0] == '\n' || (line[0] == '\r' && (line.size() == 1 || line[1] == '\n'))) break;

    std::size_t stop = 0;
    const FieldName name = scanFieldName(line, stop);
    if (name == FieldName::CutOff) {
      fields = HeaderFields{};
      fields.isMessage = false;
      return fields;
    }
    if (name == FieldName::Invalid && validFields == 0) {
      if (!isMboxFromLine(line.substr(0, stop))) return HeaderFields{};
      pos = lineEnd;
      continue;
    }
    fieldBegin = pos;
    fieldColon = pos + stop;
    fieldValid = name == FieldName::Colon;
    pos = lineEnd;
  }
  closeField(pos);
  return fields;
}

std::string DecodedFieldValue(std::string_view raw) {
  EnsureGMime();
  const std::string terminated(raw);
  char* unfolded = g_mime_utils_header_unfold(terminated.c_str());
  char* decoded = g_mime_utils_header_decode_text(nullptr, unfolded);
  g_free(unfolded);
  std::string text = decoded != nullptr ? decoded : "";
  g_free(decoded);
  return text;
}

}  // namespace drovanta
