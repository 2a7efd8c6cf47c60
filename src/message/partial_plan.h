#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "message/message_piece.h"
#include "shellutil/failure.h"

namespace drovanta {

// How to write a partial message with its parts put back, without holding any part in memory.
struct PartialMessagePlan {
  std::vector<MessagePiece> pieces;
  std::string lineEnd;           // the message's own: "\n", "\r\n" or "\r"
  std::uint64_t length = 0;      // of the rebuilt message
  std::vector<Notice> warnings;  // one per stripped part whose content could not be found
};

// Gives the rebuilt message to `sink` in pieces of bounded size, each part encoded as it is
// read. False when `sink` refused a piece; a part file that can no longer be read is a failure
// naming it.
MaybeFailure StreamPartialMessage(const PartialMessagePlan& plan, std::string_view messageBytes,
                                  const PartSink& sink, bool& sinkRefused);

}  // namespace drovanta
