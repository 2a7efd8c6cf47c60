#pragma once

#include <cstddef>

namespace drovanta {

struct WatchedRange;  // one slot of the watch, kept in the .cpp

// A file mapped into memory that another program makes shorter would kill the process with
// SIGBUS at the first read past its new end. While a mapping is watched, such a read gets zeros
// instead, and the watch says the file was cut; the reader then refuses what it read. Any
// number of mappings may be watched at once, from any threads.
class MappedFileGuard {
 public:
  MappedFileGuard(const void* begin, std::size_t size);
  ~MappedFileGuard();
  MappedFileGuard(const MappedFileGuard&) = delete;
  MappedFileGuard& operator=(const MappedFileGuard&) = delete;

  // True once a read went past the file's end.
  bool cut() const;

 private:
  WatchedRange* range_;  // this mapping's slot
};

}  // namespace drovanta
