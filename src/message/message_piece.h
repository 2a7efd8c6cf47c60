#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace drovanta {

// Takes the next bytes of a rebuilt message; false stops the stream.
using PartSink = std::function<bool(std::string_view)>;

// One piece of a rebuilt partial message, in the order they are written.
struct MessagePiece {
  enum class Kind {
    Stub,     // bytes [begin, end) of the partial message as it was read
    Literal,  // `text`
    Encoded,  // the file at `file`, already transfer-encoded: only its line ends made the
              // message's
    Content,  // the file at `file`, transfer-encoded as `transferEncoding` says
  };
  Kind kind = Kind::Stub;
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string text;
  std::string file;                    // its path, for messages
  std::shared_ptr<const void> handle;  // the file, open
  std::string transferEncoding;
  bool textual = true;  // a Content part of a text type: its line breaks are lines, not bytes
};

}  // namespace drovanta
