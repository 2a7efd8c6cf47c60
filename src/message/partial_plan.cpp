#include "message/partial_plan.h"

#include "message/part_encoding.h"

namespace drovanta {

MaybeFailure StreamPartialMessage(const PartialMessagePlan& plan, std::string_view messageBytes,
                                  const PartSink& sink, bool& sinkRefused) {
  sinkRefused = false;
  for (const MessagePiece& piece : plan.pieces) {
    switch (piece.kind) {
      case MessagePiece::Kind::Stub:
        sinkRefused = !sink(messageBytes.substr(piece.begin, piece.end - piece.begin));
        break;
      case MessagePiece::Kind::Literal:
        sinkRefused = !sink(piece.text);
        break;
      case MessagePiece::Kind::Encoded:
      case MessagePiece::Kind::Content:
        if (MaybeFailure failure = StreamPart(piece, plan.lineEnd, sink, sinkRefused)) {
          return failure;
        }
        break;
    }
    if (sinkRefused) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace drovanta
