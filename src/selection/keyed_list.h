#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "shellutil/failure.h"

namespace drovanta {

// An ordered list addressed by position counted from 1, each entry carrying a text key unique
// within the list. Adding under a key already present fails and leaves the list unchanged.
template <typename T>
class KeyedList {
 public:
  // Fails with FailureCode::DuplicateKey (path: the key) when the key is taken.
  MaybeFailure Add(T value, const std::string& key);
  long Count() const { return static_cast<long>(values_.size()); }
  const T& Item(long position) const { return values_.at(static_cast<std::size_t>(position - 1)); }
  bool Contains(const std::string& key) const;
  // Makes room for `entries` values and keys at once, sparing rehashes in a long walk.
  void reserve(long entries);

  const std::vector<T>& values() const { return values_; }

 private:
  std::vector<T> values_;
  std::unordered_set<std::string> keys_;
};

extern template class KeyedList<std::string>;
extern template class KeyedList<std::int32_t>;

}  // namespace drovanta
