#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "shellutil/failure.h"

namespace drovanta {

// True for names ending in ".partial.emlx" (any letter case): Apple Mail's messages whose
// large parts were stripped and stored apart.
bool IsPartialMessageName(const std::string& messagePath);

struct RebuiltMessage {
  std::string bytes;              // the message with every part that could be found put back
  std::vector<Notice> warnings;   // one per stripped part whose content could not be found
};

// Puts back the parts Apple Mail stripped from a partial message: from
// Attachments/<n>/<part>/ beside the Messages folder, or from <n>.<part>.emlxpart files beside
// the message. Everything else stays byte for byte as it was.
RebuiltMessage RebuildPartialMessage(const std::string& messagePath, std::string_view messageBytes);

}  // namespace drovanta
