#include "selection/keyed_list.h"

#include <functional>
#include <limits>
#include <stdexcept>

namespace drovanta {
namespace {

// The table stays at most half full, so a probe run is short.
constexpr std::size_t kFirstTableSize = 16;

std::uint64_t hashOf(std::string_view key) {
  return std::hash<std::string_view>{}(key);
}

}  // namespace

std::string_view KeySet::keyAt(std::uint32_t entry) const {
  const std::uint64_t begin = entry == 0 ? 0 : ends_[entry - 1];
  return std::string_view(bytes_).substr(begin, ends_[entry] - begin);
}

std::size_t KeySet::slotFor(std::string_view key, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t held = slots_[slot];
    if (held == 0) return slot;
    if (hashes_[held - 1] == hash && keyAt(held - 1) == key) return slot;
  }
}

void KeySet::grow(std::size_t slots) {
  std::vector<std::uint32_t> table(slots, 0);
  const std::size_t mask = slots - 1;
  for (std::uint32_t entry = 0; entry < hashes_.size(); ++entry) {
    std::size_t slot = hashes_[entry] & mask;
    while (table[slot] != 0) slot = (slot + 1) & mask;
    table[slot] = entry + 1;
  }
  slots_.swap(table);
}

void KeySet::reserve(std::size_t keys) {
  ends_.reserve(keys);
  hashes_.reserve(keys);
  std::size_t slots = kFirstTableSize;
  while (slots < 2 * keys) slots *= 2;
  if (slots > slots_.size()) grow(slots);
}

bool KeySet::insert(std::string_view key) {
  if (slots_.empty()) grow(kFirstTableSize);
  const std::uint64_t hash = hashOf(key);
  std::size_t slot = slotFor(key, hash);
  if (slots_[slot] != 0) return false;
  if (hashes_.size() >= std::numeric_limits<std::uint32_t>::max() - 1) {
    throw std::length_error("keyed list full");
  }
  const auto entry = static_cast<std::uint32_t>(hashes_.size());
  bytes_.append(key);
  ends_.push_back(bytes_.size());
  hashes_.push_back(hash);
  if (2 * hashes_.size() > slots_.size()) {
    grow(2 * slots_.size());  // places every entry, the new one included
  } else {
    slots_[slot] = entry + 1;
  }
  return true;
}

bool KeySet::contains(std::string_view key) const {
  if (slots_.empty()) return false;
  return slots_[slotFor(key, hashOf(key))] != 0;
}

template <typename T>
MaybeFailure KeyedList<T>::Add(T value, const std::string& key) {
  if (!keys_.insert(key)) {
    return Failure{FailureCode::DuplicateKey, key, "key already in list"};
  }
  values_.push_back(std::move(value));
  return std::nullopt;
}

template <typename T>
bool KeyedList<T>::Contains(const std::string& key) const {
  return keys_.contains(key);
}

template <typename T>
void KeyedList<T>::reserve(long entries) {
  if (entries <= 0) return;
  values_.reserve(static_cast<std::size_t>(entries));
  keys_.reserve(static_cast<std::size_t>(entries));
}

template <typename T>
std::vector<T> KeyedList<T>::takeValues() {
  std::vector<T> taken;
  taken.swap(values_);
  keys_ = KeySet();
  return taken;
}

template class KeyedList<std::string>;
template class KeyedList<std::int32_t>;

}  // namespace drovanta
