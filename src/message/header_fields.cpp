#include "message/header_fields.h"

#include <gmime/gmime.h>

#include <cstring>

#include "message/gmime_setup.h"
#include "shellutil/ascii_case.h"

namespace drovanta {

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

bool isControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

enum class FieldName { Colon, Invalid, CutOff };

// Finds where lines end in a text: after a LF, a CR LF or a lone CR. Each kind of line end is
// searched for only once over the text, so text without CR costs one search per line.
class LineEnds {
 public:
  explicit LineEnds(std::string_view text)
      : text_(text), nextLf_(find('\n', 0)), nextCr_(find('\r', 0)) {}

  // Where the line that starts at `pos` ends, its line end included, or the end of the text.
  std::size_t after(std::size_t pos) {
    if (nextLf_ < pos) nextLf_ = find('\n', pos);
    if (nextCr_ < pos) nextCr_ = find('\r', pos);
    // A CR at the very end stands before the "no LF" mark (the text's size), not before a LF.
    if (nextCr_ < nextLf_) {
      return nextCr_ + 1 == nextLf_ && nextLf_ < text_.size() ? nextLf_ + 1 : nextCr_ + 1;
    }
    return nextLf_ == text_.size() ? nextLf_ : nextLf_ + 1;
  }

 private:
  std::size_t find(char c, std::size_t from) const {
    const void* at = std::memchr(text_.data() + from, c, text_.size() - from);
    return at == nullptr ? text_.size()
                         : static_cast<std::size_t>(static_cast<const char*>(at) - text_.data());
  }

  std::string_view text_;
  std::size_t nextLf_;  // the first LF at or after the last search, or the text's size
  std::size_t nextCr_;
};

bool isLineEnd(char c) {
  return c == '\r' || c == '\n';
}

// Scans a field name from `pos`: blanks, and folds (a line end and a blank), may stand between
// the name and its colon but not inside the name, and no control character may. `stop` is
// where the scan stopped.
FieldName scanFieldName(std::string_view block, std::size_t pos, std::size_t& stop) {
  stop = pos;
  if (block[pos] == ':') return FieldName::Invalid;  // a field needs a name
  bool blank = false;
  for (; stop < block.size(); ++stop) {
    const char c = block[stop];
    if (c == ':') return FieldName::Colon;
    if (isBlank(c)) {
      blank = true;
    } else if (isLineEnd(c)) {
      const std::size_t next =
          stop + (c == '\r' && stop + 1 < block.size() && block[stop + 1] == '\n' ? 2 : 1);
      if (next == block.size() || !isBlank(block[next])) return FieldName::Invalid;
      blank = true;
      stop = next;
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
  // Most header blocks have LF line ends only: the first empty line is the first LF LF, found
  // line by line. Only when a CR stands before it are lone CRs and CR LFs looked at.
  std::size_t lfEnd = std::string_view::npos;
  for (std::size_t pos = 0; pos < message.size();) {
    if (message[pos] == '\n') {
      lfEnd = pos + 1;
      break;
    }
    const void* lf = std::memchr(message.data() + pos, '\n', message.size() - pos);
    if (lf == nullptr) break;
    pos = static_cast<std::size_t>(static_cast<const char*>(lf) - message.data()) + 1;
  }
  const std::size_t checked = lfEnd == std::string_view::npos ? message.size() : lfEnd;
  if (std::memchr(message.data(), '\r', checked) == nullptr) return lfEnd;

  LineEnds lines(message);
  for (std::size_t pos = 0; pos < message.size();) {
    if (isLineEnd(message[pos])) return lines.after(pos);  // the empty line
    pos = lines.after(pos);
    if (pos == message.size() || !isLineEnd(message[pos - 1])) break;  // a last line cut short
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
    if (isBlank(name.back()) || isLineEnd(name.back())) {
      std::size_t nameEnd = 0;  // before the blanks and folds that may follow the name
      while (!isBlank(name[nameEnd]) && !isLineEnd(name[nameEnd])) ++nameEnd;
      name = name.substr(0, nameEnd);
    }
    std::string_view value = block.substr(fieldColon + 1, end - fieldColon - 1);
    value = value.substr(0, value.find('\0'));
    if (EqualsIgnoringAsciiCase(name, "from")) {
      fields.from.push_back(value);
    } else if (EqualsIgnoringAsciiCase(name, "sender")) {
      fields.sender.push_back(value);
    } else if (EqualsIgnoringAsciiCase(name, "return-path")) {
      if (!fields.returnPath) fields.returnPath = value;
    } else if (EqualsIgnoringAsciiCase(name, "date")) {
      if (!fields.date) fields.date = value;
    }
  };

  LineEnds lines(block);
  std::size_t pos = 0;
  while (pos < block.size()) {
    if (fieldBegin != std::string_view::npos && isBlank(block[pos])) {
      pos = lines.after(pos);  // a folded line of the open field
      continue;
    }
    closeField(pos);
    if (isLineEnd(block[pos])) break;  // the empty line that ends the block

    std::size_t stop = 0;
    const FieldName name = scanFieldName(block, pos, stop);
    if (name == FieldName::CutOff) {
      fields = HeaderFields{};
      fields.isMessage = false;
      return fields;
    }
    if (name == FieldName::Invalid && validFields == 0) {
      if (!isMboxFromLine(block.substr(pos, stop - pos))) return HeaderFields{};
      pos = lines.after(stop);
      continue;
    }
    fieldBegin = pos;
    fieldColon = stop;
    fieldValid = name == FieldName::Colon;
    // The field goes on from the line its colon (or the fault) is on.
    pos = stop < block.size() ? lines.after(stop) : block.size();
  }
  closeField(pos);
  return fields;
}

bool HasHeaderField(std::string_view message) {
  const std::string_view look = message.substr(0, std::size_t{64} << 10);
  std::size_t pos = 0;
  for (bool firstLine = true; pos < look.size() && !isLineEnd(look[pos]); firstLine = false) {
    std::size_t stop = 0;
    const FieldName name = scanFieldName(look, pos, stop);
    if (name == FieldName::Colon) return true;
    if (!firstLine || !isMboxFromLine(look.substr(pos, stop - pos))) return false;
    pos = look.find_first_of("\r\n", stop);
    if (pos == std::string_view::npos) return false;
    pos += look.substr(pos, 2) == "\r\n" ? 2 : 1;
  }
  return false;
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
