#pragma once

#include <string>
#include <vector>

#include "run/conversion_observer.h"
#include "run/conversion_run.h"

namespace drovanta {

// Converts the rows as RunConversion does, on up to `jobs` threads. Different mailboxes are
// converted at the same time; within a mailbox, the messages are read and converted into memory
// by any thread (MessagesAhead: a bounded number ahead, under a fixed byte budget; a message
// over 1 MB waits its turn and streams), while their records are appended by one thread, in row
// order. So every mailbox ends up byte for byte as a serial run leaves it. Mailboxes that might
// be one file on a file system that ignores case, or whose file stands where another mailbox's
// folder must go, are converted together, so that which of them wins does not depend on timing.
//
// The observer is called on the calling thread only, row by row in row order, with the events
// a serial run gives: turnStarted, messageOpened, the last lineRead of the message, warned and
// the turn's end. Yield points are not passed on. The summary is the serial run's. The rows of
// a single mailbox are written on the calling thread, every event told as it comes (a message
// prepared ahead tells only its last lineRead), yield points included.
//
// Each group flushes and checks its mailboxes (options.onDisk) on its worker, and the summary adds
// their findings up (in group order); records a failed flush removed count as failed.
//
// A stop asked for before a row lets each thread end the turn it is in; the rows done by then
// are told and counted, every other row counts as not reached, and messages prepared for them
// are dropped. The options' placer is called from the worker threads as well, for several
// messages at once. With jobs of 1 or less this is RunConversion itself. Either way, output
// folders the run made and left empty (every record for them failed) are removed at the end.
RunSummary RunConversionInParallel(const std::vector<std::string>& rows,
                                   const std::string& destinationFolder,
                                   ConversionObserver& observer, const RunOptions& options,
                                   unsigned jobs);

}  // namespace drovanta
