#include "mbox/read_back.h"

#include <fcntl.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

namespace drovanta {
namespace {

constexpr std::size_t kChunk = std::size_t{256} << 10;  // stays in the processor's cache
// Bytes of the chunk before kept in front of the next one, so that a "From " line and the empty
// line before it are found across the boundary.
constexpr std::size_t kCarry = 8;
constexpr std::string_view kRecordStart = "\nFrom ";

Failure differs(const std::string& path, const std::string& how) {
  return Failure{FailureCode::ReadBackDiffers, path, "read back: " + how};
}

}  // namespace

MailboxReadBack ReadBackMailbox(const std::string& mailboxPath,
                                std::vector<WrittenRecord> appended) {
  MailboxReadBack result;
  std::sort(appended.begin(), appended.end(),
            [](const WrittenRecord& a, const WrittenRecord& b) { return a.offset < b.offset; });
  const int fd = ::open(mailboxPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    result.differs = differs(mailboxPath, std::string("cannot be opened: ") + std::strerror(errno));
    return result;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  std::unique_ptr<char[]> buffer(new char[kCarry + kChunk]);
  char* const chunk = buffer.get() + kCarry;
  std::memset(buffer.get(), '\n', kCarry);  // the start of the file counts as after an empty line
  XXH3_state_t* digest = XXH3_createState();
  std::size_t next = 0;  // the appended record being compared
  std::uint64_t differing = 0;
  std::uint64_t position = 0;  // file offset of chunk[0]
  for (;;) {
    ssize_t got = ::read(fd, chunk, kChunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      XXH3_freeState(digest);
      result.differs = differs(mailboxPath, std::string("cannot be read: ") + std::strerror(errno));
      return result;
    }
    if (got == 0) break;
    const auto size = static_cast<std::size_t>(got);
    // Record starts: "\nFrom " after an empty line (LF or CR LF), found once each: a match must
    // end inside this chunk.
    const std::string_view view(buffer.get(), kCarry + size);
    for (std::size_t at = view.find(kRecordStart, kCarry - kRecordStart.size() + 1);
         at != std::string_view::npos; at = view.find(kRecordStart, at + 1)) {
      if (view[at - 1] == '\n' || (view[at - 1] == '\r' && view[at - 2] == '\n')) {
        ++result.records;
      }
    }
    // The appended records that lie in this chunk, each compared once its last byte is read.
    const std::uint64_t end = position + size;
    while (next < appended.size() && appended[next].offset < end) {
      const WrittenRecord& record = appended[next];
      const std::uint64_t from = std::max(record.offset, position);
      const std::uint64_t to = std::min(record.offset + record.length, end);
      if (from == record.offset) XXH3_64bits_reset(digest);
      XXH3_64bits_update(digest, chunk + (from - position), static_cast<std::size_t>(to - from));
      if (to < record.offset + record.length) break;
      if (XXH3_64bits_digest(digest) != record.digest) ++differing;
      ++next;
    }
    std::memmove(buffer.get(), buffer.get() + size, kCarry);  // the last kCarry bytes read
    position = end;
  }
  XXH3_freeState(digest);
  if (next < appended.size()) differing += appended.size() - next;
  if (differing != 0) {
    result.differs = differs(mailboxPath, std::to_string(differing) + " of the " +
                                              std::to_string(appended.size()) +
                                              " records this run wrote differ from what is on "
                                              "the disk");
  }
  return result;
}

}  // namespace drovanta
