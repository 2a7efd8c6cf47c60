// The header reading behind the separator line: sender and date from any file, read whole as
// a run reads it (named .emlx, so framed first) and in chunks from its path.
#include <cstdlib>

#include "conversion/file_bytes.h"
#include "conversion/separator_line.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path =
      drovanta::fuzzing::writeFile("1.emlx", drovanta::fuzzing::bytesOf(data, size));
  static drovanta::FileBytes file;
  const auto whole = drovanta::BuildSeparatorLine(path, file);
  const auto chunked = drovanta::BuildSeparatorLine(path);
  if (!whole || !chunked) std::abort();  // a readable regular file always gives a line
  // Both reads see the same header block.
  if (*whole != *chunked) std::abort();
  if (whole->rfind("From ", 0) != 0 || whole->find('\n') != std::string::npos) std::abort();
  return 0;
}
