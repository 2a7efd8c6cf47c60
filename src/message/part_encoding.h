#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "message/message_piece.h"
#include "shellutil/failure.h"

namespace drovanta {

// Reads the file of a part piece by piece and hands on what goes in place of the part's body:
// an .emlxpart file's bytes with the message's line ends `lineEnd`, an attachment
// transfer-encoded as the part declares (quoted-printable of a part that is not text keeps its
// CR and LF as data), its line breaks `lineEnd`. `refused` tells a sink that refused from a file
// that could not be read. Each call reads the file from its start.
MaybeFailure StreamPart(const MessagePiece& piece, std::string_view lineEnd, const PartSink& sink,
                        bool& refused);

// The length of what StreamPart() writes for the part, its file read through so that a file
// that cannot be read is known before anything is written. Base64 is counted without encoding.
MaybeFailure CountPart(const MessagePiece& piece, std::string_view lineEnd, std::uint64_t& length);

}  // namespace drovanta
