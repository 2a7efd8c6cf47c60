#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/conversion_observer.h"
#include "mbox/mailbox_naming.h"
#include "mbox/record_options.h"
#include "run/row_source.h"
#include "mbox/stop_request.h"
#include "shellutil/failure.h"

namespace drovanta {

struct RunOptions {
  RecordOptions record;
  MailboxPlacer placer;  // empty: the default naming
  // Asked between turns and while a record is written; null: the run cannot be stopped.
  const StopRequest* stop = nullptr;
};

struct RunSummary {
  long converted = 0;
  long failed = 0;
  long skipped = 0;   // not messages (AppleDouble sidecars)
  long warnings = 0;  // messages converted with a warning (each may warn more than once)
  // The run was asked to stop (by the observer or a stop request) before its last row.
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

  bool succeeded() const { return failed == 0; }
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
// turnFinished (after any warned calls), turnFailed or turnSkipped. An output folder that cannot
// be created fails the turn before the message is read. Files named "._*" that start with the
// AppleDouble magic are skipped before any folder is made for them. When the observer asks to
// stop, the run ends before the next row and counts the rows it did not come to. A stop request
// (options.stop) also ends it during a turn: a message read but not yet written is left out,
// and a record abandoned half-way by a second request is cut back; that turn ends without a
// call and counts as not reached, not as failed.
RunSummary RunConversion(RowSource& rows, const std::string& destinationFolder,
                         ConversionObserver& observer, const RunOptions& options = {});

}  // namespace drovanta
