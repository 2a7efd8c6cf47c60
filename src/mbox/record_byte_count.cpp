#include "mbox/record_byte_count.h"

#include <cstring>

#include "mbox/flag_headers.h"

namespace drovanta {
namespace {

constexpr std::string_view kFrom = "From ";

// What a whole header line counts, `inStateField` telling of the field it continues and set to
// the field it opens.
std::uint64_t headerLineCount(std::string_view line, bool& inStateField) {
  if (line.empty()) return 0;
  if (line[0] == ' ' || line[0] == '\t') return inStateField ? 0 : line.size();
  const std::size_t colon = line.find(':');
  std::string_view name = line.substr(0, colon);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  inStateField = colon != std::string_view::npos && IsFlagHeaderName(name);
  if (inStateField) return 0;
  std::size_t quotes = 0;
  while (quotes < line.size() && line[quotes] == '>') ++quotes;
  return line.substr(quotes, kFrom.size()) == kFrom ? line.size() - quotes : line.size();
}

}  // namespace

std::uint64_t RecordByteCount::count() const {
  bool inStateField = inStateField_;
  return count_ + headerLineCount(headerLine_, inStateField) + quotes_ + matched_;
}

void RecordByteCount::headerLineEnded() {
  if (headerLine_.empty()) {
    inHeader_ = false;  // the empty line that ends the header block
    return;
  }
  count_ += headerLineCount(headerLine_, inStateField_);
  headerLine_.clear();
}

void RecordByteCount::feed(std::string_view bytes) {
  std::size_t at = 0;
  for (; inHeader_ && at < bytes.size(); ++at) {
    const char c = bytes[at];
    if (c == '\n' && crEnded_) {
      crEnded_ = false;
      continue;
    }
    crEnded_ = c == '\r';
    if (c == '\r' || c == '\n') {
      headerLineEnded();
    } else {
      headerLine_ += c;
    }
  }
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
    if (at < bytes.size()) atLineStart_ = true;  // at the line end, taken by feedLineStart
  }
}

// Takes line ends and a body line's first bytes until it is known whether they are
// ">...>From ".
std::size_t RecordByteCount::feedLineStart(std::string_view bytes, std::size_t at) {
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
