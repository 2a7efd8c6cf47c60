#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "emlx/emlx_framing.h"
#include "message/utc_date_time.h"

namespace drovanta {

// One message's sender and date, read from its header block. Only the header block is read,
// never a whole large message; the property list only when the Date field gives no date.
class MailMessage {
 public:
  MailMessage();
  ~MailMessage();
  MailMessage(const MailMessage&) = delete;
  MailMessage& operator=(const MailMessage&) = delete;

  // False when the file cannot be opened or read; the reason is in loadError().
  bool LoadFromFile(const std::string& path);
  // The same for a file the caller holds already (mapped or read): its bytes and modification
  // time. Only the header block and, when needed, the end of the bytes are looked at.
  void LoadFromBytes(const std::string& path, std::string_view bytes, std::int64_t modified);
  const std::string& loadError() const;

  // The Date header in UTC; else the property list's date-received (or date-sent); else the
  // file's modification time.
  UtcDateTime MessageDate() const;
  // The addr-spec of the first mailbox in From; else Sender; else Return-Path; else
  // "MAILER-DAEMON". Only printable ASCII without a blank: other addresses are passed over.
  std::string SenderAddress() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

struct SenderAndDate {
  std::string sender = "MAILER-DAEMON";
  UtcDateTime date;
};

// The sender and date of the message `frame` frames in the whole bytes of its file, read as
// MailMessage reads them: the header block as far as its first megabyte, the property list
// only when the Date field gives no date, else `modified`.
SenderAndDate ReadSenderAndDate(std::string_view fileBytes, const EmlxFrame& frame, bool isEmlx,
                                std::int64_t modified);

// Whether the header block of the message framed in `fileBytes` runs on past the part of the
// file read for the sender and date (its first megabyte), so that fields after it are not seen.
bool HeaderBlockTooLongToRead(std::string_view fileBytes, const EmlxFrame& frame);

}  // namespace drovanta
