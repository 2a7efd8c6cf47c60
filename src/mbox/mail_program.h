#pragma once

namespace drovanta {

// The mail program the mailboxes are made for: the form each target reads without renaming.
enum class MailProgram {
  Any,          // one "<Name>.mbox" file per mailbox (every mbox reader)
  Thunderbird,  // DEST/Mail/Local Folders/<account>.sbd/...: Thunderbird's own layout
  AppleMail,    // DEST/<account>/<Name>.mbox/mbox: what Apple Mail's export writes
};

}  // namespace drovanta
