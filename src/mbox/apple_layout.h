#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shellutil/path_helpers.h"

namespace drovanta {

// Where Apple Mail keeps a message: the chain of mailbox folders ("<Name>.mbox") that hold it
// and the account folder just above the top-most of them.
struct AppleMailboxPath {
  std::string accountFolder;              // "" when the top-most mailbox sits at the root
  std::vector<std::string> mailboxNames;  // outermost first, without ".mbox"
  // The library version folder just above the account folder ("V2" to "V10"), "" in the
  // libraries before them (~/Library/Mail/POP-user@host, Mailboxes for On My Mac).
  std::string libraryVersion;
  // The path of that version folder ("/Users/ann/Library/Mail/V10"), "" without one.
  std::string versionFolderPath;
};

// Finds the mailbox folders on a message's path. A folder counts as a mailbox when its name
// ends in ".mbox", ".mbox.noindex" or ".imapmbox" (older IMAP accounts; any case). The
// innermost one is the message's mailbox, whatever shard folders (<UUID>/Data/<n>/.../Messages,
// any depth) lie below it. nullopt when no folder on the path is a mailbox.
std::optional<AppleMailboxPath> FindAppleMailbox(const std::string& messagePath,
                                                 char separator = kPathSeparator);

// The number Apple Mail gives a message: the leading digits of its file name ("1234.emlx",
// "1234.partial.emlx"); nullopt when the name does not start with a digit.
// True for a library version folder name: "V" and digits.
bool IsAppleLibraryVersion(const std::string& folderName);

std::optional<std::uint64_t> AppleMessageNumber(const std::string& messagePath,
                                                char separator = kPathSeparator);

}  // namespace drovanta
