#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace drovanta {

// A message file read whole, so that one read serves both the separator line and the text. The
// storage is kept from one file to the next: fresh memory for every message costs a page fault
// per page. A very large buffer is let go at the next file, so that one huge message does not
// pin its size for the rest of a run.
class FileBytes {
 public:
  // Room for `size` bytes, contents undefined; what the buffer held before is gone.
  char* prepare(std::size_t size) {
    if (size > capacity_ || capacity_ > kKeptCapacity) {
      data_.reset();  // free before allocating, so that two big buffers never coexist
      capacity_ = size == 0 ? 1 : size;
      data_.reset(new char[capacity_]);
    }
    size_ = 0;
    stated_ = size;
    return data_.get();
  }
  // Records how many bytes were read into the prepared room and the file's modification time.
  void setRead(std::size_t size, std::int64_t modified) {
    size_ = size;
    modified_ = modified;
  }

  // Never a null pointer, even before the first file: C functions given these bytes may not
  // take one, whatever the length.
  std::string_view bytes() const { return data_ ? std::string_view(data_.get(), size_) : ""; }
  // The length the file had when it was opened; more than bytes().size() when it shrank while
  // it was read (or a file system stated a length it does not hold).
  std::size_t statedSize() const { return stated_; }
  std::int64_t modified() const { return modified_; }

 private:
  static constexpr std::size_t kKeptCapacity = std::size_t{64} << 20;
  std::unique_ptr<char[]> data_;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  std::size_t stated_ = 0;
  std::int64_t modified_ = 0;
};

}  // namespace drovanta
