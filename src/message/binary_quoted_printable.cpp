#include "message/binary_quoted_printable.h"

#include <cstring>

namespace drovanta {
namespace {

// 76 characters at most on a line, the "=" of a soft line break included.
constexpr std::size_t kLineRoom = 75;

bool isLiteral(unsigned char byte) {
  return byte >= '!' && byte <= '~' && byte != '=';
}

}  // namespace

std::size_t BinaryQuotedPrintable::outputBound(std::size_t inputLength) {
  // Three characters a byte at worst (one more byte: the blank held back from the piece before),
  // and a soft line break of two characters after every 73 or more of them.
  return (inputLength + 1) * 4 + 2;
}

void BinaryQuotedPrintable::put(std::string_view token, char*& out) {
  if (column_ + token.size() > kLineRoom) {
    *out++ = '=';
    *out++ = '\n';
    column_ = 0;
  }
  std::memcpy(out, token.data(), token.size());
  out += token.size();
  column_ += token.size();
}

void BinaryQuotedPrintable::putEncoded(unsigned char byte, char*& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const char token[] = {'=', kHex[byte >> 4], kHex[byte & 0xf]};
  put(std::string_view(token, sizeof token), out);
}

std::size_t BinaryQuotedPrintable::step(std::string_view bytes, char* out) {
  char* const start = out;
  for (const char c : bytes) {
    // A blank is written as it is once something follows it on its line.
    if (heldBlank_ != 0) put(std::string_view(&heldBlank_, 1), out);
    heldBlank_ = 0;
    const auto byte = static_cast<unsigned char>(c);
    if (c == ' ' || c == '\t') {
      heldBlank_ = c;
    } else if (isLiteral(byte)) {
      put(std::string_view(&c, 1), out);
    } else {
      putEncoded(byte, out);
    }
  }
  return static_cast<std::size_t>(out - start);
}

std::size_t BinaryQuotedPrintable::flush(char* out) {
  char* const start = out;
  if (heldBlank_ != 0) putEncoded(static_cast<unsigned char>(heldBlank_), out);
  heldBlank_ = 0;
  return static_cast<std::size_t>(out - start);
}

}  // namespace drovanta
