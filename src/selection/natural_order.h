#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace drovanta {

// Orders names with runs of digits compared by value (9.emlx before 10.emlx) and everything
// else bytewise, so Apple Mail's message numbers stay in order on every file system.
bool NaturalLess(std::string_view a, std::string_view b);

// Sorts by NaturalLess, with the same result, but most pairs of a folder's names are told apart
// by their leading number alone, without a full comparison.
void SortNaturally(std::vector<std::string>& names);

}  // namespace drovanta
