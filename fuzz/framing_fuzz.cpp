// The .emlx framing: a count line, the message, a property list, in any shape.
#include <cstdlib>

#include "emlx/emlx_framing.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = drovanta::fuzzing::bytesOf(data, size);
  for (const bool isEmlx : {true, false}) {
    const drovanta::EmlxFrame frame = drovanta::FrameEmlx(bytes, isEmlx);
    // The frame lies inside the bytes, and the property list too.
    if (frame.messageBegin > bytes.size() ||
        frame.messageLength > bytes.size() - frame.messageBegin)
      std::abort();
    const auto* list = frame.propertyList.data();
    if (!frame.propertyList.empty() &&
        (list < bytes.data() || list + frame.propertyList.size() > bytes.data() + bytes.size()))
      std::abort();
    if (frame.framed && frame.following > bytes.size() - frame.messageBegin) std::abort();
    // What is left out lies after the message, inside the bytes.
    if (frame.leftOut > bytes.size() - frame.messageBegin - frame.messageLength) std::abort();
    (void)drovanta::CountLineWarning(bytes, frame, !isEmlx);
  }
  return 0;
}
