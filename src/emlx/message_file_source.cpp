#include "emlx/message_file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace drovanta {

namespace {

// The start of the file, kept from one message to the next: a fresh zero-filled buffer for every
// message cost more than reading it. It grows, keeping what it holds.
class HeadBuffer {
 public:
  char* reserve(std::size_t size, std::size_t keep) {
    if (size > capacity_) {
      std::unique_ptr<char[]> bigger(new char[size]);
      if (keep > 0) std::memcpy(bigger.get(), data_.get(), keep);
      data_ = std::move(bigger);
      capacity_ = size;
    }
    return data_.get();
  }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
};

HeadBuffer& threadHeadBuffer() {
  thread_local HeadBuffer head;
  return head;
}

}  // namespace

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileReader::open(const std::string& path, std::string& error) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    error = std::strerror(EISDIR);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "not a regular file";
    return false;
  }
  size_ = static_cast<std::size_t>(info.st_size);
  mtime_ = static_cast<std::int64_t>(info.st_mtime);
  return true;
}

bool FileReader::readAt(std::size_t offset, std::size_t length, char* into, std::size_t& got,
                        std::string& error) {
  got = 0;
  while (got < length) {
    const ssize_t n = ::pread(fd_, into + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::strerror(errno);
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

bool ChunkedFile::first(std::size_t length, std::string_view& bytes, std::string& error) {
  const std::size_t have = head_.size();
  char* const data = threadHeadBuffer().reserve(length, have);
  std::size_t got = 0;
  if (!file_.readAt(have, length - have, data + have, got, error)) return false;
  head_ = std::string_view(data, have + got);
  bytes = head_;
  return true;
}

bool ChunkedFile::last(std::size_t length, std::string_view& bytes) {
  const std::size_t from = file_.size() > length ? file_.size() - length : 0;
  tail_.resize(file_.size() - from);
  std::size_t got = 0;
  std::string ignored;
  if (!file_.readAt(from, tail_.size(), tail_.data(), got, ignored)) return false;
  tail_.resize(got);
  bytes = tail_;
  return true;
}

}  // namespace drovanta
