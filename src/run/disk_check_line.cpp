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
  std::string line = "Checked: " + counted(checked.records, "record", "records") + " in " +
                     counted(checked.mailboxes, "mailbox", "mailboxes");
  if (!checked.differing.empty()) {
    const auto differing = static_cast<long>(checked.differing.size());
    return line + ", " + std::to_string(differing) + (differing == 1 ? " differs" : " differ");
  }
  if (checked.onDisk == OnDisk::ReadBack && !checked.stopped) {
    return line + ", on disk and read back whole";
  }
  line += ", in place and on disk";
  if (checked.stopped) {
    line += checked.onDisk == OnDisk::ReadBack
                ? "; " + std::to_string(checked.readBack) + " read back before the stop"
                : "; the rest not checked after the stop";
  }
  return line;
}

}  // namespace drovanta
