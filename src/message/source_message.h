#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "message/message_file.h"
#include "message/message_state.h"
#include "message/partial_plan.h"
#include "message/utc_date_time.h"
#include "shellutil/failure.h"

namespace drovanta {

// What a file in a source turned out to be when it was read.
enum class SourceKind {
  Message,         // a message, written as it lies
  PartialMessage,  // a message whose stripped parts are put back as it is written
  NotAMessage,     // an AppleDouble sidecar or an empty file: skipped
};

// One message file, read once (emlx/source_reading.h): everything its record is made from. It
// views the bytes of `file`, which must stay open while the record is written.
struct SourceMessage {
  std::string path;
  SourceKind kind = SourceKind::Message;
  // Why a NotAMessage is skipped: "not a message: AppleDouble metadata file", "the file is
  // empty".
  std::string notAMessageReason;
  const MessageFile* file = nullptr;
  // The message in the file's bytes, without an .emlx file's count line and property list.
  std::string_view message;
  // The separator line's sender (an addr-spec, or "MAILER-DAEMON") and date.
  std::string sender;
  UtcDateTime date;
  // The state the mail program kept, when asked for and the file holds one.
  std::optional<MessageState> state;
  // For a partial message: how its parts are put back.
  std::optional<PartialMessagePlan> partial;
  // What the user hears of a message converted all the same, in the order found.
  std::vector<Notice> warnings;

  // Length of the message bytes; for a partial message, the rebuilt message's.
  std::uint64_t length() const { return partial ? partial->length : message.size(); }
};

}  // namespace drovanta
