#include "emlx/mime_leaf_parts.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>
#include <utility>

#include "message/gmime_setup.h"
#include "shellutil/ascii_case.h"

namespace drovanta {
namespace {

constexpr std::string_view kStrippedHeader = "X-Apple-Content-Length";

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

// Owns one GObject reference.
template <typename T>
class GRef {
 public:
  explicit GRef(T* object = nullptr) : object_(object) {}
  ~GRef() {
    if (object_ != nullptr) g_object_unref(object_);
  }
  GRef(const GRef&) = delete;
  GRef& operator=(const GRef&) = delete;
  T* get() const { return object_; }

 private:
  T* object_;
};

// The end of the line that begins at `pos`, folded continuation lines included, line end
// included.
std::size_t endOfHeaderField(std::string_view bytes, std::size_t pos) {
  while (pos < bytes.size()) {
    const auto newline = bytes.find('\n', pos);
    if (newline == std::string_view::npos) return bytes.size();
    pos = newline + 1;
    if (pos >= bytes.size() || (bytes[pos] != ' ' && bytes[pos] != '\t')) return pos;
  }
  return bytes.size();
}

bool isBlankLine(std::string_view bytes, std::size_t lineStart) {
  if (lineStart >= bytes.size()) return false;
  if (bytes[lineStart] == '\n') return true;
  return bytes[lineStart] == '\r' && lineStart + 1 < bytes.size() && bytes[lineStart + 1] == '\n';
}

std::size_t nextLineStart(std::string_view bytes, std::size_t lineStart) {
  const auto newline = bytes.find('\n', lineStart);
  return newline == std::string_view::npos ? bytes.size() : newline + 1;
}

// True when a delimiter of `boundary` ("--boundary", then "--", white space or the line end)
// starts at `lineStart`.
bool isDelimiterLine(std::string_view bytes, std::size_t lineStart, std::string_view boundary) {
  const auto rest = bytes.substr(lineStart);
  if (rest.size() < boundary.size() + 2 || rest[0] != '-' || rest[1] != '-' ||
      rest.substr(2, boundary.size()) != boundary) {
    return false;
  }
  const auto after = rest.substr(2 + boundary.size());
  return after.empty() || after[0] == '-' || after[0] == ' ' || after[0] == '\t' ||
         after[0] == '\r' || after[0] == '\n';
}

// The body of the part whose header block contains the line at `headerPos`: from after the
// blank line that closes the header block up to the line end that opens the next delimiter of
// `boundary` (to the end of the message when there is no enclosing boundary or it never comes).
std::optional<ByteSpan> findBody(std::string_view bytes, std::size_t headerPos,
                                 std::string_view boundary) {
  std::size_t line = headerPos;
  while (line < bytes.size() && !isBlankLine(bytes, line)) {
    if (!boundary.empty() && isDelimiterLine(bytes, line, boundary)) return std::nullopt;
    line = nextLineStart(bytes, line);
  }
  if (line >= bytes.size()) return std::nullopt;
  const std::size_t bodyBegin = nextLineStart(bytes, line);
  if (boundary.empty()) return ByteSpan{bodyBegin, bytes.size()};
  // The line end in front of the delimiter belongs to the delimiter, not to the body.
  for (std::size_t next = bodyBegin; next < bytes.size(); next = nextLineStart(bytes, next)) {
    if (isDelimiterLine(bytes, next, boundary)) {
      std::size_t end = next;
      if (end > bodyBegin) {
        --end;
        if (end > bodyBegin && bytes[end - 1] == '\r') --end;
      }
      return ByteSpan{bodyBegin, end};
    }
  }
  return ByteSpan{bodyBegin, bytes.size()};
}

// Text (text/*, and message/*, a message being lines of text) has line breaks that a reader
// turns into its own line ends; every other type is bytes, CR and LF included. GMime gives a
// part without a Content-Type the default, text/plain.
bool isTextType(GMimeContentType* type) {
  if (type == nullptr) return true;
  const char* media = g_mime_content_type_get_media_type(type);
  if (media == nullptr) return true;
  return EqualsIgnoringAsciiCase(media, "text") || EqualsIgnoringAsciiCase(media, "message");
}

// Walks the MIME tree GMime built over the message bytes, numbering the leaves as IMAP does.
class PartCollector {
 public:
  explicit PartCollector(std::string_view bytes) : bytes_(bytes) {}

  void collectMessage(GMimeMessage* message, const std::string& number, std::string_view boundary) {
    GMimeObject* body = g_mime_message_get_mime_part(message);
    if (body == nullptr) return;
    if (GMIME_IS_MULTIPART(body)) {
      collectChildren(GMIME_MULTIPART(body), number);
      return;
    }
    // A single-part body is section 1 of its message; its stripped header may sit among the
    // message's own headers rather than the body's.
    collectObject(body, number.empty() ? "1" : number + ".1", boundary,
                  g_mime_object_get_header_list(GMIME_OBJECT(message)));
  }

  std::vector<LeafPart> take() { return std::move(parts_); }

 private:
  void collectChildren(GMimeMultipart* multipart, const std::string& number) {
    const char* boundary = g_mime_multipart_get_boundary(multipart);
    const std::string_view childBoundary = boundary != nullptr ? boundary : "";
    const int count = g_mime_multipart_get_count(multipart);
    for (int i = 0; i < count; ++i) {
      const std::string childNumber = (number.empty() ? "" : number + ".") + std::to_string(i + 1);
      collectObject(g_mime_multipart_get_part(multipart, i), childNumber, childBoundary, nullptr);
    }
  }

  void collectObject(GMimeObject* object, const std::string& number, std::string_view boundary,
                     GMimeHeaderList* outerHeaders) {
    if (GMIME_IS_MULTIPART(object)) {
      collectChildren(GMIME_MULTIPART(object), number);
      return;
    }
    LeafPart part;
    part.number = number;
    part.textual = isTextType(g_mime_object_get_content_type(object));
    std::optional<std::size_t> anyHeader;
    scanHeaders(g_mime_object_get_header_list(object), part, anyHeader);
    if (outerHeaders != nullptr) scanHeaders(outerHeaders, part, anyHeader);
    std::sort(part.strippedHeaders.begin(), part.strippedHeaders.end(),
              [](const ByteSpan& a, const ByteSpan& b) { return a.begin < b.begin; });
    part.strippedHeaders.erase(
        std::unique(part.strippedHeaders.begin(), part.strippedHeaders.end(),
                    [](const ByteSpan& a, const ByteSpan& b) { return a.begin == b.begin; }),
        part.strippedHeaders.end());
    if (GMIME_IS_MESSAGE_PART(object) && part.strippedHeaders.empty()) {
      // An attached message that kept its body: its parts nest under its own number.
      GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
      if (inner != nullptr) collectMessage(inner, number, boundary);
      return;
    }
    if (anyHeader) part.body = findBody(bytes_, *anyHeader, boundary);
    parts_.push_back(std::move(part));
  }

  // Records the part's X-Apple-Content-Length lines and Content-Transfer-Encoding, and the
  // offset of its first header line (where the search for its body starts).
  void scanHeaders(GMimeHeaderList* headers, LeafPart& part,
                   std::optional<std::size_t>& anyHeader) {
    const int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
      GMimeHeader* header = g_mime_header_list_get_header_at(headers, i);
      const gint64 offset = g_mime_header_get_offset(header);
      if (offset < 0 || static_cast<std::size_t>(offset) >= bytes_.size()) continue;
      const auto pos = static_cast<std::size_t>(offset);
      if (!anyHeader || pos < *anyHeader) anyHeader = pos;
      const std::string_view name = g_mime_header_get_name(header);
      if (EqualsIgnoringAsciiCase(name, kStrippedHeader) &&
          startsWithIgnoringCase(bytes_.substr(pos), kStrippedHeader)) {
        part.strippedHeaders.push_back({pos, endOfHeaderField(bytes_, pos)});
      } else if (EqualsIgnoringAsciiCase(name, "Content-Transfer-Encoding")) {
        const char* value = g_mime_header_get_value(header);
        std::string_view text = value != nullptr ? value : "";
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
          text.remove_prefix(1);
        }
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
          text.remove_suffix(1);
        }
        part.transferEncoding = std::string(text);
      }
    }
  }

  std::string_view bytes_;
  std::vector<LeafPart> parts_;
};

}  // namespace

std::vector<LeafPart> CollectLeafParts(std::string_view bytes) {
  EnsureGMime();
  GRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  // Leaves the bodies in the stream instead of copying them; offsets are those of `bytes`.
  g_mime_parser_set_persist_stream(parser.get(), TRUE);
  GRef<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
  if (message.get() == nullptr) return {};
  PartCollector collector(bytes);
  collector.collectMessage(message.get(), "", "");
  return collector.take();
}

}  // namespace drovanta
