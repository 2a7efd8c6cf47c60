// The message text of a record: line ends, "From " quoting, flag headers. The first byte picks
// the options and the name (.emlx framed or not); the rest is the file. The text is written both
// ways a record can go, moved by the kernel where nothing changes and streamed, which must agree.
#include <cstdlib>

#include "emlx/source_reading.h"
#include "fuzz_files.h"
#include "mbox/message_text.h"
#include "message/message_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  drovanta::RecordOptions options;
  const int mode = data[0] & 3;
  options.lineEnds = mode == 1   ? drovanta::LineEnds::CrLf
                     : mode == 2 ? drovanta::LineEnds::Lf
                                 : drovanta::LineEnds::Auto;
  options.writeFlags = (data[0] & 4) != 0;
  const std::string path = drovanta::fuzzing::writeFile(
      (data[0] & 8) != 0 ? "1.emlx" : "1.eml", drovanta::fuzzing::bytesOf(data + 1, size - 1));
  std::string texts[2];
  for (const bool kernelCopy : {true, false}) {
    drovanta::MessageFile file;
    if (file.open(path, 0)) std::abort();  // mapped, as large files are
    options.kernelCopy = kernelCopy;
    const drovanta::SourceMessage source =
        drovanta::ReadSourceMessage(path, file, options.writeFlags);
    if (source.kind == drovanta::SourceKind::NotAMessage) return 0;
    drovanta::MessageTextWriter writer(source, options);
    std::uint64_t reported = 0;
    drovanta::StringOutput out(texts[kernelCopy]);
    if (!writer.write(out, [&](std::uint64_t length) {
          if (length < reported) std::abort();  // progress never goes back
          reported = length;
        })) {
      std::abort();
    }
    if (reported != texts[kernelCopy].size() || writer.textLength() != reported) std::abort();
  }
  if (texts[0] != texts[1]) std::abort();
  // The text ends with a line end and holds an empty line, the end of its header.
  const std::string& whole = texts[0];
  if (whole.empty() || whole.back() != '\n') std::abort();
  if (!whole.starts_with("\n") && !whole.starts_with("\r\n") &&
      whole.find("\n\n") == std::string::npos && whole.find("\n\r\n") == std::string::npos)
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
