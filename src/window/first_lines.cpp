#include "window/first_lines.h"

namespace drovanta {

std::string FirstLinesOf(const std::vector<std::string>& lines, std::string& details) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i < kLinesShown) text += "\r\n" + lines[i];
    details += (i == 0 ? "" : "\r\n") + lines[i];
  }
  if (lines.size() > kLinesShown) {
    text += "\r\n... and " + std::to_string(lines.size() - kLinesShown) + " more.";
  }
  return text;
}

}  // namespace drovanta
