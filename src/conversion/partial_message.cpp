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
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include "conversion/gmime_setup.h"

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

// A part's file, open: read piece by piece as the part is counted and again as it is written,
// never opened twice, so that what is written is what was looked at.
using PartFile = std::shared_ptr<const FileHandle>;

// Keeps `fd` (opened with openInFolder) when it is a regular file.
PartFile keepRegularFile(int fd, std::string& problem) {
  auto file = std::make_shared<const FileHandle>(fd);
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    problem = std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    problem = "is not a regular file";
    return nullptr;
  }
  return file;
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

// Parts are read and encoded in pieces of this size, so that no part is held whole.
constexpr std::size_t kChunk = std::size_t{64} << 10;

using Sink = std::function<bool(std::string_view)>;

// Hands on bytes with every line end (CR LF, lone CR, lone LF) made `lineEnd`, across pieces.
class LineEndConverter {
 public:
  LineEndConverter(std::string_view lineEnd, const Sink& sink) : lineEnd_(lineEnd), sink_(sink) {}

  bool feed(std::string_view bytes) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (pendingCr_) {
        pendingCr_ = false;
        if (c == '\n') {
          run = i + 1;
          continue;  // the LF of a CR LF already written
        }
      }
      if (c != '\r' && c != '\n') continue;
      if (!sink_(bytes.substr(run, i - run)) || !sink_(lineEnd_)) return false;
      pendingCr_ = c == '\r';
      run = i + 1;
    }
    return sink_(bytes.substr(run));
  }

 private:
  std::string_view lineEnd_;
  const Sink& sink_;
  bool pendingCr_ = false;  // the last byte was a CR: a LF right after it belongs to it
};

// Reads a part's file from its start, piece by piece, handing each piece to `take` and an empty
// piece at the end; stops early when `take` says false.
MaybeFailure readPart(const MessagePiece& piece, const Sink& take) {
  const auto* file = static_cast<const FileHandle*>(piece.handle.get());
  if (file == nullptr || !file->ok()) {
    return Failure{FailureCode::MessageUnreadable, piece.file, std::strerror(EBADF)};
  }
  std::vector<char> chunk(kChunk);
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(file->get(), chunk.data(), chunk.size(), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Failure{FailureCode::MessageUnreadable, piece.file, std::strerror(errno)};
    offset += got;
    if (!take(std::string_view(chunk.data(), static_cast<std::size_t>(got))) || got == 0) {
      return std::nullopt;
    }
  }
}

GMimeContentEncoding encodingOf(const MessagePiece& piece) {
  if (piece.kind != MessagePiece::Kind::Content) return GMIME_CONTENT_ENCODING_DEFAULT;
  return g_mime_content_encoding_from_string(piece.transferEncoding.c_str());
}

// Length of GMime's base64 of `size` bytes: four characters per three bytes or fewer, a line
// end after every 76 characters and after the last line.
std::uint64_t base64Length(std::uint64_t size, std::string_view lineEnd) {
  constexpr std::uint64_t kGroupsPerLine = 76 / 4;
  const std::uint64_t groups = (size + 2) / 3;
  const std::uint64_t lines = (groups + kGroupsPerLine - 1) / kGroupsPerLine;
  return groups * 4 + lines * lineEnd.size();
}

// Reads the file of a part piece by piece and hands on what goes in place of the part's body:
// an .emlxpart file's bytes with the message's line ends, an attachment transfer-encoded as the
// part declares. `refused` tells a sink that refused from a file that could not be read.
MaybeFailure streamPart(const MessagePiece& piece, std::string_view lineEnd, const Sink& sink,
                        bool& refused) {
  const GMimeContentEncoding encoding = encodingOf(piece);
  const bool encodes = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                       encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
                       encoding == GMIME_CONTENT_ENCODING_UUENCODE;
  // The encoders end lines with LF; an .emlxpart file may end them any way.
  const bool convert = piece.kind == MessagePiece::Kind::Encoded || (encodes && lineEnd != "\n");
  LineEndConverter converter(lineEnd, sink);
  const Sink out = [&](std::string_view bytes) {
    if (bytes.empty()) return true;
    if (!(convert ? converter.feed(bytes) : sink(bytes))) {
      refused = true;
      return false;
    }
    return true;
  };

  GMimeEncoding state;
  if (encodes) g_mime_encoding_init_encode(&state, encoding);
  std::vector<char> encoded(encodes ? g_mime_encoding_outlen(&state, kChunk) + 64 : 0);
  // Read from the start each time: the file is counted first and written later.
  return readPart(piece, [&](std::string_view bytes) {
    if (!encodes) return out(bytes);
    const bool last = bytes.empty();
    const std::size_t length =
        last ? g_mime_encoding_flush(&state, bytes.data(), 0, encoded.data())
             : g_mime_encoding_step(&state, bytes.data(), bytes.size(), encoded.data());
    return out(std::string_view(encoded.data(), length));
  });
}

// The length of what streamPart() writes for the part, its file read through so that a file
// that cannot be read is known before anything is written. Base64 is counted without encoding.
MaybeFailure countPart(const MessagePiece& piece, std::string_view lineEnd, std::uint64_t& length) {
  length = 0;
  bool refused = false;
  if (encodingOf(piece) != GMIME_CONTENT_ENCODING_BASE64) {
    return streamPart(
        piece, lineEnd,
        [&](std::string_view bytes) {
          length += bytes.size();
          return true;
        },
        refused);
  }
  std::uint64_t size = 0;
  MaybeFailure failure = readPart(piece, [&](std::string_view bytes) {
    size += bytes.size();
    return true;
  });
  length = base64Length(size, lineEnd);
  return failure;
}

std::string_view lineEndOf(std::string_view bytes) {
  const auto newline = bytes.find('\n');
  if (newline != std::string_view::npos && newline > 0 && bytes[newline - 1] == '\r') {
    return "\r\n";
  }
  return "\n";
}

// A stripped part's content as found, or why it was not taken.
struct FoundFile {
  PartFile file;
  std::string path;
  std::string problem;
};

// Opens `name` in `folder` (its path `path`) when it is a regular file, without following a link.
FoundFile openFileIn(int folder, const std::string& name, const fs::path& path) {
  const int fd = openInFolder(folder, name, O_RDONLY);
  std::string problem;
  if (fd < 0) {
    problem = refusal(folder, name, errno, "a regular file");
  } else if (PartFile file = keepRegularFile(fd, problem)) {
    return {std::move(file), path.string(), {}};
  }
  return {nullptr, path.string(), path.string() + " " + problem};
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
  FoundFile emlxpart(const std::string& number) const {
    const fs::path file = emlxpartPath(number);
    const std::string name = file.filename().string();
    const FileHandle folder(::open(messagesFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.ok()) return {nullptr, file.string(), file.string() + ": " + std::strerror(errno)};
    return openFileIn(folder.get(), name, file);
  }

  // The single regular file in Attachments/<n>/<part>/. The message's folder, the part's folder
  // and the file are each taken only when they are what they seem without following links.
  FoundFile attachment(const std::string& number) const {
    if (!isSectionNumber(number)) return {nullptr, {}, "not found"};
    const FileHandle attachments(
        ::open(attachmentsFolder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!attachments.ok()) return {nullptr, {}, "not found"};
    const fs::path messageFolder = attachmentsFolder_ / messageNumber_;
    const FileHandle message(
        openInFolder(attachments.get(), messageNumber_, O_RDONLY | O_DIRECTORY));
    if (!message.ok()) return missing(attachments.get(), messageNumber_, messageFolder, errno);
    const fs::path partFolder = messageFolder / number;
    const FileHandle part(openInFolder(message.get(), number, O_RDONLY | O_DIRECTORY));
    if (!part.ok()) return missing(message.get(), number, partFolder, errno);

    std::string name;
    if (auto problem = soleFileIn(part.get(), partFolder, name)) return {nullptr, {}, *problem};
    FoundFile found = openFileIn(part.get(), name, partFolder / name);
    if (!found.file) found.problem.insert(0, "not taken: ");
    return found;
  }

 private:
  fs::path emlxpartPath(const std::string& number) const {
    return messagesFolder_ / (messageNumber_ + "." + number + ".emlxpart");
  }

  // A folder of the attachment's path that is not there, or not a plain folder.
  static FoundFile missing(int parent, const std::string& name, const fs::path& path,
                           int openError) {
    if (openError == ENOENT) return {nullptr, {}, "not found"};
    return {nullptr,
            {},
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

// What goes in place of a stripped part's body and how long it is, or why nothing does.
struct RestoredBody {
  std::optional<MessagePiece> piece;
  std::uint64_t length = 0;
  std::string problem;
};

RestoredBody restoredBody(const PartStore& store, const LeafPart& part, std::string_view lineEnd) {
  if (!store.numbered()) {
    return {std::nullopt, 0,
            "attachment of part " + part.number +
                " not looked for: the file name holds no message number"};
  }
  MessagePiece piece;
  FoundFile found;
  std::string what;
  if (store.hasEmlxpart(part.number)) {
    // Already transfer-encoded by Apple Mail.
    found = store.emlxpart(part.number);
    if (!found.file)
      return {std::nullopt, 0, "part " + part.number + " not taken: " + found.problem};
    piece.kind = MessagePiece::Kind::Encoded;
    what = "part " + part.number;
  } else {
    found = store.attachment(part.number);
    if (!found.file)
      return {std::nullopt, 0, "attachment of part " + part.number + " " + found.problem};
    piece.kind = MessagePiece::Kind::Content;
    piece.transferEncoding = part.transferEncoding;
    what = "attachment of part " + part.number;
  }
  piece.file = found.path;
  piece.handle = found.file;
  // Counted here, so that a file that cannot be read leaves its stub; written later.
  RestoredBody body;
  const MaybeFailure failure = countPart(piece, lineEnd, body.length);
  if (failure) {
    return {std::nullopt, 0,
            what + " could not be read from " + piece.file + ": " + failure->reason};
  }
  body.piece = std::move(piece);
  return body;
}

}  // namespace

bool IsPartialMessageName(const std::string& messagePath) {
  if (messagePath.size() < kPartialSuffix.size()) return false;
  return equalsIgnoringCase(
      std::string_view(messagePath).substr(messagePath.size() - kPartialSuffix.size()),
      kPartialSuffix);
}

PartialMessagePlan PlanPartialMessage(const std::string& messagePath,
                                      std::string_view messageBytes) {
  EnsureGMime();
  PartialMessagePlan plan;
  const std::vector<LeafPart> parts = collectLeafParts(messageBytes);
  const PartStore store(messagePath);
  plan.lineEnd = std::string(lineEndOf(messageBytes));

  // Splices in document order: everything between the edits is the message as it was.
  std::size_t copied = 0;
  const auto stub = [&](std::size_t end) {
    if (end > copied)
      plan.pieces.push_back({MessagePiece::Kind::Stub, copied, end, {}, {}, {}, {}});
    plan.length += end - copied;
  };
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
      plan.warnings.push_back(
          {messagePath, "part " + part.number + " has no end to its header block, left as it is"});
      continue;
    }
    if (stripped && part.strippedHeaders.front().begin < copied) continue;  // overlapping: leave
    if (part.body->begin < copied) continue;

    RestoredBody body = restoredBody(store, part, plan.lineEnd);
    if (!body.piece) {
      plan.warnings.push_back({messagePath, std::move(body.problem)});
      continue;
    }
    for (const Span& header : part.strippedHeaders) {
      if (header.end > part.body->begin) break;
      stub(header.begin);
      copied = header.end;
    }
    stub(part.body->begin);
    plan.pieces.push_back(std::move(*body.piece));
    plan.length += body.length;
    // A delimiter that followed the header block directly needs the line end in front of it
    // that belongs to it.
    const auto after = messageBytes.substr(part.body->end);
    if (!after.empty() && after[0] != '\n' && after[0] != '\r') {
      plan.pieces.push_back({MessagePiece::Kind::Literal, 0, 0, plan.lineEnd, {}, {}, {}});
      plan.length += plan.lineEnd.size();
    }
    copied = part.body->end;
  }
  stub(messageBytes.size());
  return plan;
}

MaybeFailure StreamPartialMessage(const PartialMessagePlan& plan, std::string_view messageBytes,
                                  const std::function<bool(std::string_view)>& sink,
                                  bool& sinkRefused) {
  sinkRefused = false;
  for (const MessagePiece& piece : plan.pieces) {
    switch (piece.kind) {
      case MessagePiece::Kind::Stub:
        sinkRefused = !sink(messageBytes.substr(piece.begin, piece.end - piece.begin));
        break;
      case MessagePiece::Kind::Literal:
        sinkRefused = !sink(piece.text);
        break;
      case MessagePiece::Kind::Encoded:
      case MessagePiece::Kind::Content:
        if (MaybeFailure failure = streamPart(piece, plan.lineEnd, sink, sinkRefused)) {
          return failure;
        }
        break;
    }
    if (sinkRefused) return std::nullopt;
  }
  return std::nullopt;
}

RebuiltMessage RebuildPartialMessage(const std::string& messagePath,
                                     std::string_view messageBytes) {
  const PartialMessagePlan plan = PlanPartialMessage(messagePath, messageBytes);
  RebuiltMessage result;
  result.warnings = plan.warnings;
  result.bytes.reserve(plan.length);
  bool refused = false;
  const MaybeFailure failure = StreamPartialMessage(
      plan, messageBytes,
      [&](std::string_view bytes) {
        result.bytes.append(bytes);
        return true;
      },
      refused);
  if (failure) result.warnings.push_back({messagePath, describe(*failure)});
  return result;
}

}  // namespace drovanta
