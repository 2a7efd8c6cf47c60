#include "conversion/partial_message.h"

#include <algorithm>
#include <cctype>

namespace drovanta {

bool IsPartialMessageName(const std::string& messagePath) {
  static constexpr std::string_view kSuffix = ".partial.emlx";
  if (messagePath.size() < kSuffix.size()) return false;
  const auto tail = std::string_view(messagePath).substr(messagePath.size() - kSuffix.size());
  return std::equal(tail.begin(), tail.end(), kSuffix.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

RebuiltMessage RebuildPartialMessage(const std::string& /*messagePath*/,
                                     std::string_view messageBytes) {
  return {std::string(messageBytes), {}};
}

}  // namespace drovanta
