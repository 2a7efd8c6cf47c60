#pragma once

#include <cstdint>
#include <string_view>

namespace drovanta {

// Where the bytes of one record go while it is written, in order.
class RecordOutput {
 public:
  virtual ~RecordOutput() = default;
  // False once the record can no longer be written; the writer keeps the reason. The bytes may
  // change once the call returns.
  virtual bool write(std::string_view bytes) = 0;
  // The same for bytes that stay as they are until the record is written, which the writer may
  // then write from where they lie instead of copying them.
  virtual bool writeKept(std::string_view bytes) { return write(bytes); }
  // `length` bytes of the open file `fd` from `offset`, moved file to file by the kernel where
  // the file systems allow it.
  virtual bool copyFileRange(int fd, std::uint64_t offset, std::uint64_t length) = 0;
  // The same for a range whose bytes the caller also holds in memory (a mapped or read file),
  // for an output that looks at what it writes.
  virtual bool copyKept(int fd, std::uint64_t offset, std::string_view bytes) {
    return copyFileRange(fd, offset, bytes.size());
  }
};

}  // namespace drovanta
