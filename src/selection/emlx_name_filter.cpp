#include "selection/emlx_name_filter.h"

#include <string_view>

#include "shellutil/ascii_case.h"

namespace drovanta {

bool HasEmlxName(const std::string& path) {
  std::string_view name(path);
  const auto first = name.find_first_not_of(' ');
  if (first == std::string_view::npos) return false;
  name = name.substr(first, name.find_last_not_of(' ') - first + 1);
  return EndsWithIgnoringAsciiCase(name, ".emlx");
}

}  // namespace drovanta
