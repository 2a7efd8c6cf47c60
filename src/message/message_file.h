#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "message/mapped_file_guard.h"
#include "shellutil/failure.h"

namespace drovanta {

// One message file, open for the time of one record. A small file is read whole into a buffer
// kept from one file to the next; a large one is mapped into memory, so that the header, the
// property list and the message are read where they lie without copying the file: pages are
// only read when touched, and a scan lets go of the pages behind it (release), so that memory
// does not grow with the size of the file. Where a file cannot be mapped it is read whole, and
// fails when there is not the memory for that.
class MessageFile {
 public:
  MessageFile() = default;
  ~MessageFile();
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;

  // Files up to this size are read, larger ones mapped.
  static constexpr std::size_t kReadLimit = std::size_t{1} << 20;

  // Opens the regular file at `path` without blocking on FIFOs or devices; files larger than
  // readLimit are mapped. Fails as reading would: a missing file is MessageMissing, anything
  // else MessageUnreadable.
  MaybeFailure open(const std::string& path, std::size_t readLimit = kReadLimit);
  void close();

  std::string_view bytes() const { return bytes_; }
  int fd() const { return fd_; }
  std::int64_t modified() const { return modified_; }
  // The length the file had when it was opened; more than bytes().size() when it shrank while
  // it was read (or a file system stated a length it does not hold).
  std::size_t statedSize() const { return stated_; }
  // True when the file is mapped: large enough that the kernel should copy it file to file.
  bool mapped() const { return mapping_ != nullptr; }
  // True when the file is no longer as long as it was when opened, or was written since (its
  // change time moved): another program cut, rewrote or replaced it, and what was read from it
  // cannot be trusted. Bytes read past a new end read as zeros rather than end the program.
  bool changed() const;

  // Asks for the pages of [begin, end) ahead of a scan, and lets go of those a scan is done
  // with. Both are hints: the bytes stay readable either way.
  void prefetch(std::size_t begin, std::size_t end) const;
  void release(std::size_t begin, std::size_t end) const;

 private:
  MaybeFailure readInto(const std::string& path, char* into, std::size_t size);

  int fd_ = -1;
  void* mapping_ = nullptr;
  std::size_t mappedSize_ = 0;
  std::unique_ptr<MappedFileGuard> guard_;  // while mapped
  std::unique_ptr<char[]> small_;           // kReadLimit bytes, for the small files
  std::string copy_;                        // the bytes of a large file that could not be mapped
  std::string_view bytes_ = "";             // never a null pointer: C functions may be given it
  std::int64_t modified_ = 0;
  std::size_t stated_ = 0;
  std::int64_t changeSeconds_ = 0;  // the change time when opened
  long changeNanoseconds_ = 0;
};

}  // namespace drovanta
