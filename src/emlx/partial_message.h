#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "message/partial_plan.h"
#include "shellutil/failure.h"

namespace drovanta {

// True for names ending in ".partial.emlx" (any letter case): Apple Mail's messages whose
// large parts were stripped and stored apart.
bool IsPartialMessageName(const std::string& messagePath);

// Plans the rebuild of a partial message: which parts can be put back from
// Attachments/<n>/<part>/ beside the Messages folder or from <n>.<part>.emlxpart files beside
// the message, and how long the result is (each part is encoded once to count it).
PartialMessagePlan PlanPartialMessage(const std::string& messagePath,
                                      std::string_view messageBytes);

struct RebuiltMessage {
  std::string bytes;             // the message with every part that could be found put back
  std::vector<Notice> warnings;  // one per stripped part whose content could not be found
};

// Puts back the parts Apple Mail stripped from a partial message: from
// Attachments/<n>/<part>/ beside the Messages folder, or from <n>.<part>.emlxpart files beside
// the message. Everything else stays byte for byte as it was.
RebuiltMessage RebuildPartialMessage(const std::string& messagePath, std::string_view messageBytes);

}  // namespace drovanta
