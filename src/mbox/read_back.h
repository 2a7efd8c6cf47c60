#pragma once

#include <string>
#include <vector>

#include "mbox/mailbox_record.h"
#include "mbox/stop_request.h"
#include "shellutil/failure.h"

namespace drovanta {

// What reading a mailbox back from the disk found.
struct MailboxReadBack {
  long records = 0;       // every record the file holds, those of earlier runs included
  MaybeFailure differs;   // names the mailbox and says how it differs from what was written
  bool cutShort = false;  // a second stop request ended the reading: nothing else holds
};

// Reads the mailbox file back in one pass through a buffer of fixed size: counts its records
// ("From " lines that begin the file or follow an empty line) and compares each record a run
// appended, by the digest the writer took (`appended`, as MailboxWriter::lastRecord gave them),
// with the bytes now at its place. Fails when the file cannot be read or any appended record
// differs (one the file is too short to hold counts as differing). A second request of `stop`
// (abandoning) ends it at once, cut short.
MailboxReadBack ReadBackMailbox(const std::string& mailboxPath, std::vector<WrittenRecord> appended,
                                const StopRequest* stop = nullptr);

}  // namespace drovanta
