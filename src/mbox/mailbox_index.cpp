#include "mbox/mailbox_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "mbox/mailbox_check.h"
#include "mbox/mailbox_lock.h"
#include "mbox/unquoted_byte_count.h"

namespace drovanta {
namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// A header block longer than this is not kept whole: its record gets no key, so a message
// like it is written again rather than left out.
constexpr std::size_t kLongestHeader = std::size_t{16} << 20;

// Splits the mailbox into records line by line and keys each record's header block. A record is
// known once the next one starts; the last one once the file ends with an empty line, and then
// only with the size of its body: a last record cut short (a killed run, a power cut) must be
// written again, not taken as there.
class RecordKeys {
 public:
  explicit RecordKeys(MailboxIndex& index) : index_(index) {}

  // One piece of a line: the whole line unless it is longer than the buffer. `lineEnd`: the
  // piece ends the line (its LF taken off); false for a last line without a line end. True when
  // the line starts a record.
  bool piece(std::string_view bytes, bool lineStart, bool lineEnd) {
    if (lineEnd && !bytes.empty() && bytes.back() == '\r') bytes.remove_suffix(1);
    if (inHeader_) {
      if (lineStart && lineEnd && bytes.empty()) {
        endHeader();
        afterEmpty_ = true;
        return false;
      }
      if (header_.size() + bytes.size() <= kLongestHeader) {
        header_.append(bytes);
        if (lineEnd) header_ += '\n';
      } else {
        tooLong_ = true;
      }
      return false;
    }
    if (lineStart) {
      lineAfterHeader_ = true;
      if (afterEmpty_ && bytes.substr(0, 5) == "From ") {
        keepPending();
        inHeader_ = true;
        header_.clear();
        tooLong_ = false;
        afterEmpty_ = false;
        return true;
      }
      afterEmpty_ = lineEnd && bytes.empty();
    }
    body_.feed(bytes);
    if (lineEnd) body_.feed("\n");
    return false;
  }

  // The writer ends every record with an empty line, and puts at least that line after the
  // header block: a last record without either is torn (so is one whose header block never
  // ended). Another program's mailbox that ends otherwise has its last message written again:
  // a duplicate, never a loss.
  void finish() {
    if (!inHeader_ && afterEmpty_ && lineAfterHeader_ && pending_) {
      index_.setLast(*pending_, body_.count());
    }
  }

 private:
  void endHeader() {
    inHeader_ = false;
    lineAfterHeader_ = false;
    body_ = {};
    if (!tooLong_) pending_ = MessageKeyOf(header_, true);
  }

  void keepPending() {
    if (pending_) index_.add(*pending_);
    pending_.reset();
  }

  MailboxIndex& index_;
  std::string header_;
  std::optional<MessageKey> pending_;  // the key of the last record, not yet known to be whole
  bool inHeader_ = false;
  bool lineAfterHeader_ = true;  // a line follows the last header block's empty line
  UnquotedByteCount body_;       // of the last record: as BodyByteCounter counts them
  bool tooLong_ = false;
  bool afterEmpty_ = true;  // the start of the file counts as after an empty line
};

Failure readFailure(const std::string& path, int error) {
  return Failure{
      FailureCode::MailboxUnreadable, path,
      std::string("cannot be read to find the messages it holds: ") + std::strerror(error)};
}

}  // namespace

Outcome<MailboxIndex> ReadMailboxIndex(const std::string& mailboxPath) {
  MailboxIndex index;
  // Never read through a link: the file it names may be anyone's.
  const int fd = ::open(mailboxPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) return index;
    if (error == ELOOP && IsSymbolicLink(mailboxPath)) {
      return Failure{FailureCode::MailboxUnreadable, mailboxPath,
                     "is a symbolic link, not followed"};
    }
    return readFailure(mailboxPath, error);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (MaybeFailure unfit = CheckExistingMailbox(fd, mailboxPath)) return *unfit;
  struct stat status {};
  if (::fstat(fd, &status) != 0) return readFailure(mailboxPath, errno);
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  index.fileRead_ = true;
  index.device_ = status.st_dev;
  index.inode_ = status.st_ino;
  if (MaybeFailure failure = index.readFrom(fd, 0, mailboxPath)) return *failure;
  return index;
}

MaybeFailure MailboxIndex::readOn(int fd, const struct stat& status, const std::string& path) {
  const auto length = static_cast<std::uint64_t>(status.st_size);
  if (fileRead_ && (status.st_dev != device_ || status.st_ino != inode_ || length < length_)) {
    *this = MailboxIndex();
  }
  fileRead_ = true;
  device_ = status.st_dev;
  inode_ = status.st_ino;
  if (length == length_) return std::nullopt;
  return readFrom(fd, readOnFrom_, path);
}

void MailboxIndex::passOver(std::uint64_t start, std::uint64_t end) {
  if (start != length_) return;
  if (last_) {
    ++records_;
    if (!lastTaken_) ++counts_[*last_];
  }
  last_.reset();
  lastTaken_ = false;
  length_ = readOnFrom_ = end;
}

MaybeFailure MailboxIndex::readFrom(int fd, std::uint64_t from, const std::string& path) {
  // The last record is read again from its start: known whole, or not, once this read ends,
  // and taken already if it was.
  reReadTaken_ = last_ && lastTaken_;
  last_.reset();
  lastTaken_ = false;
  RecordKeys keys(*this);
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  std::uint64_t bufferAt = from;  // the file offset of the buffer's first byte
  std::uint64_t lastRecord = from;
  std::size_t have = 0;
  bool lineStart = true;  // the bytes at the buffer's start begin a line
  for (;;) {
    const ssize_t got =
        ::pread(fd, buffer.get() + have, kBufferSize - have, static_cast<off_t>(bufferAt + have));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      // Whatever was keyed is read again whole next time.
      const int error = errno;
      *this = MailboxIndex();
      return readFailure(path, error);
    }
    have += static_cast<std::size_t>(got);
    std::size_t at = 0;
    while (at < have) {
      const auto* lf = static_cast<const char*>(std::memchr(buffer.get() + at, '\n', have - at));
      if (lf == nullptr) break;
      const auto end = static_cast<std::size_t>(lf - buffer.get());
      if (keys.piece(std::string_view(buffer.get() + at, end - at), lineStart, true)) {
        lastRecord = bufferAt + at;
      }
      lineStart = true;
      at = end + 1;
    }
    if (got == 0) {
      if (at < have &&
          keys.piece(std::string_view(buffer.get() + at, have - at), lineStart, false)) {
        lastRecord = bufferAt + at;
      }
      break;
    }
    if (at == 0 && have == kBufferSize) {
      // A line longer than the buffer: handed on in pieces.
      if (keys.piece(std::string_view(buffer.get(), have), lineStart, false)) {
        lastRecord = bufferAt;
      }
      lineStart = false;
      bufferAt += have;
      have = 0;
      continue;
    }
    std::memmove(buffer.get(), buffer.get() + at, have - at);
    have -= at;
    bufferAt += at;
  }
  keys.finish();
  reReadTaken_ = false;
  length_ = bufferAt + have;
  readOnFrom_ = lastRecord;
  return std::nullopt;
}

}  // namespace drovanta
