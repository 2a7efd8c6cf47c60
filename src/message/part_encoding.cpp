#include "message/part_encoding.h"

#include <gmime/gmime.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "message/binary_quoted_printable.h"
#include "message/file_handle.h"

namespace drovanta {
namespace {

// Parts are read and encoded in pieces of this size, so that no part is held whole.
constexpr std::size_t kChunk = std::size_t{64} << 10;

// Hands on bytes with every line end (CR LF, lone CR, lone LF) made `lineEnd`, across pieces.
class LineEndConverter {
 public:
  LineEndConverter(std::string_view lineEnd, const PartSink& sink)
      : lineEnd_(lineEnd), sink_(sink) {}

  bool feed(std::string_view bytes) {
    std::size_t run = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (pendingCr_) {
        pendingCr_ = false;
        if (c == '\n') {
          run = i + 1;
          continue;  // the LF of a CR LF already written
        }
      }
      if (c != '\r' && c != '\n') continue;
      if (!sink_(bytes.substr(run, i - run)) || !sink_(lineEnd_)) return false;
      pendingCr_ = c == '\r';
      run = i + 1;
    }
    return sink_(bytes.substr(run));
  }

 private:
  std::string_view lineEnd_;
  const PartSink& sink_;
  bool pendingCr_ = false;  // the last byte was a CR: a LF right after it belongs to it
};

// Reads a part's file from its start, piece by piece, handing each piece to `take` and an empty
// piece at the end; stops early when `take` says false.
MaybeFailure readPart(const MessagePiece& piece, const PartSink& take) {
  const auto* file = static_cast<const FileHandle*>(piece.handle.get());
  if (file == nullptr || !file->ok()) {
    return Failure{FailureCode::MessageUnreadable, piece.file, std::strerror(EBADF)};
  }
  std::vector<char> chunk(kChunk);
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(file->get(), chunk.data(), chunk.size(), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Failure{FailureCode::MessageUnreadable, piece.file, std::strerror(errno)};
    offset += got;
    if (!take(std::string_view(chunk.data(), static_cast<std::size_t>(got))) || got == 0) {
      return std::nullopt;
    }
  }
}

GMimeContentEncoding encodingOf(const MessagePiece& piece) {
  if (piece.kind != MessagePiece::Kind::Content) return GMIME_CONTENT_ENCODING_DEFAULT;
  return g_mime_content_encoding_from_string(piece.transferEncoding.c_str());
}

// Length of GMime's base64 of `size` bytes: four characters per three bytes or fewer, a line
// end after every 76 characters and after the last line.
std::uint64_t base64Length(std::uint64_t size, std::string_view lineEnd) {
  constexpr std::uint64_t kGroupsPerLine = 76 / 4;
  const std::uint64_t groups = (size + 2) / 3;
  const std::uint64_t lines = (groups + kGroupsPerLine - 1) / kGroupsPerLine;
  return groups * 4 + lines * lineEnd.size();
}

}  // namespace

MaybeFailure StreamPart(const MessagePiece& piece, std::string_view lineEnd, const PartSink& sink,
                        bool& refused) {
  const GMimeContentEncoding encoding = encodingOf(piece);
  const bool encodes = encoding == GMIME_CONTENT_ENCODING_BASE64 ||
                       encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
                       encoding == GMIME_CONTENT_ENCODING_UUENCODE;
  // The encoders end lines with LF; an .emlxpart file may end them any way.
  const bool convert = piece.kind == MessagePiece::Kind::Encoded || (encodes && lineEnd != "\n");
  LineEndConverter converter(lineEnd, sink);
  const PartSink out = [&](std::string_view bytes) {
    if (bytes.empty()) return true;
    if (!(convert ? converter.feed(bytes) : sink(bytes))) {
      refused = true;
      return false;
    }
    return true;
  };

  // GMime's quoted-printable encoder makes each LF a line break, right for text only: the bytes
  // of any other type go through one that keeps CR and LF as data.
  const bool binaryQuoted = encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE && !piece.textual;
  BinaryQuotedPrintable binaryEncoder;
  GMimeEncoding state;
  if (encodes) g_mime_encoding_init_encode(&state, encoding);
  const std::size_t bound = binaryQuoted ? BinaryQuotedPrintable::outputBound(kChunk)
                                         : g_mime_encoding_outlen(&state, kChunk) + 64;
  std::vector<char> encoded(encodes ? bound : 0);
  // Read from the start each time: the file is counted first and written later.
  return readPart(piece, [&](std::string_view bytes) {
    if (!encodes) return out(bytes);
    const bool last = bytes.empty();
    std::size_t length = 0;
    if (binaryQuoted) {
      length =
          last ? binaryEncoder.flush(encoded.data()) : binaryEncoder.step(bytes, encoded.data());
    } else {
      length = last ? g_mime_encoding_flush(&state, bytes.data(), 0, encoded.data())
                    : g_mime_encoding_step(&state, bytes.data(), bytes.size(), encoded.data());
    }
    return out(std::string_view(encoded.data(), length));
  });
}

MaybeFailure CountPart(const MessagePiece& piece, std::string_view lineEnd, std::uint64_t& length) {
  length = 0;
  bool refused = false;
  if (encodingOf(piece) != GMIME_CONTENT_ENCODING_BASE64) {
    return StreamPart(
        piece, lineEnd,
        [&](std::string_view bytes) {
          length += bytes.size();
          return true;
        },
        refused);
  }
  std::uint64_t size = 0;
  MaybeFailure failure = readPart(piece, [&](std::string_view bytes) {
    size += bytes.size();
    return true;
  });
  length = base64Length(size, lineEnd);
  return failure;
}

}  // namespace drovanta
