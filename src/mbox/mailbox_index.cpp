#include "mbox/mailbox_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "mbox/mailbox_check.h"
#include "mbox/mailbox_lock.h"

namespace drovanta {
namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;
// A header block longer than this is not kept whole: its record gets no key, so a message
// like it is written again rather than left out.
constexpr std::size_t kLongestHeader = std::size_t{16} << 20;

Failure readFailure(const std::string& path, int error) {
  return Failure{
      FailureCode::MailboxUnreadable, path,
      std::string("cannot be read to find the messages it holds: ") + std::strerror(error)};
}

}  // namespace

bool MailboxIndex::takeCopyOf(const MessageKey& key,
                              const std::function<std::optional<std::uint64_t>()>& recordBytes) {
  auto [first, last] = records_.equal_range(key);
  if (first == last) return false;
  const std::optional<std::uint64_t> bytes = recordBytes();
  if (!bytes) return false;
  for (; first != last; ++first) {
    if (first->second == *bytes) {
      records_.erase(first);
      return true;
    }
  }
  return false;
}

MaybeFailure MailboxIndex::readOn(int fd, const std::string& path) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return readFailure(path, errno);
  const auto length = static_cast<std::uint64_t>(status.st_size);
  const bool sameFile = status.st_dev == device_ && status.st_ino == inode_;
  if (sameFile && length == length_) return std::nullopt;
  if (!sameFile || length < resumeAt_) {
    *this = MailboxIndex();
    device_ = status.st_dev;
    inode_ = status.st_ino;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  return readFrom(fd, resumeAt_, path);
}

void MailboxIndex::passOver(std::uint64_t start, std::uint64_t end) {
  if (start > length_) return;  // not right after what was read: read on through it
  in_ = In::Nothing;
  lineStart_ = afterEmpty_ = true;
  length_ = resumeAt_ = end;
}

void MailboxIndex::finishRecord() {
  if ((in_ == In::Header || in_ == In::Body) && !headerTooLong_) {
    records_.emplace(MessageKeyOf(header_, true), bytes_.count());
  }
  in_ = In::Nothing;
}

void MailboxIndex::piece(std::string_view bytes, std::uint64_t at, bool lineEnd) {
  const bool lineStart = std::exchange(lineStart_, lineEnd);
  std::string_view line = bytes;
  if (lineEnd && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  const bool emptyLine = lineStart && lineEnd && line.empty();
  if (in_ == In::Separator) {
    if (lineEnd) {
      in_ = In::Header;
      header_.clear();
      headerTooLong_ = false;
      bytes_ = {};
    }
    return;
  }
  if (in_ != In::Header && lineStart && afterEmpty_ && bytes.starts_with("From ")) {
    finishRecord();
    in_ = lineEnd ? In::Header : In::Separator;
    separatorAt_ = at;
    afterEmpty_ = false;
    header_.clear();
    headerTooLong_ = false;
    bytes_ = {};
    return;
  }
  if (lineStart) afterEmpty_ = emptyLine;
  if (in_ == In::Nothing) return;
  bytes_.feed(bytes);
  if (lineEnd) bytes_.feed("\n");
  if (in_ == In::Header) {
    if (emptyLine) {
      in_ = In::Body;
    } else if (header_.size() + line.size() < kLongestHeader) {
      header_.append(line);
      if (lineEnd) header_ += '\n';
    } else {
      headerTooLong_ = true;
    }
  }
}

MaybeFailure MailboxIndex::readFrom(int fd, std::uint64_t from, const std::string& path) {
  std::unique_ptr<char[]> buffer(new char[kBufferSize]);
  std::uint64_t bufferAt = from;  // the file offset of the buffer's first byte
  std::size_t have = 0;
  for (;;) {
    const ssize_t got =
        ::pread(fd, buffer.get() + have, kBufferSize - have, static_cast<off_t>(bufferAt + have));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      *this = MailboxIndex();  // read again whole next time
      return readFailure(path, error);
    }
    have += static_cast<std::size_t>(got);
    std::size_t at = 0;
    while (at < have) {
      const auto* lf = static_cast<const char*>(std::memchr(buffer.get() + at, '\n', have - at));
      if (lf == nullptr) break;
      const auto end = static_cast<std::size_t>(lf - buffer.get());
      piece(std::string_view(buffer.get() + at, end - at), bufferAt + at, true);
      at = end + 1;
    }
    if (got == 0 || (at == 0 && have == kBufferSize)) {
      // The file's end, or a line longer than the buffer: handed on in pieces.
      if (at < have) piece(std::string_view(buffer.get() + at, have - at), bufferAt + at, false);
      bufferAt += have;
      have = 0;
      if (got == 0) break;
      continue;
    }
    std::memmove(buffer.get(), buffer.get() + at, have - at);
    have -= at;
    bufferAt += at;
  }
  length_ = resumeAt_ = bufferAt;
  if (in_ == In::Separator) {
    // Torn before its first line end: no record; read again from its start, as whoever writes
    // next cuts it back or completes it.
    in_ = In::Nothing;
    lineStart_ = afterEmpty_ = true;
    resumeAt_ = separatorAt_;
  } else {
    finishRecord();
  }
  return std::nullopt;
}

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
  if (MaybeFailure unfit = NotAnMbox(fd, mailboxPath)) return *unfit;
  if (MaybeFailure failure = index.readOn(fd, mailboxPath)) return *failure;
  return index;
}

}  // namespace drovanta
