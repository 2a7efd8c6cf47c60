#pragma once

#include <cstdint>

namespace drovanta {

// Where one appended record lies in its mailbox file (any empty line put before it to mend a
// torn tail included) and a digest of its bytes taken as they were written.
struct WrittenRecord {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::uint64_t digest = 0;
  std::uint64_t fromAt = 0;  // where its separator line ("From ") begins
};

}  // namespace drovanta
