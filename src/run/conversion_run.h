#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mbox/mailbox_naming.h"
#include "mbox/mailbox_record.h"
#include "mbox/record_options.h"
#include "mbox/stop_request.h"
#include "run/conversion_observer.h"
#include "run/row_source.h"
#include "shellutil/failure.h"

namespace drovanta {

class WriterLane;  // run/messages_ahead.h

struct RunOptions {
  RecordOptions record;
  MailboxPlacer placer;  // empty: the default naming
  // Asked between turns and while a record is written; null: the run cannot be stopped. While
  // it is held, the run (each thread of a parallel one) waits before its next row.
  const StopRequest* stop = nullptr;
  // Leave out each message its mailbox holds whole (MailboxIndex): a record with the same
  // Message-ID and Date values, or, for a message without a Message-ID, the same header block,
  // and as many of its bytes. Each mailbox is read with its lock held (waited for), then read on
  // under the lock from where that left off (so a message another writer added meanwhile counts
  // as there too). A record stands for one copy: a message held N times leaves out its first N
  // copies in the rows, the others go in.
  bool newOnly = false;
  // What is made sure of before the run returns (RunSummary::checked): by default each mailbox
  // is flushed to the disk once the run is done with it, and checked, and so is each folder the
  // run created a file or folder in.
  OnDisk onDisk = OnDisk::Checked;
  // How a mailbox is flushed, with fdatasync's contract; empty: fdatasync (tests pass calls that
  // fail or that change the file first).
  std::function<int(int fd)> flushCall;
};

// What flushing and checking the mailboxes found.
struct DiskCheck {
  OnDisk onDisk = OnDisk::NotFlushed;  // what the run made sure of
  long records = 0;                    // records the run appended and found in place
  long readBack = 0;                   // of them, read back from the disk whole (OnDisk::ReadBack)
  long mailboxes = 0;                  // mailboxes flushed and checked
  bool stopped = false;                // a stop request ended a check before its end
  // One per mailbox not as the run left it, or folder that could not be flushed.
  std::vector<Failure> differing;
  // Records cut back out because their mailbox could not be flushed or closed: their messages
  // count as failed, under these failures (in RunSummary::failures too).
  long removed = 0;
  std::vector<Failure> removals;
};

struct RunSummary {
  long converted = 0;
  long failed = 0;
  long skipped = 0;       // not messages (AppleDouble sidecars)
  long warnings = 0;      // messages converted with a warning (each may warn more than once)
  long alreadyThere = 0;  // left out: their mailbox held them before the run (newOnly)
  // The run was asked to stop: by the observer before its last row, or by a stop request at any
  // time (during the last record or the checking at the end too), so that a front-end always
  // tells of the request it took.
  bool stopped = false;
  // Rows the stopped run did not convert: those it did not come to, and one whose record it
  // left out or cut back when the request came while it was read or written.
  long notReached = 0;
  std::uint64_t bytesRead = 0;         // message bytes of the converted messages
  std::uint64_t bytesWritten = 0;      // record bytes appended
  std::vector<std::string> mailboxes;  // each mailbox written, in the order first written
  // In row order. Each names the message; a failure about the output folder or the mailbox
  // carries that path in its reason.
  std::vector<Failure> failures;
  // Messages the automatic mode wrote with their own CR LF line ends (some readers cannot take
  // those: the Lf mode writes them with LF).
  long crLfMessages = 0;
  DiskCheck checked;
  // The output folders the run made; those left empty (every record for them failed) are
  // removed at its end.
  std::vector<std::string> foldersMade;

  bool succeeded() const { return failed == 0 && checked.differing.empty(); }
};

// Where a run puts a message's record: the options' placer's choice, else the default naming.
MailboxPlace PlaceForMessage(const RunOptions& options, const std::string& destinationFolder,
                             const std::string& messagePath);

// Converts every row, in order, into the mailbox files under destinationFolder (a separator is
// added when missing). A row's text is taken as the path as it is; rows that are empty or only
// spaces are passed over. A failing row is reported and the run goes on; every mailbox holds
// whole records only.
//
// Each turn starts with turnStarted and, unless its row is empty, ends with exactly one of
// turnFinished (after any warned calls), turnFailed, turnSkipped or turnAlreadyThere. With
// newOnly, a mailbox that cannot be read or is not an mbox fails every turn that would write to
// it, and is left as it was. Each mailbox is flushed and
// checked as options.onDisk asks when the run moves on from it and at the end (after a stop too),
// and the folders it created files or folders in are flushed before the run returns; a mailbox
// that cannot be flushed loses the records of its messages, which count as failed. The output
// folder is made once the message has been read and is about to be written (with newOnly, before
// its mailbox is read), so a message that fails or is skipped before leaves no folder behind; one
// that cannot be made fails the turn. When the
// observer asks to stop, the run ends before the next row and counts the rows it did not come to. A
// stop request (options.stop) also ends it during a turn: a message read but not yet written is
// left out, and a record abandoned half-way by a second request is cut back; that turn ends without
// a call and counts as not reached, not as failed.
RunSummary RunConversion(RowSource& rows, const std::string& destinationFolder,
                         ConversionObserver& observer, const RunOptions& options = {});

// The same, writing each message `ahead` made ready before its turn instead of reading it at
// the turn (ahead must prepare with options.record). Mailboxes, summary and reports are the
// same, except that such a message reports only its last lineRead. The rows are asked of
// `ahead` in increasing order, each once.
RunSummary RunConversion(RowSource& rows, const std::string& destinationFolder,
                         ConversionObserver& observer, const RunOptions& options,
                         WriterLane& ahead);

}  // namespace drovanta
