#pragma once

#include <cstdint>

#include "message/message_state.h"

namespace drovanta {

// The parts of Apple Mail's 64-bit message flags that mail readers can show.
MessageState DecodeAppleFlags(std::uint64_t flags);

}  // namespace drovanta
