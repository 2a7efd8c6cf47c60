#include "message/message_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace drovanta {

namespace {

Failure readFailure(const std::string& path, int error) {
  const FailureCode code = (error == ENOENT || error == ENOTDIR) ? FailureCode::MessageMissing
                                                                 : FailureCode::MessageUnreadable;
  return Failure{code, path, std::strerror(error)};
}

std::size_t pageSize() {
  static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

MessageFile::~MessageFile() {
  close();
}

void MessageFile::close() {
  guard_.reset();
  if (mapping_ != nullptr) ::munmap(mapping_, mappedSize_);
  mapping_ = nullptr;
  mappedSize_ = 0;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  std::string().swap(copy_);  // a copy of a large file is not kept
  bytes_ = "";
  stated_ = 0;
}

MaybeFailure MessageFile::open(const std::string& path, std::size_t readLimit) {
  close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return readFailure(path, errno);
  struct stat status {};
  if (::fstat(fd_, &status) != 0) return readFailure(path, errno);
  if (S_ISDIR(status.st_mode)) return readFailure(path, EISDIR);
  if (!S_ISREG(status.st_mode)) {
    return Failure{FailureCode::MessageUnreadable, path, "not a regular file"};
  }
  modified_ = static_cast<std::int64_t>(status.st_mtime);
  changeSeconds_ = static_cast<std::int64_t>(status.st_ctim.tv_sec);
  changeNanoseconds_ = status.st_ctim.tv_nsec;
  const auto size = static_cast<std::size_t>(status.st_size);
  stated_ = size;
  if (size == 0) return std::nullopt;

  if (size <= readLimit && size <= kReadLimit) {
    if (!small_) small_.reset(new char[kReadLimit]);
    return readInto(path, small_.get(), size);
  }
  void* mapping = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd_, 0);
  if (mapping != MAP_FAILED) {
    mapping_ = mapping;
    mappedSize_ = size;
    guard_ = std::make_unique<MappedFileGuard>(mapping, size);
    bytes_ = std::string_view(static_cast<const char*>(mapping), size);
    return std::nullopt;
  }
  // A file system that cannot map files, or no address space left to map it: the file is read
  // instead, when there is memory for a copy.
  try {
    copy_.resize(size);
  } catch (const std::bad_alloc&) {
    return Failure{FailureCode::MessageUnreadable, path, "not enough memory to read it"};
  }
  MaybeFailure failure = readInto(path, copy_.data(), size);
  copy_.resize(bytes_.size());
  bytes_ = copy_;
  return failure;
}

// Reads up to `size` bytes of the open file into `into`. Bytes appended after the size was
// taken are left for the next run; a file that shrank gives what it still holds.
MaybeFailure MessageFile::readInto(const std::string& path, char* into, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd_, into + got, size - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return readFailure(path, errno);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes_ = std::string_view(into, got);
  return std::nullopt;
}

bool MessageFile::changed() const {
  if (guard_ && guard_->cut()) return true;
  struct stat status {};
  return fd_ >= 0 && ::fstat(fd_, &status) == 0 &&
         (static_cast<std::size_t>(status.st_size) != stated_ ||
          static_cast<std::int64_t>(status.st_ctim.tv_sec) != changeSeconds_ ||
          status.st_ctim.tv_nsec != changeNanoseconds_);
}

void MessageFile::prefetch(std::size_t begin, std::size_t end) const {
  if (mapping_ == nullptr || begin >= end) return;
  const std::size_t first = begin / pageSize() * pageSize();
  char* const base = static_cast<char*>(mapping_);
#ifdef MADV_POPULATE_READ
  // Maps the pages in one call instead of one fault per few pages.
  if (::madvise(base + first, end - first, MADV_POPULATE_READ) == 0) return;
#endif
  ::madvise(base + first, end - first, MADV_WILLNEED);
}

void MessageFile::release(std::size_t begin, std::size_t end) const {
  if (mapping_ == nullptr) return;
  // Whole pages only: the page holding `begin` may still be needed by what comes before.
  const std::size_t first = (begin + pageSize() - 1) / pageSize() * pageSize();
  const std::size_t last = end >= mappedSize_ ? mappedSize_ : end / pageSize() * pageSize();
  if (first >= last) return;
  // For a read-only private mapping of a file this only unmaps the pages: the file's data stay
  // in the page cache and are mapped again if read again.
  ::madvise(static_cast<char*>(mapping_) + first, last - first, MADV_DONTNEED);
}

}  // namespace drovanta
