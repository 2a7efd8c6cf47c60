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
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace drovanta {
namespace {

// Bytes read in one step: they stay in the processor's cache while they are looked at.
constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr std::string_view kRecordStart = "From ";

Failure differs(const std::string& path, const std::string& how) {
  return Failure{FailureCode::ReadBackDiffers, path, "checked on the disk: " + how};
}

// "2 of the 3 records this run wrote".
std::string ofThoseWritten(std::size_t some, std::size_t all) {
  return std::to_string(some) + " of the " + std::to_string(all) +
         (all == 1 ? " record" : " records") + " this run wrote";
}

ssize_t readAt(int fd, char* into, std::size_t size, std::uint64_t at) {
  ssize_t got = 0;
  do {
    got = ::pread(fd, into, size, static_cast<off_t>(at));
  } while (got < 0 && errno == EINTR);
  return got;
}

}  // namespace

// Reads of whole aligned blocks straight from the device, several times faster than reading
// dropped pages back through the page cache, which fetches them a few at a time.
class DeviceReader::Buffer {
 public:
  explicit Buffer(int fd) : fd_(fd) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    direct_ = ::open(self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    void* memory = nullptr;
    if (direct_ >= 0 && ::posix_memalign(&memory, kAlignment, kChunk) != 0) closeOwn(direct_);
    bytes_.reset(static_cast<char*>(memory != nullptr ? memory : std::malloc(kChunk)));
    // A mailbox opened for writing only is read through a readable descriptor of its own.
    if ((::fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY) {
      readable_ = ::open(self.c_str(), O_RDONLY | O_CLOEXEC);
      fd_ = readable_;
    }
  }
  ~Buffer() {
    closeOwn(direct_);
    closeOwn(readable_);
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  bool direct() const { return direct_ >= 0; }
  // What was read before may have been read while the file was still being written.
  void forget() { size_ = 0; }

  // Fills the buffer with bytes from at most `at` on, reading no further than needed to reach
  // `until` (or a chunk), directly when `direct`; false with errno set on a failure.
  bool fill(std::uint64_t at, std::uint64_t until, bool direct) {
    if (direct && direct_ >= 0) {
      start_ = at - at % kAlignment;
      const std::uint64_t end = until + (kAlignment - until % kAlignment) % kAlignment;
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, end - start_));
      const ssize_t got = readAt(direct_, bytes_.get(), want, start_);
      if (got >= 0 || errno != EINVAL) return took(got, at);
      closeOwn(direct_);  // the file system takes no direct reads after all
      dropCached(at, until);
    }
    start_ = at;
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, until - at));
    return took(readAt(fd_, bytes_.get(), want, start_), at);
  }

  // Writes out and drops the cached pages of [from, to), so that reading them again through the
  // cache fetches them from the device.
  void dropCached(std::uint64_t from, std::uint64_t to) const {
    const auto offset = static_cast<off_t>(from);
    const auto length = static_cast<off_t>(to - from);
    ::sync_file_range(
        fd_, offset, length,
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
    ::posix_fadvise(fd_, offset, length, POSIX_FADV_DONTNEED);
    ::posix_fadvise(fd_, offset, length, POSIX_FADV_SEQUENTIAL);
  }

  bool holds(std::uint64_t at) const { return at >= start_ && at < start_ + size_; }
  std::uint64_t start() const { return start_; }
  std::size_t size() const { return size_; }
  const char* data() const { return bytes_.get(); }

 private:
  static constexpr std::size_t kAlignment = 4096;
  struct Free {
    void operator()(char* memory) const { std::free(memory); }
  };

  bool took(ssize_t got, std::uint64_t at) {
    size_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (got >= 0 && !holds(at)) errno = EIO;  // the file ends before the record does
    return got >= 0 && holds(at);
  }
  static void closeOwn(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }

  int fd_;
  int direct_ = -1;
  int readable_ = -1;
  std::unique_ptr<char, Free> bytes_;
  std::uint64_t start_ = 0;
  std::size_t size_ = 0;
};

DeviceReader::DeviceReader(int fd) : buffer_(std::make_unique<Buffer>(fd)) {}

DeviceReader::~DeviceReader() = default;

void DeviceReader::readBack(std::span<const WrittenRecord> records, ReadBackTally& tally,
                            const std::function<bool()>& ended, bool whileWriting) {
  if (records.empty() || tally.error != 0) return;
  // The records lie one after the other: read a chunk at a time whatever their lengths, since
  // small reads would each wait for the device.
  const std::uint64_t until = records.back().offset + records.back().length;
  Buffer& buffer = *buffer_;
  // Direct reads wait for the file's lock, which would hold up the writer: while it writes, the
  // pages are dropped and read again through the cache instead.
  const bool direct = buffer.direct() && !whileWriting;
  buffer.forget();
  if (!direct) buffer.dropCached(records.front().offset, until);

  XXH3_state_t* digest = XXH3_createState();
  for (const WrittenRecord& record : records) {
    if (ended && ended()) break;
    XXH3_64bits_reset(digest);
    for (std::uint64_t at = record.offset, end = record.offset + record.length; at < end;) {
      if (!buffer.holds(at) && !buffer.fill(at, until, direct)) {
        tally.error = errno != 0 ? errno : EIO;
        break;
      }
      const auto take = static_cast<std::size_t>(
          std::min<std::uint64_t>(end - at, buffer.start() + buffer.size() - at));
      XXH3_64bits_update(digest, buffer.data() + (at - buffer.start()), take);
      at += take;
    }
    if (tally.error != 0) break;
    ++tally.next;
    if (XXH3_64bits_digest(digest) == record.digest) {
      ++tally.whole;
    } else {
      ++tally.differing;
    }
  }
  XXH3_freeState(digest);
}

RecordsCheck CheckRecordStarts(int fd, const std::string& mailboxPath, std::uint64_t length,
                               const std::vector<WrittenRecord>& appended, const StopWatch& watch) {
  RecordsCheck result;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    result.differs =
        differs(mailboxPath, std::string("cannot be looked at: ") + std::strerror(errno));
    return result;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size != length) {
    result.differs = differs(mailboxPath, std::to_string(size) + " bytes long, not the " +
                                              std::to_string(length) + " this run left it");
    return result;
  }
  std::size_t moved = 0;
  for (const WrittenRecord& record : appended) {
    if (watch.ended()) {
      result.stopped = true;
      return result;
    }
    char start[kRecordStart.size()];
    const ssize_t got = readAt(fd, start, sizeof start, record.fromAt);
    if (got < 0) {
      result.differs = differs(mailboxPath, std::string("cannot be read: ") + std::strerror(errno));
      return result;
    }
    if (std::string_view(start, static_cast<std::size_t>(got)) != kRecordStart) {
      ++moved;
    } else {
      ++result.records;
    }
  }
  if (moved != 0) {
    result.differs =
        differs(mailboxPath, ofThoseWritten(moved, appended.size()) +
                                 (moved == 1 ? " no longer starts where it was put"
                                             : " no longer start where they were put"));
  }
  return result;
}

MaybeFailure ReadBackFailure(const std::string& mailboxPath, const ReadBackTally& tally,
                             std::size_t written) {
  if (tally.error != 0) {
    return differs(mailboxPath, std::string("cannot be read back: ") + std::strerror(tally.error));
  }
  if (tally.differing == 0) return std::nullopt;
  return differs(mailboxPath, ofThoseWritten(tally.differing, written) +
                                  (tally.differing == 1 ? " differs" : " differ") +
                                  " from what was written");
}

}  // namespace drovanta
