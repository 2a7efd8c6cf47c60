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

// Whether the check is to end now: a request made since it began, or a second one.
class StopWatch {
 public:
  explicit StopWatch(const StopRequest* stop)
      : stop_(stop), stoppingBefore_(stop != nullptr && stop->stopping()) {}
  bool ended() const {
    if (stop_ == nullptr) return false;
    return stoppingBefore_ ? stop_->abandoning() : stop_->stopping();
  }

 private:
  const StopRequest* stop_;
  bool stoppingBefore_;
};

ssize_t readAt(int fd, char* into, std::size_t size, std::uint64_t at) {
  ssize_t got = 0;
  do {
    got = ::pread(fd, into, size, static_cast<off_t>(at));
  } while (got < 0 && errno == EINTR);
  return got;
}

// Reads of whole aligned blocks straight from the device (O_DIRECT), through a second
// descriptor of the same file: several times faster than reading the dropped pages back through
// the page cache, which fetches them a few at a time. Where the file system refuses O_DIRECT
// (tmpfs, some network file systems), the mailbox's own descriptor is read through the cache.
class DeviceReader {
 public:
  explicit DeviceReader(int fd) : fd_(fd) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    direct_ = ::open(self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    void* memory = nullptr;
    if (direct_ >= 0 && ::posix_memalign(&memory, kAlignment, kChunk) != 0) closeDirect();
    buffer_.reset(static_cast<char*>(memory != nullptr ? memory : std::malloc(kChunk)));
  }
  ~DeviceReader() { closeDirect(); }
  DeviceReader(const DeviceReader&) = delete;
  DeviceReader& operator=(const DeviceReader&) = delete;

  // Fills the buffer with the bytes from at most `at` on; false with errno set on a failure.
  bool fill(std::uint64_t at) {
    if (direct_ >= 0) {
      start_ = at - at % kAlignment;
      const ssize_t got = readAt(direct_, buffer_.get(), kChunk, start_);
      if (got >= 0 || errno != EINVAL) return took(got, at);
      closeDirect();  // the file system takes no direct reads after all
    }
    start_ = at;
    return took(readAt(fd_, buffer_.get(), kChunk, start_), at);
  }
  bool holds(std::uint64_t at) const { return at >= start_ && at < start_ + size_; }
  std::uint64_t start() const { return start_; }
  std::size_t size() const { return size_; }
  const char* data() const { return buffer_.get(); }

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
  void closeDirect() {
    if (direct_ >= 0) ::close(direct_);
    direct_ = -1;
  }

  int fd_;
  int direct_ = -1;
  std::unique_ptr<char, Free> buffer_;
  std::uint64_t start_ = 0;
  std::size_t size_ = 0;
};

}  // namespace

RecordsCheck CheckWrittenRecords(int fd, const std::string& mailboxPath, std::uint64_t length,
                                 const std::vector<WrittenRecord>& appended, bool readBack,
                                 const StopRequest* stop) {
  RecordsCheck result;
  const StopWatch watch(stop);
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

  // Where each record starts: cheap, a few bytes a record, from the page cache.
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
    return result;
  }
  if (!readBack || appended.empty()) return result;

  // Every byte, from the device: the pages the flush made clean are dropped, so that what is
  // read comes from the disk and not from what the run left in memory.
  std::uint64_t first = appended.front().offset;
  for (const WrittenRecord& record : appended) first = std::min(first, record.offset);
  ::posix_fadvise(fd, static_cast<off_t>(first), 0, POSIX_FADV_DONTNEED);
  ::posix_fadvise(fd, static_cast<off_t>(first), 0, POSIX_FADV_SEQUENTIAL);
  // Read a chunk at a time whatever the records' lengths: the records lie one after the other,
  // and small reads would each wait for the device.
  DeviceReader reader(fd);
  XXH3_state_t* digest = XXH3_createState();
  std::size_t differing = 0;
  int error = 0;
  for (const WrittenRecord& record : appended) {
    if (watch.ended()) {
      result.stopped = true;
      break;
    }
    XXH3_64bits_reset(digest);
    for (std::uint64_t at = record.offset, end = record.offset + record.length; at < end;) {
      if (!reader.holds(at) && !reader.fill(at)) {
        error = errno;
        break;
      }
      const auto take = static_cast<std::size_t>(
          std::min<std::uint64_t>(end - at, reader.start() + reader.size() - at));
      XXH3_64bits_update(digest, reader.data() + (at - reader.start()), take);
      at += take;
    }
    if (error != 0) break;
    if (XXH3_64bits_digest(digest) == record.digest) {
      ++result.readBack;
    } else {
      ++differing;
    }
  }
  XXH3_freeState(digest);
  if (error != 0) {
    result.differs =
        differs(mailboxPath, std::string("cannot be read back: ") + std::strerror(error));
  } else if (differing != 0) {
    result.differs = differs(mailboxPath, ofThoseWritten(differing, appended.size()) +
                                              (differing == 1 ? " differs" : " differ") +
                                              " from what was written");
  }
  return result;
}

}  // namespace drovanta
