#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shellutil/failure.h"

namespace drovanta {

// The keys of one keyed list: every key's bytes back to back in one buffer, found again through
// an open-addressing table of entry numbers. A walk adds a key per file, so a node per key (as
// in std::unordered_set) would cost an allocation and a cache miss each at a million files.
class KeySet {
 public:
  // False, and nothing stored, when the key is already there.
  bool insert(std::string_view key);
  bool contains(std::string_view key) const;
  void reserve(std::size_t keys);

 private:
  std::string_view keyAt(std::uint32_t entry) const;
  // The slot holding the key, or the empty slot where it would go.
  std::size_t slotFor(std::string_view key, std::uint64_t hash) const;
  void grow(std::size_t slots);

  std::string bytes_;                // all keys, back to back
  std::vector<std::uint64_t> ends_;  // where each key ends in bytes_
  std::vector<std::uint64_t> hashes_;
  std::vector<std::uint32_t> slots_;  // entry number + 1; 0 is an empty slot
};

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
  // Makes room for `entries` values and keys at once, sparing regrowth in a long walk.
  void reserve(long entries);

  const std::vector<T>& values() const { return values_; }
  // Hands the values over without copying them and leaves the list empty, keys included.
  std::vector<T> takeValues();

 private:
  std::vector<T> values_;
  KeySet keys_;
};

extern template class KeyedList<std::string>;
extern template class KeyedList<std::int32_t>;

}  // namespace drovanta
