#pragma once

#include <string_view>

namespace drovanta {

// Finder's metadata files ("._name" beside each file copied to a FAT, exFAT or network drive)
// begin with these four bytes; they are not messages.
inline constexpr std::string_view kAppleDoubleMagic{"\x00\x05\x16\x07", 4};

// Why such a file is skipped.
inline constexpr const char* kAppleDoubleReason = "not a message: AppleDouble metadata file";

inline bool StartsAsAppleDouble(std::string_view bytes) {
  return bytes.substr(0, kAppleDoubleMagic.size()) == kAppleDoubleMagic;
}

}  // namespace drovanta
