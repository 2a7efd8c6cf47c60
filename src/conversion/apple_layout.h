#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "conversion/conversion_run.h"
#include "conversion/mailbox_naming.h"

namespace drovanta {

// Where Apple Mail keeps a message: the chain of mailbox folders ("<Name>.mbox") that hold it
// and the account folder just above the top-most of them.
struct AppleMailboxPath {
  std::string accountFolder;              // "" when the top-most mailbox sits at the root
  std::vector<std::string> mailboxNames;  // outermost first, without ".mbox"
};

// Finds the mailbox folders on a message's path ("/" separated). A folder counts as a mailbox
// when its name ends in ".mbox" or ".mbox.noindex" (any case). The innermost one is the
// message's mailbox, whatever shard folders (<UUID>/Data/<digits>/Messages) lie below it.
// nullopt when no folder on the path is a mailbox.
std::optional<AppleMailboxPath> FindAppleMailbox(const std::string& messagePath,
                                                 char separator = kPathSeparator);

// One mailbox file per Apple Mail mailbox:
// <destination>/<account folder>/<parent mailboxes>/<Name>.mbox. Messages outside any mailbox
// folder get nullopt, which keeps the default naming.
std::optional<MailboxPlace> AppleMailboxPlaceFor(const std::string& destinationFolder,
                                                 const std::string& messagePath,
                                                 char separator = kPathSeparator);

// The placer for RunOptions.
MailboxPlacer AppleLayoutPlacer();

// The number Apple Mail gives a message: the leading digits of its file name ("1234.emlx",
// "1234.partial.emlx"); nullopt when the name does not start with a digit.
std::optional<std::uint64_t> AppleMessageNumber(const std::string& messagePath,
                                                char separator = kPathSeparator);

// Puts the messages of each Apple Mail mailbox into message-number order across its shards.
// Each mailbox's messages keep the positions its messages held in the list, so messages outside
// mailbox folders and the order between mailboxes stay as they were. Messages without a number
// follow the numbered ones of their mailbox, in their old order.
std::vector<std::string> OrderForAppleLayout(std::vector<std::string> paths,
                                             char separator = kPathSeparator);

}  // namespace drovanta
