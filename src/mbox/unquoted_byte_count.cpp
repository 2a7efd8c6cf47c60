#include "mbox/unquoted_byte_count.h"

#include <cstring>

namespace drovanta {
namespace {

constexpr std::string_view kFrom = "From ";

}  // namespace

void UnquotedByteCount::feed(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (atLineStart_) {
      at = feedLineStart(bytes, at);
      continue;
    }
    // The rest of a line counts whole: found with memchr, as most lines hold no CR.
    const char* from = bytes.data() + at;
    std::size_t length = bytes.size() - at;
    if (const void* lf = std::memchr(from, '\n', length)) {
      length = static_cast<std::size_t>(static_cast<const char*>(lf) - from);
    }
    if (const void* cr = std::memchr(from, '\r', length)) {
      length = static_cast<std::size_t>(static_cast<const char*>(cr) - from);
    }
    count_ += length;
    at += length;
    if (at < bytes.size()) {
      atLineStart_ = true;  // at the line end, taken by feedLineStart
    }
  }
}

// Takes line ends and a line's first bytes until it is known whether they are ">...>From ".
std::size_t UnquotedByteCount::feedLineStart(std::string_view bytes, std::size_t at) {
  for (; at < bytes.size(); ++at) {
    const char c = bytes[at];
    if (c == '\r' || c == '\n') {
      count_ += quotes_ + matched_;
      quotes_ = 0;
      matched_ = 0;
    } else if (c == '>' && matched_ == 0) {
      ++quotes_;
    } else if (c == kFrom[matched_]) {
      if (++matched_ < kFrom.size()) continue;
      count_ += matched_;  // "From ": the '>' before it are quoting
      quotes_ = 0;
      matched_ = 0;
      atLineStart_ = false;
      return at + 1;
    } else {
      count_ += quotes_ + matched_;
      quotes_ = 0;
      matched_ = 0;
      atLineStart_ = false;
      return at;  // counted with the rest of the line
    }
  }
  return at;
}

}  // namespace drovanta
