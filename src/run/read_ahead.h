#pragma once

#include <string>

#include "run/row_source.h"

namespace drovanta {

// Tells the kernel which message files come next, so that they are read from disk while the
// ones before them are converted: with a cold cache the disk then works on several files at
// once instead of waiting on one file at a time. Only a hint: nothing stays open, and a file
// that cannot be opened is left for its own turn to report.
class ReadAhead {
 public:
  // A few files ahead are enough to keep the disk busy; more would fill the page cache with
  // files long before their turn.
  static constexpr long kFilesAhead = 8;
  // The start of each file; the kernel's own read-ahead follows a file read through.
  static constexpr long long kBytesAhead = 4LL << 20;
  // Once this many files in a row were in memory already, only one file in kProbeSpacing is
  // looked at, until one is found missing from memory: with a warm cache, opening every file
  // ahead would cost more than the announcing saves.
  static constexpr long kInMemoryBeforeQuiet = 16;
  static constexpr long kProbeSpacing = 16;

  ReadAhead(RowSource& rows, long rowCount) : rows_(rows), rowCount_(rowCount) {}

  // Once row `row` is done: announces the rows after it, up to kFilesAhead, not yet announced.
  // A row's text is read ahead of its turn only here, after the turns before it have ended.
  void announceAfter(long row);

 private:
  RowSource& rows_;
  const long rowCount_;
  long announcedUpTo_ = 0;  // rows below this one are announced
  long inMemoryRun_ = 0;    // files in a row found in memory already
  long sinceProbe_ = 0;     // files passed over since the last one looked at
};

// Asks the kernel to start reading the file's first `bytes` now (posix_fadvise WILLNEED), unless
// its start is in memory already. Returns whether it was: true also for a file that cannot be
// opened, as there is nothing to announce.
bool AnnounceRead(const std::string& path, long long bytes);

}  // namespace drovanta
