#include "mbox/torn_separator.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace drovanta {
namespace {

TEST(TornSeparatorTest, CompletesOnlyTheStartOfASeparatorLine) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"Fro", "m MAILER-DAEMON Mon Jan 01 00:00:00 1970"},
      {"From ", "MAILER-DAEMON Mon Jan 01 00:00:00 1970"},
      {"From ann@x", " Mon Jan 01 00:00:00 1970"},
      {"From ann@x T", "ue Jan 01 00:00:00 1970"},
      {"From ann@x Fri Mar 01 17:05:0", "0 1970"},
      {"From ann@x Fri Mar 01 17:05:09 20", "00"},
      {"From ann@x Fri Mar 01 17:05:09 2024", ""},            // whole but for its line end
      {"From ann@x Fri Feb 3", std::nullopt},                 // no such day
      {"From ann@x Fri Mar  1 17:05:09 2024", std::nullopt},  // another program's form
      {"From ann@x Fri Mar 01 17:05:09 2024 remote from y", std::nullopt},
      {"From  Fri", std::nullopt},
      {"From ann\x01@x", std::nullopt},
      {"Subject: x", std::nullopt},
  };
  for (const auto& [line, completion] : cases) {
    SCOPED_TRACE(line);
    EXPECT_EQ(TornSeparatorCompletion(line), completion);
  }
}

}  // namespace
}  // namespace drovanta
