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

#include "conversion/apple_double.h"
#include "conversion/apple_flags.h"
#include "conversion/emlx_framing.h"
#include "conversion/partial_message.h"
#include "conversion/property_list.h"
#include "selection/emlx_name_filter.h"

namespace drovanta {

namespace {

constexpr std::string_view kFromLine = "From ";

// A whole file, read once. The buffer is kept from one message to the next: fresh memory for
// every message costs a page fault per page, which is more than the reading itself. Very large
// buffers are let go so that one huge message does not pin its size for the rest of a session.
class FileBuffer {
 public:
  char* reserve(std::size_t size) {
    if (size > capacity_ || capacity_ > kKeptCapacity) {
      data_.reset();  // free before allocating, so two big buffers never coexist
      capacity_ = size == 0 ? 1 : size;
      data_.reset(new char[capacity_]);
    }
    return data_.get();
  }
  bool busy() const { return busy_; }

  // Marks the buffer in use for one read.
  class Lease {
   public:
    explicit Lease(FileBuffer& buffer) : buffer_(buffer) { buffer_.busy_ = true; }
    ~Lease() {
      buffer_.busy_ = false;
      if (buffer_.capacity_ > kKeptCapacity) {
        buffer_.data_.reset();
        buffer_.capacity_ = 0;
      }
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

   private:
    FileBuffer& buffer_;
  };

 private:
  static constexpr std::size_t kKeptCapacity = std::size_t{64} << 20;
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  bool busy_ = false;
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

// Reads the whole file into `buffer` and gives its bytes.
Outcome<std::string_view> readWholeFile(const std::string& path, FileBuffer& buffer) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) return readFailure(path, errno);
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return readFailure(path, errno);
  if (S_ISDIR(status.st_mode)) return readFailure(path, EISDIR);
  if (!S_ISREG(status.st_mode)) {
    return Failure{FailureCode::MessageUnreadable, path, "Not a regular file"};
  }
  const auto expected = static_cast<std::size_t>(status.st_size);
  char* const data = buffer.reserve(expected);
  std::size_t size = 0;
  // Bytes appended after the size was taken are left for the next run; a file that shrank
  // gives what it still holds.
  while (size < expected) {
    const ssize_t got = ::read(file.get(), data + size, expected - size);
    if (got < 0) {
      if (errno == EINTR) continue;
      return readFailure(path, errno);
    }
    if (got == 0) break;
    size += static_cast<std::size_t>(got);
  }
  return std::string_view(data, size);
}

// Finds the bytes the text builder must look at: every CR, and every "F" with a space four bytes
// later (the only places where a "From " line can begin). Tests 16 bytes at a time, so that
// long runs without either (base64 above all) cost no more than a copy.
class CandidateScanner {
 public:
  explicit CandidateScanner(std::string_view bytes) : data_(bytes.data()), size_(bytes.size()) {}

  // The first candidate at or after `from`, or npos.
  std::size_t next(std::size_t from) const {
    std::size_t at = from;
    // 64 bytes per test while nothing turns up, then 16, then byte by byte to the candidate.
    for (; at + 64 + 4 <= size_; at += 64) {
      if (any(hits(at) | hits(at + 16) | hits(at + 32) | hits(at + 48))) break;
    }
    for (; at + 16 + 4 <= size_; at += 16) {
      if (any(hits(at))) break;
    }
    for (; at < size_; ++at) {
      if (isCandidate(at)) return at;
    }
    return std::string_view::npos;
  }

 private:
  using Block = unsigned char __attribute__((vector_size(16)));
  using Mask = signed char __attribute__((vector_size(16)));  // what comparing Blocks gives

  // Lanes set where the 16 bytes from `at` hold a candidate; reads up to at + 20.
  Mask hits(std::size_t at) const {
    Block here;
    Block fourOn;
    std::memcpy(&here, data_ + at, sizeof here);
    std::memcpy(&fourOn, data_ + at + 4, sizeof fourOn);
    return (here == '\r') | ((here == 'F') & (fourOn == ' '));
  }
  static bool any(Mask mask) {
    std::uint64_t lanes[2];
    std::memcpy(lanes, &mask, sizeof lanes);
    return (lanes[0] | lanes[1]) != 0;
  }

  bool isCandidate(std::size_t at) const {
    return data_[at] == '\r' || (data_[at] == 'F' && at + 4 < size_ && data_[at + 4] == ' ');
  }

  const char* data_;
  std::size_t size_;
};

// Builds the message text: `prefix` (already in its final form), then the message line by line.
// A line ends at CR or CR LF; a LF on its own is an ordinary character. Each line is appended
// with the record's line end and reported. Lines matching ^>*From  get one more ">" (mboxrd);
// for that a line starts at the start of the message or after any CR or LF, because readers
// split lines at LF. Copies runs between candidates, never single bytes.
void buildText(std::string_view message, std::string_view prefix, LineEnds lineEnds,
               const std::function<void(std::uint64_t)>& lineRead, bool mayBorrow,
               MessageText& result) {
  const std::string_view lineEnd = lineEnds == LineEnds::CrLf ? "\r\n" : "\n";
  const CandidateScanner scanner(message);
  std::size_t at = 0;
  if (mayBorrow && prefix.empty() && !message.empty()) {
    // Most messages hold no CR and no "From " line: their text is the message itself plus the
    // closing line end, and copying it would cost as much as reading it.
    at = scanner.next(0);
    if (at == std::string_view::npos) {
      result.borrowed = message;
      if (lineEnds == LineEnds::CrLf || message.back() != '\n') result.text = lineEnd;
      if (lineRead) lineRead(result.textLength());
      return;
    }
  }
  std::string& text = result.text;
  // Lone CRs and quotes make the text longer; an eighth more covers all but odd files, which
  // only pay for one regrowth.
  text.reserve(prefix.size() + message.size() + message.size() / 8 + 64);
  text.append(prefix);

  const char* const base = message.data();
  const std::size_t size = message.size();
  std::size_t copied = 0;  // message bytes before this offset are in `text`
  for (;;) {
    const std::size_t candidate = scanner.next(at);
    if (candidate == std::string_view::npos) break;
    if (base[candidate] == '\r') {
      text.append(base + copied, candidate - copied);
      text.append(lineEnd);
      copied = candidate + 1;
      if (copied < size && base[copied] == '\n') ++copied;
      if (lineRead) lineRead(text.size());
      at = copied;
      continue;
    }
    at = candidate + 1;
    if (message.compare(candidate, kFromLine.size(), kFromLine) != 0) continue;
    // Only ">" lie between the line start and "From ", and a line start, a CR or an earlier
    // "From " sits before any of them, so the line start is never before `copied`.
    std::size_t lineStart = candidate;
    while (lineStart > 0 && base[lineStart - 1] == '>') --lineStart;
    if (lineStart == 0 || base[lineStart - 1] == '\n' || base[lineStart - 1] == '\r') {
      text.append(base + copied, lineStart - copied);
      text.push_back('>');
      copied = lineStart;
    }
  }
  if (copied < size) {
    text.append(base + copied, size - copied);
    // In LF mode a LF already closes the text; the CR LF mode keeps the rule that a LF is part
    // of the line, so the line still gets its CR LF.
    if (lineEnds == LineEnds::CrLf || base[size - 1] != '\n') text.append(lineEnd);
    if (lineRead) lineRead(text.size());
  }
}

}  // namespace

Outcome<MessageText> ReadMessageText(const std::string& messagePath, const ReadProgress& progress,
                                     const RecordOptions& options) {
  // A window may start another conversion while it handles events during a progress report;
  // that read gets a buffer of its own instead of overwriting the one this read still uses.
  thread_local FileBuffer kept;
  FileBuffer ownBuffer;
  FileBuffer& buffer = kept.busy() ? ownBuffer : kept;
  const FileBuffer::Lease lease(buffer);
  const Outcome<std::string_view> file = readWholeFile(messagePath, buffer);
  if (!file) return file.failure();
  MessageText text = ReadMessageText(messagePath, *file, progress, options);
  // The buffer is reused by the next read: the text must own its bytes.
  if (!text.borrowed.empty()) text.text.insert(0, text.borrowed);
  text.borrowed = {};
  return text;
}

MessageText ReadMessageText(const std::string& messagePath, std::string_view bytes,
                            const ReadProgress& progress, const RecordOptions& options) {
  MessageText result;
  if (StartsAsAppleDouble(bytes)) {
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
  const bool partial = IsPartialMessageName(messagePath);
  if (std::string warning = CountLineWarning(bytes, frame, partial); !warning.empty()) {
    result.warnings.push_back({messagePath, std::move(warning)});
  }
  if (partial) {
    RebuiltMessage whole = RebuildPartialMessage(messagePath, message);
    rebuilt = std::move(whole.bytes);
    result.warnings.insert(result.warnings.end(), whole.warnings.begin(), whole.warnings.end());
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
  // Only bytes of the caller's file can be borrowed, not a rebuilt or trimmed copy made here.
  const bool mayBorrow = message.data() >= bytes.data() &&
                         message.data() + message.size() <= bytes.data() + bytes.size();
  buildText(message, prefix, options.lineEnds, progress.lineRead, mayBorrow, result);
  return result;
}

}  // namespace drovanta
