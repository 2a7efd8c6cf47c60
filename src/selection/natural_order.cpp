#include "selection/natural_order.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace drovanta {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Leading runs of more digits than this saturate: their order is left to NaturalLess.
constexpr std::size_t kExactDigits = 18;
constexpr std::uint64_t kSaturated = (std::uint64_t{1} << 60) - 1;  // above 10^18 - 1

// A number that orders two names as NaturalLess does whenever the numbers differ: first the
// class of the first byte (none or below '0', a digit, above '9'; a digit against any other
// byte compares bytewise), then within digits the value of the leading run.
std::uint64_t leadingOrder(std::string_view name) {
  if (name.empty()) return 0;
  const auto first = static_cast<unsigned char>(name[0]);
  if (first < '0') return 0;
  if (first > '9') return std::uint64_t{2} << 62;
  std::size_t i = 0;
  while (i < name.size() && name[i] == '0') ++i;
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < name.size() && isDigit(name[i]); ++i, ++digits) {
    if (digits < kExactDigits) value = value * 10 + static_cast<std::uint64_t>(name[i] - '0');
  }
  if (digits > kExactDigits) value = kSaturated;
  return (std::uint64_t{1} << 62) | value;
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      // Compare the two digit runs by value: skip leading zeros, then the longer run is larger,
      // then the first differing digit decides.
      std::size_t runA = i;
      std::size_t runB = j;
      while (runA < a.size() && a[runA] == '0') ++runA;
      while (runB < b.size() && b[runB] == '0') ++runB;
      std::size_t endA = runA;
      std::size_t endB = runB;
      while (endA < a.size() && isDigit(a[endA])) ++endA;
      while (endB < b.size() && isDigit(b[endB])) ++endB;
      const std::size_t lengthA = endA - runA;
      const std::size_t lengthB = endB - runB;
      if (lengthA != lengthB) return lengthA < lengthB;
      const int order = a.substr(runA, lengthA).compare(b.substr(runB, lengthB));
      if (order != 0) return order < 0;
      // Equal values: fewer leading zeros first, so "1" and "01" still have a fixed order.
      if (endA - i != endB - j) return endA - i < endB - j;
      i = endA;
      j = endB;
      continue;
    }
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca != cb) return ca < cb;
    ++i;
    ++j;
  }
  return (a.size() - i) < (b.size() - j);
}

void SortNaturally(std::vector<std::string>& names) {
  // Sorts (leading order, index) pairs, then moves the names into place once.
  std::vector<std::pair<std::uint64_t, std::size_t>> order;
  order.reserve(names.size());
  for (std::size_t index = 0; index < names.size(); ++index) {
    order.emplace_back(leadingOrder(names[index]), index);
  }
  std::sort(order.begin(), order.end(), [&names](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return NaturalLess(names[a.second], names[b.second]);
  });
  std::vector<std::string> sorted;
  sorted.reserve(names.size());
  for (const auto& [leading, index] : order) sorted.push_back(std::move(names[index]));
  names.swap(sorted);
}

}  // namespace drovanta
