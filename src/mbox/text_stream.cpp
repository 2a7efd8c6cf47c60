#include "mbox/text_stream.h"

#include <cstring>

namespace drovanta {

namespace {

constexpr std::string_view kFromLine = "From ";

using Block = unsigned char __attribute__((vector_size(16)));
using Mask = signed char __attribute__((vector_size(16)));  // what comparing Blocks gives

bool any(Mask mask) {
  std::uint64_t lanes[2];
  std::memcpy(lanes, &mask, sizeof lanes);
  return (lanes[0] | lanes[1]) != 0;
}

Block load(const char* at) {
  Block block;
  std::memcpy(&block, at, sizeof block);
  return block;
}

// The next LF, or also the next CR when `withCr`, at or after `from`; npos when none.
std::size_t nextLineEnd(std::string_view bytes, std::size_t from, bool withCr) {
  const char* const data = bytes.data();
  const std::size_t size = bytes.size();
  if (from >= size) return std::string_view::npos;
  if (!withCr) {
    const void* found = std::memchr(data + from, '\n', size - from);
    return found == nullptr ? std::string_view::npos
                            : static_cast<std::size_t>(static_cast<const char*>(found) - data);
  }
  std::size_t at = from;
  for (; at + 16 <= size; at += 16) {
    const Block here = load(data + at);
    if (any((here == '\r') | (here == '\n'))) break;
  }
  for (; at < size; ++at) {
    if (data[at] == '\r' || data[at] == '\n') return at;
  }
  return std::string_view::npos;
}

}  // namespace

RecordForm RecordFormFor(LineEnds mode, std::string_view messageStart) {
  switch (mode) {
    case LineEnds::CrLf:
      return {LineEnds::CrLf, true, false, true};
    case LineEnds::Lf:
      return {LineEnds::Lf, true, true, false};
    case LineEnds::Auto:
      break;
  }
  // The automatic mode keeps the convention of the message's first line end; a lone CR (old Mac
  // files) gets CR LF and a message without any line end LF. Nothing but lone CRs is changed
  // then: they would otherwise run a CR LF message's lines together for readers that split at LF.
  const std::size_t first = nextLineEnd(messageStart, 0, true);
  if (first == std::string_view::npos || messageStart[first] == '\n') {
    return {LineEnds::Lf, false, false, false};
  }
  return {LineEnds::CrLf, true, false, false};
}

bool TextStream::emit(std::string_view bytes) {
  if (failed_) return false;
  if (bytes.empty()) return true;
  if (!out_->write(bytes)) {
    failed_ = true;
    return false;
  }
  written_ += bytes.size();
  return true;
}

// A run of the message's own bytes: written from where it lies when the input stays.
bool TextStream::emitRun(std::string_view bytes) {
  if (failed_) return false;
  if (bytes.empty()) return true;
  if (!(inputKept_ ? out_->writeKept(bytes) : out_->write(bytes))) {
    failed_ = true;
    return false;
  }
  written_ += bytes.size();
  return true;
}

bool TextStream::emitChange(std::string_view bytes) {
  changed_ = true;
  return emit(bytes);
}

bool TextStream::flushRun(const char* data, std::size_t& run, std::size_t upTo) {
  const bool ok = emitRun(std::string_view(data + run, upTo - run));
  run = upTo;
  return ok;
}

void TextStream::lineEnded(std::size_t lineLength, bool onlyACr) {
  // A line holding nothing, or only a CR kept before its LF, is empty to every reader.
  if (lineLength == 0 || onlyACr) emptyLineSeen_ = true;
  lastLineEnd_ = written_;
  atLineStart_ = true;
}

bool TextStream::start(std::string_view prefix) {
  prefixed_ = !prefix.empty();
  if (!emit(prefix)) return false;
  lastLineEnd_ = written_;
  return true;
}

// At a line start: lets ">" pass, and holds back a "From " being matched until it is complete
// (then one more ">" goes before it) or fails. The quote may go anywhere among the line's
// leading ">", so it goes right before "From " and nothing already written is taken back.
bool TextStream::feedLineStart(std::string_view bytes, std::size_t& at, std::size_t& run) {
  const char* const data = bytes.data();
  if (fromMatched_ == 0) {
    while (at < bytes.size() && data[at] == '>') ++at;
    if (at == bytes.size()) return true;
    if (data[at] != 'F') {
      atLineStart_ = false;
      return true;
    }
    if (!flushRun(data, run, at)) return false;
  }
  while (at < bytes.size() && fromMatched_ < kFromLine.size() &&
         data[at] == kFromLine[fromMatched_]) {
    ++at;
    ++fromMatched_;
  }
  if (fromMatched_ == kFromLine.size()) {
    if (!emitChange(">")) return false;
  } else if (at == bytes.size()) {
    // The piece ends inside the match: keep its part for the next piece.
    std::memcpy(held_ + heldSize_, data + run, at - run);
    heldSize_ += at - run;
    run = at;
    return true;
  }
  // Matched or not, the bytes held from earlier pieces go out before this piece's.
  const bool ok = emit(std::string_view(held_, heldSize_));
  heldSize_ = 0;
  fromMatched_ = 0;
  atLineStart_ = false;
  return ok;
}

// Where the scan of a line must stop next: any line end while the header's empty line is still
// to come; after it only where the text may change (a CR, a lone LF to rewrite, a line start
// that could hold a "From " line).
std::size_t TextStream::nextStop(std::string_view bytes, std::size_t from) const {
  const bool withCr = form_.loneCrEndsLine;
  if (!emptyLineSeen_ || form_.rewriteLoneLf) return nextLineEnd(bytes, from, withCr);
  const char* const data = bytes.data();
  const std::size_t size = bytes.size();
  std::size_t at = from;
  // A LF followed by ">" or "F" (a line start that may need a quote), or any CR where CRs count.
  const auto hits = [&](std::size_t offset) {
    const Block here = load(data + offset);
    const Block next = load(data + offset + 1);
    Mask found = (here == '\n') & ((next == 'F') | (next == '>'));
    if (withCr) found |= here == '\r';
    return found;
  };
  // 64 bytes per test while nothing turns up, then 16, then byte by byte to the stop.
  for (; at + 65 <= size; at += 64) {
    if (any(hits(at) | hits(at + 16) | hits(at + 32) | hits(at + 48))) break;
  }
  for (; at + 17 <= size; at += 16) {
    if (any(hits(at))) break;
  }
  for (; at < size; ++at) {
    const char c = data[at];
    if (withCr && c == '\r') return at;
    if (c == '\n' && (at + 1 == size || data[at + 1] == 'F' || data[at + 1] == '>')) return at;
  }
  return std::string_view::npos;
}

bool TextStream::feed(std::string_view bytes, bool kept) {
  if (failed_) return false;
  inputKept_ = kept;
  const char* const data = bytes.data();
  const std::size_t size = bytes.size();
  const std::string_view lineEnd = form_.lineEnd();
  std::size_t at = 0;
  std::size_t run = 0;      // bytes [run, at) go out as they are
  std::size_t settled = 0;  // the text up to here is known, its last line end included
  while (at < size) {
    settled = at;
    if (pendingCr_) {
      pendingCr_ = false;
      const auto lineLength = static_cast<std::size_t>(fed_ + at - 1 - lineBegin_);
      if (data[at] == '\n') {
        ++at;
        if (form_.rewriteCrLf) {
          if (!emitChange(lineEnd)) return false;
          run = at;
        } else if (!emit("\r")) {
          return false;
        }
      } else if (!emitChange(lineEnd)) {  // a lone CR ends its line
        return false;
      }
      if (!flushRun(data, run, at)) return false;
      lineBegin_ = fed_ + at;
      lineEnded(lineLength, false);
      continue;
    }
    if (atLineStart_) {
      if (!feedLineStart(bytes, at, run)) return false;
      continue;
    }
    const std::size_t stop = nextStop(bytes, at);
    if (stop == std::string_view::npos) {
      at = size;
      break;
    }
    at = stop + 1;
    if (data[stop] == '\r') {
      // Held back until the next byte says whether a LF follows.
      if (!flushRun(data, run, stop)) return false;
      run = at;
      pendingCr_ = true;
      continue;
    }
    const auto lineLength = static_cast<std::size_t>(fed_ + stop - lineBegin_);
    const char before = stop > 0 ? data[stop - 1] : lastByte_;
    if (form_.rewriteLoneLf) {
      if (!flushRun(data, run, stop) || !emitChange(lineEnd)) return false;
      run = at;
    } else if (!flushRun(data, run, at)) {
      return false;
    }
    lineBegin_ = fed_ + at;
    lineEnded(lineLength, lineLength == 1 && before == '\r');
  }
  if (!flushRun(data, run, at)) return false;
  if (size > 0) lastByte_ = data[size - 1];
  // After the header, stops are only made where a change may come; a later line end in the
  // piece, with nothing changed or held after it, still counts for progress.
  if (!pendingCr_ && heldSize_ == 0 && fromMatched_ == 0 && settled < size) {
    const void* lf = ::memrchr(data + settled, '\n', size - settled);
    if (lf != nullptr) {
      const auto offset = static_cast<std::size_t>(static_cast<const char*>(lf) - data);
      lastLineEnd_ = written_ - (size - 1 - offset);
    }
  }
  fed_ += size;
  return true;
}

bool TextStream::flushHeld() {
  if (pendingCr_) {
    // The message ends with a CR: a lone CR, the last line end.
    pendingCr_ = false;
    const auto lineLength = static_cast<std::size_t>(fed_ - 1 - lineBegin_);
    if (!emitChange(form_.lineEnd())) return false;
    lineBegin_ = fed_;
    lineEnded(lineLength, false);
  }
  const bool ok = emit(std::string_view(held_, heldSize_));
  heldSize_ = 0;
  fromMatched_ = 0;
  return ok;
}

bool TextStream::closeText() {
  const std::string_view lineEnd = form_.lineEnd();
  const bool endsWithLineEnd =
      fed_ == 0 ? prefixed_ : lastByte_ == '\n' || (form_.loneCrEndsLine && lastByte_ == '\r');
  if (!endsWithLineEnd) {
    // A last line that is empty once its line end is added: nothing at all, or (where a lone CR
    // is kept) a single CR.
    const std::uint64_t lastLine = fed_ - lineBegin_;
    if (!emit(lineEnd)) return false;
    lineEnded(lastLine == 0 ? 0 : 1, lastLine == 1 && lastByte_ == '\r');
  }
  if (!emptyLineSeen_) {
    if (!emit(lineEnd)) return false;
    lineEnded(0, false);
  }
  return true;
}

bool TextStream::finish() {
  return flushHeld() && closeText();
}

}  // namespace drovanta
