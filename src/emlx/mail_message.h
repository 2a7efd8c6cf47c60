#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "emlx/emlx_framing.h"
#include "message/utc_date_time.h"

namespace drovanta {

struct SenderAndDate {
  std::string sender = "MAILER-DAEMON";
  UtcDateTime date;
};

// The sender and date of the message `frame` frames in the whole bytes of its file: the sender
// is the addr-spec of the first mailbox in From, else Sender, else Return-Path, else
// "MAILER-DAEMON" (only printable ASCII without a blank: other addresses are passed over); the
// date is the Date header's in UTC, else the property list's date-received (or date-sent), else
// `modified` (the file's modification time). Only the header block as far as the first megabyte
// of the file is read for them, as a reader of the file's start would, and the end of the file
// only when the Date field gives no date.
SenderAndDate ReadSenderAndDate(std::string_view fileBytes, const EmlxFrame& frame, bool isEmlx,
                                std::int64_t modified);

// Whether the header block of the message framed in `fileBytes` runs on past the part of the
// file read for the sender and date (its first megabyte), so that fields after it are not seen.
bool HeaderBlockTooLongToRead(std::string_view fileBytes, const EmlxFrame& frame);

}  // namespace drovanta
