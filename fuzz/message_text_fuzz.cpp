// The message text of a record: line ends, "From " quoting, flag headers. The first byte picks
// the options and the name (.emlx framed or not); the rest is the file.
#include <cstdlib>

#include "conversion/message_text.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  drovanta::RecordOptions options;
  options.lineEnds = (data[0] & 1) != 0 ? drovanta::LineEnds::Lf : drovanta::LineEnds::CrLf;
  options.writeFlags = (data[0] & 2) != 0;
  const std::string path = (data[0] & 4) != 0 ? "/nowhere/1.emlx" : "/nowhere/1.eml";
  const std::string_view bytes = drovanta::fuzzing::bytesOf(data + 1, size - 1);
  std::uint64_t reported = 0;
  drovanta::ReadProgress progress;
  progress.lineRead = [&](std::uint64_t length) {
    if (length < reported) std::abort();  // progress never goes back
    reported = length;
  };
  const drovanta::MessageText text = drovanta::ReadMessageText(path, bytes, progress, options);
  if (text.notAMessage) return 0;
  // A text that is not empty ends with a line end; a borrowed one lies in the file's bytes.
  const std::string whole = std::string(text.borrowed) + text.text;
  if (!whole.empty() && whole.back() != '\n') std::abort();
  if (!text.borrowed.empty() &&
      (text.borrowed.data() < bytes.data() ||
       text.borrowed.data() + text.borrowed.size() > bytes.data() + bytes.size()))
    std::abort();
  // No line of the text starts with "From " unquoted.
  for (std::size_t lineStart = 0; lineStart < whole.size();) {
    if (whole.compare(lineStart, 5, "From ") == 0) std::abort();
    const std::size_t lf = whole.find('\n', lineStart);
    if (lf == std::string::npos) break;
    lineStart = lf + 1;
  }
  return 0;
}
