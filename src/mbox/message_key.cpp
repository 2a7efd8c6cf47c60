#include "mbox/message_key.h"

#include <xxhash.h>
#if defined(__x86_64__) || defined(__i386__)
#include <xxh_x86dispatch.h>  // the library's AVX2 and AVX-512 code where the processor has it
#endif

#include <string>

#include "mbox/flag_headers.h"
#include "message/header_fields.h"
#include "shellutil/ascii_case.h"

namespace drovanta {
namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Appends a piece of a value with its white space runs made one space.
void appendValue(std::string& value, std::string_view piece) {
  for (const char c : piece) {
    if (isBlank(c)) {
      if (!value.empty() && value.back() != ' ') value += ' ';
    } else {
      value += c;
    }
  }
}

void trimEnd(std::string& value) {
  while (!value.empty() && value.back() == ' ') value.pop_back();
}

// A header line "^>+From " in a record was quoted once more when it was written.
std::string_view unquoted(std::string_view line) {
  std::size_t quotes = 0;
  while (quotes < line.size() && line[quotes] == '>') ++quotes;
  if (quotes > 0 && line.substr(quotes, 5) == "From ") line.remove_prefix(1);
  return line;
}

enum class Field { Other, MessageId, Date, State };

}  // namespace

MessageKey MessageKeyOf(std::string_view headerBlock, bool inMailbox) {
  XXH3_state_t* digest = XXH3_createState();
  XXH3_128bits_reset(digest);
  std::string messageId;
  std::string date;
  bool sawMessageId = false;
  bool sawDate = false;
  Field field = Field::Other;
  bool firstOfName = false;  // the field being read is the first of its name

  std::size_t at = 0;
  while (at < headerBlock.size()) {
    std::size_t end = headerBlock.find_first_of("\r\n", at);
    if (end == std::string_view::npos) end = headerBlock.size();
    std::string_view line = headerBlock.substr(at, end - at);
    at = end;
    if (at < headerBlock.size()) at += headerBlock.compare(at, 2, "\r\n") == 0 ? 2 : 1;
    if (line.empty()) break;  // the end of the header block
    if (inMailbox) line = unquoted(line);

    std::string_view value;
    if (line[0] == ' ' || line[0] == '\t') {
      value = line;  // continues the open field
    } else {
      const std::size_t colon = line.find(':');
      std::string_view name = line.substr(0, colon);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
      value = colon == std::string_view::npos ? std::string_view() : line.substr(colon + 1);
      field = Field::Other;
      firstOfName = false;
      if (colon == std::string_view::npos) {
      } else if (EqualsIgnoringAsciiCase(name, "Message-ID")) {
        field = Field::MessageId;
        firstOfName = !sawMessageId;
        sawMessageId = true;
      } else if (EqualsIgnoringAsciiCase(name, "Date")) {
        field = Field::Date;
        firstOfName = !sawDate;
        sawDate = true;
      } else if (IsFlagHeaderName(name)) {
        field = Field::State;
      }
    }
    if (field == Field::State) continue;
    XXH3_128bits_update(digest, line.data(), line.size());
    XXH3_128bits_update(digest, "\n", 1);
    if (firstOfName && field == Field::MessageId) appendValue(messageId, value);
    if (firstOfName && field == Field::Date) appendValue(date, value);
  }
  trimEnd(messageId);
  MessageKey key;
  if (!messageId.empty()) {
    // Both values with a byte between them that neither can hold.
    trimEnd(date);
    const std::string both = "I" + messageId + '\n' + date;
    const XXH128_hash_t hash = XXH3_128bits(both.data(), both.size());
    key = {hash.high64, hash.low64};
  } else {
    XXH3_128bits_update(digest, "H", 1);  // never the same as a Message-ID key's input
    const XXH128_hash_t hash = XXH3_128bits_digest(digest);
    key = {hash.high64, hash.low64};
  }
  XXH3_freeState(digest);
  return key;
}

MessageKey MessageKeyOfMessage(std::string_view message) {
  return MessageKeyOf(message.substr(0, HeaderBlockEnd(message)), false);
}

}  // namespace drovanta
