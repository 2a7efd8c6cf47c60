#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace drovanta {

// The bytes that complete `line` into a separator line that every mbox reader accepts ("From ",
// a sender without blanks, one space, "ddd mmm dd hh:mm:ss yyyy"), when `line` is the start of
// one: the last line of a mailbox cut short (by a killed run, a power cut) before its record's
// first line end. Such a line holds no message bytes; completed, it opens an empty record
// instead of leaving a separator that strict readers refuse. What is missing is filled with
// the first value that fits: MAILER-DAEMON, Mon, Jan, 01, 00:00:00, 1970. nullopt when `line`
// is not the start of such a separator line.
std::optional<std::string> TornSeparatorCompletion(std::string_view line);

}  // namespace drovanta
