#include "conversion/partial_message.h"

#include <dirent.h>
#include <fcntl.h>
#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
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

// An open file descriptor, closed when it goes.
class FileHandle {
 public:
  explicit FileHandle(int fd = -1) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Opens `name`, one path component, inside the folder `folder` without following a link: what
// is opened lies in that folder, whatever the name points to. O_NONBLOCK: a FIFO never blocks.
int openInFolder(int folder, const std::string& name, int flags) {
  return ::openat(folder, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
}

// Why `name` in `folder` could not be opened as wanted: a link, another kind of entry, or the
// error.
std::string refusal(int folder, const std::string& name, int openError, const char* wanted) {
  struct stat info {};
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(info.st_mode)) return "is a symbolic link, not followed";
    if (openError == ENOTDIR || openError == ENXIO) return std::string("is not ") + wanted;
  }
  return std::strerror(openError);
}

// The whole content of a file opened with openInFolder, when it is a regular file.
std::optional<std::string> readRegularFile(int fd, std::string& problem) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    problem = std::strerror(errno);
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    problem = "is not a regular file";
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      problem = std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;  // shrank meanwhile: what is there
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

bool isDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// An IMAP section number: digits separated by single dots.
bool isSectionNumber(std::string_view number) {
  for (std::size_t start = 0;;) {
    const std::size_t dot = number.find('.', start);
    if (!isDigits(number.substr(start, dot == std::string_view::npos ? dot : dot - start))) {
      return false;
    }
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

// Finder leaves these beside files it has shown; they are never the attachment.
bool isFinderLitter(std::string_view name) {
  return name == ".DS_Store" || name.starts_with("._");
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

// A stripped part's content as found, or why it was not taken.
struct FoundContent {
  std::optional<std::string> bytes;
  std::string problem;
};

// The content of the regular file `name` in `folder`, opened without following a link; else
// why not, after the file's `path`.
FoundContent readFileIn(int folder, const std::string& name, const fs::path& path) {
  const FileHandle file(openInFolder(folder, name, O_RDONLY));
  std::string problem;
  if (!file.ok()) {
    problem = refusal(folder, name, errno, "a regular file");
  } else if (auto bytes = readRegularFile(file.get(), problem)) {
    return {std::move(bytes), {}};
  }
  return {std::nullopt, path.string() + " " + problem};
}

// Where the stripped parts of one message are kept: Attachments/<n>/<part>/ beside the
// Messages folder and <n>.<part>.emlxpart beside the message, <n> being the message number
// (digits only). Nothing is taken through a link or from a special file, so that what goes into
// the mailbox comes from the store itself and nothing outside it.
class PartStore {
 public:
  explicit PartStore(const std::string& messagePath) {
    const fs::path path(messagePath);
    messagesFolder_ = path.parent_path();
    const std::string name = path.filename().string();
    messageNumber_ = name.substr(0, name.size() - std::min(name.size(), kPartialSuffix.size()));
    numbered_ = isDigits(messageNumber_);
    attachmentsFolder_ = messagesFolder_.parent_path() / "Attachments";
  }

  bool numbered() const { return numbered_; }

  // Whether an entry of any kind named `<n>.<part>.emlxpart` stands beside the message.
  bool hasEmlxpart(const std::string& number) const {
    struct stat info {};
    return numbered_ && isSectionNumber(number) &&
           ::lstat(emlxpartPath(number).c_str(), &info) == 0;
  }

  // The content of `<n>.<part>.emlxpart`, already transfer-encoded by Apple Mail.
  FoundContent emlxpart(const std::string& number) const {
    const fs::path file = emlxpartPath(number);
    const std::string name = file.filename().string();
    const FileHandle folder(::open(messagesFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.ok()) return {std::nullopt, file.string() + ": " + std::strerror(errno)};
    return readFileIn(folder.get(), name, file);
  }

  // The single regular file in Attachments/<n>/<part>/. The message's folder, the part's folder
  // and the file are each taken only when they are what they seem without following links.
  FoundContent attachment(const std::string& number) const {
    if (!isSectionNumber(number)) return {std::nullopt, "not found"};
    const FileHandle attachments(
        ::open(attachmentsFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!attachments.ok()) return {std::nullopt, "not found"};
    const fs::path messageFolder = attachmentsFolder_ / messageNumber_;
    const FileHandle message(
        openInFolder(attachments.get(), messageNumber_, O_RDONLY | O_DIRECTORY));
    if (!message.ok()) return missing(attachments.get(), messageNumber_, messageFolder, errno);
    const fs::path partFolder = messageFolder / number;
    const FileHandle part(openInFolder(message.get(), number, O_RDONLY | O_DIRECTORY));
    if (!part.ok()) return missing(message.get(), number, partFolder, errno);

    std::string name;
    if (auto problem = soleFileIn(part.get(), partFolder, name)) return {std::nullopt, *problem};
    FoundContent found = readFileIn(part.get(), name, partFolder / name);
    if (!found.bytes) found.problem.insert(0, "not taken: ");
    return found;
  }

 private:
  fs::path emlxpartPath(const std::string& number) const {
    return messagesFolder_ / (messageNumber_ + "." + number + ".emlxpart");
  }

  // A folder of the attachment's path that is not there, or not a plain folder.
  static FoundContent missing(int parent, const std::string& name, const fs::path& path,
                              int openError) {
    if (openError == ENOENT) return {std::nullopt, "not found"};
    return {std::nullopt,
            "not taken: " + path.string() + " " + refusal(parent, name, openError, "a folder")};
  }

  // The name of the one regular file in the part's folder (Finder's litter aside), or why
  // there is not exactly one. A link among the entries leaves the part as it is.
  static std::optional<std::string> soleFileIn(int folder, const fs::path& path,
                                               std::string& name) {
    DIR* listing = ::fdopendir(::dup(folder));
    if (listing == nullptr) {
      return "not found: its folder cannot be listed (" + std::string(std::strerror(errno)) + ")";
    }
    std::vector<std::string> files;
    std::optional<std::string> link;
    while (const dirent* entry = ::readdir(listing)) {
      const std::string_view entryName = entry->d_name;
      if (entryName == "." || entryName == ".." || isFinderLitter(entryName)) continue;
      struct stat info {};
      if (::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISREG(info.st_mode)) files.emplace_back(entryName);
      if (S_ISLNK(info.st_mode) && !link) link = std::string(entryName);
    }
    ::closedir(listing);
    if (link) return "not taken: " + (path / *link).string() + " is a symbolic link, not followed";
    if (files.empty()) return std::string("not found: its folder holds no file");
    if (files.size() > 1) {
      return "not found: its folder holds " + std::to_string(files.size()) + " files, expected one";
    }
    name = files.front();
    return std::nullopt;
  }

  fs::path messagesFolder_;
  fs::path attachmentsFolder_;
  std::string messageNumber_;
  bool numbered_ = false;
};

// What goes in place of a stripped part's body, or why nothing does.
struct RestoredBody {
  std::optional<std::string> content;
  std::string problem;
};

RestoredBody restoredBody(const PartStore& store, const LeafPart& part, std::string_view lineEnd) {
  if (!store.numbered()) {
    return {std::nullopt, "attachment of part " + part.number +
                              " not looked for: the file name holds no message number"};
  }
  if (store.hasEmlxpart(part.number)) {
    FoundContent encoded = store.emlxpart(part.number);
    if (!encoded.bytes) {
      return {std::nullopt, "part " + part.number + " not taken: " + encoded.problem};
    }
    return {withLineEnds(*encoded.bytes, lineEnd), {}};
  }
  FoundContent found = store.attachment(part.number);
  if (!found.bytes) {
    return {std::nullopt, "attachment of part " + part.number + " " + found.problem};
  }
  return {encodeForPart(*found.bytes, part.transferEncoding, lineEnd), {}};
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
      if (!part.body || part.body->begin != part.body->end || !store.hasEmlxpart(part.number)) {
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
