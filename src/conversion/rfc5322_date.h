#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace drovanta {

// Reads a Date field's raw value (what follows the colon, folds included) as seconds since
// 1970-01-01 00:00:00 UTC; nothing when the value is no date or lies outside years 1 to 9999.
std::optional<std::int64_t> ReadDateField(std::string_view raw);

}  // namespace drovanta
