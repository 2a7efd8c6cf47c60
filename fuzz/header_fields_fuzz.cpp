// The header reading behind the separator line: the end of the header block, its fields, the
// sender address and the Date field, from any bytes.
#include <cstdlib>

#include "message/header_fields.h"
#include "message/rfc5322_date.h"
#include "message/sender_address.h"
#include "fuzz_files.h"

namespace {

bool inside(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = drovanta::fuzzing::bytesOf(data, size);
  const std::size_t end = drovanta::HeaderBlockEnd(bytes);
  if (end != std::string_view::npos && end > bytes.size()) std::abort();
  const std::string_view block = end == std::string_view::npos ? bytes : bytes.substr(0, end);

  const drovanta::HeaderFields fields = drovanta::FindHeaderFields(block);
  for (const auto& list : {fields.from, fields.sender}) {
    for (const std::string_view value : list) {
      if (!inside(value, block)) std::abort();
      (void)drovanta::DecodedFieldValue(value);
    }
  }
  if (fields.returnPath && !inside(*fields.returnPath, block)) std::abort();

  // The separator line's sender is one word: no blank or control character can split it.
  for (const char c : drovanta::SenderAddressOf(fields)) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '\x7f') std::abort();
  }
  if (fields.date) {
    // Years 1 to 9999 only, so that the timestamp keeps its four digits.
    constexpr std::int64_t kFirst = -62135596800;  // 0001-01-01T00:00:00Z
    constexpr std::int64_t kLast = 253402300799;   // 9999-12-31T23:59:59Z
    if (const auto seconds = drovanta::ReadDateField(*fields.date)) {
      if (*seconds < kFirst || *seconds > kLast) std::abort();
    }
  }
  return 0;
}
