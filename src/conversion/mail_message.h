#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace drovanta {

class FileBytes;

// A moment in UTC, split into its calendar fields.
struct UtcDateTime {
  int year = 1970;  // 1 to 9999
  int month = 1;    // 1 to 12
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int weekday = 4;  // 0 Sunday .. 6 Saturday
};

// One message's sender and date, read from its header block with GMime. Only the header block
// is parsed, never a whole large message. GMime stays inside this class.
class MailMessage {
 public:
  MailMessage();
  ~MailMessage();
  MailMessage(const MailMessage&) = delete;
  MailMessage& operator=(const MailMessage&) = delete;

  // False when the file cannot be opened or read; the reason is in loadError().
  bool LoadFromFile(const std::string& path);
  // The same, reading the whole file into `file`, so that the caller can use its bytes too.
  bool LoadFromFile(const std::string& path, FileBytes& file);
  const std::string& loadError() const;

  // The Date header in UTC; else the property list's date-received (or date-sent); else the
  // file's modification time.
  UtcDateTime MessageDate() const;
  // The addr-spec of the first mailbox in From; else Sender; else Return-Path; else
  // "MAILER-DAEMON". Non-ASCII addresses come as UTF-8 bytes.
  std::string SenderAddress() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace drovanta
