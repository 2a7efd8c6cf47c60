#pragma once

#include <string>

#include "run/conversion_run.h"

namespace drovanta {

// What a run made sure of on the disk, in one sentence for the end of its report:
//   "Checked: 400 records in 10 mailboxes, in place and on disk"
//   "Checked: 400 records in 10 mailboxes, on disk and read back whole"   (OnDisk::ReadBack)
//   "Not flushed: 400 records in 10 mailboxes, not checked"               (OnDisk::NotFlushed)
// ", 2 differ" instead when mailboxes or folders were not as the run left them (each is also a
// failure); "Checked until the stop: ..." when a stop ended the check (what was checked until
// then; with --verify, "; N read back whole" follows).
std::string DiskCheckLine(const RunSummary& summary);

}  // namespace drovanta
