#pragma once

#include <functional>
#include <memory>
#include <string_view>

namespace drovanta {

// The dictionary at the top of a property list, XML or binary, as libplist reads it: Apple
// Mail's list after a message and its AccountsMap.plist alike.
class PropertyListDictionary {
 public:
  // Empty when `bytes` are not a property list whose top is a dictionary.
  static PropertyListDictionary Parse(std::string_view bytes);

  explicit operator bool() const { return root_ != nullptr; }
  // Each key with its value (a libplist node, plist_t), in the list's order.
  void forEach(const std::function<void(std::string_view key, void* value)>& visit) const;

 private:
  struct NodeDeleter {
    void operator()(void* node) const;
  };
  std::unique_ptr<void, NodeDeleter> root_;
};

}  // namespace drovanta
