#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mbox/stop_request.h"
#include "mbox/written_record.h"
#include "shellutil/failure.h"

namespace drovanta {

// What looking at the records a run appended to a mailbox, after it was flushed, found.
struct RecordsCheck {
  long records = 0;      // records found where they were put
  long readBack = 0;     // of them, read back from the device and found whole
  bool stopped = false;  // a stop request ended the check before its last record
  MaybeFailure differs;  // names the mailbox and says how it differs from what was written
};

// Looks at the open mailbox `fd` (readable) once what was appended to it has been flushed: it
// must be `length` bytes long, and each record in `appended` (as MailboxWriter::lastRecord gave
// them) must start with "From " where it was put. With `readBack`, the file's cached pages are
// dropped first and every record is read from the device and compared with its digest. `stop`
// is asked between records: a request made while the check runs ends it (one made before, only
// when it abandons).
RecordsCheck CheckWrittenRecords(int fd, const std::string& mailboxPath, std::uint64_t length,
                                 const std::vector<WrittenRecord>& appended, bool readBack,
                                 const StopRequest* stop);

}  // namespace drovanta
