#include "selection/natural_order.h"

namespace drovanta {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
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

}  // namespace drovanta
