#pragma once

#include <functional>
#include <optional>
#include <string>

#include "shellutil/path_helpers.h"

namespace drovanta {

// Where one message's record goes: the mirror of its source folder under the destination, and
// the ".mbox" file in it named after that folder.
struct MailboxPlace {
  std::string outputFolder;  // ends with the separator
  std::string mailboxPath;
};

// Derives the place without touching the disk (the command line's dry run uses it).
MailboxPlace MailboxPlaceFor(const std::string& destinationFolder, const std::string& messagePath,
                             char separator = kPathSeparator);

// Derives the place and creates the output folder; a folder that cannot be created shows only
// when the mailbox file is opened.
MailboxPlace MailboxPathFor(const std::string& destinationFolder, const std::string& messagePath);

// Chooses another mailbox for a message (for example one per Apple Mail mailbox); nullopt keeps
// the default mirror of the source folder.
using MailboxPlacer = std::function<std::optional<MailboxPlace>(
    const std::string& destinationFolder, const std::string& messagePath)>;

}  // namespace drovanta
