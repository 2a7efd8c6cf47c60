#include "conversion/message_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "conversion/apple_flags.h"
#include "conversion/emlx_framing.h"
#include "conversion/partial_message.h"
#include "conversion/property_list.h"
#include "selection/emlx_name_filter.h"

namespace drovanta {

namespace {

// Finder metadata that copying to FAT, exFAT or network drives leaves beside each file.
constexpr std::string_view kAppleDoubleMagic{"\x00\x05\x16\x07", 4};
constexpr std::string_view kFromLine = "From ";

// A whole file, read once into a buffer that is not zero-filled first.
struct FileBytes {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
  std::string_view view() const { return {data.get(), size}; }
};

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

Failure readFailure(const std::string& path, int error) {
  const FailureCode code = (error == ENOENT || error == ENOTDIR) ? FailureCode::MessageMissing
                                                                 : FailureCode::MessageUnreadable;
  return Failure{code, path, std::strerror(error)};
}

Outcome<FileBytes> readWholeFile(const std::string& path) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return readFailure(path, errno);
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return readFailure(path, errno);
  if (S_ISDIR(status.st_mode)) return readFailure(path, EISDIR);
  if (!S_ISREG(status.st_mode)) {
    return Failure{FailureCode::MessageUnreadable, path, "Not a regular file"};
  }
  FileBytes bytes;
  const auto expected = static_cast<std::size_t>(status.st_size);
  bytes.data.reset(new char[expected == 0 ? 1 : expected]);
  // Bytes appended after the size was taken are left for the next run; a file that shrank
  // gives what it still holds.
  while (bytes.size < expected) {
    const ssize_t got = ::read(file.get(), bytes.data.get() + bytes.size, expected - bytes.size);
    if (got < 0) {
      if (errno == EINTR) continue;
      return readFailure(path, errno);
    }
    if (got == 0) break;
    bytes.size += static_cast<std::size_t>(got);
  }
  return bytes;
}

// The next place in the message where a line matching ^>*From  starts, so that one more ">"
// goes in front of it (mboxrd). A line starts at the start of the message or after any CR or
// LF, because readers split lines at LF and a lone LF stays inside our lines.
class QuoteFinder {
 public:
  explicit QuoteFinder(std::string_view message) : message_(message) {}

  std::size_t next() {
    for (;;) {
      const std::size_t hit = message_.find(kFromLine, searchFrom_);
      if (hit == std::string_view::npos) {
        searchFrom_ = message_.size();
        return std::string_view::npos;
      }
      searchFrom_ = hit + 1;
      std::size_t lineStart = hit;
      while (lineStart > 0 && message_[lineStart - 1] == '>') --lineStart;
      if (lineStart == 0 || message_[lineStart - 1] == '\n' || message_[lineStart - 1] == '\r') {
        searchFrom_ = hit + kFromLine.size();
        return lineStart;
      }
    }
  }

 private:
  std::string_view message_;
  std::size_t searchFrom_ = 0;
};

std::size_t countCarriageReturns(std::string_view bytes) {
  std::size_t count = 0;
  const char* at = bytes.data();
  const char* const end = at + bytes.size();
  while (at < end) {
    const void* cr = std::memchr(at, '\r', static_cast<std::size_t>(end - at));
    if (cr == nullptr) break;
    ++count;
    at = static_cast<const char*>(cr) + 1;
  }
  return count;
}

// Builds the message text: `prefix` (already in its final form), then the message line by line.
// A line ends at CR or CR LF; a LF on its own is an ordinary character. Each line is appended
// with the record's line end and reported. Copies runs between candidates, never single bytes.
std::string buildText(std::string_view message, std::string_view prefix, LineEnds lineEnds,
                      const std::function<void(std::uint64_t)>& lineRead) {
  const std::string_view lineEnd = lineEnds == LineEnds::CrLf ? "\r\n" : "\n";
  std::string text;
  // Every CR may grow by one byte; a few quotes fit in the slack, more only cost a regrowth.
  const std::size_t growth = lineEnds == LineEnds::CrLf ? countCarriageReturns(message) : 0;
  text.reserve(prefix.size() + message.size() + growth + lineEnd.size() + 64);
  text.append(prefix);

  const auto report = [&] {
    if (lineRead) lineRead(text.size());
  };
  const char* const base = message.data();
  const std::size_t size = message.size();
  const auto findCr = [&](std::size_t from) {
    const void* cr = from < size ? std::memchr(base + from, '\r', size - from) : nullptr;
    return cr == nullptr ? std::string_view::npos
                         : static_cast<std::size_t>(static_cast<const char*>(cr) - base);
  };

  QuoteFinder quotes(message);
  std::size_t quote = quotes.next();
  std::size_t cr = findCr(0);
  std::size_t copied = 0;  // message bytes before this offset are in `text`
  for (;;) {
    if (quote < cr) {
      text.append(base + copied, quote - copied);
      text.push_back('>');
      copied = quote;
      quote = quotes.next();
      continue;
    }
    if (cr == std::string_view::npos) break;
    text.append(base + copied, cr - copied);
    text.append(lineEnd);
    copied = cr + 1;
    if (copied < size && base[copied] == '\n') ++copied;
    report();
    cr = findCr(copied);
  }
  if (copied < size) {
    text.append(base + copied, size - copied);
    // In LF mode a LF already closes the text; the CR LF mode keeps the rule that a LF is part
    // of the line, so the line still gets its CR LF.
    if (lineEnds == LineEnds::CrLf || base[size - 1] != '\n') text.append(lineEnd);
    report();
  }
  return text;
}

}  // namespace

Outcome<MessageText> ReadMessageText(const std::string& messagePath, const ReadProgress& progress,
                                     const RecordOptions& options) {
  Outcome<FileBytes> file = readWholeFile(messagePath);
  if (!file) return file.failure();
  const std::string_view bytes = file->view();

  MessageText result;
  if (bytes.substr(0, kAppleDoubleMagic.size()) == kAppleDoubleMagic) {
    result.notAMessage = true;
    return result;
  }

  const EmlxFrame frame = FrameEmlx(bytes, HasEmlxName(messagePath));
  std::string_view message = bytes.substr(frame.messageBegin, frame.messageLength);

  std::optional<std::uint64_t> flags;
  if (options.writeFlags && !frame.propertyList.empty()) {
    flags = ParsePropertyList(frame.propertyList).flags;
  }

  // A rebuilt partial message is longer than the stub that was read. Its length is the one
  // reported as the file length, so that progress against it ends near 100 % as for any other
  // message instead of running far past it.
  std::string rebuilt;
  if (IsPartialMessageName(messagePath)) {
    RebuiltMessage whole = RebuildPartialMessage(messagePath, message);
    rebuilt = std::move(whole.bytes);
    result.warnings = std::move(whole.warnings);
    message = rebuilt;
  }
  result.fileLength = message.size();

  std::string prefix;
  std::optional<std::string> withoutOldFlags;
  if (flags) {
    prefix = FlagHeaderLines(*flags, options.lineEnds == LineEnds::CrLf ? "\r\n" : "\n");
    withoutOldFlags = WithoutFlagHeaders(message);
    if (withoutOldFlags) message = *withoutOldFlags;
  }

  if (progress.opened) progress.opened(result.fileLength);
  result.text = buildText(message, prefix, options.lineEnds, progress.lineRead);
  return result;
}

}  // namespace drovanta
