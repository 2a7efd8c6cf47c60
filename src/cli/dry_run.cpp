#include "cli/dry_run.h"

#include <unordered_set>

#include "mbox/mailbox_naming.h"
#include "shellutil/path_helpers.h"

namespace drovanta {

std::size_t PrintDryRun(std::FILE* stream, const std::vector<std::string>& rows,
                        const std::string& destinationFolder, const RunOptions& options) {
  std::unordered_set<std::string> mailboxes;
  for (const auto& row : rows) {
    const MailboxPlace place = PlaceForMessage(options, destinationFolder, row);
    mailboxes.insert(place.mailboxPath);
    std::fprintf(stream, "%s -> %s\n", PrintableText(row).c_str(),
                 PrintableText(place.mailboxPath).c_str());
  }
  return mailboxes.size();
}

}  // namespace drovanta
