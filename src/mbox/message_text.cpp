#include "mbox/message_text.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "mbox/flag_headers.h"

namespace drovanta {

namespace {

// A message is read in windows of this size: its pages are asked for ahead and let go after,
// so that memory does not grow with the message.
constexpr std::size_t kWindow = std::size_t{4} << 20;
// Progress is reported at most once per block of this size as the text is streamed, and once
// per step of kCopyStep as the kernel copies it.
constexpr std::size_t kReportBlock = std::size_t{64} << 10;
constexpr std::size_t kCopyStep = std::size_t{1} << 20;
// The flag headers are looked for only this far into a header block that never ends.
constexpr std::size_t kHeaderLimit = std::size_t{8} << 20;

// Where the header lines end: at the empty line that closes the header block, or at the end of
// a message without one (for a huge one, at a line start within the first kHeaderLimit bytes).
std::size_t headerLinesEnd(std::string_view message) {
  const std::string_view look = message.substr(0, kHeaderLimit);
  std::size_t lineStart = 0;
  while (lineStart < look.size()) {
    const std::size_t end = look.find_first_of("\r\n", lineStart);
    if (end == std::string_view::npos) break;
    if (end == lineStart) return lineStart;
    lineStart = end + (look[end] == '\r' && end + 1 < look.size() && look[end + 1] == '\n' ? 2 : 1);
  }
  return message.size() <= kHeaderLimit ? message.size() : lineStart;
}

// Counts what it is given; the text goes nowhere.
class CountingOutput : public RecordOutput {
 public:
  bool write(std::string_view) override { return true; }
  bool copyFileRange(int, std::uint64_t, std::uint64_t) override { return true; }
};

}  // namespace

bool StringOutput::copyFileRange(int fd, std::uint64_t offset, std::uint64_t length) {
  const std::size_t before = text_.size();
  text_.resize(before + length);
  std::size_t got = 0;
  while (got < length) {
    const ssize_t n =
        ::pread(fd, text_.data() + before + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      text_.resize(before + got);
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  return true;
}

MessageTextWriter::MessageTextWriter(const SourceMessage& source, const RecordOptions& options)
    : path_(source.path), file_(*source.file), options_(options) {
  const std::string_view message = source.message;
  fileLength_ = source.length();
  form_ = RecordFormFor(options.lineEnds, throughFirstLineEnd(message));
  body_ = message;
  partial_ = source.partial;

  if (options.writeFlags && source.state) {
    prefix_ = FlagHeaderLines(*source.state, form_.lineEnd());
    // Only the header lines are rewritten; the rest of the message is written as it lies.
    std::size_t headerEnd = headerLinesEnd(message);
    if (partial_) {
      // The header lies in the first piece, before any part put back.
      auto& pieces = partial_->pieces;
      const bool headerFirst = !pieces.empty() && pieces[0].kind == MessagePiece::Kind::Stub &&
                               pieces[0].begin == 0 && pieces[0].end >= headerEnd;
      if (!headerFirst) headerEnd = 0;
    }
    if (auto kept = WithoutFlagHeaders(message.substr(0, headerEnd))) {
      head_ = std::move(*kept);
      body_ = message.substr(headerEnd);
      if (partial_) partial_->pieces[0].begin = headerEnd;
    }
  }
}

// The message through its first line end, which decides the record's form (empty when it has
// none). It is looked for a window at a time, the pages of a mapped file let go of behind the
// search, so that a huge message without line ends is not held in memory whole.
std::string_view MessageTextWriter::throughFirstLineEnd(std::string_view message) const {
  const std::size_t offset = static_cast<std::size_t>(message.data() - file_.bytes().data());
  for (std::size_t window = 0; window < message.size(); window += kWindow) {
    const std::size_t windowEnd = std::min(message.size(), window + kWindow);
    const std::size_t found = message.substr(window, windowEnd - window).find_first_of("\r\n");
    // The byte after a CR tells a CR LF from a lone CR.
    if (found != std::string_view::npos) return message.substr(0, window + found + 2);
    file_.release(offset + window, offset + windowEnd);
  }
  return message.substr(0, 0);  // no line end: the form of a message without any
}

bool MessageTextWriter::bodyInFile() const {
  const std::string_view fileBytes = file_.bytes();
  return !body_.empty() && body_.data() >= fileBytes.data() &&
         body_.data() + body_.size() <= fileBytes.data() + fileBytes.size();
}

bool MessageTextWriter::write(RecordOutput& out,
                              const std::function<void(std::uint64_t)>& lineRead) {
  const bool written = options_.kernelCopy && file_.mapped() && bodyInFile() && prefix_.empty() &&
                               head_.empty() && !partial_
                           ? writeUnchanged(out, lineRead)
                           : writeStreamed(out, lineRead);
  if (file_.changed()) {
    // What was written may hold zeros where the file was cut, or the halves of two versions of
    // a file rewritten meanwhile: the record is taken back.
    readFailure_ =
        Failure{FailureCode::MessageUnreadable, path_, "the file changed while it was read"};
    return false;
  }
  return written;
}

bool MessageTextWriter::writeStreamed(RecordOutput& out,
                                      const std::function<void(std::uint64_t)>& lineRead) {
  const bool inFile = bodyInFile();
  const std::size_t offset =
      inFile ? static_cast<std::size_t>(body_.data() - file_.bytes().data()) : 0;
  TextStream stream(form_, out);
  std::uint64_t reported = 0;
  const auto report = [&] {
    if (lineRead && stream.lengthAtLastLineEnd() > reported) {
      reported = stream.lengthAtLastLineEnd();
      lineRead(reported);
    }
  };
  bool ok = stream.start(prefix_) && stream.feed(head_);
  const auto feed = [&](std::string_view bytes, bool kept) {
    for (std::size_t block = 0; ok && block < bytes.size(); block += kReportBlock) {
      ok = stream.feed(bytes.substr(block, kReportBlock), kept);
      report();
    }
    return ok;
  };
  if (partial_) {
    // The pieces of a part are read into buffers that the next piece overwrites.
    bool refused = false;
    readFailure_ = StreamPartialMessage(
        *partial_, body_, [&](std::string_view bytes) { return feed(bytes, false); }, refused);
    if (readFailure_) ok = false;
  }
  for (std::size_t window = 0; ok && !partial_ && window < body_.size(); window += kWindow) {
    const std::size_t windowEnd = std::min(body_.size(), window + kWindow);
    if (inFile) file_.prefetch(offset + window, offset + windowEnd);
    feed(body_.substr(window, windowEnd - window), true);
    // The window before this one is let go: the output may still hold pieces of this one.
    if (inFile && window >= kWindow) file_.release(offset + window - kWindow, offset + window);
  }
  ok = ok && stream.finish();
  textLength_ = stream.length();
  report();
  return ok;
}

// A message that lies in its file goes out as the file's bytes, moved by the kernel, for as long
// as nothing in it changes: each window is scanned by a stream that writes nowhere, then the
// bytes it passed unchanged are copied. At the first change the stream goes back to the start of
// that window and from there on writes to the output, so nothing is scanned twice.
bool MessageTextWriter::writeUnchanged(RecordOutput& out,
                                       const std::function<void(std::uint64_t)>& lineRead) {
  const auto offset = static_cast<std::size_t>(body_.data() - file_.bytes().data());
  CountingOutput nowhere;
  TextStream stream(form_, nowhere);
  std::uint64_t copied = 0;  // message bytes in the output
  std::uint64_t reported = 0;
  const auto report = [&](std::uint64_t length) {
    if (lineRead && length > reported) {
      reported = length;
      lineRead(length);
    }
  };
  bool streaming = false;  // a change came: the stream writes to the output
  bool ok = true;
  for (std::size_t window = 0; ok && window < body_.size(); window += kWindow) {
    const std::size_t windowEnd = std::min(body_.size(), window + kWindow);
    const std::string_view bytes = body_.substr(window, windowEnd - window);
    file_.prefetch(offset + window, offset + windowEnd);
    if (!streaming) {
      const TextStream atWindow = stream;
      stream.feed(bytes);
      if (stream.changed()) {
        stream = atWindow;
        stream.setOutput(out);
        streaming = true;
      } else {
        // Everything the stream passed on so far is the message's own bytes: copy them, and
        // report the text at the last line end of each step.
        const std::uint64_t settled = stream.length();
        while (ok && copied < settled) {
          const std::uint64_t step = std::min<std::uint64_t>(kCopyStep, settled - copied);
          ok = out.copyKept(
              file_.fd(), offset + copied,
              body_.substr(static_cast<std::size_t>(copied), static_cast<std::size_t>(step)));
          copied += step;
          const void* lf = ::memrchr(body_.data() + copied - step, '\n', step);
          if (lf != nullptr) {
            report(static_cast<std::uint64_t>(static_cast<const char*>(lf) - body_.data()) + 1);
          }
        }
      }
    }
    for (std::size_t block = 0; ok && streaming && block < bytes.size(); block += kReportBlock) {
      ok = stream.feed(bytes.substr(block, kReportBlock));
      report(stream.lengthAtLastLineEnd());
    }
    // The window before this one is let go: the output may still hold pieces of this one.
    if (window >= kWindow) file_.release(offset + window - kWindow, offset + window);
  }
  // What the stream held back at the end, and what the end needs, go to the output either way.
  stream.setOutput(out);
  ok = ok && stream.finish();
  textLength_ = stream.length();
  report(stream.lengthAtLastLineEnd());
  return ok;
}

void BodyByteCounter::feed(std::string_view bytes) {
  std::size_t at = 0;
  for (; inHeader_ && at < bytes.size(); ++at) {
    const char c = bytes[at];
    if (c == '\n') {
      // An empty line, or one of a lone CR (a CR LF line end), ends the header block.
      if (lineLength_ == 0 || (lineLength_ == 1 && lineStartsWithCr_)) inHeader_ = false;
      lineLength_ = 0;
    } else {
      if (lineLength_ == 0) lineStartsWithCr_ = c == '\r';
      ++lineLength_;
    }
  }
  body_.feed(bytes.substr(at));
}

namespace {

// Feeds a BodyByteCounter with everything written, file ranges read for it.
class BodyCountingOutput : public RecordOutput {
 public:
  bool write(std::string_view bytes) override {
    counter.feed(bytes);
    return true;
  }
  bool copyKept(int, std::uint64_t, std::string_view bytes) override { return write(bytes); }
  bool copyFileRange(int fd, std::uint64_t offset, std::uint64_t length) override {
    std::string bytes;
    return StringOutput(bytes).copyFileRange(fd, offset, length) && write(bytes);
  }
  BodyByteCounter counter;
};

}  // namespace

std::optional<std::uint64_t> BodyBytesOfMessage(const SourceMessage& source,
                                                const RecordOptions& options) {
  MessageTextWriter writer(source, options);
  BodyCountingOutput out;
  if (!writer.write(out, {})) return std::nullopt;
  return out.counter.count();
}

}  // namespace drovanta
