#include "emlx/partial_message.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "emlx/mime_leaf_parts.h"
#include "emlx/part_store.h"
#include "message/gmime_setup.h"
#include "message/part_encoding.h"
#include "shellutil/ascii_case.h"

namespace drovanta {

namespace {

constexpr std::string_view kPartialSuffix = ".partial.emlx";

// The message's line end is its first one, as the record writer judges it: LF, CR LF, or a
// lone CR (old Mac files).
std::string_view lineEndOf(std::string_view bytes) {
  const auto end = bytes.find_first_of("\r\n");
  if (end == std::string_view::npos || bytes[end] == '\n') return "\n";
  return end + 1 < bytes.size() && bytes[end + 1] == '\n' ? "\r\n" : "\r";
}

// The message as the MIME parser should see it: GMime ends lines at LF only, so a message whose
// lines end with lone CRs gets each lone CR made a LF. Byte for byte the same length, so every
// offset found in it is the same in the message.
std::string_view parsableBytes(std::string_view bytes, std::string_view lineEnd,
                               std::string& copy) {
  if (lineEnd != "\r") return bytes;
  copy.assign(bytes);
  for (std::size_t i = 0; i < copy.size(); ++i) {
    if (copy[i] == '\r' && (i + 1 == copy.size() || copy[i + 1] != '\n')) copy[i] = '\n';
  }
  return copy;
}

// What goes in place of a stripped part's body and how long it is, or why nothing does.
struct RestoredBody {
  std::optional<MessagePiece> piece;
  std::uint64_t length = 0;
  std::string problem;
};

RestoredBody restoredBody(const PartStore& store, const LeafPart& part, std::string_view lineEnd) {
  if (!store.numbered()) {
    return {std::nullopt, 0,
            "attachment of part " + part.number +
                " not looked for: the file name holds no message number"};
  }
  MessagePiece piece;
  FoundFile found;
  std::string what;
  if (store.hasEmlxpart(part.number)) {
    // Already transfer-encoded by Apple Mail.
    found = store.emlxpart(part.number);
    if (!found.file)
      return {std::nullopt, 0, "part " + part.number + " not taken: " + found.problem};
    piece.kind = MessagePiece::Kind::Encoded;
    what = "part " + part.number;
  } else {
    found = store.attachment(part.number);
    if (!found.file)
      return {std::nullopt, 0, "attachment of part " + part.number + " " + found.problem};
    piece.kind = MessagePiece::Kind::Content;
    piece.transferEncoding = part.transferEncoding;
    piece.textual = part.textual;
    what = "attachment of part " + part.number;
  }
  piece.file = found.path;
  piece.handle = found.file;
  // Counted here, so that a file that cannot be read leaves its stub; written later.
  RestoredBody body;
  const MaybeFailure failure = CountPart(piece, lineEnd, body.length);
  if (failure) {
    return {std::nullopt, 0,
            what + " could not be read from " + piece.file + ": " + failure->reason};
  }
  body.piece = std::move(piece);
  return body;
}

}  // namespace

bool IsPartialMessageName(const std::string& messagePath) {
  if (messagePath.size() < kPartialSuffix.size()) return false;
  return EqualsIgnoringAsciiCase(
      std::string_view(messagePath).substr(messagePath.size() - kPartialSuffix.size()),
      kPartialSuffix);
}

PartialMessagePlan PlanPartialMessage(const std::string& messagePath,
                                      std::string_view messageBytes) {
  EnsureGMime();
  PartialMessagePlan plan;
  plan.lineEnd = std::string(lineEndOf(messageBytes));
  std::string copy;
  const std::vector<LeafPart> parts =
      CollectLeafParts(parsableBytes(messageBytes, plan.lineEnd, copy));
  const PartStore store(messagePath);

  // Splices in document order: everything between the edits is the message as it was.
  std::size_t copied = 0;
  const auto stub = [&](std::size_t end) {
    if (end > copied)
      plan.pieces.push_back({MessagePiece::Kind::Stub, copied, end, {}, {}, {}, {}, {}});
    plan.length += end - copied;
  };
  for (const LeafPart& part : parts) {
    const bool stripped = !part.strippedHeaders.empty();
    if (!stripped) {
      // Old stores may leave no marker on a part kept in an .emlxpart file; an empty body
      // with such a file beside the message is filled too.
      if (!part.body || part.body->begin != part.body->end || !store.hasEmlxpart(part.number)) {
        continue;
      }
    }
    if (!part.body) {
      plan.warnings.push_back(
          {messagePath, "part " + part.number + " has no end to its header block, left as it is"});
      continue;
    }
    if (stripped && part.strippedHeaders.front().begin < copied) continue;  // overlapping: leave
    if (part.body->begin < copied) continue;

    RestoredBody body = restoredBody(store, part, plan.lineEnd);
    if (!body.piece) {
      plan.warnings.push_back({messagePath, std::move(body.problem)});
      continue;
    }
    for (const ByteSpan& header : part.strippedHeaders) {
      if (header.end > part.body->begin) break;
      stub(header.begin);
      copied = header.end;
    }
    stub(part.body->begin);
    plan.pieces.push_back(std::move(*body.piece));
    plan.length += body.length;
    // A delimiter that followed the header block directly needs the line end in front of it
    // that belongs to it.
    const auto after = messageBytes.substr(part.body->end);
    if (!after.empty() && after[0] != '\n' && after[0] != '\r') {
      plan.pieces.push_back({MessagePiece::Kind::Literal, 0, 0, plan.lineEnd, {}, {}, {}, {}});
      plan.length += plan.lineEnd.size();
    }
    copied = part.body->end;
  }
  stub(messageBytes.size());
  return plan;
}

RebuiltMessage RebuildPartialMessage(const std::string& messagePath,
                                     std::string_view messageBytes) {
  const PartialMessagePlan plan = PlanPartialMessage(messagePath, messageBytes);
  RebuiltMessage result;
  result.warnings = plan.warnings;
  result.bytes.reserve(plan.length);
  bool refused = false;
  const MaybeFailure failure = StreamPartialMessage(
      plan, messageBytes,
      [&](std::string_view bytes) {
        result.bytes.append(bytes);
        return true;
      },
      refused);
  if (failure) result.warnings.push_back({messagePath, describe(*failure)});
  return result;
}

}  // namespace drovanta
