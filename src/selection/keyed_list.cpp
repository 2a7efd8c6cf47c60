#include "selection/keyed_list.h"

namespace drovanta {

template <typename T>
MaybeFailure KeyedList<T>::Add(T value, const std::string& key) {
  if (!keys_.insert(key).second) {
    return Failure{FailureCode::DuplicateKey, key, "key already in list: " + key};
  }
  values_.push_back(std::move(value));
  return std::nullopt;
}

template <typename T>
bool KeyedList<T>::Contains(const std::string& key) const {
  return keys_.count(key) != 0;
}

template <typename T>
void KeyedList<T>::reserve(long entries) {
  if (entries <= 0) return;
  values_.reserve(static_cast<std::size_t>(entries));
  keys_.reserve(static_cast<std::size_t>(entries));
}

template class KeyedList<std::string>;
template class KeyedList<std::int32_t>;

}  // namespace drovanta
