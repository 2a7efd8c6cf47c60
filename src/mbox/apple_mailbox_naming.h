#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mbox/mail_program.h"
#include "mbox/mailbox_naming.h"
#include "shellutil/failure.h"

namespace drovanta {

class AppleAccountNames;

// One mailbox file per Apple Mail mailbox:
// <destination>/<account folder>/<parent mailboxes>/<Name>.mbox, the same for the libraries
// before V2 and for V2 to V10. With versionFolders, a message of a versioned library goes
// under <destination>/<V n>/ instead, so that the versions an upgraded Mac kept side by side
// do not mix. Messages outside any mailbox folder get nullopt, which keeps the default naming.
// The account folder is named as `accounts` names it (the folder's own name without).
std::optional<MailboxPlace> AppleMailboxPlaceFor(const std::string& destinationFolder,
                                                 const std::string& messagePath,
                                                 char separator = kPathSeparator,
                                                 bool versionFolders = false,
                                                 const AppleAccountNames* accounts = nullptr);

// The library versions ("V2", "V10") the messages come from, in version order.
std::vector<std::string> AppleLibraryVersions(const std::vector<std::string>& messagePaths,
                                              char separator = kPathSeparator);

// The placer for RunOptions.
MailboxPlacer AppleLayoutPlacer(bool versionFolders = false,
                                std::shared_ptr<const AppleAccountNames> accounts = nullptr);

// Puts the messages of each Apple Mail mailbox into message-number order across its shards.
// Each mailbox's messages keep the positions its messages held in the list, so messages outside
// mailbox folders and the order between mailboxes stay as they were. Messages without a number
// follow the numbered ones of their mailbox, in their old order.
std::vector<std::string> OrderForAppleLayout(std::vector<std::string> paths,
                                             char separator = kPathSeparator,
                                             bool versionFolders = false);

// Everything a run needs to name Apple Mail mailboxes for these messages in the form `program`
// reads: the versions found, each in its own folder when there are several, the accounts by
// their names (AccountsMap.plist), and the messages in mailbox order.
struct AppleLayoutPlan {
  std::vector<std::string> versions;  // as AppleLibraryVersions gives them
  bool versionFolders = false;        // more than one version: each goes under V<n>/
  std::vector<std::string> rows;      // OrderForAppleLayout of the messages
  MailboxPlacer placer;
  std::vector<Notice> warnings;  // about the accounts' names (a map that cannot be read...)
  // What the program needs beside the mailboxes once the run wrote them (Thunderbird: the file
  // beside each parent folder, and the prefs.js its Import wizard looks for); answers the files
  // it could not make. Empty when nothing.
  std::function<std::vector<Failure>(const std::string& destination,
                                     const std::vector<std::string>& mailboxes)>
      finish;
};
AppleLayoutPlan PlanAppleLayout(std::vector<std::string> messagePaths,
                                MailProgram program = MailProgram::Any);

}  // namespace drovanta
