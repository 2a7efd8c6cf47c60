#include "conversion/partial_message.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <system_error>
#include <utility>
#include <variant>

namespace drovanta {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPartialSuffix = ".partial.emlx";
constexpr std::string_view kStrippedHeader = "X-Apple-Content-Length";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

void ensureGMimeReady() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
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

// A byte range [begin, end) of the message.
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// One MIME leaf as the message holds it: where its header lines sit, where its body sits, and
// how its body is transfer-encoded.
struct LeafPart {
  std::string number;                 // IMAP section number: "1", "2.4", ...
  std::vector<Span> strippedHeaders;  // X-Apple-Content-Length lines, each with its line end
  std::optional<Span> body;           // unset when the part's header block never ends
  std::string transferEncoding;       // trimmed header value, "" when absent
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
std::optional<Span> findBody(std::string_view bytes, std::size_t headerPos,
                             std::string_view boundary) {
  std::size_t line = headerPos;
  while (line < bytes.size() && !isBlankLine(bytes, line)) {
    if (!boundary.empty() && isDelimiterLine(bytes, line, boundary)) return std::nullopt;
    line = nextLineStart(bytes, line);
  }
  if (line >= bytes.size()) return std::nullopt;
  const std::size_t bodyBegin = nextLineStart(bytes, line);
  if (boundary.empty()) return Span{bodyBegin, bytes.size()};
  // The line end in front of the delimiter belongs to the delimiter, not to the body.
  for (std::size_t next = bodyBegin; next < bytes.size(); next = nextLineStart(bytes, next)) {
    if (isDelimiterLine(bytes, next, boundary)) {
      std::size_t end = next;
      if (end > bodyBegin) {
        --end;
        if (end > bodyBegin && bytes[end - 1] == '\r') --end;
      }
      return Span{bodyBegin, end};
    }
  }
  return Span{bodyBegin, bytes.size()};
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
    std::optional<std::size_t> anyHeader;
    scanHeaders(g_mime_object_get_header_list(object), part, anyHeader);
    if (outerHeaders != nullptr) scanHeaders(outerHeaders, part, anyHeader);
    std::sort(part.strippedHeaders.begin(), part.strippedHeaders.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    part.strippedHeaders.erase(
        std::unique(part.strippedHeaders.begin(), part.strippedHeaders.end(),
                    [](const Span& a, const Span& b) { return a.begin == b.begin; }),
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
      if (equalsIgnoringCase(name, kStrippedHeader) &&
          startsWithIgnoringCase(bytes_.substr(pos), kStrippedHeader)) {
        part.strippedHeaders.push_back({pos, endOfHeaderField(bytes_, pos)});
      } else if (equalsIgnoringCase(name, "Content-Transfer-Encoding")) {
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

std::vector<LeafPart> collectLeafParts(std::string_view bytes) {
  ensureGMimeReady();
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

std::string readWholeFile(const fs::path& file, std::error_code& error) {
  errno = 0;
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  if (!in) {
    error = errno != 0 ? std::error_code(errno, std::generic_category())
                       : std::make_error_code(std::errc::io_error);
    return {};
  }
  const std::streamoff size = in.tellg();
  in.seekg(0);
  std::string bytes(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    error = std::make_error_code(std::errc::io_error);
  }
  return bytes;
}

// Finder leaves these beside files it has shown; they are never the attachment.
bool isFinderLitter(const fs::path& file) {
  const auto name = file.filename().string();
  return name == ".DS_Store" || name.rfind("._", 0) == 0;
}

// Converts every line end of `text` to `lineEnd`.
std::string withLineEnds(std::string_view text, std::string_view lineEnd) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += lineEnd;
    } else if (c == '\n') {
      out += lineEnd;
    } else {
      out += c;
    }
  }
  return out;
}

// `content` transfer-encoded as `transferEncoding` names, with `lineEnd` between lines.
std::string encodeForPart(const std::string& content, const std::string& transferEncoding,
                          std::string_view lineEnd) {
  const GMimeContentEncoding encoding =
      g_mime_content_encoding_from_string(transferEncoding.c_str());
  if (encoding != GMIME_CONTENT_ENCODING_BASE64 &&
      encoding != GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE &&
      encoding != GMIME_CONTENT_ENCODING_UUENCODE) {
    return content;  // 7bit, 8bit, binary: the bytes as they are
  }
  GMimeEncoding state;
  g_mime_encoding_init_encode(&state, encoding);
  std::string encoded(g_mime_encoding_outlen(&state, content.size()) + 64, '\0');
  const std::size_t length =
      g_mime_encoding_flush(&state, content.data(), content.size(), encoded.data());
  encoded.resize(length);
  return lineEnd == "\n" ? encoded : withLineEnds(encoded, lineEnd);
}

std::string_view lineEndOf(std::string_view bytes) {
  const auto newline = bytes.find('\n');
  if (newline != std::string_view::npos && newline > 0 && bytes[newline - 1] == '\r') {
    return "\r\n";
  }
  return "\n";
}

// Where the stripped parts of one message are kept.
class PartStore {
 public:
  explicit PartStore(const std::string& messagePath) {
    const fs::path path(messagePath);
    messagesFolder_ = path.parent_path();
    const std::string name = path.filename().string();
    messageNumber_ = name.substr(0, name.size() - std::min(name.size(), kPartialSuffix.size()));
    attachmentsFolder_ = messagesFolder_.parent_path() / "Attachments" / messageNumber_;
  }

  // `<n>.<part>.emlxpart` beside the message, when it exists.
  std::optional<fs::path> emlxpartFile(const std::string& number) const {
    const auto file = messagesFolder_ / (messageNumber_ + "." + number + ".emlxpart");
    std::error_code error;
    if (fs::is_regular_file(file, error)) return file;
    return std::nullopt;
  }

  // The single regular file in Attachments/<n>/<part>/, or why there is none.
  std::variant<fs::path, std::string> attachmentFile(const std::string& number) const {
    const auto folder = attachmentsFolder_ / number;
    std::error_code error;
    if (!fs::is_directory(folder, error)) return std::string("not found");
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
      std::error_code statusError;
      if (it->is_regular_file(statusError) && !isFinderLitter(it->path())) {
        files.push_back(it->path());
      }
    }
    if (error) return "not found: its folder cannot be listed (" + error.message() + ")";
    if (files.empty()) return std::string("not found: its folder holds no file");
    if (files.size() > 1) {
      return "not found: its folder holds " + std::to_string(files.size()) + " files, expected one";
    }
    return files.front();
  }

 private:
  fs::path messagesFolder_;
  fs::path attachmentsFolder_;
  std::string messageNumber_;
};

// What goes in place of a stripped part's body, or why nothing does.
struct RestoredBody {
  std::optional<std::string> content;
  std::string problem;
};

RestoredBody restoredBody(const PartStore& store, const LeafPart& part, std::string_view lineEnd) {
  std::error_code error;
  if (const auto emlxpart = store.emlxpartFile(part.number)) {
    // Already transfer-encoded by Apple Mail.
    const std::string encoded = readWholeFile(*emlxpart, error);
    if (error) {
      return {std::nullopt, "part " + part.number + " could not be read from " +
                                emlxpart->string() + ": " + error.message()};
    }
    return {withLineEnds(encoded, lineEnd), {}};
  }
  auto found = store.attachmentFile(part.number);
  if (const auto* reason = std::get_if<std::string>(&found)) {
    return {std::nullopt, "attachment of part " + part.number + " " + *reason};
  }
  const auto& file = std::get<fs::path>(found);
  const std::string content = readWholeFile(file, error);
  if (error) {
    return {std::nullopt, "attachment of part " + part.number + " could not be read from " +
                              file.string() + ": " + error.message()};
  }
  return {encodeForPart(content, part.transferEncoding, lineEnd), {}};
}

}  // namespace

bool IsPartialMessageName(const std::string& messagePath) {
  if (messagePath.size() < kPartialSuffix.size()) return false;
  return equalsIgnoringCase(
      std::string_view(messagePath).substr(messagePath.size() - kPartialSuffix.size()),
      kPartialSuffix);
}

RebuiltMessage RebuildPartialMessage(const std::string& messagePath,
                                     std::string_view messageBytes) {
  RebuiltMessage result;
  const std::vector<LeafPart> parts = collectLeafParts(messageBytes);
  const PartStore store(messagePath);
  const std::string_view lineEnd = lineEndOf(messageBytes);

  // Splices in document order: everything between the edits is copied as it was.
  std::string out;
  out.reserve(messageBytes.size());
  std::size_t copied = 0;
  for (const LeafPart& part : parts) {
    const bool stripped = !part.strippedHeaders.empty();
    if (!stripped) {
      // Old stores may leave no marker on a part kept in an .emlxpart file; an empty body
      // with such a file beside the message is filled too.
      if (!part.body || part.body->begin != part.body->end || !store.emlxpartFile(part.number)) {
        continue;
      }
    }
    if (!part.body) {
      result.warnings.push_back(
          {messagePath, "part " + part.number + " has no end to its header block, left as it is"});
      continue;
    }
    if (stripped && part.strippedHeaders.front().begin < copied) continue;  // overlapping: leave
    if (part.body->begin < copied) continue;

    RestoredBody body = restoredBody(store, part, lineEnd);
    if (!body.content) {
      result.warnings.push_back({messagePath, std::move(body.problem)});
      continue;
    }
    const std::string& content = *body.content;
    for (const Span& header : part.strippedHeaders) {
      if (header.end > part.body->begin) break;
      out.append(messageBytes.substr(copied, header.begin - copied));
      copied = header.end;
    }
    out.append(messageBytes.substr(copied, part.body->begin - copied));
    out += content;
    // A delimiter that followed the header block directly needs the line end in front of it
    // that belongs to it.
    const auto after = messageBytes.substr(part.body->end);
    if (!after.empty() && after[0] != '\n' && after[0] != '\r') out += lineEnd;
    copied = part.body->end;
  }
  out.append(messageBytes.substr(copied));
  result.bytes = std::move(out);
  return result;
}

}  // namespace drovanta
