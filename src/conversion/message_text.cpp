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

// Where a line ends: the next LF, or also the next CR when `withCr`. Tests 16 bytes at a time,
// so that long lines (base64 above all) cost little more than a copy.
std::size_t nextLineEnd(std::string_view bytes, std::size_t from, bool withCr) {
  const char* const data = bytes.data();
  const std::size_t size = bytes.size();
  if (from >= size) return std::string_view::npos;
  if (!withCr) {
    const void* found = std::memchr(data + from, '\n', size - from);
    return found == nullptr ? std::string_view::npos
                            : static_cast<std::size_t>(static_cast<const char*>(found) - data);
  }
  using Block = unsigned char __attribute__((vector_size(16)));
  using Mask = signed char __attribute__((vector_size(16)));  // what comparing Blocks gives
  std::size_t at = from;
  for (; at + 16 <= size; at += 16) {
    Block here;
    std::memcpy(&here, data + at, sizeof here);
    const Mask hits = (here == '\r') | (here == '\n');
    std::uint64_t lanes[2];
    std::memcpy(lanes, &hits, sizeof lanes);
    if ((lanes[0] | lanes[1]) != 0) break;
  }
  for (; at < size; ++at) {
    if (data[at] == '\r' || data[at] == '\n') return at;
  }
  return std::string_view::npos;
}

// How one record writes its lines.
struct RecordForm {
  LineEnds lineEnds = LineEnds::CrLf;  // settled: CrLf or Lf
  bool loneCrEndsLine = true;          // a lone CR is a line end, written as the record's one
  bool rewriteCrLf = false;            // CR LF is written as LF
  bool rewriteLoneLf = false;          // a lone LF is written as CR LF

  std::string_view lineEnd() const { return RecordLineEnd(lineEnds); }
};

// In the automatic mode a record takes the convention of its message's first line end; a lone CR
// (old Mac files) and a message without any line end get CR LF. Nothing but lone CRs is changed
// then: they would otherwise run a CR LF record's lines together for readers that split at LF.
RecordForm recordFormFor(LineEnds mode, std::string_view message) {
  switch (mode) {
    case LineEnds::CrLf:
      return {LineEnds::CrLf, true, false, true};
    case LineEnds::Lf:
      return {LineEnds::Lf, true, true, false};
    case LineEnds::Auto:
      break;
  }
  const std::size_t first = nextLineEnd(message, 0, true);
  if (first != std::string_view::npos && message[first] == '\n') {
    return {LineEnds::Lf, false, false, false};
  }
  return {LineEnds::CrLf, true, false, false};
}

// Builds the message text: `prefix` (already in its final form), then the message line by line
// in the record's form. Lines matching ^>*From  get one more ">" (mboxrd), judged on the final
// bytes: a line starts at the start of the message and after each line end of the record. The
// text is only copied once something changes; a message that needs no change is borrowed.
class TextBuilder {
 public:
  TextBuilder(std::string_view message, const RecordForm& form,
              const std::function<void(std::uint64_t)>& lineRead, MessageText& result)
      : message_(message), form_(form), lineRead_(lineRead), text_(result.text) {}

  void build(std::string_view prefix, bool mayBorrow, MessageText& result) {
    if (!prefix.empty()) startCopy(prefix);
    std::size_t lineStart = 0;
    for (;;) {
      quoteIfFromLine(lineStart);
      const std::size_t end = nextLineEnd(message_, lineStart, form_.loneCrEndsLine);
      if (end == std::string_view::npos) break;
      lineStart = endLine(lineStart, end);
      if (lineRead_) lineRead_(lengthAt(lineStart));
    }
    const std::size_t size = message_.size();
    const std::string_view lineEnd = form_.lineEnd();
    // What the end of the message still needs: its last line end, and the empty line that ends
    // a header without a body (a header-only message, an empty file), so that no reader takes
    // the next record for this message's body.
    std::string closing;
    // The flag headers put before an empty message end with a line end of their own.
    const bool endsWithLineEnd =
        size == 0
            ? !prefix.empty()
            : message_[size - 1] == '\n' || (form_.loneCrEndsLine && message_[size - 1] == '\r');
    if (!endsWithLineEnd) {
      // A last line that is empty once its line end is added: nothing at all, or (where a lone CR
      // is kept) a single CR.
      const std::size_t lastLine = size - lineStart;
      if (lastLine == 0 || (lastLine == 1 && message_[lineStart] == '\r')) emptyLineSeen_ = true;
      closing.append(lineEnd);
    }
    if (!emptyLineSeen_) closing.append(lineEnd);

    if (!copying_ && mayBorrow && size > 0) {
      result.borrowed = message_;
      text_.assign(closing);
    } else {
      if (!copying_) startCopy({});
      text_.append(message_.data() + copied_, size - copied_);
      copied_ = size;
      text_.append(closing);
    }
    result.lineEnds = form_.lineEnds;
    // One report per line end added at the end.
    if (lineRead_) {
      const std::uint64_t before = result.textLength() - closing.size();
      for (std::size_t i = lineEnd.size(); i <= closing.size(); i += lineEnd.size()) {
        lineRead_(before + i);
      }
    }
  }

 private:
  // The length of the text built up to message offset `at`.
  std::uint64_t lengthAt(std::size_t at) const { return text_.size() + (at - copied_); }

  void startCopy(std::string_view prefix) {
    copying_ = true;
    // Lone CRs and quotes make the text longer; an eighth more covers all but odd files, which
    // only pay for one regrowth.
    const std::size_t size = message_.size();
    text_.reserve(prefix.size() + size + size / 8 + 64);
    text_.append(prefix);
  }

  // Writes `replacement` in place of `consumed` message bytes at offset `at`.
  void change(std::size_t at, std::string_view replacement, std::size_t consumed) {
    if (!copying_) startCopy({});
    text_.append(message_.data() + copied_, at - copied_);
    text_.append(replacement);
    copied_ = at + consumed;
  }

  void quoteIfFromLine(std::size_t lineStart) {
    static constexpr std::string_view kFromLine = "From ";
    std::size_t at = lineStart;
    while (at < message_.size() && message_[at] == '>') ++at;
    if (message_.compare(at, kFromLine.size(), kFromLine) == 0) change(lineStart, ">", 0);
  }

  // The line from lineStart ends at `end` (a LF, or a CR where CRs end lines); gives where the
  // next line starts.
  std::size_t endLine(std::size_t lineStart, std::size_t end) {
    const std::string_view lineEnd = form_.lineEnd();
    // A line holding nothing, or only a CR kept before its LF, is empty to every reader.
    if (end == lineStart ||
        (end == lineStart + 1 && message_[lineStart] == '\r' && message_[end] == '\n')) {
      emptyLineSeen_ = true;
    }
    if (message_[end] == '\n') {
      if (form_.rewriteLoneLf) change(end, lineEnd, 1);
      return end + 1;
    }
    if (end + 1 < message_.size() && message_[end + 1] == '\n') {
      if (form_.rewriteCrLf) change(end, lineEnd, 2);
      return end + 2;
    }
    change(end, lineEnd, 1);  // a lone CR ending a line
    return end + 1;
  }

  std::string_view message_;
  const RecordForm& form_;
  const std::function<void(std::uint64_t)>& lineRead_;
  std::string& text_;
  bool copying_ = false;  // text_ holds the text up to message offset copied_
  std::size_t copied_ = 0;
  bool emptyLineSeen_ = false;
};

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

  const RecordForm form = recordFormFor(options.lineEnds, message);
  std::string prefix;
  std::optional<std::string> withoutOldFlags;
  if (flags) {
    prefix = FlagHeaderLines(*flags, form.lineEnd());
    withoutOldFlags = WithoutFlagHeaders(message);
    if (withoutOldFlags) message = *withoutOldFlags;
  }

  if (progress.opened) progress.opened(result.fileLength);
  // Only bytes of the caller's file can be borrowed, not a rebuilt or trimmed copy made here.
  const bool mayBorrow = message.data() >= bytes.data() &&
                         message.data() + message.size() <= bytes.data() + bytes.size();
  TextBuilder(message, form, progress.lineRead, result).build(prefix, mayBorrow, result);
  return result;
}

}  // namespace drovanta
