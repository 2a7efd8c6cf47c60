#include "mbox/read_back.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xxh_x86dispatch.h>  // the library's AVX2 and AVX-512 code where the processor has it
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

namespace drovanta {
namespace {

// Bytes read in one step: they stay in the processor's cache while they are looked at.
constexpr std::size_t kChunk = std::size_t{256} << 10;
// Bytes of the chunk before kept in front of the next one, so that a "From " line and the empty
// line before it are found across the boundary.
constexpr std::size_t kCarry = 8;
constexpr std::string_view kRecordStart = "\nFrom ";

Failure differs(const std::string& path, const std::string& how) {
  return Failure{FailureCode::ReadBackDiffers, path, "read back: " + how};
}

// The error that tells a reading ended by a second stop request.
constexpr int kCutShort = ECANCELED;

// A second stop request, looked at before each chunk: the user wants the program ended now.
bool abandoned(const StopRequest* stop) {
  return stop != nullptr && stop->abandoning();
}

// A stretch of the file's bytes, read a cache-sized chunk at a time; 0 or the error.
template <typename Take>
int forEachChunk(int fd, std::uint64_t begin, std::uint64_t end, const StopRequest* stop,
                 Take take) {
  std::unique_ptr<char[]> buffer(new char[kChunk]);
  for (std::uint64_t at = begin; at < end;) {
    if (abandoned(stop)) return kCutShort;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, end - at));
    const ssize_t got = ::pread(fd, buffer.get(), want, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return EIO;
    take(std::string_view(buffer.get(), static_cast<std::size_t>(got)));
    at += static_cast<std::uint64_t>(got);
  }
  return 0;
}

// Record starts ("From " at the file's start or after an empty line, LF or CR LF) whose "From "
// begins in [begin, end); `counted` gets them. 0 or the error.
int countRecordStarts(int fd, std::uint64_t begin, std::uint64_t end, std::uint64_t fileSize,
                      const StopRequest* stop, long& counted) {
  // The three bytes before `begin` tell whether a line starts there after an empty line; the
  // four after `end` complete a "From " that starts at its last bytes.
  const std::uint64_t from = begin < 3 ? 0 : begin - 3;
  const std::uint64_t to = std::min(fileSize, end + kRecordStart.size() - 2);
  std::unique_ptr<char[]> buffer(new char[kCarry + kChunk]);
  char* const chunk = buffer.get() + kCarry;
  std::memset(buffer.get(), 0, kCarry);
  if (from == 0) buffer[kCarry - 1] = buffer[kCarry - 2] = '\n';  // the start of the file
  for (std::uint64_t at = from; at < to;) {
    if (abandoned(stop)) return kCutShort;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, to - at));
    const ssize_t got = ::pread(fd, chunk, want, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) break;
    const auto size = static_cast<std::size_t>(got);
    const std::string_view view(buffer.get(), kCarry + size);
    // A match must end inside this chunk, so that none is found twice.
    for (std::size_t match = view.find(kRecordStart, kCarry - kRecordStart.size() + 1);
         match != std::string_view::npos; match = view.find(kRecordStart, match + 1)) {
      const std::uint64_t fromAt = at + match + 1 - kCarry;  // where "From " begins
      const bool afterEmpty =
          view[match - 1] == '\n' || (view[match - 1] == '\r' && view[match - 2] == '\n');
      if (afterEmpty && fromAt >= begin && fromAt < end) ++counted;
    }
    std::memmove(buffer.get(), buffer.get() + size, kCarry);  // the last kCarry bytes read
    at += size;
  }
  return 0;
}

}  // namespace

MailboxReadBack ReadBackMailbox(const std::string& mailboxPath, std::vector<WrittenRecord> appended,
                                const StopRequest* stop) {
  MailboxReadBack result;
  std::sort(appended.begin(), appended.end(),
            [](const WrittenRecord& a, const WrittenRecord& b) { return a.offset < b.offset; });
  const int fd = ::open(mailboxPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    result.differs = differs(mailboxPath, std::string("cannot be opened: ") + std::strerror(errno));
    if (fd >= 0) ::close(fd);
    return result;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  const auto fileSize = static_cast<std::uint64_t>(info.st_size);

  // The records this run wrote, compared stretch by stretch (consecutive records form one) by
  // their digests; the bytes between them, those of other runs and programs, only counted.
  XXH3_state_t* digest = XXH3_createState();
  std::uint64_t differing = 0;
  std::uint64_t gapStart = 0;
  int error = 0;
  for (std::size_t first = 0; first < appended.size() && error == 0;) {
    std::size_t last = first;
    while (last + 1 < appended.size() &&
           appended[last + 1].offset == appended[last].offset + appended[last].length) {
      ++last;
    }
    const std::uint64_t begin = appended[first].offset;
    const std::uint64_t end = std::min(fileSize, appended[last].offset + appended[last].length);
    error = countRecordStarts(fd, gapStart, begin, fileSize, stop, result.records);
    std::size_t next = first;
    std::uint64_t position = begin;
    XXH3_64bits_reset(digest);
    if (error == 0 && begin < end) {
      error = forEachChunk(fd, begin, end, stop, [&](std::string_view bytes) {
        while (!bytes.empty() && next <= last) {
          const WrittenRecord& record = appended[next];
          const std::uint64_t recordEnd = record.offset + record.length;
          const auto take =
              static_cast<std::size_t>(std::min<std::uint64_t>(bytes.size(), recordEnd - position));
          XXH3_64bits_update(digest, bytes.data(), take);
          bytes.remove_prefix(take);
          position += take;
          if (position == recordEnd) {
            if (XXH3_64bits_digest(digest) != record.digest) ++differing;
            XXH3_64bits_reset(digest);
            ++next;
          }
        }
      });
    }
    differing += last + 1 - next;  // those the file is too short to hold
    result.records += static_cast<long>(last + 1 - first);
    gapStart = end;
    first = last + 1;
  }
  XXH3_freeState(digest);
  if (error == 0) error = countRecordStarts(fd, gapStart, fileSize, fileSize, stop, result.records);
  if (error == 0 && differing != 0) {
    // Damaged records may hold more or fewer record starts than were written: all counted.
    result.records = 0;
    error = countRecordStarts(fd, 0, fileSize, fileSize, stop, result.records);
  }
  if (error == kCutShort) {
    result = MailboxReadBack{};
    result.cutShort = true;
  } else if (error != 0) {
    result.differs = differs(mailboxPath, std::string("cannot be read: ") + std::strerror(error));
  } else if (differing != 0) {
    result.differs = differs(mailboxPath, std::to_string(differing) + " of the " +
                                              std::to_string(appended.size()) +
                                              " records this run wrote differ from what is on "
                                              "the disk");
  }
  return result;
}

}  // namespace drovanta
