#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "message/message_piece.h"
#include "shellutil/failure.h"

namespace drovanta {

// Takes the next bytes of a rebuilt message; false stops the stream.
using PartSink = std::function<bool(std::string_view)>;

// How to write a partial message with its parts put back, without holding any part in memory.
struct PartialMessagePlan {
  std::vector<MessagePiece> pieces;
  std::string lineEnd;           // the message's own: "\n", "\r\n" or "\r"
  std::uint64_t length = 0;      // of the rebuilt message
  std::vector<Notice> warnings;  // one per stripped part whose content could not be found
  // Hands on what goes in place of a part read from its file (an Encoded or Content piece),
  // its line breaks `lineEnd`; `refused` tells a sink that refused from a file that could not
  // be read. Set by whoever planned the rebuild.
  std::function<MaybeFailure(const MessagePiece&, std::string_view lineEnd, const PartSink&,
                             bool& refused)>
      streamPart;
};

// Gives the rebuilt message to `sink` in pieces of bounded size, each part encoded as it is
// read. False when `sink` refused a piece; a part file that can no longer be read is a failure
// naming it.
MaybeFailure StreamPartialMessage(const PartialMessagePlan& plan, std::string_view messageBytes,
                                  const PartSink& sink, bool& sinkRefused);

}  // namespace drovanta
