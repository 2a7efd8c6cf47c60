#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mbox/mailbox_naming.h"

namespace drovanta {

// One mailbox file per Apple Mail mailbox:
// <destination>/<account folder>/<parent mailboxes>/<Name>.mbox, the same for the libraries
// before V2 and for V2 to V10. With versionFolders, a message of a versioned library goes
// under <destination>/<V n>/ instead, so that the versions an upgraded Mac kept side by side
// do not mix. Messages outside any mailbox folder get nullopt, which keeps the default naming.
std::optional<MailboxPlace> AppleMailboxPlaceFor(const std::string& destinationFolder,
                                                 const std::string& messagePath,
                                                 char separator = kPathSeparator,
                                                 bool versionFolders = false);

// The library versions ("V2", "V10") the messages come from, in version order.
std::vector<std::string> AppleLibraryVersions(const std::vector<std::string>& messagePaths,
                                              char separator = kPathSeparator);

// The placer for RunOptions.
MailboxPlacer AppleLayoutPlacer(bool versionFolders = false);

// Puts the messages of each Apple Mail mailbox into message-number order across its shards.
// Each mailbox's messages keep the positions its messages held in the list, so messages outside
// mailbox folders and the order between mailboxes stay as they were. Messages without a number
// follow the numbered ones of their mailbox, in their old order.
std::vector<std::string> OrderForAppleLayout(std::vector<std::string> paths,
                                             char separator = kPathSeparator,
                                             bool versionFolders = false);

// Everything a run needs to name Apple Mail mailboxes for these messages: the versions found,
// each in its own folder when there are several, and the messages in mailbox order.
struct AppleLayoutPlan {
  std::vector<std::string> versions;  // as AppleLibraryVersions gives them
  bool versionFolders = false;        // more than one version: each goes under V<n>/
  std::vector<std::string> rows;      // OrderForAppleLayout of the messages
  MailboxPlacer placer;
};
AppleLayoutPlan PlanAppleLayout(std::vector<std::string> messagePaths);

}  // namespace drovanta
