#include "selection/emlx_name_filter.h"

#include <string_view>

namespace drovanta {

bool HasEmlxName(const std::string& path) {
  std::string_view name(path);
  const auto first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  name = name.substr(first, name.find_last_not_of(' ') - first + 1);
  constexpr std::string_view kEnding = ".emlx";
  if (name.size() < kEnding.size()) return false;
  const auto tail = name.substr(name.size() - kEnding.size());
  for (std::size_t i = 0; i < kEnding.size(); ++i) {
    const char c = tail[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != kEnding[i]) return false;
  }
  return true;
}

}  // namespace drovanta
