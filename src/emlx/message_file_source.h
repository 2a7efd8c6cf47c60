#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace drovanta {

// One regular file open for reading at given offsets.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens a regular file without blocking on FIFOs or devices. On failure `error` says why.
  bool open(const std::string& path, std::string& error);
  // Reads up to `length` bytes at `offset` into `into`; the count read is in `got`. False on a
  // read error.
  bool readAt(std::size_t offset, std::size_t length, char* into, std::size_t& got,
              std::string& error);

  std::size_t size() const { return size_; }
  std::int64_t mtime() const { return mtime_; }

 private:
  int fd_ = -1;
  std::size_t size_ = 0;
  std::int64_t mtime_ = 0;
};

// Where the header block and the property list are read from: the file itself, a chunk at a
// time, or the bytes of the whole file read before. Both give the same views of the same bytes.
class FileSource {
 public:
  virtual ~FileSource() = default;
  // The first `length` bytes, or all of them when the file is shorter; false on a read error.
  virtual bool first(std::size_t length, std::string_view& bytes, std::string& error) = 0;
  // The last `length` bytes, or all of them; false on a read error.
  virtual bool last(std::size_t length, std::string_view& bytes) = 0;
  virtual std::size_t size() const = 0;
  virtual std::int64_t mtime() const = 0;
};

// Reads from an open file only what is asked for. The start of the file goes into a buffer kept
// by the thread from one message to the next.
class ChunkedFile : public FileSource {
 public:
  explicit ChunkedFile(FileReader& file) : file_(file) {}

  bool first(std::size_t length, std::string_view& bytes, std::string& error) override;
  bool last(std::size_t length, std::string_view& bytes) override;
  std::size_t size() const override { return file_.size(); }
  std::int64_t mtime() const override { return file_.mtime(); }

 private:
  FileReader& file_;
  std::string_view head_;
  std::string tail_;
};

// The bytes of a file read whole before.
class WholeFile : public FileSource {
 public:
  WholeFile(std::string_view bytes, std::int64_t mtime) : bytes_(bytes), mtime_(mtime) {}

  bool first(std::size_t length, std::string_view& bytes, std::string&) override {
    bytes = bytes_.substr(0, length);
    return true;
  }
  bool last(std::size_t length, std::string_view& bytes) override {
    bytes = bytes_.substr(bytes_.size() > length ? bytes_.size() - length : 0);
    return true;
  }
  std::size_t size() const override { return bytes_.size(); }
  std::int64_t mtime() const override { return mtime_; }

 private:
  std::string_view bytes_;
  std::int64_t mtime_;
};

}  // namespace drovanta
