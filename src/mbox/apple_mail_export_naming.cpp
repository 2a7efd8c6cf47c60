#include "mbox/apple_mail_export_naming.h"

#include <optional>
#include <utility>

#include "mbox/apple_accounts.h"
#include "mbox/apple_layout.h"

namespace drovanta {

MailboxPlace AppleMailExportPlaceFor(const std::string& destinationFolder,
                                     const std::string& messagePath,
                                     const AppleAccountNames& accounts, bool versionFolders,
                                     char separator) {
  std::string folder = AddSeparator(destinationFolder, separator);
  const auto mailbox = FindAppleMailbox(messagePath, separator);
  if (!mailbox) {
    // The mirror naming's mailbox name, as a folder of its own.
    const MailboxPlace mirror = MailboxPlaceFor(destinationFolder, messagePath, separator);
    folder += GetFileName(mirror.mailboxPath, separator);
  } else {
    if (versionFolders && !mailbox->libraryVersion.empty()) {
      folder += mailbox->libraryVersion;
      folder += separator;
    }
    const std::string account = accounts.nameOf(*mailbox);
    if (!account.empty()) {
      folder += account;
      folder += separator;
    }
    for (std::size_t i = 0; i < mailbox->mailboxNames.size(); ++i) {
      if (i > 0) folder += separator;
      folder += mailbox->mailboxNames[i] + ".mbox";
    }
  }
  MailboxPlace place;
  place.outputFolder = folder + separator;
  place.mailboxPath = place.outputFolder + "mbox";
  return place;
}

MailboxPlacer AppleMailExportPlacer(std::shared_ptr<const AppleAccountNames> accounts,
                                    bool versionFolders) {
  return [accounts = std::move(accounts), versionFolders](const std::string& destinationFolder,
                                                          const std::string& messagePath) {
    return std::optional<MailboxPlace>(
        AppleMailExportPlaceFor(destinationFolder, messagePath, *accounts, versionFolders));
  };
}

}  // namespace drovanta
