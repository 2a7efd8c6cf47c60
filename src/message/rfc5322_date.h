#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace drovanta {

// Reads a date-time as RFC 5322 writes it (section 3.3), with the obsolete forms its section 4
// still asks readers to accept: comments and folding white space between the tokens, two- and
// three-digit years, zone names (military and unknown names mean -0000), a leap second ":60".
// `text` is a Date field's raw value, folds included. Seconds since 1970-01-01 00:00:00 UTC;
// nothing for any other form (a zone such as "-600", a time such as "06:09:22 PM EDT", a
// missing zone, an impossible day) and for a moment outside years 1 to 9999.
std::optional<std::int64_t> ParseRfc5322Date(std::string_view text);

// The same for a raw Date field value, which some mailers write as an encoded word.
std::optional<std::int64_t> ReadDateField(std::string_view raw);

}  // namespace drovanta
