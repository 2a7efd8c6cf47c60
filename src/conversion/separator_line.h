#pragma once

#include <string>

#include "conversion/file_bytes.h"
#include "conversion/mail_message.h"
#include "shellutil/failure.h"

namespace drovanta {

// "ddd mmm dd hh:mm:ss yyyy" with English names and ":" whatever the locale.
std::string FormatTimestamp(const UtcDateTime& moment);

// "From " + sender + " " + timestamp, without a line end. Fails when the message file cannot be
// opened or read.
Outcome<std::string> BuildSeparatorLine(const std::string& messagePath);
// The same, reading the whole message file into `file`, so that its text is made from the same
// single read.
Outcome<std::string> BuildSeparatorLine(const std::string& messagePath, FileBytes& file);

}  // namespace drovanta
