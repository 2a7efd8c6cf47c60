#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace drovanta {

// The ASCII letter in lower case; every other byte as it is (whatever the locale).
inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text with its ASCII letters in lower case.
inline std::string AsciiLowered(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

// Compares as mail names and header field names are compared: ASCII letters in either case,
// every other byte as it is (whatever the locale).
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// Whether `text` ends with `ending`, ASCII letters in either case.
inline bool EndsWithIgnoringAsciiCase(std::string_view text, std::string_view ending) {
  return text.size() >= ending.size() &&
         EqualsIgnoringAsciiCase(text.substr(text.size() - ending.size()), ending);
}

}  // namespace drovanta
