#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "mbox/message_key.h"
#include "shellutil/failure.h"

namespace drovanta {

// The messages a mailbox file held before a run added to it, by key, so that a rerun adds only
// the messages it does not hold yet. Each record holds one copy of its message: a key is kept
// with the number of its records (a count, not a list, so memory grows with the distinct keys).
class MailboxIndex {
 public:
  // The records read, the last one included (those taken since too).
  std::size_t size() const { return records_ + (last_ ? 1 : 0); }
  // A record followed by another: whole.
  void add(const MessageKey& key) {
    ++records_;
    // The last record read again by readOn, now followed by another, was taken already.
    if (std::exchange(reReadTaken_, false)) return;
    ++counts_[key];
  }

  // The last record, whose end alone cannot tell a whole record from one cut just after an empty
  // line inside its body: kept apart with the bytes of its body other than line ends and quoting
  // (BodyByteCounter's count), which a message must match to be held.
  void setLast(const MessageKey& key, std::uint64_t bodyBytes) {
    last_ = key;
    lastBodyBytes_ = bodyBytes;
    lastTaken_ = std::exchange(reReadTaken_, false);
  }

  // Whether a record not taken yet holds the message whole, and if so takes it: asked once per
  // message in the order the messages go to the mailbox, N records of a key cover the first N
  // copies of the message and the copies after them are written. The records followed by
  // another are taken first; the last one holds the message when it has the key and the body
  // bytes `bodyBytes` gives (asked only then; nullopt: not known).
  template <typename BodyBytes>
  bool takeRecordOf(const MessageKey& key, const BodyBytes& bodyBytes) {
    if (const auto found = counts_.find(key); found != counts_.end()) {
      if (--found->second == 0) counts_.erase(found);
      return true;
    }
    if (!last_ || lastTaken_ || !(*last_ == key)) return false;
    const std::optional<std::uint64_t> count = bodyBytes();
    lastTaken_ = count && *count == lastBodyBytes_;
    return lastTaken_;
  }

  // With the mailbox's write lock held on `fd` (opened for reading too; `status` its fstat at
  // the lock): reads the records other writers appended since the index was read, so that a
  // message is judged against the mailbox as it stands while nobody else can add to it. Read
  // again whole when the path names another file now or a shorter one (rewritten meanwhile). A
  // failure names `path`; reading on is tried again at the next call.
  MaybeFailure readOn(int fd, const struct stat& status, const std::string& path);
  // The run appended a record of its own at [start, end) right after what was read: reading on
  // starts after it (two copies of one message in a run both go in), and the record before it is
  // whole. Ignored for a record that does not follow what was read.
  void passOver(std::uint64_t start, std::uint64_t end);

 private:
  friend Outcome<MailboxIndex> ReadMailboxIndex(const std::string& mailboxPath);
  // Keys the records from `from` (the start of a record) to the end of the file.
  MaybeFailure readFrom(int fd, std::uint64_t from, const std::string& path);

  std::unordered_map<MessageKey, std::uint32_t, MessageKeyHash> counts_;  // records not taken
  std::size_t records_ = 0;
  std::optional<MessageKey> last_;
  std::uint64_t lastBodyBytes_ = 0;
  bool lastTaken_ = false;
  bool reReadTaken_ = false;  // the record readOn reads first is the last one, taken already
  // The file read, and how far: reading on goes from where its last record starts, as only what
  // follows a record tells whether it is whole.
  bool fileRead_ = false;  // a missing mailbox reads as empty
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::uint64_t length_ = 0;
  std::uint64_t readOnFrom_ = 0;
};

// Reads the keys of every record of the mailbox file, in one pass through a buffer of fixed
// size, so that memory grows with the index only. A record starts at a "From " line that begins
// the file or follows an empty line; its header block runs to the next empty line. The last
// record counts only when an empty line ends the file, as one ends every record written whole,
// and then only for a message of the same body size: a record torn by a killed run is
// left out, so its message is written again. A missing
// file gives an empty index. Fails, naming the mailbox and changing nothing, when the file is
// not an mbox (it does not start with "From "), when another program holds its write lock or
// its dot-lock (it is being written), or when it cannot be read.
Outcome<MailboxIndex> ReadMailboxIndex(const std::string& mailboxPath);

}  // namespace drovanta
