#pragma once

#include <unistd.h>

#include <memory>

namespace drovanta {

// An open file descriptor, closed when it goes.
class FileHandle {
 public:
  explicit FileHandle(int fd = -1) : fd_(fd) {}
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

// A part's file, open: read piece by piece as the part is counted and again as it is written,
// never opened twice, so that what is written is what was looked at.
using PartFile = std::shared_ptr<const FileHandle>;

}  // namespace drovanta
