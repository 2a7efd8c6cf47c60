#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mbox/mailbox_naming.h"

namespace drovanta {

// One mailbox file per Apple Mail mailbox:
// <destination>/<account folder>/<parent mailboxes>/<Name>.mbox. Messages outside any mailbox
// folder get nullopt, which keeps the default naming.
std::optional<MailboxPlace> AppleMailboxPlaceFor(const std::string& destinationFolder,
                                                 const std::string& messagePath,
                                                 char separator = kPathSeparator);

// The placer for RunOptions.
MailboxPlacer AppleLayoutPlacer();

// Puts the messages of each Apple Mail mailbox into message-number order across its shards.
// Each mailbox's messages keep the positions its messages held in the list, so messages outside
// mailbox folders and the order between mailboxes stay as they were. Messages without a number
// follow the numbered ones of their mailbox, in their old order.
std::vector<std::string> OrderForAppleLayout(std::vector<std::string> paths,
                                             char separator = kPathSeparator);

}  // namespace drovanta
