#pragma once

#include <string_view>

namespace drovanta {

// Orders names with runs of digits compared by value (9.emlx before 10.emlx) and everything
// else bytewise, so Apple Mail's message numbers stay in order on every file system.
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace drovanta
