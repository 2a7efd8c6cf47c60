#pragma once

#include <algorithm>
#include <string_view>

namespace drovanta {

// Compares as mail names and header field names are compared: ASCII letters in either case,
// every other byte as it is (whatever the locale).
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace drovanta
