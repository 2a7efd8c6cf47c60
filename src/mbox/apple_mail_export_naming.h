#pragma once

#include <memory>
#include <string>

#include "mbox/mailbox_naming.h"

namespace drovanta {

class AppleAccountNames;

// One mailbox per Apple Mail mailbox in the form Apple Mail's export writes and its importer
// (File > Import Mailboxes > Files in mbox format) reads back: a folder "<Name>.mbox" holding a
// file "mbox", children's folders inside their parent's, under the account by the name
// `accounts` gives it: <destination>/<account>/<Parent>.mbox/<Name>.mbox/mbox. A message outside
// any mailbox folder goes to <destination>/<its folder's name>.mbox/mbox.
MailboxPlace AppleMailExportPlaceFor(const std::string& destinationFolder,
                                     const std::string& messagePath,
                                     const AppleAccountNames& accounts, bool versionFolders,
                                     char separator = kPathSeparator);
MailboxPlacer AppleMailExportPlacer(std::shared_ptr<const AppleAccountNames> accounts,
                                    bool versionFolders);

}  // namespace drovanta
