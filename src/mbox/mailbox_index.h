#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>

#include "mbox/message_key.h"
#include "shellutil/failure.h"

namespace drovanta {

// The messages a mailbox file held before a run added to it, by key, so that a rerun adds only
// the messages it does not hold yet.
class MailboxIndex {
 public:
  bool contains(const MessageKey& key) const { return keys_.count(key) != 0; }
  std::size_t size() const { return keys_.size(); }
  void add(const MessageKey& key) { keys_.insert(key); }

 private:
  std::unordered_set<MessageKey, MessageKeyHash> keys_;
};

// Reads the keys of every record of the mailbox file, in one pass through a buffer of fixed
// size, so that memory grows with the index only. A record starts at a "From " line that begins
// the file or follows an empty line; its header block runs to the next empty line. The last
// record counts only when an empty line ends the file, as one ends every record written whole:
// a record torn by a killed run is left out, so its message is written again. A missing
// file gives an empty index. Fails, naming the mailbox and changing nothing, when the file is
// not an mbox (it does not start with "From "), when another program holds its write lock (it
// is being written), or when it cannot be read.
Outcome<MailboxIndex> ReadMailboxIndex(const std::string& mailboxPath);

}  // namespace drovanta
