#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mbox/mailbox_naming.h"
#include "shellutil/failure.h"

namespace drovanta {

class AppleAccountNames;

// Where the Local Folders of a Thunderbird profile lie, below the profile (and below DEST).
inline constexpr const char* kThunderbirdLocalFolders = "Mail/Local Folders";

// The file name Thunderbird gives a folder of this name (UTF-8), as it does when the folder is
// made in Thunderbird: a name holding a character it cannot store (/ ; # : * ? " < > | or a
// control character), starting with "." or ending with ".", "~" or " " is cut before that
// character, a name over 55 UTF-16 units to its first 47, and eight hex digits of a hash of the
// whole name follow. Other names stay as they are.
std::string ThunderbirdFolderName(const std::string& name);

// One Thunderbird folder per Apple Mail mailbox:
// <destination>/Mail/Local Folders/<account>.sbd/<parent mailboxes>.sbd/<Name>, the account by
// the name `accounts` gives it. A message outside any mailbox folder goes to the folder named
// after its own folder, <destination>/Mail/Local Folders/<folder name>; a name Thunderbird gives
// one of its own folders there ("Inbox", "Trash", any case) gets " (converted)".
MailboxPlace ThunderbirdPlaceFor(const std::string& destinationFolder,
                                 const std::string& messagePath, const AppleAccountNames& accounts,
                                 bool versionFolders, char separator = kPathSeparator);
MailboxPlacer ThunderbirdPlacer(std::shared_ptr<const AppleAccountNames> accounts,
                                bool versionFolders);

// Thunderbird shows a folder "<Name>.sbd" only beside a file "<Name>": makes that file, empty,
// for each ".sbd" folder above the mailboxes (up to "Local Folders") where none is. Nothing
// there is changed; each file that cannot be made is a failure.
std::vector<Failure> AddThunderbirdParentFiles(const std::vector<std::string>& mailboxPaths,
                                               char separator = kPathSeparator);

// Thunderbird's Tools > Import > Import from Thunderbird takes a profile's Local Folders only
// when the profile's prefs.js names them: writes <destination>/prefs.js naming
// <destination>/Mail/Local Folders, unless a prefs.js is there already (a real profile's is
// never touched).
MaybeFailure WriteThunderbirdImportPrefs(const std::string& destinationFolder);

}  // namespace drovanta
