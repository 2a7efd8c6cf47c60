#include "run/disk_check_line.h"

namespace drovanta {
namespace {

std::string counted(long count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string DiskCheckLine(const RunSummary& summary) {
  const DiskCheck& checked = summary.checked;
  if (checked.onDisk == OnDisk::NotFlushed) {
    return "Not flushed: " + counted(summary.converted, "record", "records") + " in " +
           counted(static_cast<long>(summary.mailboxes.size()), "mailbox", "mailboxes") +
           ", not checked";
  }
  // After a stop the mailboxes are all flushed, but not all of their records looked at.
  std::string line = (checked.stopped ? "Checked until the stop: " : "Checked: ") +
                     counted(checked.records, "record", "records") + " in " +
                     counted(checked.mailboxes, "mailbox", "mailboxes");
  if (!checked.differing.empty()) {
    const auto differing = static_cast<long>(checked.differing.size());
    return line + ", " + std::to_string(differing) + (differing == 1 ? " differs" : " differ");
  }
  if (checked.onDisk == OnDisk::ReadBack && !checked.stopped) {
    return line + ", on disk and read back whole";
  }
  line += ", in place and on disk";
  if (checked.onDisk == OnDisk::ReadBack) {
    line += "; " + std::to_string(checked.readBack) + " read back whole";
  }
  return line;
}

}  // namespace drovanta
