#pragma once

#include <cstddef>
#include <string_view>

namespace drovanta {

// Quoted-printable for bytes that are not text: every CR and LF is data, written =0D and =0A,
// and lines are broken only by soft line breaks ("=" and LF), at most 76 characters each. A
// text encoder would make each CR LF or LF a line break of the message, which a reader decodes
// as its own line end, so the bytes would not come back as they were.
//
// Fed piece by piece as GMime's encoders are: step() for each piece, then flush() once. The
// output ends lines with LF, like theirs.
class BinaryQuotedPrintable {
 public:
  // The most that step() or flush() writes for `inputLength` bytes in.
  static std::size_t outputBound(std::size_t inputLength);

  // Encodes `bytes` into `out`, which holds outputBound(bytes.size()); returns the length.
  std::size_t step(std::string_view bytes, char* out);

  // Writes what was held back (a space or tab that turns out to end the data is encoded, as
  // a decoder may drop white space at the end of a line); returns the length.
  std::size_t flush(char* out);

 private:
  void put(std::string_view token, char*& out);
  void putEncoded(unsigned char byte, char*& out);

  std::size_t column_ = 0;  // characters on the output line so far
  char heldBlank_ = 0;      // a space or tab not written yet, or 0
};

}  // namespace drovanta
