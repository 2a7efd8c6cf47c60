#pragma once

#include <utility>
#include <vector>

namespace drovanta {

// An ordered list addressed by position counted from 1, as a folder walk fills it. A walk
// visits each folder and file once, so the list holds no entry twice without looking.
template <typename T>
class WalkList {
 public:
  void Add(T value) { values_.push_back(std::move(value)); }
  long Count() const { return static_cast<long>(values_.size()); }
  const T& Item(long position) const { return values_.at(static_cast<std::size_t>(position - 1)); }

  const std::vector<T>& values() const { return values_; }
  // Hands the values over without copying them and leaves the list empty.
  std::vector<T> takeValues() { return std::exchange(values_, {}); }

 private:
  std::vector<T> values_;
};

}  // namespace drovanta
