#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "emlx/mail_message.h"
#include "shellutil/failure.h"

namespace drovanta {

// "ddd mmm dd hh:mm:ss yyyy" with English names and ":" whatever the locale.
std::string FormatTimestamp(const UtcDateTime& moment);

// "From " + sender + " " + timestamp, without a line end. Fails when the message file cannot be
// opened or read.
Outcome<std::string> BuildSeparatorLine(const std::string& messagePath);
// The same from the bytes of a message file the caller holds (and the file's modification
// time); reading is the caller's, so this cannot fail.
std::string BuildSeparatorLine(const std::string& messagePath, std::string_view fileBytes,
                               std::int64_t modified);

}  // namespace drovanta
