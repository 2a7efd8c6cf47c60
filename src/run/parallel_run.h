#pragma once

#include <string>
#include <vector>

#include "run/conversion_observer.h"
#include "run/conversion_run.h"

namespace drovanta {

// Converts the rows as RunConversion does, with different mailboxes converted at the same time
// on up to `jobs` threads. All rows of one mailbox are converted by one thread, in row order,
// so every mailbox ends up byte for byte as a serial run leaves it. Mailboxes that might be one
// file on a file system that ignores case, or whose file stands where another mailbox's folder
// must go, are converted together, so that which of them wins does not depend on timing.
//
// The observer is called on the calling thread only, row by row in row order, with the events
// a serial run gives: turnStarted, messageOpened, the last lineRead of the message, warned and
// the turn's end. Yield points are not passed on. The summary is the serial run's.
//
// With options.readBack each group reads its mailboxes back on its worker as it ends, and the
// summary adds their findings up (in group order).
//
// A stop asked for before a row lets each thread end the turn it is in; the rows done by then
// are told and counted, every other row counts as not reached. The options' placer is called
// from the worker threads as well, for several messages at once. With jobs of 1 or less, or the
// rows of a single mailbox, this is RunConversion itself, every event included.
RunSummary RunConversionInParallel(const std::vector<std::string>& rows,
                                   const std::string& destinationFolder,
                                   ConversionObserver& observer, const RunOptions& options,
                                   unsigned jobs);

}  // namespace drovanta
