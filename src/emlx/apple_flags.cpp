#include "emlx/apple_flags.h"

namespace drovanta {

namespace {

// Bit positions in Apple Mail's flags integer.
constexpr int kReadBit = 0;
constexpr int kDeletedBit = 1;
constexpr int kAnsweredBit = 2;
constexpr int kFlaggedBit = 4;
constexpr int kDraftBit = 6;
constexpr int kForwardedBit = 8;
constexpr int kRedirectedBit = 9;

bool bit(std::uint64_t flags, int position) {
  return ((flags >> position) & 1U) != 0;
}

}  // namespace

MessageState DecodeAppleFlags(std::uint64_t flags) {
  MessageState state;
  state.read = bit(flags, kReadBit);
  state.deleted = bit(flags, kDeletedBit);
  state.answered = bit(flags, kAnsweredBit);
  state.flagged = bit(flags, kFlaggedBit);
  state.draft = bit(flags, kDraftBit);
  state.forwarded = bit(flags, kForwardedBit);
  state.redirected = bit(flags, kRedirectedBit);
  return state;
}

}  // namespace drovanta
