#include "mbox/flag_headers.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "shellutil/ascii_case.h"

namespace drovanta {

namespace {

// Thunderbird's X-Mozilla-Status bits.
constexpr unsigned kMozillaRead = 0x0001;
constexpr unsigned kMozillaReplied = 0x0002;
constexpr unsigned kMozillaMarked = 0x0004;
constexpr unsigned kMozillaForwarded = 0x1000;
constexpr unsigned kMozillaRedirected = 0x2000;

// A header line (not a continuation) whose name is one of ours; obsolete syntax allows blanks
// between the name and its colon.
bool isFlagHeaderLine(std::string_view line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = line.substr(0, colon);
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  return IsFlagHeaderName(name);
}

}  // namespace

std::string StatusValue(const MessageState& state) {
  return state.read ? "RO" : "O";
}

std::string XStatusValue(const MessageState& state) {
  std::string letters;
  if (state.answered) letters += 'A';
  if (state.flagged) letters += 'F';
  if (state.draft) letters += 'T';
  if (state.deleted) letters += 'D';
  return letters;
}

std::string MozillaStatusValue(const MessageState& state) {
  unsigned bits = 0;
  if (state.read) bits |= kMozillaRead;
  if (state.answered) bits |= kMozillaReplied;
  if (state.flagged) bits |= kMozillaMarked;
  if (state.forwarded) bits |= kMozillaForwarded;
  if (state.redirected) bits |= kMozillaRedirected;
  std::array<char, 8> digits{};
  std::snprintf(digits.data(), digits.size(), "%04X", bits);
  return digits.data();
}

std::string FlagHeaderLines(const MessageState& state, std::string_view lineEnd) {
  std::string lines = "Status: " + StatusValue(state);
  lines += lineEnd;
  const std::string letters = XStatusValue(state);
  if (!letters.empty()) {
    lines += "X-Status: " + letters;
    lines += lineEnd;
  }
  lines += "X-Mozilla-Status: " + MozillaStatusValue(state);
  lines += lineEnd;
  return lines;
}

bool IsFlagHeaderName(std::string_view name) {
  return EqualsIgnoringAsciiCase(name, "Status") || EqualsIgnoringAsciiCase(name, "X-Status") ||
         EqualsIgnoringAsciiCase(name, "X-Mozilla-Status");
}

std::optional<std::string> WithoutFlagHeaders(std::string_view message) {
  std::string kept;
  bool removedAny = false;
  bool dropping = false;     // the current header is one of ours, so are its continuations
  std::size_t keptFrom = 0;  // start of the bytes not yet copied to `kept`
  std::size_t pos = 0;
  while (pos < message.size()) {
    const std::size_t lineEnd = std::min(message.find_first_of("\r\n", pos), message.size());
    std::size_t next = lineEnd;
    if (next < message.size()) {
      next +=
          (message[next] == '\r' && next + 1 < message.size() && message[next + 1] == '\n') ? 2 : 1;
    }
    const std::string_view line = message.substr(pos, lineEnd - pos);
    if (line.empty()) break;  // the empty line that ends the header block
    const bool continuation = line.front() == ' ' || line.front() == '\t';
    if (!continuation) dropping = isFlagHeaderLine(line);
    if (dropping) {
      if (!removedAny) kept.reserve(message.size());
      removedAny = true;
      kept.append(message.substr(keptFrom, pos - keptFrom));
      keptFrom = next;
    }
    pos = next;
  }
  if (!removedAny) return std::nullopt;
  kept.append(message.substr(keptFrom));
  return kept;
}

}  // namespace drovanta
