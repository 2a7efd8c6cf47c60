#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "message/utc_date_time.h"

namespace drovanta {

// "ddd mmm dd hh:mm:ss yyyy" with English names and ":" whatever the locale.
std::string FormatTimestamp(const UtcDateTime& moment);

// "From " + sender + " " + timestamp, without a line end.
std::string BuildSeparatorLine(std::string_view sender, const UtcDateTime& date);

}  // namespace drovanta
