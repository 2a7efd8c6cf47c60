#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace drovanta {

// How many lines of a list a message box names before "... and N more.".
constexpr std::size_t kLinesShown = 5;

// A long list in a message box: the first kLinesShown lines, each after a line break, then
// "... and N more." for the rest; `details` gets every line, for the box's "Show Details...".
std::string FirstLinesOf(const std::vector<std::string>& lines, std::string& details);

}  // namespace drovanta
