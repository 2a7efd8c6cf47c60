#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "mbox/message_key.h"
#include "mbox/record_byte_count.h"
#include "shellutil/failure.h"

namespace drovanta {

// What a mailbox holds, so that a rerun adds only the messages it does not hold whole yet: one
// entry per record, the key of its message (MessageKeyOf) with the RecordByteCount of its text.
// A record holds its message whole when the two match its message's, wherever it stands in the
// file: a record cut short by a killed run counts fewer bytes, also once records follow it (the
// next writer only puts line ends after it). Each record stands for one copy.
//
// A mailbox is read in one pass through a buffer of fixed size, so memory grows with its records
// only. A record starts at a "From " line that begins the file or follows an empty line; its
// header block runs to the next empty line. The end of the file ends the last record as line
// ends would; a separator line without its line end (a record torn before its first line end)
// holds no message and is no record.
class MailboxIndex {
 public:
  // The records not taken yet.
  std::size_t size() const { return records_.size(); }

  // Takes a record that holds the message with `key` whole, when one is left: `recordBytes`
  // gives the RecordByteCount of the message's record text (asked only when a record has the
  // key; nullopt: not known, nothing is taken). Asked once per message, in the order the
  // messages go to the mailbox: N whole records of a message cover its first N copies, and the
  // copies after them are written.
  bool takeCopyOf(const MessageKey& key,
                  const std::function<std::optional<std::uint64_t>()>& recordBytes);

  // Reads the records added to the mailbox open as `fd` (readable) since the last call: all of
  // them the first time, or when `fd` is another file or a shorter one than was read (rewritten
  // meanwhile). Called with the mailbox's write lock held, a message is judged against the
  // mailbox as it stands while nobody else can add to it. A failure names `path`; the index is
  // then read again whole at the next call.
  MaybeFailure readOn(int fd, const std::string& path);

  // The caller appended a record of its own at [start, end), under the lock it read on under:
  // reading on starts after it, and it stands for no copy (two copies of one message in a run
  // both go in). `start` lies before the end of what was read when the writer cut a torn
  // separator line back first.
  void passOver(std::uint64_t start, std::uint64_t end);

 private:
  enum class In { Nothing, Separator, Header, Body };

  MaybeFailure readFrom(int fd, std::uint64_t from, const std::string& path);
  // One piece of a line at file offset `at` (the whole line unless it is longer than the
  // buffer), its LF taken off; `lineEnd` false for a piece the line goes on after.
  void piece(std::string_view bytes, std::uint64_t at, bool lineEnd);
  void finishRecord();

  std::unordered_multimap<MessageKey, std::uint64_t, MessageKeyHash> records_;  // not taken
  // The file read and how far. Reading on goes on from where the last read ended, in the
  // state it ended in, except that a torn separator line is read again from its start.
  dev_t device_ = 0;
  ino_t inode_ = 0;
  std::uint64_t length_ = 0;
  std::uint64_t resumeAt_ = 0;
  In in_ = In::Nothing;
  std::uint64_t separatorAt_ = 0;  // where the record being read starts
  bool lineStart_ = true;          // the next byte starts a line
  bool afterEmpty_ = true;         // the last line was empty (the file's start counts as one)
  std::string header_;             // the header block so far, LF line ends
  bool headerTooLong_ = false;     // not kept whole: the record gets no key
  RecordByteCount bytes_;          // of the record being read
};

// Reads the index of the mailbox file without its lock, for a count ahead of a run (which reads
// its mailboxes again under their locks). A missing file gives an empty index. Fails, naming the
// mailbox and changing nothing, when the file is a symbolic link (not followed), is not an mbox
// (it does not start with "From "), or cannot be read.
Outcome<MailboxIndex> ReadMailboxIndex(const std::string& mailboxPath);

}  // namespace drovanta
