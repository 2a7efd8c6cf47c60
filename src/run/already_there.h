#pragma once

#include <string>
#include <vector>

#include "run/conversion_run.h"

namespace drovanta {

// What the destination already holds of a run's messages, before the run: asked so that a
// front-end can offer to add only the new ones.
struct AlreadyThereCount {
  long messages = 0;     // rows whose mailbox holds them, as a newOnly run would find
  long mailboxes = 0;    // mailboxes of the run that exist already (and are mboxes)
  bool stopped = false;  // options.stop asked the count to end before its last row
};

// Reads each existing mailbox the rows would go to once, and the header block of each row's
// message whose mailbox exists. Rows that cannot be read and mailboxes that cannot be read or
// are not mboxes count as not there: the run itself reports them. A stop request
// (options.stop) ends the count before the next row.
AlreadyThereCount CountAlreadyThere(const std::vector<std::string>& rows,
                                    const std::string& destinationFolder,
                                    const RunOptions& options);

}  // namespace drovanta
